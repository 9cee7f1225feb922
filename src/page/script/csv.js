  /* ---------- Delimited tables ---------- */

  /* delimited(text, sep) reads comma- or tab-separated rows: next(max) gives up to max more rows, each
     an array of its fields, and done() says whether the text is used up. Fields may be quoted ("a, b"),
     a quote inside doubled (""), and a quoted field may hold separators and line ends; a line ends in LF
     or CRLF. A quote left open runs to the end of the text. Pure: it needs nothing of the page. */
  function delimited(text, sep) {
    const SEP = sep.charCodeAt(0);
    const QUOTE = 34;
    const LF = 10;
    const CR = 13;
    let pos = 0;

    function quoted() {
      let out = "";
      let from = ++pos;
      for (;;) {
        const q = text.indexOf('"', pos);
        if (q < 0) {
          pos = text.length;
          return out + text.slice(from);
        }
        if (text.charCodeAt(q + 1) === QUOTE) {
          out += text.slice(from, q + 1);
          pos = from = q + 2;
          continue;
        }
        out += text.slice(from, q);
        pos = q + 1;
        // Whatever follows the closing quote up to the field's end belongs to the field.
        const start = pos;
        while (pos < text.length && !end(text.charCodeAt(pos))) pos++;
        return out + text.slice(start, pos);
      }
    }

    function end(c) {
      return c === SEP || c === LF || c === CR;
    }

    function row() {
      const fields = [];
      for (;;) {
        let field;
        if (text.charCodeAt(pos) === QUOTE) field = quoted();
        else {
          const start = pos;
          while (pos < text.length && !end(text.charCodeAt(pos))) pos++;
          field = text.slice(start, pos);
        }
        fields.push(field);
        const c = text.charCodeAt(pos);
        if (c === SEP) {
          pos++;
          continue;
        }
        if (c === CR) pos++;
        if (text.charCodeAt(pos) === LF) pos++;
        return fields;
      }
    }

    return {
      next: function (max) {
        const rows = [];
        while (rows.length < max && pos < text.length) rows.push(row());
        return rows;
      },
      done: function () {
        return pos >= text.length;
      }
    };
  }
