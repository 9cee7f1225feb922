  /* ---------- Buttons and keys ---------- */

  byId("btnRefresh").addEventListener("click", function () {
    if (curPath) openDir(curPath);
    else loadRoots();
  });

  byId("btnUp").addEventListener("click", function () {
    if (curParent) openDir(curParent);
    else if (curPath && curRoot && curRoot !== curPath) openDir(curRoot);
    else toast("Already at the root");
  });

  // On a phone the panes take turns: back from a preview is the listing, from the listing the roots.
  // A preview that is a step of the history goes back as the system's Back does; either way the file
  // leaves the address.
  byId("btnBack").addEventListener("click", function () {
    if (app.getAttribute("data-view") !== "preview") setView("roots");
    else leaveFile();
  });

  byId("btnTheme").addEventListener("click", function () {
    if (typeof window.zvApplyTheme !== "function") return;
    const dark = typeof window.zvTheme === "function" && window.zvTheme() === "dark";
    window.zvApplyTheme(dark ? "light" : "dark");
  });

  btnHidden.addEventListener("click", function () {
    setHidden(!showHidden);
    if (curPath) openDir(curPath);
    else writeAddress(false);
  });

  // A download never takes the page's place. A HEAD asks first whether the node will send it; when it
  // will not, a GET of the same address reads the node's reason, a short JSON answer then, to show
  // here. The file itself comes through a link that the browser saves to disk as it arrives, however
  // large; its download attribute keeps even a refusal that comes later (the file gone meanwhile) in
  // the browser's downloads, never in the page's place. The answer's headers name the file.
  function download(action, extra) {
    send(action, extra, { method: "HEAD" }).then(function (res) {
      if (res.ok) return;
      const stop = new AbortController();
      return send(action, extra, { signal: stop.signal }).then(function (got) {
        if (got.ok) return stop.abort();
        return answerOf(got).then(function (answer) {
          throw new Error(failure(got, answer));
        });
      });
    }).then(function () {
      const a = document.createElement("a");
      a.href = url(action, extra);
      a.rel = "noopener";
      a.download = "";
      document.body.appendChild(a);
      a.click();
      a.remove();
    }).catch(function (err) {
      toast("Cannot download: " + errText(err));
    });
  }

  btnDownload.addEventListener("click", function () {
    if (curFile) download("raw", pathExtra(curFile) + "&download=1");
  });

  btnZip.addEventListener("click", function () {
    if (curPath) download("zip", pathExtra(curPath) + (showHidden ? "&hidden=1" : ""));
  });

  // Names cut short show whole as a tooltip: rows, roots, the previewed file.
  document.addEventListener("mouseover", function (ev) {
    const t = ev.target;
    if (t.matches && t.matches(".row .nm, .root .n, .root .p, #prevName")) titleIfCut(t);
  });

  filterEl.addEventListener("input", function () {
    setFilter(filterEl.value);
    list.filter(filterText);
    writeAddressSoon();
  });

  function resort() {
    list.sort(sortKey, sortDesc);
    writeAddress(false);
  }

  sortEl.addEventListener("change", function () {
    setSort(sortEl.value, sortDesc);
    resort();
  });

  btnSortDesc.addEventListener("click", function () {
    setSort(sortKey, !sortDesc);
    resort();
  });

  const STEP = { ArrowDown: 1, ArrowUp: -1, PageDown: 0, PageUp: 0, Home: -Infinity, End: Infinity };

  // The listing holds only the rows where it stands (listview.js), so the browser's own find would miss
  // the rest: Ctrl+F (Cmd+F) goes to the filter, which finds over the whole folder. In the preview,
  // whose text is all there, the browser finds as ever.
  let inPreview = false;
  document.addEventListener("pointerdown", function (ev) {
    inPreview = !!ev.target.closest("#preview");
  }, true);

  function findsInPage(ev) {
    return (ev.ctrlKey || ev.metaKey) && !ev.altKey && ev.key.toLowerCase() === "f" &&
      !inPreview && !(ev.target.closest && ev.target.closest("#preview"));
  }

  // Keys count whatever modifier keys are held. In a text field the keys that edit text are its own;
  // in the sort list, the keys that choose are.
  document.addEventListener("keydown", function (ev) {
    const t = ev.target;
    // The password form, while it shows, has the keys to itself.
    if (!loginEl.classList.contains("hidden")) return;
    if (findsInPage(ev)) {
      ev.preventDefault();
      filterEl.focus();
      filterEl.select();
      return;
    }
    const choosing = t && t.tagName === "SELECT";
    const rows = shownRows();
    const typing = choosing || (t && (t.tagName === "INPUT" || t.tagName === "TEXTAREA" || t.isContentEditable));
    if (rows === list && gridKey(ev, typing, choosing)) return;
    if (Object.prototype.hasOwnProperty.call(STEP, ev.key)) {
      if (choosing || (typing && (ev.key === "Home" || ev.key === "End")) || !rows.counts().shown) return;
      ev.preventDefault();
      const step = STEP[ev.key];
      rows.move(step !== 0 ? step : ev.key === "PageDown" ? rows.page() : -rows.page());
      return;
    }
    switch (ev.key) {
      case "Enter":
        // Also when a button has focus: the selected entry opens, the button is not pressed. Inside the
        // preview, Enter is its own controls' (a field, a button).
        if (choosing || !rows.selected() || (t && t.closest && t.closest("#preview"))) return;
        ev.preventDefault();
        if (rows === list) activate(list.selected());
        else openResult(rows.selected());
        break;
      case "Backspace":
        if (typing || !curParent) return;
        ev.preventDefault();
        openDir(curParent);
        break;
      case "w":
      case "f":
        // Wrap and Follow, for a text in the pane.
        if (typing || ev.ctrlKey || ev.metaKey || ev.altKey || !doc) return;
        ev.preventDefault();
        if (ev.key === "w") toggleWrap();
        else toggleFollow();
        break;
      case "/":
        if (typing) return;
        ev.preventDefault();
        filterEl.focus();
        break;
      case "z":
        // Folder sizes (sizes.js).
        if (typing || ev.ctrlKey || ev.metaKey || ev.altKey) return;
        ev.preventDefault();
        folderSizes();
        break;
      case "Escape":
        // Out of a search, or the filter cleared.
        if (rows === list && (t !== filterEl || !filterText)) return;
        leaveSearch();
        break;
    }
  });
