  /* ---------- ANSI colours ---------- */

  /* ansiReader() returns read(text) -> { text, runs }: the text without its terminal escapes, and the
     runs of it that a colour or a weight applies to, [start, end, classes, colour, background], the
     colours as CSS values. The reader keeps what is in force from one call to the next, so that a log
     read in windows keeps its colours across the cut. Pure: it needs nothing of the page. */
  const ansiReader = (function () {
    // A control sequence (ESC [ ... final), an operating-system command (ESC ] ... BEL or ESC \), or
    // any other two-character escape. Each alternative stops at the next ESC, so a text is scanned once.
    const ESC = /\u001b(?:\[([0-9;:?<=>]*)[ -\/]*([@-~])?|\][^\u0007\u001b]*(?:\u0007|\u001b\\)?|[ -~]?)/g;
    const CUBE = [0, 95, 135, 175, 215, 255];

    function hex2(n) {
      return (n < 16 ? "0" : "") + n.toString(16);
    }

    // A colour of the 256-colour set: the first 16 follow the theme, the rest are fixed.
    function colour256(n) {
      if (n < 16) return "var(--a" + n + ")";
      if (n < 232) {
        const k = n - 16;
        return "#" + hex2(CUBE[Math.floor(k / 36)]) + hex2(CUBE[Math.floor(k / 6) % 6]) + hex2(CUBE[k % 6]);
      }
      return "#" + hex2(8 + 10 * (n - 232)).repeat(3);
    }

    // The colour that codes[i] (38 or 48) starts: [colour, codes it took].
    function extended(codes, i) {
      if (codes[i + 1] === 5 && codes[i + 2] >= 0 && codes[i + 2] < 256) return [colour256(codes[i + 2]), 3];
      if (codes[i + 1] === 2 && codes.length > i + 4) {
        const rgb = codes.slice(i + 2, i + 5).map(function (v) {
          return hex2(Math.min(255, v | 0));
        });
        return ["#" + rgb.join(""), 5];
      }
      return ["", codes.length - i];
    }

    function apply(st, params) {
      const codes = params === "" ? [0] : params.split(/[;:]/).map(function (c) {
        return c === "" ? 0 : Number(c);
      });
      for (let i = 0; i < codes.length; i++) {
        const c = codes[i];
        if (c === 0) {
          st.fg = st.bg = "";
          st.bold = st.dim = st.italic = st.under = st.inverse = false;
        } else if (c === 1) st.bold = true;
        else if (c === 2) st.dim = true;
        else if (c === 3) st.italic = true;
        else if (c === 4) st.under = true;
        else if (c === 7) st.inverse = true;
        else if (c === 22) st.bold = st.dim = false;
        else if (c === 23) st.italic = false;
        else if (c === 24) st.under = false;
        else if (c === 27) st.inverse = false;
        else if (c >= 30 && c <= 37) st.fg = colour256(c - 30);
        else if (c >= 90 && c <= 97) st.fg = colour256(c - 82);
        else if (c >= 40 && c <= 47) st.bg = colour256(c - 40);
        else if (c >= 100 && c <= 107) st.bg = colour256(c - 92);
        else if (c === 39) st.fg = "";
        else if (c === 49) st.bg = "";
        else if (c === 38 || c === 48) {
          const [value, took] = extended(codes, i);
          if (c === 38) st.fg = value;
          else st.bg = value;
          i += took - 1;
        }
      }
    }

    function look(st) {
      const cls = [];
      if (st.bold) cls.push("a-bo");
      if (st.dim) cls.push("a-dim");
      if (st.italic) cls.push("a-it");
      if (st.under) cls.push("a-un");
      let fg = st.fg;
      let bg = st.bg;
      if (st.inverse) {
        fg = st.bg || "var(--bg)";
        bg = st.fg || "var(--text)";
      }
      return cls.length || fg || bg ? [cls.join(" "), fg, bg] : null;
    }

    return function () {
      const st = { fg: "", bg: "", bold: false, dim: false, italic: false, under: false, inverse: false };
      return function read(text) {
        if (text.indexOf("\u001b") < 0 && !look(st)) return { text: text, runs: [] };
        const out = [];
        const runs = [];
        let len = 0;
        let last = 0;
        let m;
        function piece(s) {
          if (s === "") return;
          const l = look(st);
          if (l) runs.push([len, len + s.length, l[0], l[1], l[2]]);
          out.push(s);
          len += s.length;
        }
        ESC.lastIndex = 0;
        while ((m = ESC.exec(text)) !== null) {
          piece(text.slice(last, m.index));
          if (m[2] === "m") apply(st, m[1]);
          last = ESC.lastIndex;
        }
        piece(text.slice(last));
        return { text: out.join(""), runs: runs };
      };
    };
  })();
