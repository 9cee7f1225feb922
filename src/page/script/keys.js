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
  byId("btnBack").addEventListener("click", function () {
    setView(app.getAttribute("data-view") === "preview" ? "browse" : "roots");
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

  // The answer's headers decide how the browser saves it.
  function download(href) {
    const a = document.createElement("a");
    a.href = href;
    a.rel = "noopener";
    document.body.appendChild(a);
    a.click();
    a.remove();
  }

  btnDownload.addEventListener("click", function () {
    if (curFile) download(url("raw", pathExtra(curFile) + "&download=1"));
  });

  btnZip.addEventListener("click", function () {
    if (curPath) download(url("zip", pathExtra(curPath) + (showHidden ? "&hidden=1" : "")));
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

  // Keys count whatever modifier keys are held. In a text field the keys that edit text are its own;
  // in the sort list, the keys that choose are.
  document.addEventListener("keydown", function (ev) {
    const t = ev.target;
    const choosing = t && t.tagName === "SELECT";
    const typing = choosing || (t && (t.tagName === "INPUT" || t.tagName === "TEXTAREA" || t.isContentEditable));
    if (Object.prototype.hasOwnProperty.call(STEP, ev.key)) {
      if (choosing || (typing && (ev.key === "Home" || ev.key === "End")) || !list.counts().shown) return;
      ev.preventDefault();
      const step = STEP[ev.key];
      list.move(step !== 0 ? step : ev.key === "PageDown" ? list.page() : -list.page());
      return;
    }
    switch (ev.key) {
      case "Enter":
        // Also when a button has focus: the selected entry opens, the button is not pressed. Inside the
        // preview, Enter is its own controls' (a field, a button).
        if (choosing || !list.selected() || (t && t.closest && t.closest("#preview"))) return;
        ev.preventDefault();
        activate(list.selected());
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
      case "Escape":
        if (t !== filterEl || !filterText) return;
        setFilter("");
        list.filter("");
        writeAddress(false);
        break;
    }
  });
