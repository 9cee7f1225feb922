  /* ---------- Texts, a window at a time ---------- */

  // A window of a text is at most this many bytes: what the read action gives, and what a Range asks
  // for when the browser decodes the bytes itself.
  const TEXT_WINDOW = 1048576;
  // The line numbers known of each file (by path and time), [byte offset, first line] per window read,
  // so that a second link into a large text starts reading near its line.
  const LINE_WINDOWS = new Map();

  const btnWrap = byId("btnWrap");
  const btnLink = byId("btnLink");
  const btnSource = byId("btnSource");
  const prevEnc = byId("prevEnc");
  let wrapLines = storeGet("kiv_wrap") === "1";
  // The text now in the pane: { p, size, mtime, enc, start, end, more, tail, view, ansi, language, note,
  // follow, anchor }; null when the pane shows something else.
  let doc = null;
  // The line range the address names, for the file it names, until that file's text is shown.
  let wantLine = "";
  let curLine = "";

  encodings.CHOICES.forEach(function (c) {
    const o = el("option", "", c[0]);
    o.value = c[1];
    prevEnc.appendChild(o);
  });

  function setWrapButton() {
    btnWrap.classList.toggle("on", wrapLines);
    btnWrap.setAttribute("aria-pressed", wrapLines ? "true" : "false");
  }
  setWrapButton();

  function toggleWrap() {
    wrapLines = !wrapLines;
    storeSet("kiv_wrap", wrapLines ? "1" : "0");
    setWrapButton();
    if (doc) doc.view.setWrap(wrapLines);
  }
  btnWrap.addEventListener("click", toggleWrap);

  // The header's text controls, each shown only where it applies.
  function textTools(d) {
    const numbered = !!d && d.first > 0;
    btnWrap.classList.toggle("hidden", !d);
    btnLink.classList.toggle("hidden", !numbered);
    btnFollow.classList.toggle("hidden", !d || d.enc !== "utf-8" || !!d.packed);
    prevEnc.classList.toggle("hidden", !d || !d.picked);
    if (d) prevEnc.value = d.enc;
    btnTail.classList.toggle("hidden", !d || d.packed || (!d.tail && !(d.start === 0 && d.more)));
    btnTail.textContent = d && d.tail ? "Show the start" : "Show the end";
  }

  function resetTools() {
    if (doc) stopDoc(doc);
    doc = null;
    textTools(null);
    btnSource.classList.add("hidden");
  }

  function stopDoc(d) {
    d.follow = false;
    d.view.stop();
    clearTimeout(d.timer);
  }

  // The bytes [from, to] of a file through the raw action, and the file's size from the answer.
  function rawBytes(path, from, to) {
    const range = to == null ? "bytes=-" + from : "bytes=" + from + "-" + to;
    return fetch(callUrl("raw", pathExtra(path)), { headers: hdr({ Range: range }) }).then(function (res) {
      if (res.status === 416) return { bytes: new Uint8Array(0), size: from };
      if (!res.ok) {
        return res.json().catch(function () {
          return null;
        }).then(function (a) {
          throw new Error((a && a.error) || "HTTP " + res.status);
        });
      }
      const whole = /\/([0-9]+)$/.exec(res.headers.get("Content-Range") || "");
      return res.arrayBuffer().then(function (buf) {
        const bytes = new Uint8Array(buf);
        return { bytes: bytes, size: whole ? Number(whole[1]) : bytes.length };
      });
    });
  }

  /* A window of whole lines from byte at (the last window when tail is set): { text, offset, end, size,
     more, mtime }. A text in UTF-8 comes through the read action; one in another encoding as bytes through
     a Range, decoded here. */
  function readWindow(d, at, tail) {
    if (d.enc === "utf-8") {
      return api("read", pathExtra(d.p.path) + (tail ? "&tail=1" : "&offset=" + at)).then(function (a) {
        checkOk(a);
        const text = typeof a.text === "string" ? a.text : "";
        const keep = lines.wholeLength(text, a.truncated === true);
        const offset = typeof a.offset === "number" ? a.offset : 0;
        const end = offset + a.bytes_read - lines.utf8Length(text.slice(keep));
        return { text: text.slice(0, keep), offset: offset, end: end, size: a.size, more: end < a.size, mtime: a.mtime,
          binary: a.binary === true };
      });
    }
    const unit = encodings.unit(d.enc);
    const ask = tail ? rawBytes(d.p.path, TEXT_WINDOW + unit, null) : rawBytes(d.p.path, at, at + TEXT_WINDOW - 1);
    return ask.then(function (r) {
      let offset = tail ? Math.max(0, r.size - r.bytes.length) : at;
      let bytes = r.bytes;
      if (tail && offset > 0) {
        // The tail starts after its first line feed, so that its first line is whole.
        if (unit === 2 && offset % 2) {
          bytes = bytes.subarray(1);
          offset++;
        }
        let skip = 0;
        for (let i = 0; i + unit <= bytes.length; i += unit) {
          if (unit === 1 ? bytes[i] === 10 : bytes[i] + bytes[i + 1] === 10 && (bytes[i] === 0 || bytes[i + 1] === 0)) {
            skip = i + unit;
            break;
          }
        }
        bytes = bytes.subarray(skip);
        offset += skip;
      }
      let keep = bytes.length;
      if (offset + keep < r.size) keep = lines.bytesWhole(bytes, unit) || keep;
      return { text: encodings.decode(bytes.subarray(0, keep), d.enc), offset: offset, end: offset + keep, size: r.size,
        more: offset + keep < r.size, mtime: d.mtime };
    });
  }

  function knownLines(d) {
    const key = d.p.path + "\n" + d.mtime;
    if (!LINE_WINDOWS.has(key)) LINE_WINDOWS.set(key, [[0, 1]]);
    return LINE_WINDOWS.get(key);
  }

  function learnLine(d, offset, line) {
    const known = knownLines(d);
    if (!known.some(function (w) {
      return w[0] === offset;
    })) known.push([offset, line]);
  }

  // The number of the line that starts at byte offset, when a window read before says; else 0.
  function lineAt(d, offset) {
    if (offset === 0) return 1;
    for (const w of knownLines(d)) if (w[0] === offset) return w[1];
    return 0;
  }

  function textMeta(d) {
    let range = "";
    if (d.tail) range = " (last 1 MB)";
    else if (d.start === 0 && d.more) range = " (first 1 MB)";
    else if (d.start > 0 && d.first > 0) range = " (lines " + d.first + "\u2013" + (d.view.next() - 1) + ")";
    else if (d.start > 0) range = " (from byte " + d.start + ")";
    prevMeta.textContent = fmtSize(d.size) + range + (d.plain ? " \u00b7 plain text" : "");
  }

  function pieceOf(d, text) {
    if (d.ansi) return d.ansi(text);
    return { text: text, runs: null };
  }

  /* Shows a window in the pane as a new text: how = { p, enc, note, plain, packed (a text decompressed
     here, which has no windows to read), picked (the encoding was chosen, not given), tail }. */
  function showTextWindow(w, how) {
    resetTools();
    const p = how.p;
    const d = { p: p, size: w.size, mtime: w.mtime || "", enc: how.enc || "utf-8", start: w.offset, end: w.end,
      more: w.more, tail: !!how.tail, plain: !!how.plain, packed: !!how.packed, picked: !!how.picked, follow: false,
      timer: 0, anchor: 0 };
    d.first = how.packed ? 1 : lineAt(d, w.offset);
    d.ansi = w.text.indexOf("\u001b") >= 0 ? ansiReader() : null;
    d.language = d.ansi ? "" : codeLanguage(how.name || p.path, w.text);
    d.view = codeView({ first: d.first, language: d.language, wrap: wrapLines, scroller: prevBody, lineClicked: function (n, shift) {
      lineClicked(d, n, shift);
    } });
    doc = d;
    prevBody.textContent = "";
    prevBody.scrollTop = 0;
    if (how.note) prevBody.appendChild(note(how.note));
    const piece = pieceOf(d, w.text);
    d.view.add(piece.text, piece.runs);
    prevBody.appendChild(d.view.box);
    afterWindow(d, w);
    d.view.paintFirst();
    textTools(d);
    return d;
  }

  function afterWindow(d, w) {
    d.lastText = ((d.lastText || "") + w.text).slice(-4 * FOLLOW_CHECK);
    if (d.first > 0 && !d.packed) learnLine(d, w.end, d.view.next());
    moreButton(d);
    textMeta(d);
  }

  // "Show more" below the text while bytes remain after it, made when first needed.
  function moreButton(d) {
    const want = d.more && !d.tail && !d.follow;
    if (want && !d.moreBtn) {
      d.moreBtn = el("button", "pill more", "Show more");
      d.moreBtn.addEventListener("click", function () {
        showMore(d);
      });
      prevBody.appendChild(d.moreBtn);
    }
    if (d.moreBtn) d.moreBtn.classList.toggle("hidden", !want);
  }

  function showMore(d) {
    d.moreBtn.disabled = true;
    readWindow(d, d.end, false).then(function (w) {
      if (doc !== d || !d.p.live()) return;
      d.moreBtn.disabled = false;
      const piece = pieceOf(d, w.text);
      d.view.add(piece.text, piece.runs);
      d.end = w.end;
      d.more = w.more;
      d.size = w.size;
      afterWindow(d, w);
    }).catch(function (err) {
      if (doc !== d) return;
      d.moreBtn.disabled = false;
      toast("Cannot read more: " + errText(err));
    });
  }

  // The end of the text in place of what shows, landing on its last line; or its start again.
  function showTail() {
    const d = doc;
    if (!d) return;
    const tail = !d.tail;
    btnTail.classList.add("hidden");
    const p = startPreview(d.p.path, d.p.name);
    readWindow({ p: p, enc: d.enc, mtime: d.mtime }, 0, tail).then(function (w) {
      if (!p.live()) return;
      showTextWindow(w, { p: p, enc: d.enc, plain: d.plain, picked: d.picked, tail: tail });
      if (tail) prevBody.scrollTop = prevBody.scrollHeight;
    }).catch(function (err) {
      if (!p.live()) return;
      showFailure(err, prevMeta.textContent);
    });
  }

  /* ---------- Line links ---------- */

  function lineClicked(d, n, shift) {
    const range = shift && d.anchor ? [Math.min(d.anchor, n), Math.max(d.anchor, n)] : [n, n];
    if (!shift || !d.anchor) d.anchor = n;
    markLines(d, range);
  }

  function markLines(d, range) {
    d.view.mark(range);
    curLine = range ? lines.rangeText(range) : "";
    writeAddress(false);
  }

  // Scrolls the pane so that line n shows a little below its top; lines drawn for the first time as
  // they come into view can move it, so it is set again on the next frames.
  function scrollToLine(d, n, tries) {
    const top = d.view.lineTop(n);
    if (top < 0 || doc !== d) return;
    const want = top - Math.round(prevBody.clientHeight / 3);
    if (Math.abs(prevBody.scrollTop - want) >= 1) prevBody.scrollTop = want;
    if (tries > 0) requestAnimationFrame(function () {
      scrollToLine(d, n, tries - 1);
    });
  }

  // The lines an address names: shown when the window holds them, else the windows are read on from
  // the nearest one known, counting lines, until the one that holds the first of them.
  function goToLines(d, text) {
    const range = lines.parseRange(text);
    if (!range || d.first <= 0) return;
    if (range[0] < d.view.next() || !d.more) {
      markLines(d, range);
      scrollToLine(d, Math.min(range[0], d.view.next() - 1), 3);
      return;
    }
    seekLine(d, range);
  }

  function seekLine(d, range) {
    const from = lines.startFor(knownLines(d), range[0]);
    const p = d.p;
    (function step(at, line) {
      prevMeta.textContent = fmtSize(d.size) + " (finding line " + range[0] + ", at byte " + at + ")";
      readWindow(d, at, false).then(function (w) {
        if (!p.live() || doc !== d) return;
        const n = lines.count(w.text) + (w.text.endsWith("\n") || w.text === "" ? 0 : 1);
        learnLine(d, at, line);
        learnLine(d, w.end, line + n);
        if (range[0] >= line + n && w.more) {
          step(w.end, line + n);
          return;
        }
        const nd = showTextWindow(w, { p: p, enc: d.enc, plain: d.plain, picked: d.picked });
        goToLines(nd, lines.rangeText(range));
      }).catch(function (err) {
        if (p.live()) showFailure(err, fmtSize(d.size));
      });
    })(from[0], from[1]);
  }

  // A link to the lines marked, kept where the system keeps copied text.
  btnLink.addEventListener("click", function () {
    const href = location.href;
    const done = function () {
      toast(curLine ? "Link to line " + curLine + " copied" : "Link copied");
    };
    if (navigator.clipboard && navigator.clipboard.writeText) {
      navigator.clipboard.writeText(href).then(done, function () {
        copyByHand(href);
        done();
      });
    } else {
      copyByHand(href);
      done();
    }
  });

  function copyByHand(text) {
    const t = el("textarea");
    t.value = text;
    t.setAttribute("readonly", "");
    t.style.position = "fixed";
    t.style.opacity = "0";
    document.body.appendChild(t);
    t.select();
    try {
      document.execCommand("copy");
    } catch (e) {
      // Nothing was copied; the address bar still holds the link.
    }
    t.remove();
  }

  /* ---------- Encodings ---------- */

  // A window the server read whose text holds replacement characters: its bytes are read again and,
  // when they are not UTF-8, shown as Windows-1252 with the picker to choose another encoding.
  function checkEncoding(w, how) {
    if (w.text.indexOf("\ufffd") < 0) return Promise.resolve(null);
    return rawBytes(how.p.path, w.offset, w.offset + TEXT_WINDOW - 1).then(function (r) {
      if (encodings.guess(r.bytes) === "utf-8") return null;
      return redecode(r, w.offset, "windows-1252");
    });
  }

  function redecode(r, offset, enc) {
    const unit = encodings.unit(enc);
    let keep = r.bytes.length;
    if (offset + keep < r.size) keep = lines.bytesWhole(r.bytes, unit) || keep;
    return { text: encodings.decode(r.bytes.subarray(0, keep), enc), offset: offset, end: offset + keep, size: r.size,
      more: offset + keep < r.size, enc: enc };
  }

  function encodingNote(enc) {
    const label = encodings.CHOICES.find(function (c) {
      return c[1] === enc;
    });
    return "Not UTF-8: shown as " + (label ? label[0] : enc) + ". Pick another encoding above if it reads wrong.";
  }

  prevEnc.addEventListener("change", function () {
    const d = doc;
    if (!d) return;
    const enc = prevEnc.value;
    const p = startPreview(d.p.path, d.p.name);
    rawBytes(p.path, d.start, d.start + TEXT_WINDOW - 1).then(function (r) {
      if (!p.live()) return;
      const w = redecode(r, d.start, enc);
      w.mtime = d.mtime;
      showTextWindow(w, { p: p, enc: enc, picked: true, plain: d.plain, note: enc === "utf-8" ? "" : encodingNote(enc) });
    }).catch(function (err) {
      if (p.live()) showFailure(err, prevMeta.textContent);
    });
  });

  /* ---------- Texts the server calls binary ---------- */

  // A file whose head holds a NUL: a byte-order mark makes it UTF-16 text, anything else shows as bytes.
  function showBinary(p, answer) {
    rawBytes(p.path, 0, TEXT_WINDOW - 1).then(function (r) {
      if (!p.live()) return;
      const enc = encodings.sniff(r.bytes);
      if (enc === "utf-16le" || enc === "utf-16be") {
        const w = redecode(r, 0, enc);
        w.mtime = answer.mtime;
        showTextWindow(w, { p: p, enc: enc, picked: true, note: "UTF-16 text (" + (enc === "utf-16le" ? "little" : "big") +
          "-endian, from its byte-order mark)." });
        return;
      }
      showHex(p, r.size, r.bytes);
    }).catch(function (err) {
      if (p.live()) showFailure(err, fmtSize(answer.size));
    });
  }

  /* ---------- Rich views and their source ---------- */

  // A kind that draws a text (a table, a tree, a picture) offers its source too; build(host) draws it.
  function showRich(text, answer, p, build) {
    let rich = true;
    let drawn = 0;
    function draw() {
      const mine = ++drawn;
      resetTools();
      prevBody.textContent = "";
      prevBody.scrollTop = 0;
      if (rich) {
        build(prevBody, function () {
          return p.live() && drawn === mine;
        });
        textMeta0();
      } else {
        showTextWindow(windowOf(text, answer), { p: p });
      }
      btnSource.classList.remove("hidden");
      btnSource.classList.toggle("on", !rich);
      btnSource.setAttribute("aria-pressed", rich ? "false" : "true");
      btnSource.onclick = function () {
        if (!p.live()) return;
        rich = !rich;
        draw();
      };
    }
    function textMeta0() {
      prevMeta.textContent = fmtSize(answer.size) + (answer.truncated === true ? " (first 1 MB)" : "");
    }
    draw();
  }

  // A read answer as a window of whole lines.
  function windowOf(text, answer) {
    const more = answer.truncated === true;
    const keep = lines.wholeLength(text, more);
    const offset = typeof answer.offset === "number" ? answer.offset : 0;
    // What is left out is at most a line: counting its bytes is cheaper than counting the window's.
    const end = offset + answer.bytes_read - lines.utf8Length(text.slice(keep));
    return { text: text.slice(0, keep), offset: offset, end: end, size: answer.size, more: end < answer.size, mtime: answer.mtime };
  }

  // The text kind: the read answer's window, unless its bytes are not UTF-8; then the lines an
  // address names.
  function showText(text, answer, p) {
    const w = windowOf(text, answer);
    const how = { p: p, plain: previewKind(p.kind).plain };
    checkEncoding(w, how).then(function (other) {
      if (!p.live()) return;
      if (other) {
        other.mtime = answer.mtime;
        how.enc = other.enc;
        how.picked = true;
        how.note = encodingNote(other.enc);
      }
      const d = showTextWindow(other || w, how);
      const line = wantLine;
      wantLine = "";
      if (line) goToLines(d, line);
    }).catch(function (err) {
      if (p.live()) showFailure(err, fmtSize(answer.size));
    });
  }

  /* ---------- Compressed texts ---------- */

  // A gzip file shows what it holds, decompressed by the browser as it arrives: its first mebibyte,
  // as the kind of file its name names without ".gz". What is not text shows as the file's bytes.
  function showGzip(p) {
    const inner = p.name.replace(/\.gz$/i, "");
    fetch(callUrl("raw", pathExtra(p.path)), { headers: hdr() }).then(function (res) {
      if (!res.ok) throw new Error("HTTP " + res.status);
      const size = Number(res.headers.get("Content-Length")) || 0;
      const reader = res.body.pipeThrough(new DecompressionStream("gzip")).getReader();
      const parts = [];
      let got = 0;
      return (function pump() {
        return reader.read().then(function (r) {
          if (!r.done && p.live()) {
            parts.push(r.value);
            got += r.value.length;
            if (got <= TEXT_WINDOW) return pump();
          }
          reader.cancel().catch(function () {});
          return { size: size, parts: parts, got: got, cut: got > TEXT_WINDOW };
        });
      })();
    }).then(function (r) {
      if (!p.live()) return;
      const all = new Uint8Array(Math.min(r.got, TEXT_WINDOW));
      let at = 0;
      for (const part of r.parts) {
        const n = Math.min(part.length, all.length - at);
        all.set(part.subarray(0, n), at);
        at += n;
        if (at === all.length) break;
      }
      const enc = encodings.guess(all);
      let keep = all.length;
      if (r.cut) keep = lines.bytesWhole(all, 1) || keep;
      const text = encodings.decode(all.subarray(0, keep), enc);
      if (encodings.binary(text)) {
        rawBytes(p.path, 0, TEXT_WINDOW - 1).then(function (b) {
          if (p.live()) showHex(p, b.size, b.bytes, "Compressed data that is not text: its bytes as they are stored.");
        });
        return;
      }
      const said = "Shown decompressed (gzip)" + (r.cut ? ": its first 1 MB" : "") +
        (enc === "utf-8" ? "." : ", as Windows-1252: it is not UTF-8.");
      const answer = { size: r.size, truncated: false, bytes_read: keep, offset: 0, mtime: "" };
      if (kindOf(inner) === "markdown") {
        showMarkdown(text, answer, p);
        p.host.insertBefore(note(said), p.host.firstChild);
        return;
      }
      showTextWindow({ text: text, offset: 0, end: keep, size: r.size, more: false }, { p: p, enc: enc, packed: true, note: said,
        name: inner, plain: kindOf(inner) === "" });
    }).catch(function (err) {
      if (p.live()) showFailure(err, prevMeta.textContent);
    });
  }
