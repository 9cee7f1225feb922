  /* ---------- Address ---------- */

  // The place lives in the URL fragment, so that a reload, a bookmark or a pasted link comes back to it
  // and Back and Forward step through the folders visited; the query stays the host's.
  function readAddress() {
    const p = new URLSearchParams(location.hash.slice(1));
    const sort = p.get("sort");
    return {
      dir: p.get("dir") || "",
      file: p.get("file") || "",
      sort: sort === "size" || sort === "time" ? sort : "name",
      desc: p.get("desc") === "1",
      q: p.get("q") || "",
      hidden: p.get("hidden") === "1",
      line: p.get("line") || ""
    };
  }

  // The previewed file's name when it lies in the open directory.
  function fileInDir() {
    const base = joinPath(curPath, "");
    if (!curFile || !curPath || !curFile.startsWith(base)) return "";
    const name = curFile.slice(base.length);
    return /[\\/]/.test(name) ? "" : name;
  }

  let addressTimer = 0;

  // Defaults are left out, so a page whose controls are untouched keeps a bare address.
  function writeAddress(push) {
    clearTimeout(addressTimer);
    const p = new URLSearchParams();
    if (curPath) p.set("dir", curPath);
    if (fileInDir()) p.set("file", fileInDir());
    if (fileInDir() && curLine) p.set("line", curLine);
    if (sortKey !== "name") p.set("sort", sortKey);
    if (sortDesc) p.set("desc", "1");
    if (filterText) p.set("q", filterText);
    if (showHidden) p.set("hidden", "1");
    const frag = p.toString();
    const next = location.pathname + location.search + (frag ? "#" + frag : "");
    if (next === location.pathname + location.search + location.hash) return;
    if (push) history.pushState(null, "", next);
    else history.replaceState(null, "", next);
  }

  // Typing writes the address once it pauses: each write costs the browser more than the keystroke's
  // own drawing.
  function writeAddressSoon() {
    clearTimeout(addressTimer);
    addressTimer = setTimeout(writeAddress, 250, false);
  }

  function setFilter(text) {
    filterText = text;
    if (filterEl.value !== text) filterEl.value = text;
  }

  function setSort(key, desc) {
    sortKey = key;
    sortDesc = desc;
    sortEl.value = key;
    btnSortDesc.classList.toggle("on", desc);
  }

  function setHidden(on) {
    showHidden = on;
    const label = on ? "Hide hidden files" : "Show hidden files";
    btnHidden.classList.toggle("on", on);
    // Title and accessible name always carry the same text.
    btnHidden.title = label;
    btnHidden.setAttribute("aria-label", label);
  }

  function applyAddress(st) {
    wantLine = st.line;
    setSort(st.sort, st.desc);
    setFilter(st.q);
    setHidden(st.hidden);
  }

  // Back and Forward: the listing asked for again, as the address names it. A fragment without a
  // folder is not a place this page wrote, and changes nothing.
  window.addEventListener("popstate", function () {
    const st = readAddress();
    if (!st.dir) return;
    applyAddress(st);
    openDir(st.dir, { restore: true, file: st.file });
  });
