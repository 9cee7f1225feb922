  /* ---------- Lines and windows ---------- */

  /* Pure helpers for texts read a window at a time: where a window's whole lines end, how many bytes
     a piece of text took in UTF-8, how many lines it holds, and the line ranges an address names. */
  const lines = (function () {
    // The length of text to keep from a window: up to its last line feed when bytes remain after the
    // window (the line it cuts shows whole in the next), all of it when it ends the file or holds a
    // single unfinished line.
    function wholeLength(text, more) {
      if (!more) return text.length;
      const nl = text.lastIndexOf("\n");
      return nl < 0 ? text.length : nl + 1;
    }

    // The bytes text takes in UTF-8; a lone surrogate counts as the three bytes of its replacement.
    function utf8Length(text) {
      let n = text.length;
      for (let i = 0; i < text.length; i++) {
        const c = text.charCodeAt(i);
        if (c < 0x80) continue;
        if (c < 0x800) n += 1;
        else if (c >= 0xd800 && c < 0xdc00 && i + 1 < text.length && (text.charCodeAt(i + 1) & 0xfc00) === 0xdc00) {
          n += 2;
          i++;
        } else n += 2;
      }
      return n;
    }

    function count(text) {
      let n = 0;
      for (let nl = text.indexOf("\n"); nl >= 0; nl = text.indexOf("\n", nl + 1)) n++;
      return n;
    }

    // Where the last line feed of a window of bytes ends (0 when it holds none); in UTF-16 a line feed
    // is a unit of two bytes at an even place.
    function bytesWhole(bytes, unit) {
      for (let i = bytes.length - unit; i >= 0; i--) {
        if (unit === 2 ? i % 2 === 0 && bytes[i] + bytes[i + 1] === 10 && (bytes[i] === 0 || bytes[i + 1] === 0) :
          bytes[i] === 10) return i + unit;
      }
      return 0;
    }

    // "N" or "N-M" (either order) as [first, last], or null for anything else.
    function parseRange(s) {
      const m = /^([1-9][0-9]{0,9})(?:-([1-9][0-9]{0,9}))?$/.exec(s || "");
      if (!m) return null;
      const a = Number(m[1]);
      const b = m[2] ? Number(m[2]) : a;
      return a <= b ? [a, b] : [b, a];
    }

    function rangeText(r) {
      return r[0] === r[1] ? String(r[0]) : r[0] + "-" + r[1];
    }

    // The windows read so far of one file, as [byte offset, number of its first line] in order: where
    // to start reading toward line n, the last known window that starts at or before it.
    function startFor(known, n) {
      let best = [0, 1];
      for (const w of known) if (w[1] <= n && w[0] >= best[0]) best = w;
      return best;
    }

    return { wholeLength: wholeLength, utf8Length: utf8Length, count: count, bytesWhole: bytesWhole,
      parseRange: parseRange, rangeText: rangeText, startFor: startFor };
  })();
