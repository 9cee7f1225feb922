  /* ---------- Names as bytes ---------- */

  /* A POSIX node names files with bytes, which need not be UTF-8, and its answers carry them as they
     are. The page decodes an answer so that every byte outside UTF-8 becomes a code point of its own,
     U+DC80 to U+DCFF (a lone low surrogate, which no UTF-8 text decodes to), and encodes a path back
     into exactly the bytes it came from: every file it lists, it can open. Such a code point shows as
     the replacement mark. Pure functions of their arguments: tests/page/ runs them on their own. */

  const UTF8_STRICT = new TextDecoder("utf-8", { fatal: true });
  const UTF8_LOOSE = new TextDecoder("utf-8");
  const UTF8_OUT = new TextEncoder();
  const HEX = "0123456789ABCDEF";
  // What each encoding leaves as it is: encodeURIComponent's set, and the form set of URLSearchParams.
  const URI_PLAIN = /^[A-Za-z0-9\-_.!~*'()]$/;
  const FORM_PLAIN = /^[A-Za-z0-9*\-._]$/;
  const ESCAPED = /[\uDC80-\uDCFF]/;
  const LONE = /(?<![\uD800-\uDBFF])[\uDC80-\uDCFF]/g;
  // A byte outside UTF-8 that stands alone, a control character, or DEL: each shows as a mark of its own.
  const UNSHOWN = /(?<![\uD800-\uDBFF])[\uDC80-\uDCFF]|[\u0000-\u001f\u007f]/g;

  // The length of the UTF-8 sequence that starts at b[i], or 0 when none does (a stray continuation
  // byte, an overlong form, a surrogate, a code point past U+10FFFF, a cut sequence).
  function utf8Length(b, i) {
    const c = b[i];
    if (c < 0x80) return 1;
    const n = c >= 0xc2 && c <= 0xdf ? 2 : c >= 0xe0 && c <= 0xef ? 3 : c >= 0xf0 && c <= 0xf4 ? 4 : 0;
    if (!n || i + n > b.length) return 0;
    for (let k = 1; k < n; k++) {
      if ((b[i + k] & 0xc0) !== 0x80) return 0;
    }
    const d = b[i + 1];
    if ((c === 0xe0 && d < 0xa0) || (c === 0xed && d > 0x9f) || (c === 0xf0 && d < 0x90) || (c === 0xf4 && d > 0x8f)) return 0;
    return n;
  }

  // Bytes as text, each byte outside UTF-8 as U+DC00 plus the byte. An answer that is all UTF-8, which
  // is nearly every answer, costs the strict decoder's one pass.
  function decodeBytes(b) {
    try {
      return UTF8_STRICT.decode(b);
    } catch (e) {
      let out = "";
      let run = 0;
      for (let i = 0; i < b.length;) {
        const n = utf8Length(b, i);
        if (n) {
          i += n;
          continue;
        }
        out += UTF8_LOOSE.decode(b.subarray(run, i)) + String.fromCharCode(0xdc00 | b[i]);
        run = ++i;
      }
      return out + UTF8_LOOSE.decode(b.subarray(run));
    }
  }

  // The bytes a text decoded by decodeBytes came from.
  function bytesOf(s) {
    if (!ESCAPED.test(s)) return UTF8_OUT.encode(s);
    const out = [];
    for (const ch of s) {
      const c = ch.charCodeAt(0);
      if (ch.length === 1 && c >= 0xdc80 && c <= 0xdcff) out.push(c & 0xff);
      else out.push(...UTF8_OUT.encode(ch));
    }
    return Uint8Array.from(out);
  }

  function percent(s, plain, space) {
    let out = "";
    for (const b of bytesOf(s)) {
      const ch = String.fromCharCode(b);
      out += b === 0x20 && space ? space : plain.test(ch) ? ch : "%" + HEX[b >> 4] + HEX[b & 15];
    }
    return out;
  }

  // A query value, as encodeURIComponent writes it, but of the text's own bytes.
  function enc(s) {
    return percent(s, URI_PLAIN, "");
  }

  // A value of the address's fragment, as URLSearchParams writes it, but of the text's own bytes.
  function formEnc(s) {
    return percent(s, FORM_PLAIN, "+");
  }

  // The text of a fragment value: "+" is a space, and %XX the byte XX.
  function formDec(s) {
    const out = [];
    for (let i = 0; i < s.length; i++) {
      const c = s.charCodeAt(i);
      if (c === 0x25 && /^[0-9A-Fa-f]{2}$/.test(s.substr(i + 1, 2))) {
        out.push(parseInt(s.substr(i + 1, 2), 16));
        i += 2;
      } else if (c === 0x2b) {
        out.push(0x20);
      } else if (c < 0x80) {
        out.push(c);
      } else {
        const ch = String.fromCodePoint(s.codePointAt(i));
        out.push(...UTF8_OUT.encode(ch));
        i += ch.length - 1;
      }
    }
    return decodeBytes(Uint8Array.from(out));
  }

  // A fragment written as URLSearchParams writes one, read into a Map of names to values.
  function formRead(s) {
    const m = new Map();
    s.split("&").forEach(function (pair) {
      if (!pair) return;
      const eq = pair.indexOf("=");
      const name = formDec(eq < 0 ? pair : pair.slice(0, eq));
      if (!m.has(name)) m.set(name, eq < 0 ? "" : formDec(pair.slice(eq + 1)));
    });
    return m;
  }

  // A file's text as it shows: a byte outside UTF-8 as the replacement mark.
  function shownText(s) {
    return ESCAPED.test(s) ? s.replace(LONE, "\ufffd") : s;
  }

  // A name as a person sees it: a byte outside UTF-8 as the replacement mark, a control character as
  // its picture (a line feed as U+240A), so that every character of a name takes a place of its own.
  function shownName(s) {
    return s.replace(UNSHOWN, function (c) {
      const n = c.charCodeAt(0);
      return n >= 0xdc80 ? "\ufffd" : String.fromCharCode(n === 0x7f ? 0x2421 : 0x2400 + n);
    });
  }
