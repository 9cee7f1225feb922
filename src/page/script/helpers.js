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

  // On a phone the pane out of view takes no focus and is not read: the side pane stays under the
  // preview there.
  function setView(v) {
    app.setAttribute("data-view", v);
    const narrow = media(NARROW);
    byId("side").inert = narrow && v !== "roots";
    byId("main").inert = narrow && v === "roots";
    // Focus left in the pane that went away goes to what shows instead.
    const at = document.activeElement;
    if (narrow && at && at !== document.body && at.closest("[inert]")) {
      (v === "roots" ? rootsEl.querySelector(".root.sel, .root") : v === "preview" ? prevBody : entriesEl).focus();
    }
  }

  // Said politely by screen readers; the same text twice is said twice.
  function say(text) {
    const sayEl = byId("say");
    sayEl.textContent = sayEl.textContent === text ? text + "\u00a0" : text;
  }

  // A pane waiting for an answer is busy, and shows a line once the wait is long enough to notice; the
  // function returned ends the wait. A newer wait of the same pane takes the older's place.
  const BUSY_LINE_MS = 300;
  const busyTimers = new Map();

  function busy(host) {
    const pane = host.parentNode;
    clearTimeout(busyTimers.get(pane));
    host.setAttribute("aria-busy", "true");
    busyTimers.set(pane, setTimeout(function () {
      pane.classList.add("loading");
    }, BUSY_LINE_MS));
    return function () {
      clearTimeout(busyTimers.get(pane));
      pane.classList.remove("loading");
      host.removeAttribute("aria-busy");
    };
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

  // What a screen reader says for a listing's size and time: the units and the month as words.
  const SIZE_WORDS = { B: "bytes", KB: "kilobytes", MB: "megabytes", GB: "gigabytes" };
  const MONTHS = ["January", "February", "March", "April", "May", "June", "July", "August", "September",
    "October", "November", "December"];

  function sizeWords(n) {
    const s = fmtSize(n);
    const sp = s.lastIndexOf(" ");
    return s && s.slice(0, sp) + " " + SIZE_WORDS[s.slice(sp + 1)];
  }

  function timeWords(iso) {
    const d = iso ? new Date(iso) : null;
    if (!d || isNaN(d.getTime())) return "";
    return d.getDate() + " " + MONTHS[d.getMonth()] + " " + d.getFullYear() + ", " + pad2(d.getHours()) + ":" +
      pad2(d.getMinutes());
  }

  // What a listing's row says after its name: ", file, 23 bytes, modified 5 March 2024, 15:07".
  function rowWords(e) {
    const words = ["", e.type === "dir" ? "folder" : e.link === true ? "link" : "file"];
    if (e.type !== "dir" && e.size != null) words.push(sizeWords(e.size));
    if (timeWords(e.mtime)) words.push("modified " + timeWords(e.mtime));
    return words.join(", ");
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
