  /* ---------- Hex view ---------- */

  // Bytes are read a window of this many at a time, through a Range, as the view scrolls to them; the
  // windows last read are kept.
  const HEX_WINDOW = 65536;
  const HEX_KEEP = 32;
  // A row of 16 bytes is one code line high. A file whose rows would make the pane taller than this
  // scrolls by proportion instead (a browser draws no box of billions of pixels).
  const HEX_ROW = 16;
  const HEX_MAX_PX = 4000000;

  function hexByte(b) {
    return (b < 16 ? "0" : "") + b.toString(16);
  }

  // The offset a person writes: 0x1f, 1f (hex when it holds a letter a-f), or decimal.
  function hexOffset(text) {
    const s = text.trim().toLowerCase();
    if (/^0x[0-9a-f]+$/.test(s)) return parseInt(s.slice(2), 16);
    if (/^[0-9]+$/.test(s)) return Number(s);
    if (/^[0-9a-f]+$/.test(s)) return parseInt(s, 16);
    return NaN;
  }

  /* The bytes of a file, 16 a row as offset, hex and characters, over the whole file: the rows in view
     are drawn as one text, from windows read as the pane scrolls there. first holds the file's first
     bytes when they have been read already; said is a note above the view. */
  function showHex(p, size, first, said) {
    resetTools();
    const rows = Math.max(1, Math.ceil(size / HEX_ROW));
    const height = Math.min(rows * CODE_LINE_PX, HEX_MAX_PX);
    const scaled = rows * CODE_LINE_PX > HEX_MAX_PX;
    const digits = Math.max(8, (Math.max(size, 1) - 1).toString(16).length);
    const windows = new Map();
    const asked = new Set();
    if (first && first.length) windows.set(0, first.subarray(0, Math.min(first.length, HEX_WINDOW)));
    prevMeta.textContent = fmtSize(size) + " \u00b7 binary";
    prevBody.textContent = "";
    prevBody.scrollTop = 0;
    const wrap = el("div", "hex");
    if (said) wrap.appendChild(note(said));
    const bar = el("form", "hexbar");
    const label = el("label", "", "Go to offset ");
    const field = el("input");
    field.type = "text";
    field.spellcheck = false;
    field.placeholder = "0x0";
    field.setAttribute("aria-label", "Offset in the file, hex or decimal");
    label.appendChild(field);
    const go = el("button", "pill", "Go");
    go.type = "submit";
    bar.appendChild(label);
    bar.appendChild(go);
    wrap.appendChild(bar);
    const space = el("div", "hexspace");
    // Room below the last row, so that a jump near the end still brings its row to the top.
    space.style.height = height + Math.max(0, prevBody.clientHeight - CODE_LINE_PX) + "px";
    const view = el("pre", "hexrows");
    space.appendChild(view);
    wrap.appendChild(space);
    p.host.appendChild(wrap);
    let drawn = -1;
    let frame = 0;

    function shown() {
      return Math.max(1, Math.ceil(prevBody.clientHeight / CODE_LINE_PX));
    }

    // The first row in view. Up to HEX_MAX_PX the pane scrolls a row a line; beyond, a small scroll
    // (wheel, keys) moves the rows by as much, and a large one (the scroll bar) goes to the row at that
    // proportion of the file, so both stay smooth and every row can be reached.
    let at = 0;
    let lastTop = 0;
    function clampRow(r) {
      return Math.max(0, Math.min(rows - 1, r));
    }
    function rowAtScroll() {
      const into = prevBody.scrollTop - space.offsetTop;
      if (!scaled) return clampRow(Math.floor(into / CODE_LINE_PX));
      const delta = prevBody.scrollTop - lastTop;
      lastTop = prevBody.scrollTop;
      if (into <= 0 || Math.abs(delta) > 2 * prevBody.clientHeight) at = Math.max(0, into) / height * rows;
      else at += delta / CODE_LINE_PX;
      at = clampRow(at);
      return Math.floor(at);
    }

    function jumpTo(row) {
      if (!scaled) {
        prevBody.scrollTop = space.offsetTop + row * CODE_LINE_PX;
        return;
      }
      prevBody.scrollTop = space.offsetTop + Math.floor(row / rows * height);
      lastTop = prevBody.scrollTop;
      at = row;
    }

    function windowFor(offset) {
      const w = Math.floor(offset / HEX_WINDOW) * HEX_WINDOW;
      const got = windows.get(w);
      if (got) {
        windows.delete(w);
        windows.set(w, got);
        return got;
      }
      if (!asked.has(w)) {
        asked.add(w);
        rawBytes(p.path, w, Math.min(size, w + HEX_WINDOW) - 1).then(function (r) {
          asked.delete(w);
          if (!p.live()) return;
          windows.set(w, r.bytes);
          while (windows.size > HEX_KEEP) windows.delete(windows.keys().next().value);
          drawn = -1;
          draw();
        }).catch(function (err) {
          asked.delete(w);
          if (p.live()) toast("Cannot read the bytes at " + w + ": " + errText(err));
        });
      }
      return null;
    }

    function rowText(row) {
      const at = row * HEX_ROW;
      const w = windowFor(at);
      let hex = "";
      let chars = "";
      for (let i = 0; i < HEX_ROW; i++) {
        const off = at + i;
        const k = off - Math.floor(off / HEX_WINDOW) * HEX_WINDOW;
        const b = off < size && w && k < w.length ? w[k] : -1;
        hex += (i === 8 ? "  " : " ") + (off >= size ? "  " : b < 0 ? "\u00b7\u00b7" : hexByte(b));
        chars += off >= size ? "" : b < 0 ? " " : b >= 32 && b < 127 ? String.fromCharCode(b) : ".";
      }
      return at.toString(16).padStart(digits, "0") + " " + hex + "  " + chars;
    }

    function draw() {
      const top = rowAtScroll();
      const n = Math.min(shown() + 1, rows - top);
      const key = top * 1e4 + n;
      if (key === drawn) return;
      drawn = key;
      const out = [];
      for (let r = top; r < top + n; r++) out.push(rowText(r));
      view.textContent = out.join("\n");
      view.dataset.row = String(top);
    }

    function onScroll() {
      if (!p.live()) {
        prevBody.removeEventListener("scroll", onScroll);
        return;
      }
      if (frame) return;
      frame = requestAnimationFrame(function () {
        frame = 0;
        draw();
      });
    }
    prevBody.addEventListener("scroll", onScroll, { passive: true });

    bar.addEventListener("submit", function (ev) {
      ev.preventDefault();
      const off = hexOffset(field.value);
      if (!(off >= 0 && off < size)) {
        toast("An offset from 0 to " + (size - 1) + ", in hex (0x1f) or decimal");
        return;
      }
      jumpTo(Math.floor(off / HEX_ROW));
      draw();
    });
    draw();
  }
