  /* ---------- Encodings ---------- */

  /* What a file's first bytes say it holds, and the encodings a text can be read in. Pure: the
     browser's own TextDecoder does the decoding. */
  const encodings = (function () {
    // The picker's choices, [label, the decoder's name].
    const CHOICES = [["UTF-8", "utf-8"], ["UTF-16LE", "utf-16le"], ["UTF-16BE", "utf-16be"],
      ["Windows-1252", "windows-1252"], ["ISO-8859-2", "iso-8859-2"], ["ISO-8859-5", "iso-8859-5"],
      ["ISO-8859-15", "iso-8859-15"], ["Shift_JIS", "shift_jis"], ["EUC-KR", "euc-kr"], ["GBK", "gbk"],
      ["Big5", "big5"], ["KOI8-R", "koi8-r"]];

    // "utf-16le" or "utf-16be" for a byte-order mark, "gzip" for its magic number, else "".
    function sniff(b) {
      if (b.length >= 2 && b[0] === 0xff && b[1] === 0xfe) return "utf-16le";
      if (b.length >= 2 && b[0] === 0xfe && b[1] === 0xff) return "utf-16be";
      if (b.length >= 3 && b[0] === 0x1f && b[1] === 0x8b && b[2] === 8) return "gzip";
      return "";
    }

    // UTF-8 when the bytes are (a window may end inside a character), else Windows-1252, which
    // gives every byte a character.
    function guess(b) {
      try {
        new TextDecoder("utf-8", { fatal: true }).decode(b, { stream: true });
        return "utf-8";
      } catch (e) {
        return "windows-1252";
      }
    }

    function decode(b, name) {
      return new TextDecoder(name).decode(b);
    }

    // A text that holds a NUL in its first 8 KiB is not shown as text, as the server judges files.
    function binary(text) {
      return text.slice(0, 8192).indexOf("\u0000") >= 0;
    }

    function unit(name) {
      return name === "utf-16le" || name === "utf-16be" ? 2 : 1;
    }

    return { CHOICES: CHOICES, sniff: sniff, guess: guess, decode: decode, binary: binary, unit: unit };
  })();
