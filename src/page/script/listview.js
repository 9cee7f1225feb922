  /* ---------- List view ---------- */

  /* listView(host, how) draws a listing into host, one row per entry, and owns all of it: the entries'
     order, the filter, the selection, the rows and the list's geometry. The page speaks to it through
     these methods only:
       set(entries, view)  draws entries anew, view = { sort, desc, filter, select } (sort: "name", "size"
                           or "time"; select: the name to select, else the first row is), no row
                           marked; true when view.select was selected
       append(more, last)  more entries of the same folder, after those it has in the server's order: in
                           that order they join the listing at its end; in another, the listing is drawn
                           anew in it once the last part has come (last true)
       sort(key, desc)     the same entries in another order, the selected entry kept
       filter(text)        only the names that hold text, in any case, the selected entry kept
       selected()          the selected entry, or null
       select(name)        the entry named name, selected when the filter shows it; null when none is
       move(step)          the selection step rows on (back when negative), held within the rows and
                           scrolled into view
       page()              the rows a screenful holds, for PageUp and PageDown
       counts()            { shown, total }
       layout(tiles)       the same entries as tiles in lines of as many as the list's width holds (grid.js)
                           or, when tiles is null, as rows; set's view.tiles chooses the same for a new
                           listing. tiles = { linePx, tilePx, sidePx, build(), fill(node, entry, selected,
                           icon) }: a line's height, a tile's least width, the list's padding either side,
                           and a tile made and made to draw an entry, as rows are here
       columns()           the entries a line holds: 1 for rows
       next(name, step, test)
                           the nearest shown entry past the one named, forward when step is positive, that
                           test(entry) accepts; null when none is
       folders()           the folders' entries, in the order shown
       sized()             the rows drawn again, after folder sizes came: an entry's du ({ size, complete })
                           is a folder's size, shown (after "at least" when it is a lower bound) and sorted by
       mark(what)          the marks: "toggle" the selected row, "all" shown rows, "clear", or "extend"
                           from the row last marked to the selected one
       marked()            the marked entries, in the order shown, those the filter hides included
     The host is a listbox, one Tab stop: its rows are options, the selected row the active one
     (aria-activedescendant), the marked rows its selected options. how.activate(entry) is called for a
     clicked row, how.counted(shown, total) whenever the counts may have changed, how.marks(entries)
     whenever the marks have, and how.fileIcon(name) names a file's icon class (styles.css, .ico). */
  function listView(host, how) {
    // A folder may hold hundreds of thousands of entries, so only the rows where the list stands are in
    // the document: the screen in view and a few rows either side, in a window that a box of the whole
    // list's height holds at their place. Rows are of one height, so every row's place is known without
    // asking the browser; a keystroke builds a screen of rows however long the list, and a scroll only
    // the rows it brings into view. Finding in the page goes through the filter (keys.js).
    // A row's height as the styles fix it, and the list's padding above its first row and below its last.
    const ROW_PX = @ROW_PX@;
    const LIST_PAD_PX = @LIST_PAD_PX@;
    const LIST_END_PX = @LIST_END_PX@;
    // Rows drawn while the list has no height to go by yet, as in a pane not shown, and the rows drawn
    // either side of the view.
    const BLIND_ROWS = 50;
    const EDGE_ROWS = 4;

    let entries = [];
    let sortKey = "name";
    let sortDesc = false;
    let filterLow = "";
    // sorted holds the entries in the chosen order; the first count of shown are the indices into sorted
    // whose names pass the filter, ascending, and selIndex is a position among them. rows[j] draws
    // shown[winFrom + j]. shown is kept and refilled, not made anew for every keystroke: a new array of
    // a hundred thousand indices a key would leave the collector that much to clear.
    let sorted = [];
    let lowNames = null;
    let shown = new Int32Array(0);
    let count = 0;
    let selIndex = -1;
    let rows = [];
    let winFrom = 0;
    let drawnSel = -1;
    // Rows, or the grid's tiles: then a line of the list holds cols entries, and every place below is in
    // lines of linePx.
    let tiles = null;
    let cols = 1;
    let linePx = ROW_PX;
    // The marked entries, kept by entry so that they outlive a new order or filter; anchor is the entry
    // a range extends from.
    let marks = new Set();
    let anchor = null;
    const sizer = el("div", "sizer");
    const win = sizer.appendChild(el("div", "win"));
    // The active option must be in the document for aria-activedescendant to name it: when the
    // selected row lies outside the window (the list scrolled away from it), this row draws it at its
    // place.
    const pin = sizer.appendChild(buildRow(-1));
    pin.className = "pin hidden";
    host.setAttribute("role", "listbox");
    host.setAttribute("aria-multiselectable", "true");
    host.tabIndex = 0;
    // The list's height and scroll position as the browser last reported them: asking the element would
    // lay out the page in the middle of a key.
    const geometry = { height: 0, top: 0, width: 0 };
    new ResizeObserver(function () {
      const unseen = geometry.height < ROW_PX;
      geometry.height = host.clientHeight;
      geometry.width = host.clientWidth;
      if (fitColumns()) redraw(selectedIndex());
      else drawView(false);
      // A list drawn into a pane with no height scrolls to its selection once the pane has one.
      if (unseen && selIndex >= 0 && !shownInView(selIndex)) render();
    }).observe(host);
    // A scroll event comes before the frame that shows the scroll: the rows are there in time.
    host.addEventListener("scroll", function () {
      geometry.top = host.scrollTop;
      drawView(false);
    }, { passive: true });

    // The second click of a double click would land on whatever row of the new listing lies under the
    // pointer and open that too. Shift extends the marks to the row clicked, Ctrl (Cmd) marks or unmarks
    // it; neither opens it.
    host.addEventListener("click", function (ev) {
      let r = ev.target;
      while (r && r.parentNode !== win && r !== pin) r = r.parentNode;
      const k = !r ? -1 : r === pin ? selIndex : winFrom + rows.indexOf(r);
      if (k < 0 || ev.detail > 1) return;
      host.focus({ preventScroll: true });
      if (ev.shiftKey && !anchor) anchor = selected();
      selIndex = k;
      render();
      if (ev.shiftKey) mark("extend");
      else if (ev.ctrlKey || ev.metaKey) mark("toggle");
      else how.activate(sorted[shown[selIndex]]);
    });
    host.addEventListener("mousedown", function (ev) {
      // Shift with a click would also select the text between the rows.
      if (ev.shiftKey) ev.preventDefault();
    });

    function iconKey(e) {
      if (e.link === true) return "link";
      if (e.type === "dir") return "dir";
      return how.fileIcon(e.name);
    }

    // Same class strings whichever way a row got its state: "sel" always last.
    function rowClass(e, selected) {
      return "row" + (e.type === "dir" ? " dir" : "") + (marks.has(e) ? " mk" : "") + (selected ? " sel" : "");
    }

    function setAttr(n, name, value) {
      if (n.getAttribute(name) !== value) n.setAttribute(name, value);
    }

    function setText(n, text) {
      if (n.textContent !== text) n.textContent = text;
    }

    function setClass(n, cls) {
      if (n.className !== cls) n.className = cls;
    }

    // Row or tile b as the option of the k-th shown entry e.
    function optionOf(b, k, e) {
      setAttr(b, "id", "r" + k);
      setAttr(b, "aria-selected", marks.has(e) ? "true" : "false");
      return b;
    }

    // Row b made to draw the k-th shown entry: only what differs is written, so a row that keeps its
    // place, or takes one like it, costs the browser nothing to lay out again. It reads as one text, its
    // name, folder or file, its size and its time in words (helpers.js), for the figures shown.
    function fillRow(b, k) {
      const e = sorted[shown[k]];
      // The pinned active option is a row in either layout.
      if (tiles && b !== pin) {
        tiles.fill(b, e, k === selIndex, iconKey(e));
        return optionOf(b, k, e);
      }
      const parts = b.children;
      setClass(b, rowClass(e, k === selIndex));
      optionOf(b, k, e);
      setClass(parts[0], "ico " + iconKey(e));
      setText(parts[1], shownName(e.name));
      setText(parts[2], e.type !== "dir" ? fmtSize(e.size) : e.du ? (e.du.complete ? "" : "\u2265 ") + fmtSize(e.du.size) : "");
      setText(parts[3], fmtTime(e.mtime));
      setText(parts[4], shownName(e.name) + rowWords(e));
      return b;
    }

    function buildRow(k) {
      if (tiles && k >= 0) {
        const tile = tiles.build();
        tile.setAttribute("role", "option");
        return fillRow(tile, k);
      }
      const b = el("div");
      b.setAttribute("role", "option");
      for (const cls of ["ico", "nm", "mt", "tm", "sr"]) b.appendChild(el("span", cls));
      for (const i of [0, 1, 2, 3]) b.children[i].setAttribute("aria-hidden", "true");
      return k < 0 ? b : fillRow(b, k);
    }

    function screenRows() {
      return Math.ceil(geometry.height / linePx) + 1;
    }

    // Whether the entries a line holds changed with the list's width, which then draws anew.
    function fitColumns() {
      const n = tiles && geometry.width ? Math.max(1, Math.floor((geometry.width - 2 * tiles.sidePx) / tiles.tilePx)) : 1;
      const changed = n !== cols;
      cols = n;
      win.style.gridTemplateColumns = tiles ? "repeat(" + n + ", minmax(0, 1fr))" : "";
      return changed;
    }

    // Rows and tiles draw differently, so none of one is kept for the other.
    function shapeAs(shape) {
      tiles = shape;
      linePx = shape ? shape.linePx : ROW_PX;
      fitColumns();
      win.textContent = "";
      rows = [];
      drawnSel = -1;
    }

    function lines(n) {
      return Math.ceil(n / cols);
    }

    // The shown rows in view, [first, end).
    function inView() {
      const first = Math.floor(Math.max(0, viewTop() - LIST_PAD_PX) / linePx);
      const n = geometry.height < ROW_PX ? BLIND_ROWS : screenRows();
      return [first * cols, Math.min(count, (first + n) * cols)];
    }

    // The rows from the view's first a few either side, [from, to): further than a wheel step scrolls
    // before the page hears of it.
    function wanted() {
      const view = inView();
      const edge = Math.ceil(EDGE_ROWS * ROW_PX / linePx) * cols;
      return [Math.max(0, view[0] - edge), Math.min(count, view[1] + edge)];
    }

    // The window of rows where the list stands: drawn anew (all), or once rows in view are missing, then
    // changed at its ends only, so that a scroll or a key builds just the rows it brings into view, a
    // few at a time.
    function drawView(all) {
      const view = inView();
      if (!all && view[0] >= winFrom && view[1] <= winFrom + rows.length) return;
      const want = wanted();
      const from = want[0];
      const to = want[1];
      if (all || to <= winFrom || from >= winFrom + rows.length) {
        // The rows there are draw the new ones in their places.
        while (rows.length > to - from) rows.pop().remove();
        for (let j = 0; j < rows.length; j++) fillRow(rows[j], from + j);
        for (let k = from + rows.length; k < to; k++) rows.push(win.appendChild(buildRow(k)));
      } else {
        while (winFrom < from) {
          rows.shift().remove();
          winFrom++;
        }
        while (winFrom + rows.length > to) rows.pop().remove();
        const head = [];
        for (let k = from; k < winFrom; k++) head.push(buildRow(k));
        win.prepend.apply(win, head);
        rows = head.concat(rows);
        for (let k = from + rows.length; k < to; k++) rows.push(win.appendChild(buildRow(k)));
      }
      win.style.transform = "translateY(" + from / cols * linePx + "px)";
      winFrom = from;
      drawnSel = selIndex >= from && selIndex < to ? selIndex : -1;
      pinActive();
    }

    // The active option named to the listbox, drawn by the pinned row when the window lacks it.
    function pinActive() {
      const out = selIndex >= 0 && drawnSel !== selIndex;
      if (out) {
        fillRow(pin, selIndex);
        pin.classList.add("pin");
        pin.style.transform = "translateY(" + Math.floor(selIndex / cols) * linePx + "px)";
      } else if (pin.id) {
        pin.className = "pin hidden";
        pin.removeAttribute("id");
      }
      if (selIndex >= 0) setAttr(host, "aria-activedescendant", "r" + selIndex);
      else host.removeAttribute("aria-activedescendant");
    }

    // Rows drawn again for a change of marks only: their classes and states.
    function redrawMarks() {
      for (let j = 0; j < rows.length; j++) fillRow(rows[j], winFrom + j);
      pinActive();
      how.marks(marked());
    }

    function marked() {
      if (!marks.size) return [];
      return sorted.filter(function (e) {
        return marks.has(e);
      });
    }

    function mark(what) {
      const e = selected();
      if (what === "clear") {
        if (!marks.size) return;
        marks.clear();
      } else if (what === "all") {
        for (let k = 0; k < count; k++) marks.add(sorted[shown[k]]);
      } else if (!e) {
        return;
      } else if (what === "toggle") {
        if (!marks.delete(e)) marks.add(e);
        anchor = e;
      } else {
        const from = anchor ? shownAt(sorted.indexOf(anchor)) : -1;
        const a = from < 0 ? selIndex : from;
        for (let k = Math.min(a, selIndex); k <= Math.max(a, selIndex); k++) marks.add(sorted[shown[k]]);
        if (!anchor) anchor = e;
      }
      redrawMarks();
    }

    // The box of the whole list's height; an empty list leaves the host empty, which gives its room to
    // the message that says so (styles.css).
    function sizeList() {
      sizer.style.height = lines(count) * linePx + "px";
      if (!count) host.textContent = "";
      else if (sizer.parentNode !== host) host.appendChild(sizer);
    }

    // Directories first, then the chosen key, ties in the server's order, which is by name.
    function sortEntries() {
      if (sortKey === "name" && !sortDesc) return entries;
      const dirFirst = function (e) {
        return e.type === "dir" ? 0 : 1;
      };
      const key = sortKey === "size" ? function (e) {
        if (e.du) return e.du.size;
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
      return selIndex >= 0 && selIndex < count ? sorted[shown[selIndex]] : null;
    }

    // The position among the shown of the entry sorted[i], by halves since they ascend; -1 when the
    // filter leaves it out.
    function shownAt(i) {
      let lo = 0;
      let hi = count;
      while (lo < hi) {
        const mid = (lo + hi) >> 1;
        if (shown[mid] < i) lo = mid + 1;
        else hi = mid;
      }
      return lo < count && shown[lo] === i ? lo : -1;
    }

    // The selection on sorted[i] when it is shown, else on the first row.
    function selectIndex(i) {
      selIndex = i < 0 ? -1 : shownAt(i);
      if (selIndex < 0 && count) selIndex = 0;
    }

    function findShown(name) {
      for (let k = 0; k < count; k++) {
        if (sorted[shown[k]].name === name) return k;
      }
      return -1;
    }

    // Whether the entry sorted[i] passes the filter. The lower-cased names are made when a filter first
    // needs them, not with every listing.
    function passes(i) {
      if (!filterLow) return true;
      if (!lowNames) {
        lowNames = sorted.map(function (e) {
          return e.name.toLowerCase();
        });
      }
      return lowNames[i].indexOf(filterLow) >= 0;
    }

    function showAlso(i) {
      if (count === shown.length) {
        const more = new Int32Array(Math.max(1024, 2 * count));
        more.set(shown);
        shown = more;
      }
      shown[count++] = i;
    }

    function filterShown() {
      count = 0;
      for (let i = 0; i < sorted.length; i++) {
        if (passes(i)) showAlso(i);
      }
    }

    // The listing anew, through the filter, keeping the entry sorted[keep] selected when it is still
    // shown and the list where it stands.
    function redraw(keep) {
      filterShown();
      selectIndex(keep);
      sizeList();
      drawView(true);
      how.counted(count, sorted.length);
      render();
    }

    // The index in sorted of the selected entry, or -1.
    function selectedIndex() {
      return selIndex >= 0 && selIndex < count ? shown[selIndex] : -1;
    }

    function sortBy(key, desc) {
      const keep = selected();
      sortKey = key;
      sortDesc = desc;
      sorted = sortEntries();
      lowNames = null;
      redraw(sorted.indexOf(keep));
    }

    // Entries after the last, in the server's order, which is the order shown: only the count and the
    // list's height change, and rows where they come into view.
    function appendInOrder(more) {
      const start = sorted.length;
      for (let i = 0; i < more.length; i++) sorted.push(more[i]);
      for (let i = start; i < sorted.length; i++) {
        if (lowNames) lowNames.push(sorted[i].name.toLowerCase());
        if (passes(i)) showAlso(i);
      }
      if (selIndex < 0 && count) selIndex = 0;
      sizeList();
      drawView(false);
      how.counted(count, sorted.length);
    }

    // Moves the selection: only the two rows whose state changed are touched.
    function render() {
      if (selIndex >= count) selIndex = count - 1;
      if (drawnSel !== selIndex) {
        if (drawnSel >= 0) rows[drawnSel - winFrom].classList.remove("sel");
        drawnSel = selIndex >= winFrom && selIndex < winFrom + rows.length ? selIndex : -1;
        if (drawnSel >= 0) rows[drawnSel - winFrom].classList.add("sel");
        pinActive();
      }
      if (selIndex < 0 || geometry.height < ROW_PX || shownInView(selIndex)) return;
      // Scrolled as far as brings the row wholly into view, its rows drawn before the scroll is asked for.
      const top = LIST_PAD_PX + Math.floor(selIndex / cols) * linePx;
      geometry.top = top < viewTop() ? top : top + linePx - geometry.height;
      drawView(false);
      host.scrollTop = geometry.top;
      if (drawnSel !== selIndex) render();
    }

    // Whether the k-th shown row lies wholly in view.
    function shownInView(k) {
      const top = LIST_PAD_PX + Math.floor(k / cols) * linePx;
      const view = viewTop();
      return top >= view && top + linePx <= view + geometry.height;
    }

    // Where the list stands: as last scrolled, or its end when the shown rows no longer reach that far.
    function viewTop() {
      const end = LIST_PAD_PX + lines(count) * linePx + LIST_END_PX;
      return Math.max(0, Math.min(geometry.top, end - geometry.height));
    }

    return {
      set: function (list, view) {
        entries = list.slice();
        sortKey = view.sort;
        sortDesc = view.desc;
        filterLow = view.filter.toLowerCase();
        if ((view.tiles || null) !== tiles) shapeAs(view.tiles || null);
        sorted = sortEntries();
        lowNames = null;
        selIndex = -1;
        drawnSel = -1;
        const hadMarks = marks.size > 0;
        marks = new Set();
        anchor = null;
        geometry.top = 0;
        host.scrollTop = 0;
        redraw(-1);
        const pick = findShown(view.select);
        if (pick >= 0) selIndex = pick;
        render();
        if (hadMarks) how.marks([]);
        return pick >= 0;
      },
      append: function (more, last) {
        // In the server's order the entries shown are the entries themselves (sortEntries).
        if (sorted === entries) {
          appendInOrder(more);
          return;
        }
        for (let i = 0; i < more.length; i++) entries.push(more[i]);
        if (last) sortBy(sortKey, sortDesc);
      },
      sort: sortBy,
      filter: function (text) {
        filterLow = text.toLowerCase();
        redraw(selectedIndex());
      },
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
      move: function (step, extend) {
        if (extend && !anchor) anchor = selected();
        selIndex = Math.max(0, Math.min(count - 1, selIndex < 0 ? 0 : selIndex + step));
        render();
        if (extend) mark("extend");
      },
      page: function () {
        const h = rows.length ? rows[0].offsetHeight : 0;
        return (h > 0 ? Math.max(1, Math.floor(host.clientHeight / h) - 1) : 10) * cols;
      },
      counts: function () {
        return { shown: count, total: sorted.length };
      },
      layout: function (shape) {
        if (shape === tiles) return;
        const keep = selectedIndex();
        shapeAs(shape);
        redraw(keep);
      },
      columns: function () {
        return cols;
      },
      next: function (name, step, test) {
        const dir = step > 0 ? 1 : -1;
        for (let k = findShown(name) + dir; k >= 0 && k < count; k += dir) {
          if (test(sorted[shown[k]])) return sorted[shown[k]];
        }
        return null;
      },
      folders: function () {
        return sorted.filter(function (e) {
          return e.type === "dir";
        });
      },
      sized: function () {
        drawView(true);
      },
      mark: mark,
      marked: marked
    };
  }
