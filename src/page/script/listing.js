  /* ---------- Root list ---------- */

  // Buttons drawn anew keep the focus that one of them had, at the same place in the row (or the last),
  // so that a root or a crumb pressed with a key leaves the keys there.
  function keepFocus(host, draw) {
    const had = Array.prototype.indexOf.call(host.children, document.activeElement);
    draw();
    const buttons = host.querySelectorAll("button");
    if (had >= 0 && buttons.length) buttons[Math.min(had, buttons.length - 1)].focus();
  }

  function renderRoots() {
    keepFocus(rootsEl, drawRoots);
  }

  function drawRoots() {
    rootsEl.textContent = "";
    roots.forEach(function (r) {
      const b = el("button", r.path === curRoot ? "root sel" : "root");
      if (r.path === curRoot) b.setAttribute("aria-current", "true");
      const ico = el("span");
      ico.appendChild(ROOT_ICON.cloneNode(true));
      ico.setAttribute("aria-hidden", "true");
      const label = el("span", "rl");
      label.appendChild(el("span", "n", shownName(r.name)));
      label.appendChild(el("span", "p", shownName(r.path)));
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
    const b = el("button", last ? "crumb last" : "crumb", shownName(text));
    if (last) b.setAttribute("aria-current", "location");
    b.title = shownName(target);
    b.addEventListener("click", function () {
      openDir(target);
    });
    crumbsEl.appendChild(b);
  }

  function renderCrumbs() {
    keepFocus(crumbsEl, drawCrumbs);
  }

  function drawCrumbs() {
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
      crumbsEl.appendChild(el("span", "sep", "/")).setAttribute("aria-hidden", "true");
      if (acc && !endsWithSep(acc)) acc += "/";
      acc += step;
      addCrumb(step, acc, i === steps.length - 1);
    });
  }

  /* ---------- Listing ---------- */

  const list = listView(entriesEl, { activate: activate, counted: showCount, marks: showMarks, fileIcon: fileIcon });

  function showCount(shown, total) {
    const items = total === 1 ? " item" : " items";
    let text = (filterText ? shown + " of " : "") + total + items;
    if (partsDue) text += ", more coming";
    else if (notShown) text += ", " + notShown + " more not shown";
    countEl.textContent = text;
    emptyEl.textContent = total ? "No matches." : "This directory is empty.";
    emptyEl.classList.toggle("hidden", shown > 0 || partsDue);
  }

  // The folder open names the listing and the page's heading, and is said: "folder docs, 12 items".
  function nameFolder(total) {
    const name = shownName(splitPath(curPath).pop() || curPath);
    byId("dirHead").textContent = name;
    entriesEl.setAttribute("aria-label", name);
    say("folder " + name + ", " + total + (total === 1 ? " item" : " items"));
  }

  /* ---------- Navigation ---------- */

  // The child of dir on the way from dir down to path, or "" when path does not lie below dir.
  function childToward(dir, path) {
    const base = joinPath(dir, "");
    if (!dir || !path.startsWith(base)) return "";
    return splitPath(path.slice(base.length))[0] || "";
  }

  // The preview follows the address: the file it names in the open folder, or none.
  function showFile(name) {
    if (!name) {
      if (curFile) clearPreview();
      if (app.getAttribute("data-view") === "preview") setView("browse");
      return;
    }
    const e = list.select(name);
    if (!e || e.type === "dir") {
      clearPreview();
      toast("File not found: " + shownName(name));
    } else if (joinPath(curPath, name) !== curFile) {
      openFile(joinPath(curPath, name), e);
    }
  }

  // Where a place from the address that did not list has led: its file, when the place is a file of
  // the folder now open; else the reason it did not list is said, and there is no file.
  function landedFile(landing) {
    const name = childToward(curPath, landing.path);
    const e = joinPath(curPath, name) === landing.path ? list.select(name) : null;
    if (e && e.type !== "dir") return name;
    toast("Cannot open folder: " + errText(landing.err));
    return "";
  }

  // The further parts of a folder larger than one answer, one after the other, each drawn as it comes,
  // so that filter, order, keys and the address work over the whole folder, up to the most a listing
  // covers; then() once the last is in.
  function loadParts(seq, extra, have, cover, then) {
    api("ls", extra + "&from=" + have).then(function (answer) {
      if (seq !== listSeq) return;
      checkOk(answer);
      const part = Array.isArray(answer.entries) ? answer.entries : [];
      // A folder that shrank meanwhile ends early.
      partsDue = part.length > 0 && have + part.length < cover;
      list.append(part, !partsDue);
      if (partsDue) loadParts(seq, extra, have + part.length, cover, then);
      else then();
    }).catch(function (err) {
      if (seq !== listSeq) return;
      partsDue = false;
      list.append([], true);
      toast("Cannot list the rest of the folder: " + errText(err));
      then();
    });
  }

  // how.file names the file to preview; how.push makes the folder a step of the history even when it
  // is the one open (a search's result in it); how.restore marks a state read from the address, which the
  // page must then show as it says; how.landing ({ path, err }) is the place from the address that
  // this folder stands in for, being the nearest parent of it found so far.
  function openDir(path, how) {
    const want = how || {};
    const seq = ++listSeq;
    const extra = pathExtra(path) + hiddenExtra();
    stopSizes();
    const done = busy(entriesEl);
    return api("ls", extra).then(function (answer) {
      if (seq !== listSeq) return;
      done();
      checkOk(answer);
      const from = curPath;
      curPath = answer.path || "";
      curParent = answer.parent || null;
      curRoot = answer.root || null;
      const first = Array.isArray(answer.entries) ? answer.entries : [];
      const total = typeof answer.total === "number" ? answer.total : first.length;
      const cover = Math.min(total, typeof answer.max === "number" ? answer.max : total);
      partsDue = first.length > 0 && first.length < cover;
      notShown = total - cover;
      const moved = curPath !== from;
      if (moved && !want.restore) {
        setFilter("");
        setScope("", "");
      }
      // Another folder shows no file unless one is named; the same folder keeps its file unless the
      // address says otherwise.
      const wanted = want.landing ? childToward(curPath, want.landing.path) : want.file || (want.restore || moved ? "" : fileInDir());
      renderCrumbs();
      const found = list.set(first, { sort: sortKey, desc: sortDesc, filter: filterText,
        select: wanted || childToward(curPath, from), tiles: gridFor(first, moved && !want.restore) });
      renderRoots();
      nameFolder(total);
      if (first.length && media(NARROW)) setView("browse");
      const push = (moved || want.push) && from && !want.restore;
      // The file the address names is looked for in the whole folder, its later parts included.
      const settle = function (pushing) {
        showFile(want.landing ? landedFile(want.landing) : wanted);
        writeAddress(pushing);
      };
      const now = !wanted || found || !partsDue;
      if (now) settle(push);
      else writeAddress(push);
      if (partsDue) {
        loadParts(seq, extra, first.length, cover, function () {
          if (!now) settle(false);
        });
      }
    }).catch(function (err) {
      if (seq !== listSeq) return;
      done();
      if (!want.restore) {
        toast("Cannot open folder: " + errText(err));
        return;
      }
      // A place from the address that does not list (gone, refused, a file): its nearest parent that
      // lists opens instead; past the roots, the first root.
      const landing = want.landing || { path: path, err: err };
      const up = parentOf(path);
      if (up) {
        openDir(up, { restore: true, landing: landing });
      } else {
        toast("Cannot open folder: " + errText(landing.err));
        if (roots.length) openDir(roots[0].path);
      }
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

  // A file opened on a phone-sized screen, or in the lightbox, is a step of its own in the history, so
  // that the system's Back goes from it to the listing.
  function activate(e) {
    const path = joinPath(curPath, e.name);
    if (e.type === "dir") {
      openDir(path);
      setView("browse");
    } else {
      const boxed = openFile(path, e);
      writeAddress(boxed || media(NARROW), { preview: 1 });
    }
  }

  // The open file closes: one that is a step of the history goes back as the system's Back does; either
  // way the file leaves the address.
  function leaveFile() {
    if (history.state && history.state.preview) {
      history.back();
    } else {
      showFile("");
      writeAddress(false);
    }
  }
