  /* ---------- Requests ---------- */

  function enc(s) {
    return encodeURIComponent(s);
  }

  // A page served by a hub calls the hub back under the same plugin id; on the node itself
  // /plugins is the discovery list, so the program is called at its own path. Calls made with fetch
  // use this URL as it is: their password travels in the header only, since URLs end up in logs and
  // in the browser's history.
  function callUrl(action, extra) {
    let u = HUB ? "/plugins?plugin=" + enc(HUB) + "&action=" : "/plugin_files?action=";
    u += enc(action);
    if (extra) u += "&" + extra;
    if (node) u += "&node=" + enc(node);
    if (sid) u += "&id=" + enc(sid);
    return u;
  }

  // Image and media sources and download links cannot carry a header, so they carry the password.
  function url(action, extra) {
    const u = callUrl(action, extra);
    return pwd ? u + "&pwd=" + enc(pwd) : u;
  }

  // A header value is a string of bytes: the password travels as its UTF-8 bytes, one character
  // each, so the node compares the same bytes that the pwd parameter carries and a password
  // outside Latin-1 does not make every call fail.
  function hdr(extra) {
    const h = extra || {};
    if (pwd) h["X-Kiv-Password"] = unescape(encodeURIComponent(pwd));
    return h;
  }

  // A refusal says what the server said ("path not allowed"); an answer that is not the program's own,
  // such as a proxy's error page, says its status.
  function api(action, extra) {
    return fetch(callUrl(action, extra), { headers: hdr() }).then(function (res) {
      if (res.ok) return res.json();
      return res.json().catch(function () {
        return null;
      }).then(function (answer) {
        throw new Error((answer && typeof answer.error === "string" && answer.error) || "HTTP " + res.status);
      });
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

  // A file as the raw action serves it, for the source of an image or a player.
  function rawUrl(path) {
    return url("raw", pathExtra(path));
  }

