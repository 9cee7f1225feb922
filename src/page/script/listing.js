  /* ---------- Root list ---------- */

  function renderRoots() {
    rootsEl.textContent = "";
    roots.forEach(function (r) {
      const b = el("button", r.path === curRoot ? "root sel" : "root");
      const ico = el("span");
      ico.appendChild(icon("root"));
      const label = el("span", "rl");
      label.appendChild(el("span", "n", r.name));
      label.appendChild(el("span", "p", r.path));
      b.appendChild(ico);
      b.appendChild(label);
      b.addEventListener("click", function () {
        openDir(r.path);
        setView("browse");
      });
      rootsEl.appendChild(b);
    });
  }

  /* ---------- Breadcrumbs ---------- */

  function addCrumb(text, target, last) {
    const b = el("button", last ? "crumb last" : "crumb", text);
    b.title = target;
    b.addEventListener("click", function () {
      openDir(target);
    });
    crumbsEl.appendChild(b);
  }

  function renderCrumbs() {
    crumbsEl.textContent = "";
    if (!curPath) {
      crumbsEl.appendChild(el("span", "crumb last", "Select a root"));
      return;
    }
    const base = curRoot || "";
    const rel = base && curPath.startsWith(base) ? curPath.slice(base.length) : curPath;
    const steps = splitPath(rel);
    const baseParts = splitPath(base);
    // An empty base lists the server's first root, which "/" stands for.
    const first = !base ? "/" : baseParts.length ? baseParts[baseParts.length - 1] : base;
    addCrumb(first, base, steps.length === 0);
    let acc = base;
    steps.forEach(function (step, i) {
      crumbsEl.appendChild(el("span", "sep", "/"));
      if (acc && !endsWithSep(acc)) acc += "/";
      acc += step;
      addCrumb(step, acc, i === steps.length - 1);
    });
  }

  /* ---------- Listing ---------- */

  // The rows on screen, the entries they were drawn from and the selection they show. When a redraw
  // finds the same entries, only the two rows whose selection changed are touched: an arrow key in a
  // listing of thousands of rows must not rebuild them all, and the result is the same DOM.
  let rows = [];
  let drawnEntries = null;
  let drawnSel = -1;

  function iconKey(e) {
    if (e.link === true) return "link";
    if (e.type === "dir") return "dir";
    return isImage(e.name) ? "img" : "file";
  }

  function rowClass(e, selected) {
    return "row" + (e.type === "dir" ? " dir" : "") + (selected ? " sel" : "");
  }

  function buildRow(e, selected) {
    const b = el("button", rowClass(e, selected));
    const ico = el("span", "ico");
    ico.appendChild(icon(iconKey(e)));
    b.appendChild(ico);
    b.appendChild(el("span", "nm", e.name));
    b.appendChild(el("span", "mt", e.type === "dir" ? "" : fmtSize(e.size)));
    return b;
  }

  function rebuildRows() {
    const frag = document.createDocumentFragment();
    rows = entries.map(function (e, i) {
      return frag.appendChild(buildRow(e, i === selIndex));
    });
    entriesEl.textContent = "";
    entriesEl.appendChild(frag);
    drawnEntries = entries;
    drawnSel = selIndex;
    emptyEl.classList.toggle("hidden", entries.length > 0);
    countEl.textContent = entries.length + (entries.length === 1 ? " item" : " items");
  }

  // Same class strings as a rebuild gives: "sel" is always last in a row's class list.
  function moveSelection() {
    if (drawnSel === selIndex) return;
    if (drawnSel >= 0) rows[drawnSel].classList.remove("sel");
    if (selIndex >= 0) rows[selIndex].classList.add("sel");
    drawnSel = selIndex;
  }

  function renderEntries() {
    if (selIndex >= entries.length) selIndex = entries.length - 1;
    if (drawnEntries === entries) moveSelection();
    else rebuildRows();
    const row = rows[selIndex];
    if (row && row.scrollIntoView) row.scrollIntoView({ block: "nearest" });
  }

  /* ---------- Navigation ---------- */

  function openDir(path) {
    const seq = ++listSeq;
    const extra = pathExtra(path) + (showHidden ? "&hidden=1" : "");
    return api("ls", extra).then(function (answer) {
      if (seq !== listSeq) return;
      checkOk(answer);
      curPath = answer.path || "";
      curParent = answer.parent || null;
      curRoot = answer.root || null;
      entries = Array.isArray(answer.entries) ? answer.entries : [];
      selIndex = entries.length ? 0 : -1;
      renderCrumbs();
      renderEntries();
      renderRoots();
      if (!entries.length) clearPreview();
      else if (media("(max-width:820px)")) setView("browse");
    }).catch(function (err) {
      if (seq === listSeq) toast("Cannot open folder: " + errText(err));
    });
  }

  function loadRoots() {
    return api("roots").then(function (answer) {
      roots = answer && Array.isArray(answer.roots) ? answer.roots : [];
      renderRoots();
      // A narrow window keeps the root list: opening a directory there would hide it.
      if (roots.length && !curPath && media("(min-width:821px)")) openDir(roots[0].path);
    }).catch(function (err) {
      toast("Cannot list roots: " + errText(err));
    });
  }

  function activate(e) {
    const path = joinPath(curPath, e.name);
    if (e.type === "dir") {
      openDir(path);
      setView("browse");
    } else {
      previewFile(path, e);
    }
  }

