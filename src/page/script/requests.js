  /* ---------- Requests ---------- */

  function enc(s) {
    return encodeURIComponent(s);
  }

  // A page served by a hub calls the hub back under the same plugin id; on the node itself
  // /plugins is the discovery list, so the program is called at its own path.
  function url(action, extra) {
    let u = HUB ? "/plugins?plugin=" + enc(HUB) + "&action=" : "/plugin_files?action=";
    u += enc(action);
    if (extra) u += "&" + extra;
    if (node) u += "&node=" + enc(node);
    if (sid) u += "&id=" + enc(sid);
    if (pwd) u += "&pwd=" + enc(pwd);
    return u;
  }

  // A header value is a string of bytes: the password travels as its UTF-8 bytes, one character
  // each, so the node compares the same bytes that the pwd parameter carries and a password
  // outside Latin-1 does not make every call fail.
  function hdr(extra) {
    const h = extra || {};
    if (pwd) h["X-Kiv-Password"] = unescape(encodeURIComponent(pwd));
    return h;
  }

  function api(action, extra) {
    return fetch(url(action, extra), { headers: hdr() }).then(function (res) {
      if (!res.ok) throw new Error("HTTP " + res.status);
      return res.json();
    });
  }

  // A 2xx answer whose "ok" is not true fails with the server's own text.
  function checkOk(answer) {
    if (!answer || answer.ok !== true) throw new Error((answer && answer.error) || "failed");
    return answer;
  }

  function errText(err) {
    return err && err.message ? err.message : String(err);
  }

  function pathExtra(path) {
    return "path=" + enc(path);
  }

