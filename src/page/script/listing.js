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
  let lowNames = null;
  let shown = [];
  let pass = new Uint8Array(0);
  let rows = [];
  let drawnSel = -1;
  let drawSeq = 0;
  // What each row's class says of the filter, the groups where that lags behind pass, and the groups whose
  // height lags behind it: a keystroke restyles and sizes what the next frame shows at once, and the rest
  // once typing pauses.
  let drawnPass = new Uint8Array(0);
  let lagging = new Uint8Array(0);
  let unsized = new Uint8Array(0);
  let catchUpSeq = 0;
  // The list's height and scroll position as the browser last reported them: asking the element would
  // lay out the page in the middle of a key, before the rows are restyled.
  const listView = { height: 0, top: 0 };
  new ResizeObserver(function () {
    listView.height = entriesEl.clientHeight;
  }).observe(entriesEl);
  // A scroll may bring lagging groups into view: they catch up before the frame draws them.
  entriesEl.addEventListener("scroll", function () {
    listView.top = entriesEl.scrollTop;
    catchUpAround(Math.floor(viewTop() / ROW_PX));
  }, { passive: true });

  // The first screen is drawn with the answer and the rest in slices while the browser is idle, so a
  // listing of thousands keeps the page answering; whatever needs a row not built yet builds the rest.
  // Rows sit in groups that the browser skips while they are off screen (styles.css): a group, not a row,
  // so that it tracks a few dozen boxes rather than thousands as the listing scrolls.
  const FIRST_ROWS = 50;
  const SLICE_ROWS = 200;
  const SLICE_MS = 20;
  const GROUP_ROWS = 25;
  const TYPED_PAUSE_MS = 150;
  const EDGE_ROWS = 4;
  // A row's height as the styles fix it, for the height of a group, and the list's padding above its
  // first row and below its last.
  const ROW_PX = 33.5;
  const LIST_PAD_PX = 6;
  const LIST_END_PX = 20;
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
    drawnPass[i] = pass[i];
    const b = el("button", rowClass(e, !pass[i], i === drawnSel));
    b.appendChild(el("span", "ico " + iconKey(e)));
    b.appendChild(el("span", "nm", e.name));
    b.appendChild(el("span", "mt", e.type === "dir" ? "" : fmtSize(e.size)));
    b.appendChild(el("span", "tm", fmtTime(e.mtime)));
    return b;
  }

  // One past the last row built in group k.
  function groupEnd(k) {
    return Math.min(rows.length, (k + 1) * GROUP_ROWS);
  }

  // Group k's height: its rows that pass the filter.
  function sizeGroup(k) {
    unsized[k] = 0;
    let n = 0;
    for (let i = k * GROUP_ROWS; i < groupEnd(k); i++) n += pass[i];
    entriesEl.children[k].style.height = n * ROW_PX + "px";
  }

  // Groups after the view only make the list's length: their height can wait, but not past the moment
  // the list scrolls, since every group above the view places the rows in it.
  function sizeThrough(last) {
    for (let k = 0; k <= last; k++) {
      if (unsized[k]) sizeGroup(k);
    }
  }

  function screenRows() {
    return Math.ceil(listView.height / ROW_PX) + 1;
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
  // at the timeout still gets the listing done in a few slices. A period can last 50 ms, so a slice
  // stops well short of it, leaving room for a garbage collection or a slow spell of the machine.
  function drawRest(seq, deadline) {
    if (seq !== drawSeq) return;
    const until = performance.now() + SLICE_MS;
    buildRows(rows.length + SLICE_ROWS);
    while (deadline && deadline.timeRemaining() > 3 && performance.now() < until && rows.length < sorted.length) {
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

  // The lower-cased names are made when a filter first needs them, not with every listing.
  function filterShown() {
    shown = [];
    pass = new Uint8Array(sorted.length);
    if (filterLow && !lowNames) {
      lowNames = sorted.map(function (e) {
        return e.name.toLowerCase();
      });
    }
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
    lowNames = null;
    filterShown();
    selectEntry(keep);
    if (selIndex < 0 && shown.length) selIndex = 0;
    drawnSel = selIndex >= 0 ? shown[selIndex] : -1;
    drawnPass = new Uint8Array(sorted.length);
    lagging = new Uint8Array(Math.ceil(sorted.length / GROUP_ROWS));
    unsized = new Uint8Array(lagging.length);
    catchUpSeq++;
    rows = [];
    entriesEl.textContent = "";
    buildRows(Math.max(FIRST_ROWS, drawnSel + 1));
    const seq = ++drawSeq;
    idle(function (deadline) {
      drawRest(seq, deadline);
    });
    emptyEl.classList.toggle("hidden", entries.length > 0);
    showCount();
  }

  // A group whose rows lag behind the filter is inert and unseen (styles.css): no frame, however fast the
  // list scrolls, shows a row the filter has changed, and no click, Tab or search reaches one; at worst a
  // blank shows where rows are coming. Its rows keep their layout, so it shows again in the same frame.
  function markLagging(k) {
    if (lagging[k]) return;
    lagging[k] = 1;
    entriesEl.children[k].inert = true;
  }

  // Brings group k's height and rows in line with the filter; the selected row keeps "sel".
  function catchUpGroup(k) {
    if (unsized[k]) sizeGroup(k);
    if (!lagging[k]) return;
    lagging[k] = 0;
    for (let i = k * GROUP_ROWS; i < groupEnd(k); i++) {
      if (drawnPass[i] === pass[i]) continue;
      drawnPass[i] = pass[i];
      rows[i].className = rowClass(sorted[i], !pass[i], i === drawnSel);
    }
    entriesEl.children[k].inert = false;
  }

  // The groups that hold the shown rows from a to b, and the height of every group above them, since that
  // places them. A lagging group of hidden rows only is unseen and takes no room, so it can wait.
  function catchUpShown(a, b) {
    const from = Math.max(0, a);
    const to = Math.min(shown.length - 1, b);
    if (from > to) {
      sizeThrough(unsized.length - 1);
      return;
    }
    const last = Math.floor(shown[to] / GROUP_ROWS);
    sizeThrough(last);
    for (let k = Math.floor(shown[from] / GROUP_ROWS); k <= last; k++) catchUpGroup(k);
  }

  // The shown rows a screen from the k-th on, and a few more either side: further than a wheel step
  // scrolls before the page hears of it.
  function catchUpAround(k) {
    catchUpShown(k - EDGE_ROWS, k + screenRows() + EDGE_ROWS);
  }

  // What the next frame shows is caught up before it is drawn: around where the list stands, or where
  // the selection is about to be scrolled to (its top or bottom edge).
  function catchUpInView() {
    let top = Math.floor(viewTop() / ROW_PX);
    if (selIndex >= 0 && !shownInView(selIndex)) top = selIndex < top ? selIndex : selIndex - screenRows() + 1;
    catchUpAround(top);
  }

  // Ten groups at least per call, so that a browser that calls back only at the timeout still gets on.
  // It begins once typing pauses: a keystroke must not wait behind the last one's rows out of view.
  function catchUpRest(seq, deadline) {
    if (seq !== catchUpSeq) return;
    let k = 0;
    for (let done = 0; k < lagging.length; k++) {
      if (!lagging[k] && !unsized[k]) continue;
      if (deadline && done >= 10 && deadline.timeRemaining() < 1) break;
      catchUpGroup(k);
      done++;
    }
    if (k < lagging.length) {
      idle(function (next) {
        catchUpRest(seq, next);
      });
    }
  }

  // Rows are restyled only where their state changed, and only in view at once: a keystroke in a
  // listing of thousands must not restyle them all, nor size the groups it does not show.
  function applyFilter() {
    const keep = selectedEntry();
    if (drawnSel >= 0) rows[drawnSel].classList.remove("sel");
    drawnSel = -1;
    const was = pass;
    filterShown();
    for (let i = 0; i < rows.length; i++) {
      const k = Math.floor(i / GROUP_ROWS);
      if (drawnPass[i] !== pass[i]) markLagging(k);
      if (was[i] !== pass[i]) unsized[k] = 1;
    }
    selectEntry(keep);
    if (selIndex < 0 && shown.length) selIndex = 0;
    showCount();
    catchUpInView();
    renderEntries();
    const seq = ++catchUpSeq;
    setTimeout(function () {
      idle(function (deadline) {
        catchUpRest(seq, deadline);
      });
    }, TYPED_PAUSE_MS);
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
    if (!row || !row.scrollIntoView) return;
    // A list drawn into an empty pane has no height to go by yet: the frame that lays it out anyway decides.
    if (listView.height < ROW_PX) {
      requestAnimationFrame(function () {
        if (rows[drawnSel] === row) scrollToRow(row);
      });
    } else if (!shownInView(selIndex)) {
      scrollToRow(row);
    }
  }

  function scrollToRow(row) {
    catchUpAround(selIndex);
    row.scrollIntoView({ block: "nearest" });
    listView.top = entriesEl.scrollTop;
  }

  // Whether the k-th shown row lies wholly in view. Rows are of one height and hidden ones take no room,
  // so its place is known without asking the browser, which would lay out the page in the middle of a key.
  function shownInView(k) {
    const top = LIST_PAD_PX + k * ROW_PX;
    const view = viewTop();
    return top >= view && top + ROW_PX <= view + listView.height;
  }

  // Where the list stands: as last scrolled, or its end when the shown rows no longer reach that far.
  function viewTop() {
    const end = LIST_PAD_PX + shown.length * ROW_PX + LIST_END_PX;
    return Math.max(0, Math.min(listView.top, end - listView.height));
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
