  /* ---------- Tables ---------- */

  // Rows are read in slices of this many milliseconds and drawn in groups of this many, each group
  // built only when it comes near the visible part of the pane; every row is one height, so a group's
  // height is known before it is built.
  const TABLE_SLICE_MS = 8;
  const TABLE_GROUP = 100;
  const TABLE_ROW_PX = @TABLE_ROW_PX@;
  // Column widths, in characters, from the longest field of the first rows, within these bounds.
  const TABLE_MIN_CH = 3;
  const TABLE_MAX_CH = 40;

  function showTable(text, answer, p) {
    const sep = /\.tsv$/i.test(p.name) ? "\t" : ",";
    showRich(text, answer, p, function (host, live) {
      drawTable(host, live, windowOf(text, answer).text, sep);
    });
  }

  function drawTable(host, live, text, sep) {
    const reader = delimited(text, sep);
    const head = reader.next(1)[0] || [];
    const box = el("div", "csv");
    const width = head.map(function (h) {
      return Math.min(TABLE_MAX_CH, Math.max(TABLE_MIN_CH, h.length));
    });
    const headRow = el("div", "csvh");
    box.appendChild(headRow);
    host.appendChild(box);
    const near = new IntersectionObserver(function (entries) {
      for (const e of entries) {
        if (!e.isIntersecting) continue;
        near.unobserve(e.target);
        fill(e.target);
      }
    }, { root: prevBody, rootMargin: "600px 0px" });
    const groups = new WeakMap();
    let count = 0;
    let widened = false;

    function cells(row, host2) {
      for (let c = 0; c < width.length; c++) host2.appendChild(el("div", "cc", row[c] !== undefined ? row[c] : ""));
    }

    function fill(g) {
      const rows = groups.get(g);
      if (!rows) return;
      groups.delete(g);
      const frag = document.createDocumentFragment();
      for (const row of rows) {
        const r = el("div", "cr");
        cells(row, r);
        frag.appendChild(r);
      }
      g.appendChild(frag);
    }

    function columns() {
      box.style.setProperty("--cols", width.map(function (w) {
        return "calc(" + w + "ch + 22px)";
      }).join(" "));
    }

    function addGroup(rows) {
      for (const row of rows) {
        // The first rows decide the widths; a row with more fields than the header widens the table.
        while (row.length > width.length) width.push(TABLE_MIN_CH);
        if (!widened) row.forEach(function (f, c) {
          width[c] = Math.min(TABLE_MAX_CH, Math.max(width[c], f.length));
        });
      }
      const g = el("div", "cg");
      g.style.height = rows.length * TABLE_ROW_PX + "px";
      groups.set(g, rows);
      box.appendChild(g);
      near.observe(g);
      count += rows.length;
    }

    // The first group is drawn at once, so the first frame shows rows; the rest follow in slices.
    addGroup(reader.next(TABLE_GROUP));
    widened = true;
    while (headRow.children.length < width.length) headRow.appendChild(el("div", "cc"));
    head.forEach(function (h, c) {
      headRow.children[c].textContent = h;
    });
    columns();
    fill(box.children[1]);
    (function slice() {
      if (!live()) {
        near.disconnect();
        return;
      }
      const until = performance.now() + TABLE_SLICE_MS;
      while (!reader.done() && performance.now() < until) addGroup(reader.next(TABLE_GROUP));
      prevMeta.dataset.rows = String(count);
      if (!reader.done()) setTimeout(slice, 0);
    })();
  }
