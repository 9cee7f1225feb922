  /* ---------- Buttons and keys ---------- */

  entriesEl.addEventListener("click", function (ev) {
    const i = rows.indexOf(ev.target.closest(".row"));
    if (i < 0) return;
    selIndex = i;
    renderEntries();
    activate(entries[i]);
  });

  byId("btnRefresh").addEventListener("click", function () {
    if (curPath) openDir(curPath);
    else loadRoots();
  });

  byId("btnUp").addEventListener("click", function () {
    if (curParent) openDir(curParent);
    else if (curPath && curRoot && curRoot !== curPath) openDir(curRoot);
    else toast("Already at the root");
  });

  byId("btnBack").addEventListener("click", function () {
    setView("browse");
  });

  byId("btnTheme").addEventListener("click", function () {
    if (typeof window.zvApplyTheme !== "function") return;
    const dark = typeof window.zvTheme === "function" && window.zvTheme() === "dark";
    window.zvApplyTheme(dark ? "light" : "dark");
  });

  btnHidden.addEventListener("click", function () {
    showHidden = !showHidden;
    const label = showHidden ? "Hide hidden files" : "Show hidden files";
    btnHidden.classList.toggle("on", showHidden);
    // Title and accessible name always carry the same text.
    btnHidden.title = label;
    btnHidden.setAttribute("aria-label", label);
    if (curPath) openDir(curPath);
  });

  // The raw action's headers decide how the browser saves the file.
  btnDownload.addEventListener("click", function () {
    if (!curFile) return;
    const a = document.createElement("a");
    a.href = url("raw", pathExtra(curFile) + "&download=1");
    a.rel = "noopener";
    document.body.appendChild(a);
    a.click();
    a.remove();
  });

  document.addEventListener("keydown", function (ev) {
    switch (ev.key) {
      case "ArrowDown":
      case "ArrowUp":
        if (!entries.length) return;
        ev.preventDefault();
        if (selIndex < 0) selIndex = 0;
        else selIndex += ev.key === "ArrowDown" ? 1 : -1;
        selIndex = Math.max(0, Math.min(entries.length - 1, selIndex));
        renderEntries();
        break;
      case "Enter":
        // Also when a button has focus: the selected entry opens, the button is not pressed.
        if (selIndex < 0 || selIndex >= entries.length) return;
        ev.preventDefault();
        activate(entries[selIndex]);
        break;
      case "Backspace":
        if (!curParent) return;
        ev.preventDefault();
        openDir(curParent);
        break;
    }
  });

