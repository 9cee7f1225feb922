  /* ---------- List view ---------- */

  /* listView(host, how) draws a listing into host, one row per entry, and owns all of it: the entries'
     order, the filter, the selection, the rows, their groups and the list's geometry. The page speaks
     to it through these methods only:
       set(entries, view)  draws entries anew, view = { sort, desc, filter, select } (sort: "name", "size"
                           or "time"; select: the name to select, else the first row is); true when
                           view.select was selected
       sort(key, desc)     the same entries in another order, the selected entry kept
       filter(text)        only the names that hold text, in any case, the selected entry kept
       selected()          the selected entry, or null
       select(name)        the entry named name, selected when the filter shows it; null when none is
       move(step)          the selection step rows on (back when negative), held within the rows and
                           scrolled into view
       page()              the rows a screenful holds, for PageUp and PageDown
       counts()            { shown, total }
     how.activate(entry) is called for a clicked row, how.counted(shown, total) whenever the counts may
     have changed, and how.fileIcon(name) names a file's icon class (styles.css, .ico). */
  function listView(host, how) {
    // The first screen is drawn with the answer and the rest in slices while the browser is idle, so a
    // listing of thousands keeps the page answering; whatever needs a row not built yet builds the rest.
    // Rows sit in groups that the browser skips while they are off screen (styles.css): a group, not a
    // row, so that it tracks a few dozen boxes rather than thousands as the listing scrolls.
    const FIRST_ROWS = 50;
    const SLICE_ROWS = 200;
    const SLICE_MS = 20;
    const GROUP_ROWS = 25;
    const TYPED_PAUSE_MS = 150;
    const EDGE_ROWS = 4;
    // A row's height as the styles fix it, for the height of a group, and the list's padding above its
    // first row and below its last.
    const ROW_PX = @ROW_PX@;
    const LIST_PAD_PX = @LIST_PAD_PX@;
    const LIST_END_PX = @LIST_END_PX@;

    let entries = [];
    let sortKey = "name";
    let sortDesc = false;
    let filterLow = "";
    // sorted holds the entries in the chosen order and rows[i] draws sorted[i]; shown holds the indices
    // into sorted whose names pass the filter, and selIndex is a position in shown. Rows hidden by the
    // filter stay in the document, so a keystroke only flips the rows whose state changed.
    let sorted = [];
    let lowNames = null;
    let shown = [];
    let pass = new Uint8Array(0);
    let rows = [];
    let selIndex = -1;
    let drawnSel = -1;
    let drawSeq = 0;
    // What each row's class says of the filter, the groups where that lags behind pass, and the groups
    // whose height lags behind it: a keystroke restyles and sizes what the next frame shows at once, and
    // the rest once typing pauses.
    let drawnPass = new Uint8Array(0);
    let lagging = new Uint8Array(0);
    let unsized = new Uint8Array(0);
    let catchUpSeq = 0;
    // The list's height and scroll position as the browser last reported them: asking the element would
    // lay out the page in the middle of a key, before the rows are restyled.
    const geometry = { height: 0, top: 0 };
    new ResizeObserver(function () {
      geometry.height = host.clientHeight;
    }).observe(host);
    // A scroll may bring lagging groups into view: they catch up before the frame draws them.
    host.addEventListener("scroll", function () {
      geometry.top = host.scrollTop;
      catchUpAround(Math.floor(viewTop() / ROW_PX));
    }, { passive: true });

    // The second click of a double click would land on whatever row of the new listing lies under the
    // pointer and open that too.
    host.addEventListener("click", function (ev) {
      const i = rows.indexOf(ev.target.closest(".row"));
      if (i < 0 || ev.detail > 1) return;
      selIndex = shown.indexOf(i);
      render();
      how.activate(sorted[i]);
    });

    const idle = window.requestIdleCallback ? function (fn) {
      requestIdleCallback(fn, { timeout: 20 });
    } : function (fn) {
      setTimeout(fn, 0, null);
    };

    function iconKey(e) {
      if (e.link === true) return "link";
      if (e.type === "dir") return "dir";
      return how.fileIcon(e.name);
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
      b.appendChild(el("span", "nm", shownName(e.name)));
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
      host.children[k].style.height = n * ROW_PX + "px";
    }

    // Groups after the view only make the list's length: their height can wait, but not past the moment
    // the list scrolls, since every group above the view places the rows in it.
    function sizeThrough(last) {
      for (let k = 0; k <= last; k++) {
        if (unsized[k]) sizeGroup(k);
      }
    }

    function screenRows() {
      return Math.ceil(geometry.height / ROW_PX) + 1;
    }

    function buildRows(to) {
      const end = Math.min(to, sorted.length);
      if (rows.length >= end) return;
      let g = host.lastChild;
      for (let i = rows.length; i < end; i++) {
        if (i % GROUP_ROWS === 0) {
          if (i > 0) sizeGroup(i / GROUP_ROWS - 1);
          g = host.appendChild(el("div", "grp"));
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

    function selected() {
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

    // Draws the listing anew in the chosen order, keeping the selected entry when it is still listed.
    function draw(keep) {
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
      host.textContent = "";
      buildRows(Math.max(FIRST_ROWS, drawnSel + 1));
      const seq = ++drawSeq;
      idle(function (deadline) {
        drawRest(seq, deadline);
      });
      how.counted(shown.length, entries.length);
    }

    // A group whose rows lag behind the filter is inert and unseen (styles.css): no frame, however fast the
    // list scrolls, shows a row the filter has changed, and no click, Tab or search reaches one; at worst
    // a blank shows where rows are coming. Its rows keep their layout, so it shows again in the same frame.
    function markLagging(k) {
      if (lagging[k]) return;
      lagging[k] = 1;
      host.children[k].inert = true;
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
      host.children[k].inert = false;
    }

    // The groups that hold the shown rows from a to b, and the height of every group above them, since
    // that places them. A lagging group of hidden rows only is unseen and takes no room, so it can wait.
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
    function filter(text) {
      filterLow = text.toLowerCase();
      const keep = selected();
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
      how.counted(shown.length, entries.length);
      catchUpInView();
      render();
      const seq = ++catchUpSeq;
      setTimeout(function () {
        idle(function (deadline) {
          catchUpRest(seq, deadline);
        });
      }, TYPED_PAUSE_MS);
    }

    // Moves the selection: only the two rows whose state changed are touched.
    function render() {
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
      if (geometry.height < ROW_PX) {
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
      geometry.top = host.scrollTop;
    }

    // Whether the k-th shown row lies wholly in view. Rows are of one height and hidden ones take no
    // room, so its place is known without asking the browser, which would lay out the page in the middle
    // of a key.
    function shownInView(k) {
      const top = LIST_PAD_PX + k * ROW_PX;
      const view = viewTop();
      return top >= view && top + ROW_PX <= view + geometry.height;
    }

    // Where the list stands: as last scrolled, or its end when the shown rows no longer reach that far.
    function viewTop() {
      const end = LIST_PAD_PX + shown.length * ROW_PX + LIST_END_PX;
      return Math.max(0, Math.min(geometry.top, end - geometry.height));
    }

    return {
      set: function (list, view) {
        entries = list;
        sortKey = view.sort;
        sortDesc = view.desc;
        filterLow = view.filter.toLowerCase();
        selIndex = -1;
        draw(null);
        const pick = findShown(view.select);
        if (pick >= 0) selIndex = pick;
        render();
        return pick >= 0;
      },
      sort: function (key, desc) {
        sortKey = key;
        sortDesc = desc;
        draw(selected());
        render();
      },
      filter: filter,
      selected: selected,
      select: function (name) {
        const k = findShown(name);
        if (k >= 0) {
          selIndex = k;
          render();
          return sorted[shown[k]];
        }
        return entries.find(function (e) {
          return e.name === name;
        }) || null;
      },
      move: function (step) {
        selIndex = Math.max(0, Math.min(shown.length - 1, selIndex < 0 ? 0 : selIndex + step));
        render();
      },
      page: function () {
        const row = rows[drawnSel];
        const h = row ? row.offsetHeight : 0;
        return h > 0 ? Math.max(1, Math.floor(host.clientHeight / h) - 1) : 10;
      },
      counts: function () {
        return { shown: shown.length, total: entries.length };
      }
    };
  }
