  /* ---------- Address ---------- */

  // The place lives in the URL fragment, so that a reload, a bookmark or a pasted link comes back to it
  // and Back and Forward step through the folders visited; the query stays the host's.
  function readAddress() {
    const p = formRead(location.hash.slice(1));
    const sort = p.get("sort");
    const view = p.get("view");
    return {
      dir: p.get("dir") || "",
      file: p.get("file") || "",
      sort: sort === "size" || sort === "time" ? sort : "name",
      desc: p.get("desc") === "1",
      q: p.get("q") || p.get("find") || p.get("grep") || "",
      scope: p.has("find") ? "find" : p.has("grep") ? "grep" : "",
      hidden: p.get("hidden") === "1",
      line: p.get("line") || "",
      view: view === "grid" || view === "list" ? view : ""
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

  // The tab names the place: the file open, else the folder.
  function showTitle() {
    const folder = splitPath(curPath).pop() || curPath;
    const place = fileInDir() ? [fileInDir(), folder] : folder ? [folder] : [];
    document.title = place.map(shownName).concat("files").join(" - ");
  }

  // Defaults are left out, so a page whose controls are untouched keeps a bare address. mark is the
  // history state of an entry pushed; an entry replaced keeps its own.
  function writeAddress(push, mark) {
    clearTimeout(addressTimer);
    const p = [];
    if (curPath) p.push(["dir", curPath]);
    if (fileInDir()) p.push(["file", fileInDir()]);
    if (fileInDir() && curLine) p.push(["line", curLine]);
    if (sortKey !== "name") p.push(["sort", sortKey]);
    if (sortDesc) p.push(["desc", "1"]);
    if (filterText) p.push([searchMode || "q", filterText]);
    if (showHidden) p.push(["hidden", "1"]);
    if (viewInAddress()) p.push(["view", viewInAddress()]);
    const frag = p.map(function (kv) {
      return kv[0] + "=" + formEnc(kv[1]);
    }).join("&");
    const next = location.pathname + location.search + (frag ? "#" + frag : "");
    showTitle();
    if (next === location.pathname + location.search + location.hash) return;
    if (push) history.pushState(mark || null, "", next);
    else history.replaceState(history.state, "", next);
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
    btnSortDesc.setAttribute("aria-pressed", desc ? "true" : "false");
  }

  function setHidden(on) {
    showHidden = on;
    const label = on ? "Hide hidden files" : "Show hidden files";
    btnHidden.classList.toggle("on", on);
    btnHidden.setAttribute("aria-pressed", on ? "true" : "false");
    // Title and accessible name always carry the same text.
    btnHidden.title = label;
    btnHidden.setAttribute("aria-label", label);
  }

  function applyAddress(st) {
    wantLine = st.line;
    setSort(st.sort, st.desc);
    setFilter(st.q);
    setHidden(st.hidden);
    viewChoice = st.view;
    setScope(st.scope, st.dir);
  }

  // Back and Forward: the page as the address names it. The folder open stays as it is listed, and
  // only what else differs changes; another folder is asked for. A fragment without a folder is not a
  // place this page wrote, and changes nothing.
  window.addEventListener("popstate", function () {
    const st = readAddress();
    if (!st.dir) return;
    const stay = st.dir === curPath && st.hidden === showHidden && !partsDue;
    const resort = st.sort !== sortKey || st.desc !== sortDesc;
    const refilter = st.q !== filterText;
    applyAddress(st);
    if (!stay) {
      openDir(st.dir, { restore: true, file: st.file });
      return;
    }
    // A listing still on its way to another folder is not where the address is now.
    listSeq++;
    if (resort) list.sort(sortKey, sortDesc);
    if (refilter) list.filter(filterText);
    showGrid();
    showFile(st.file);
    showTitle();
  });
