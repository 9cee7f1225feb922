  /* ---------- Requests ---------- */

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

  const BUSY = "the node is busy, try again in a moment";
  // The longest wait for a busy node that the page sits through before it asks once more.
  const BUSY_WAIT_MAX_S = 10;

  // One call as the node answers it. A 401 asks for the password and calls again with it (a HEAD,
  // which has no message to show, is left to its caller); a 503 waits as long as the node's
  // Retry-After says and calls once more. how: { method, signal }.
  function send(action, extra, how, waited) {
    const used = pwd;
    return fetch(callUrl(action, extra), { method: how.method || "GET", headers: hdr(), signal: how.signal }).then(function (res) {
      if (res.status === 503 && !waited) {
        const s = parseInt(res.headers.get("Retry-After"), 10);
        return new Promise(function (done) {
          setTimeout(done, 1000 * Math.min(s >= 0 ? s : 2, BUSY_WAIT_MAX_S));
        }).then(function () {
          return send(action, extra, how, true);
        });
      }
      if (res.status !== 401 || how.method === "HEAD") return res;
      return answerOf(res).then(function (answer) {
        return askPassword(used, failure(res, answer));
      }).then(function () {
        return send(action, extra, how, waited);
      });
    });
  }

  // The JSON of an answer, read as bytes so that a name's bytes outside UTF-8 survive; null when it
  // is not JSON.
  function answerOf(res) {
    return res.arrayBuffer().then(function (buf) {
      try {
        return JSON.parse(decodeBytes(new Uint8Array(buf)));
      } catch (e) {
        return null;
      }
    });
  }

  // A refusal says what the server said ("path not allowed"); an answer that is not the program's own,
  // such as a proxy's error page, says its status.
  function failure(res, answer) {
    if (res.status === 503) return BUSY;
    return (answer && typeof answer.error === "string" && answer.error) || "HTTP " + res.status;
  }

  function api(action, extra, how) {
    return send(action, extra, how || {}).then(function (res) {
      return answerOf(res).then(function (answer) {
        if (!res.ok || answer === null) throw new Error(failure(res, answer));
        return answer;
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

