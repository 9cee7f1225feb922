  /* ---------- Password ---------- */

  const loginEl = byId("login");
  const loginPwd = byId("loginPwd");
  const loginMsg = byId("loginMsg");
  let loginWait = null;
  let loginDone = null;

  // Every call refused for want of the password waits for one: the form asks once for all of them,
  // and each then calls again with what was typed, so the page goes on where it was. A call refused
  // with an older password than the page now holds just calls again. The node's message shows once
  // a password has been tried.
  function askPassword(used, message) {
    if (used !== pwd) return Promise.resolve();
    if (!loginWait) {
      loginWait = new Promise(function (done) {
        loginDone = done;
      });
      loginMsg.textContent = used ? message : "";
      loginEl.classList.remove("hidden");
      app.inert = true;
      loginPwd.focus();
    }
    return loginWait;
  }

  loginEl.addEventListener("submit", function (ev) {
    ev.preventDefault();
    if (!loginDone) return;
    keepPassword(loginPwd.value);
    loginPwd.value = "";
    loginEl.classList.add("hidden");
    app.inert = false;
    const done = loginDone;
    loginWait = loginDone = null;
    done();
  });
