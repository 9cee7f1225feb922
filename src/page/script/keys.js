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

  function hiddenExtra() {
    return showHidden ? "&hidden=1" : "";
  }

  btnZip.addEventListener("click", function () {
    if (curPath) download("zip", pathExtra(curPath) + hiddenExtra());
  });

  /* ---------- Marked entries ---------- */

  // One file is itself; one folder its archive; several entries one archive of just those, named
  // after the folder that holds them.
  function downloadMarked() {
    const m = list.marked();
    if (m.length === 1 && m[0].type !== "dir") download("raw", pathExtra(joinPath(curPath, m[0].name)) + "&download=1");
    else if (m.length === 1) download("zip", pathExtra(joinPath(curPath, m[0].name)) + hiddenExtra());
    else if (m.length) {
      download("zip", pathExtra(curPath) + m.map(function (e) {
        return "&name=" + enc(e.name);
      }).join("") + hiddenExtra());
    }
  }

  // The clipboard's own call needs a secure context, which a node reached over plain HTTP is not; a
  // copy of a selected field serves there.
  function copyText(text) {
    if (navigator.clipboard && window.isSecureContext) return navigator.clipboard.writeText(text);
    const area = el("textarea");
    area.value = text;
    document.body.appendChild(area);
    area.select();
    const ok = document.execCommand("copy");
    area.remove();
    return ok ? Promise.resolve() : Promise.reject(new Error("the browser refused"));
  }

  byId("selDownload").addEventListener("click", downloadMarked);
  byId("selCopy").addEventListener("click", function () {
    const m = list.marked();
    copyText(m.map(function (e) {
      return joinPath(curPath, e.name);
    }).join("\n")).then(function () {
      say(m.length === 1 ? "Copied 1 path" : "Copied " + m.length + " paths");
    }).catch(function (err) {
      toast("Cannot copy: " + errText(err));
    });
  });
  byId("selClear").addEventListener("click", function () {
    list.mark("clear");
  });

  // "3 selected \u00b7 1.2 KB": the files' sizes summed, a folder's not known.
  function showMarks(m) {
    const bar = byId("selbar");
    bar.classList.toggle("hidden", !m.length);
    let size = 0;
    let files = 0;
    for (const e of m) {
      if (e.type !== "dir" && typeof e.size === "number") {
        size += e.size;
        files++;
      }
    }
    const text = m.length + " selected" + (files ? " \u00b7 " + fmtSize(size) : "");
    byId("selText").textContent = text;
    if (m.length) say(text);
  }

  // Names cut short show whole as a tooltip: rows, roots, the previewed file.
  document.addEventListener("mouseover", function (ev) {
    const t = ev.target;
    if (t.matches && t.matches(".row .nm, .root .n, .root .p, #prevName")) titleIfCut(t);
  });

  // The count is said once typing pauses, not for every key.
  let sayTimer = 0;
  filterEl.addEventListener("input", function () {
    setFilter(filterEl.value);
    list.filter(filterText);
    writeAddressSoon();
    clearTimeout(sayTimer);
    sayTimer = setTimeout(function () {
      say(countEl.textContent);
    }, 500);
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

  // Where a key was pressed: typing (a text field, where the keys that edit text are its own),
  // choosing (the sort list, where the keys that choose are), in the listing (or with nothing
  // focused), whose keys act on its selected row, or inside the preview, whose keys scroll it. On any
  // other control Enter and Space press it.
  function keyPlace(t) {
    const at = t && t.closest ? t : null;
    const choosing = !!at && at.tagName === "SELECT";
    const typing = choosing || (!!at && (at.tagName === "INPUT" || at.tagName === "TEXTAREA" || at.isContentEditable));
    const inList = !at || at === entriesEl || at === resultsEl || at === document.body;
    return { typing: typing, choosing: choosing, list: inList, preview: !!at && !!at.closest("#preview") };
  }

  function plainKey(ev) {
    return !ev.ctrlKey && !ev.metaKey && !ev.altKey;
  }

  // The listing's keys move its selection from wherever focus is, but not in the preview, where they
  // scroll, nor in a field that takes them (Home and End move its cursor); Shift extends the marks.
  // n 0 is a screen, down for PageDown.
  function step(n, ev, at) {
    const rows = shownRows();
    if (at.choosing || at.preview || (at.typing && (ev.key === "Home" || ev.key === "End")) || !rows.counts().shown) {
      return false;
    }
    rows.move(n === 0 ? (ev.key === "PageDown" ? 1 : -1) * rows.page() : n, ev.shiftKey);
  }

  // The roots, the listing and the preview, in the order F6 visits them: those on screen.
  function regions() {
    const rootEl = rootsEl.querySelector(".root.sel") || rootsEl.querySelector(".root");
    return [rootEl, entriesEl, prevBody].filter(function (n) {
      return n && n.getClientRects().length > 0 && !n.closest("[inert]");
    });
  }

  // From a control of a region (the filter of the listing, a button of the preview) F6 goes to the
  // region itself first.
  function nextRegion(back) {
    const all = regions();
    if (!all.length) return;
    const now = all.findIndex(function (n) {
      return n.closest("#side, .listwrap, .preview").contains(document.activeElement);
    });
    const inside = now >= 0 && all[now] !== document.activeElement && !back;
    const to = now < 0 ? 0 : inside ? now : (now + (back ? all.length - 1 : 1)) % all.length;
    all[to].focus();
  }

  /* KEYS: one row per key, in the order the help dialog lists them. on names the values of
     KeyboardEvent.key the row answers; run(ev, at) acts, at = keyPlace(focus), and returns false when
     the key is not its own there (the browser's default then stands). A row without run is a pointer
     gesture, listed only; one without keys acts unlisted, as a row above it says. */
  const KEYS = [
    { on: ["ArrowDown", "ArrowUp"], keys: "\u2191 \u2193", does: "Move the selection; with Shift, mark the rows on the way", run: function (ev, at) {
      return step(ev.key === "ArrowDown" ? 1 : -1, ev, at);
    } },
    { on: ["PageDown", "PageUp"], keys: "Page Up, Page Down", does: "Move the selection by a screen", run: function (ev, at) {
      return step(0, ev, at);
    } },
    { on: ["Home", "End"], keys: "Home, End", does: "Select the first or the last row", run: function (ev, at) {
      return step(ev.key === "End" ? Infinity : -Infinity, ev, at);
    } },
    { on: ["Enter"], keys: "Enter", does: "Open the selected folder or file; on a button, press it", run: function (ev, at) {
      // The filter has no Enter of its own: there it opens the row it leaves selected.
      const rows = shownRows();
      if (!(at.list || ev.target === filterEl) || !rows.selected()) return false;
      if (rows === list) activate(list.selected());
      else openResult(rows.selected());
    } },
    { on: [" "], keys: "Space", does: "Mark or unmark the selected row; on a button, press it", run: function (ev, at) {
      if (!at.list || !list.selected()) return false;
      list.mark("toggle");
    } },
    { keys: "Shift + click", does: "Mark the rows from the last one marked to the one clicked" },
    { keys: "Ctrl (\u2318) + click", does: "Mark or unmark one row" },
    { on: ["a", "A"], keys: "Ctrl (\u2318) + A", does: "Mark every row shown", run: function (ev, at) {
      if (!(ev.ctrlKey || ev.metaKey) || ev.altKey || at.typing || at.preview) return false;
      list.mark("all");
    } },
    { on: ["Escape"], keys: "Escape", does: "Leave the search results, clear the filter when in it, else the marks; close this list", run: function (ev) {
      if (shownRows() !== list || (ev.target === filterEl && filterText)) {
        leaveSearch();
        return;
      }
      if (!list.marked().length) return false;
      list.mark("clear");
    } },
    { on: ["Backspace"], keys: "Backspace", does: "Go up one folder", run: function (ev, at) {
      if (at.typing || !curParent) return false;
      openDir(curParent);
    } },
    { on: ["f", "F"], keys: "/, Ctrl (\u2318) + F", does: "Find in the whole folder: go to the filter", run: function (ev) {
      if (!findsInPage(ev)) return false;
      filterEl.focus();
      filterEl.select();
    } },
    { on: ["/"], run: function (ev, at) {
      if (at.typing) return false;
      filterEl.focus();
    } },
    { on: ["w"], keys: "w", does: "Wrap the long lines of a text", run: function (ev, at) {
      if (at.typing || !plainKey(ev) || !doc) return false;
      toggleWrap();
    } },
    { on: ["f"], keys: "f", does: "Follow what is appended to a text", run: function (ev, at) {
      if (at.typing || !plainKey(ev) || !doc) return false;
      toggleFollow();
    } },
    { on: ["z"], keys: "z", does: "Show the sizes of the folders", run: function (ev, at) {
      if (at.typing || !plainKey(ev)) return false;
      folderSizes();
    } },
    { keys: "g", does: "Show the folder as a grid of pictures, or as a list; in the grid \u2190 \u2192 move too" },
    { on: ["F6"], keys: "F6, Shift + F6", does: "Go to the roots, the listing or the preview", run: function (ev) {
      nextRegion(ev.shiftKey);
    } },
    { keys: "Tab, Shift + Tab", does: "Go to the next or the previous control" },
    { on: ["?"], keys: "?", does: "Show these keys", run: function (ev, at) {
      if (at.typing) return false;
      showHelp();
    } }
  ];

  // The listing holds only the rows where it stands (listview.js), so the browser's own find would miss
  // the rest: Ctrl+F (Cmd+F) goes to the filter, which finds over the whole folder. In the preview,
  // whose text is all there, the browser finds as ever.
  let inPreview = false;
  document.addEventListener("pointerdown", function (ev) {
    inPreview = !!ev.target.closest("#preview");
  }, true);

  function findsInPage(ev) {
    return (ev.ctrlKey || ev.metaKey) && !ev.altKey && !inPreview && !(ev.target.closest && ev.target.closest("#preview"));
  }

  // Keys count whatever modifier keys are held, unless their row says otherwise. The password form and
  // the help, while they show, have the keys to themselves.
  document.addEventListener("keydown", function (ev) {
    if (!loginEl.classList.contains("hidden") || helpEl.open) return;
    const at = keyPlace(ev.target);
    if (shownRows() === list && gridKey(ev, at.typing, at.choosing)) return;
    for (const k of KEYS) {
      if (k.run && k.on.indexOf(ev.key) >= 0 && k.run(ev, at) !== false) {
        ev.preventDefault();
        return;
      }
    }
  });

  // A button pressed with the pointer gives the keys back to the listing, where Enter then opens the
  // selected row; the preview's own controls and the dialogs keep theirs.
  document.addEventListener("click", function (ev) {
    const b = ev.target.closest && ev.target.closest("button");
    if (!b || ev.detail === 0 || b.closest("#preview, #help, #login")) return;
    if (entriesEl.getClientRects().length && !entriesEl.closest("[inert]")) entriesEl.focus({ preventScroll: true });
  });

  /* ---------- Help ---------- */

  const helpEl = byId("help");

  (function () {
    const body = helpEl.querySelector("tbody");
    KEYS.forEach(function (k) {
      if (!k.keys) return;
      const tr = body.appendChild(el("tr"));
      tr.appendChild(el("td", "", k.keys));
      tr.appendChild(el("td", "", k.does));
    });
  })();

  function showHelp() {
    if (!helpEl.open) helpEl.showModal();
  }

  byId("btnHelp").addEventListener("click", showHelp);

  // A window that crosses the phone's width keeps its panes' inertness true to what shows.
  if (window.matchMedia) {
    window.matchMedia(NARROW).addEventListener("change", function () {
      setView(app.getAttribute("data-view"));
    });
  }
