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

  const list = listView(entriesEl, { activate: activate, counted: showCount, fileIcon: fileIcon });

  function showCount(shown, total) {
    const items = total === 1 ? " item" : " items";
    if (filterText) countEl.textContent = shown + " of " + total + items;
    else if (truncated) countEl.textContent = total + " of more items: the folder is larger than a listing shows";
    else countEl.textContent = total + items;
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
      const entries = Array.isArray(answer.entries) ? answer.entries : [];
      truncated = answer.truncated === true;
      const moved = curPath !== from;
      if (moved && !want.restore) setFilter("");
      renderCrumbs();
      const picked = list.set(entries, { sort: sortKey, desc: sortDesc, filter: filterText,
        select: want.file || childToward(curPath, from) });
      emptyEl.classList.toggle("hidden", entries.length > 0);
      renderRoots();
      if (!entries.length) clearPreview();
      else if (media(NARROW)) setView("browse");
      writeAddress(moved && from && !want.restore);
      if (want.file && picked && list.selected().type !== "dir") activate(list.selected());
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
      else if (roots.length && !curPath && media(WIDE)) openDir(roots[0].path);
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
