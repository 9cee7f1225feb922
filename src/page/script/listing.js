  /* ---------- Root list ---------- */

  function renderRoots() {
    rootsEl.textContent = "";
    roots.forEach(function (r) {
      const b = el("button", r.path === curRoot ? "root sel" : "root");
      const ico = el("span");
      ico.appendChild(ROOT_ICON.cloneNode(true));
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

  // sorted holds the entries in the chosen order and rows[i] draws sorted[i]; shown holds the indices
  // into sorted whose names pass the filter, and selIndex is a position in shown. Rows hidden by the
  // filter stay in the document, so a keystroke only flips the rows whose state changed.
  let sorted = [];
  let lowNames = [];
  let shown = [];
  let pass = new Uint8Array(0);
  let rows = [];
  let drawnSel = -1;
  let drawSeq = 0;

  // The first screen is drawn with the answer and the rest in slices while the browser is idle, so a
  // listing of thousands keeps the page answering; whatever needs a row not built yet builds the rest.
  // Rows sit in groups that the browser skips while they are off screen (styles.css): a group, not a row,
  // so that it tracks a few dozen boxes rather than thousands as the listing scrolls.
  const FIRST_ROWS = 100;
  const SLICE_ROWS = 500;
  const GROUP_ROWS = 50;
  // A row's height as the styles draw it, for the room a skipped group keeps.
  const ROW_PX = 33.5;
  const idle = window.requestIdleCallback ? function (fn) {
    requestIdleCallback(fn, { timeout: 20 });
  } : function (fn) {
    setTimeout(fn, 0, null);
  };

  function iconKey(e) {
    if (e.link === true) return "link";
    if (e.type === "dir") return "dir";
    return isImage(e.name) ? "img" : "file";
  }

  // Same class strings whichever way a row got its state: "hidden" before "sel", "sel" always last.
  function rowClass(e, hidden, selected) {
    return "row" + (e.type === "dir" ? " dir" : "") + (hidden ? " hidden" : "") + (selected ? " sel" : "");
  }

  function buildRow(i) {
    const e = sorted[i];
    const b = el("button", rowClass(e, !pass[i], i === drawnSel));
    b.appendChild(el("span", "ico " + iconKey(e)));
    b.appendChild(el("span", "nm", e.name));
    b.appendChild(el("span", "mt", e.type === "dir" ? "" : fmtSize(e.size)));
    b.appendChild(el("span", "tm", fmtTime(e.mtime)));
    return b;
  }

  // The room group k keeps while skipped: its rows that pass the filter.
  function sizeGroup(k) {
    let n = 0;
    for (let i = k * GROUP_ROWS; i < Math.min(rows.length, (k + 1) * GROUP_ROWS); i++) n += pass[i];
    entriesEl.children[k].style.containIntrinsicBlockSize = n * ROW_PX + "px";
  }

  function buildRows(to) {
    const end = Math.min(to, sorted.length);
    if (rows.length >= end) return;
    let g = entriesEl.lastChild;
    for (let i = rows.length; i < end; i++) {
      if (i % GROUP_ROWS === 0) {
        if (i > 0) sizeGroup(i / GROUP_ROWS - 1);
        g = entriesEl.appendChild(el("div", "grp"));
      }
      rows.push(g.appendChild(buildRow(i)));
    }
    sizeGroup(Math.floor((end - 1) / GROUP_ROWS));
  }

  // A slice per idle period, more while the period has room: a busy browser that calls back only
  // at the timeout still gets the listing done in a few slices.
  function drawRest(seq, deadline) {
    if (seq !== drawSeq) return;
    buildRows(rows.length + SLICE_ROWS);
    while (deadline && deadline.timeRemaining() > 3 && rows.length < sorted.length) {
      buildRows(rows.length + GROUP_ROWS);
    }
    if (rows.length < sorted.length) {
      idle(function (next) {
        drawRest(seq, next);
      });
    }
  }

  // Directories first, then the chosen key, ties in the server's order, which is by name.
  function sortEntries() {
    if (sortKey === "name" && !sortDesc) return entries;
    const dirFirst = function (e) {
      return e.type === "dir" ? 0 : 1;
    };
    const key = sortKey === "size" ? function (e) {
      return typeof e.size === "number" ? e.size : 0;
    } : sortKey === "time" ? function (e) {
      return e.mtime || "";
    } : null;
    const sign = sortDesc ? -1 : 1;
    const order = entries.map(function (e, i) {
      return i;
    });
    order.sort(function (a, b) {
      const ea = entries[a];
      const eb = entries[b];
      if (dirFirst(ea) !== dirFirst(eb)) return dirFirst(ea) - dirFirst(eb);
      if (!key) return sign * (a - b);
      const ka = key(ea);
      const kb = key(eb);
      if (ka !== kb) return ka < kb ? -sign : sign;
      return a - b;
    });
    return order.map(function (i) {
      return entries[i];
    });
  }

  function selectedEntry() {
    return selIndex >= 0 && selIndex < shown.length ? sorted[shown[selIndex]] : null;
  }

  function selectEntry(e) {
    const i = sorted.indexOf(e);
    selIndex = i < 0 ? -1 : shown.indexOf(i);
  }

  function findShown(name) {
    for (let k = 0; k < shown.length; k++) {
      if (sorted[shown[k]].name === name) return k;
    }
    return -1;
  }

  function filterShown() {
    shown = [];
    pass = new Uint8Array(sorted.length);
    for (let i = 0; i < sorted.length; i++) {
      if (filterLow && lowNames[i].indexOf(filterLow) < 0) continue;
      pass[i] = 1;
      shown.push(i);
    }
  }

  function showCount() {
    const n = entries.length;
    const items = n === 1 ? " item" : " items";
    if (filterText) countEl.textContent = shown.length + " of " + n + items;
    else if (truncated) countEl.textContent = n + " of more items: the folder is larger than a listing shows";
    else countEl.textContent = n + items;
  }

  // Draws the listing anew in the chosen order, keeping the selected entry when it is still listed.
  function rebuildRows(keep) {
    sorted = sortEntries();
    lowNames = sorted.map(function (e) {
      return e.name.toLowerCase();
    });
    filterShown();
    selectEntry(keep);
    if (selIndex < 0 && shown.length) selIndex = 0;
    drawnSel = selIndex >= 0 ? shown[selIndex] : -1;
    rows = [];
    entriesEl.textContent = "";
    buildRows(Math.max(FIRST_ROWS, drawnSel + 1));
    drawRest(++drawSeq, null);
    emptyEl.classList.toggle("hidden", entries.length > 0);
    showCount();
  }

  // Only the rows whose state changes are touched: a keystroke in a listing of thousands must not
  // restyle them all.
  function applyFilter() {
    const keep = selectedEntry();
    if (drawnSel >= 0) rows[drawnSel].classList.remove("sel");
    drawnSel = -1;
    const was = pass;
    filterShown();
    let dirty = -1;
    for (let i = 0; i < rows.length; i++) {
      if (was[i] === pass[i]) continue;
      rows[i].className = rowClass(sorted[i], !pass[i], false);
      const k = Math.floor(i / GROUP_ROWS);
      if (k === dirty) continue;
      if (dirty >= 0) sizeGroup(dirty);
      dirty = k;
    }
    if (dirty >= 0) sizeGroup(dirty);
    selectEntry(keep);
    if (selIndex < 0 && shown.length) selIndex = 0;
    showCount();
    renderEntries();
  }

  // Moves the selection: only the two rows whose state changed are touched.
  function renderEntries() {
    if (selIndex >= shown.length) selIndex = shown.length - 1;
    const want = selIndex >= 0 ? shown[selIndex] : -1;
    buildRows(want + 1);
    if (drawnSel !== want) {
      if (drawnSel >= 0) rows[drawnSel].classList.remove("sel");
      if (want >= 0) rows[want].classList.add("sel");
      drawnSel = want;
    }
    const row = rows[want];
    if (row && row.scrollIntoView) row.scrollIntoView({ block: "nearest" });
  }

  /* ---------- Navigation ---------- */

  // The child of dir on the way from dir down to path, or "" when path does not lie below dir.
  function childToward(dir, path) {
    const base = joinPath(dir, "");
    if (!dir || !path.startsWith(base)) return "";
    return splitPath(path.slice(base.length))[0] || "";
  }

  // how.file names the file to select and preview; how.restore marks a state read from the address,
  // which a failure answers by opening the first root.
  function openDir(path, how) {
    const want = how || {};
    const seq = ++listSeq;
    const extra = pathExtra(path) + (showHidden ? "&hidden=1" : "");
    return api("ls", extra).then(function (answer) {
      if (seq !== listSeq) return;
      checkOk(answer);
      const from = curPath;
      curPath = answer.path || "";
      curParent = answer.parent || null;
      curRoot = answer.root || null;
      entries = Array.isArray(answer.entries) ? answer.entries : [];
      truncated = answer.truncated === true;
      const moved = curPath !== from;
      if (moved && !want.restore) setFilter("");
      selIndex = -1;
      rebuildRows(null);
      const back = childToward(curPath, from);
      const pick = findShown(want.file || back);
      if (pick >= 0) selIndex = pick;
      renderCrumbs();
      renderEntries();
      renderRoots();
      if (!entries.length) clearPreview();
      else if (media("(max-width:820px)")) setView("browse");
      writeAddress(moved && from && !want.restore);
      if (want.file && pick >= 0 && selectedEntry().type !== "dir") activate(selectedEntry());
    }).catch(function (err) {
      if (seq !== listSeq) return;
      toast("Cannot open folder: " + errText(err));
      if (want.restore && roots.length) openDir(roots[0].path);
    });
  }

  function loadRoots() {
    return api("roots").then(function (answer) {
      roots = answer && Array.isArray(answer.roots) ? answer.roots : [];
      renderRoots();
      const start = readAddress();
      if (start.dir && !curPath) openDir(start.dir, { restore: true, file: start.file });
      // A narrow window keeps the root list: opening a directory there would hide it.
      else if (roots.length && !curPath && media("(min-width:821px)")) openDir(roots[0].path);
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
      writeAddress(false);
    }
  }
