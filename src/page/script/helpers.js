  /* ---------- Small helpers ---------- */

  // A file's kind of preview by its extension, the text after its last dot (FILE_KINDS, made from
  // src/kinds.table); "" when the table does not know it.
  function kindOf(name) {
    const dot = name.lastIndexOf(".");
    return dot < 0 ? "" : FILE_KINDS.get(name.slice(dot + 1).toLowerCase()) || "";
  }

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

  // Up to this width the panes take turns; the styles switch at the same number.
  const NARROW = "(max-width:@NARROW_PX@px)";
  const WIDE = "not all and " + NARROW;

  function fmtSize(n) {
    if (n == null) return "";
    if (n < 1024) return n + " B";
    if (n < 1048576) return (n / 1024).toFixed(1) + " KB";
    if (n < 1073741824) return (n / 1048576).toFixed(1) + " MB";
    return (n / 1073741824).toFixed(1) + " GB";
  }

  function pad2(n) {
    return n < 10 ? "0" + n : String(n);
  }

  // A listing's time, compact and in the browser's time zone: 2024-03-05 15:07.
  function fmtTime(iso) {
    const d = iso ? new Date(iso) : null;
    if (!d || isNaN(d.getTime())) return "";
    return d.getFullYear() + "-" + pad2(d.getMonth() + 1) + "-" + pad2(d.getDate()) + " " +
      pad2(d.getHours()) + ":" + pad2(d.getMinutes());
  }

  function endsWithSep(s) {
    return /[\\/]$/.test(s);
  }

  function joinPath(dir, name) {
    if (!dir) return name;
    return endsWithSep(dir) ? dir + name : dir + "/" + name;
  }

  // The directory a path lies in, its last separator kept: C:\ for C:\a.md, / for /a.md.
  function dirOf(path) {
    return path.slice(0, Math.max(path.lastIndexOf("/"), path.lastIndexOf("\\")) + 1);
  }

  // The folder that holds path, without its last separator unless it is a root (/, C:\); "" for a
  // root itself.
  function parentOf(path) {
    const dir = dirOf(path.replace(/[\\/]+$/, ""));
    if (!dir || dir === path) return "";
    return /^([A-Za-z]:)?[\\/]$/.test(dir) ? dir : dir.replace(/[\\/]+$/, "");
  }

  function splitPath(p) {
    return p.split(/[\\/]+/).filter(Boolean);
  }

  // A text cut short by its box gets its whole as a tooltip; measured when the pointer comes to it,
  // never as rows are drawn.
  function titleIfCut(n) {
    if (n.scrollWidth > n.clientWidth) n.title = n.textContent;
    else n.removeAttribute("title");
  }
