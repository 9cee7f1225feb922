  /* ---------- Small helpers ---------- */

  function toast(msg) {
    toastEl.textContent = msg;
    toastEl.classList.add("show");
    clearTimeout(toastTimer);
    toastTimer = setTimeout(function () {
      toastEl.classList.remove("show");
    }, 2000);
  }

  function setView(v) {
    app.setAttribute("data-view", v);
  }

  function media(query) {
    return !!(window.matchMedia && window.matchMedia(query).matches);
  }

  function fmtSize(n) {
    if (n == null) return "";
    if (n < 1024) return n + " B";
    if (n < 1048576) return (n / 1024).toFixed(1) + " KB";
    if (n < 1073741824) return (n / 1048576).toFixed(1) + " MB";
    return (n / 1073741824).toFixed(1) + " GB";
  }

  function endsWithSep(s) {
    return /[\\/]$/.test(s);
  }

  function joinPath(dir, name) {
    if (!dir) return name;
    return endsWithSep(dir) ? dir + name : dir + "/" + name;
  }

  function splitPath(p) {
    return p.split(/[\\/]+/).filter(Boolean);
  }

