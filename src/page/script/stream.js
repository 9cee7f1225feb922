  /* ---------- Answers in lines ---------- */

  /* The searches answer in JSON lines, each written as it is found. Pure functions of their arguments
     (and of names.js): tests/page/ runs them on their own. */

  // A reader of an answer's lines out of its bytes as they come: each chunk given to the function it
  // returns gives back the lines the chunk completes, as text, and a line cut by the chunk's end waits
  // for the rest. The lines are decoded as bytes (names.js), so that a name's bytes outside UTF-8
  // survive, in one pass per chunk: a chunk may hold thousands of lines, each parsed when it is drawn.
  function answerLines() {
    let held = new Uint8Array(0);
    return function (chunk) {
      let bytes = chunk;
      if (held.length) {
        bytes = new Uint8Array(held.length + chunk.length);
        bytes.set(held);
        bytes.set(chunk, held.length);
      }
      const end = bytes.lastIndexOf(10) + 1;
      held = bytes.slice(end);
      return end ? decodeBytes(bytes.subarray(0, end - 1)).split("\n").filter(Boolean) : [];
    };
  }

  const NOT_ASCII = /[^\x00-\x7f]/;

  // A line that grep found, cut into [before, match, after]: the match is the bytes of text from
  // col - textCol on, as many as the query has (the answer counts bytes; letters fold only within
  // ASCII, so a match is as long as the query). A match that runs past the text's end ends with it.
  function matchParts(text, col, textCol, q) {
    // In ASCII, which most lines are, a byte is a character.
    if (!NOT_ASCII.test(text) && !NOT_ASCII.test(q)) {
      const from = Math.max(0, col - textCol);
      return [text.slice(0, from), text.slice(from, from + q.length), text.slice(from + q.length)];
    }
    const b = bytesOf(text);
    const at = Math.max(0, Math.min(b.length, col - textCol));
    const end = Math.min(b.length, at + bytesOf(q).length);
    return [decodeBytes(b.subarray(0, at)), decodeBytes(b.subarray(at, end)), decodeBytes(b.subarray(end))];
  }
