  /* ---------- Preview ---------- */

  function clearPreview() {
    // The welcome state also retires a preview still in flight, so its answer cannot land here.
    previewSeq++;
    prevHd.classList.add("hidden");
    prevBody.textContent = "";
    prevBody.appendChild(welcomeTpl.cloneNode(true));
    curFile = null;
    btnDownload.disabled = true;
  }

  function note(text) {
    return el("div", "note", text);
  }

  /* Preview kinds: one row per kind that FILE_KINDS names, and UNKNOWN for a file it does not know. A
     kind's source(p) shows the file from its raw URL without reading it first; any other kind has it
     read, and its text(text, answer, p) renders the read answer's text (a file that looks binary gets
     a note instead). plain says in the meta line that a file not known as text shows as plain text;
     icon is the class of its rows' icon (styles.css, .ico), "file" when absent. p is the preview:
     { path, name, kind, host (where it shows), live() (false once a newer preview has started; whatever
     the kind still has coming is then dropped) }. */
  const UNKNOWN = { text: showCode, plain: true };
  const PREVIEW_KINDS = new Map([
    ["image", { source: showImage, icon: "img" }],
    ["audio", { source: showMedia, icon: "audio" }],
    ["video", { source: showMedia, icon: "video" }],
    ["markdown", { text: showMarkdown }],
    ["text", { text: showCode }],
    // SVG is shown as its source on purpose: the server sends it as plain text, so no script in it runs.
    ["drawing", { text: showCode, plain: true, icon: "img" }]
  ]);

  function previewKind(kind) {
    return PREVIEW_KINDS.get(kind) || UNKNOWN;
  }

  function fileIcon(name) {
    return previewKind(kindOf(name)).icon || "file";
  }

  // A new preview of the file at path: the one whose answers may still change the pane.
  function startPreview(path, name) {
    const seq = ++previewSeq;
    return {
      path: path, name: name, kind: kindOf(name), host: prevBody, live: function () {
        return seq === previewSeq;
      }
    };
  }

  function showImage(p) {
    const wrap = el("div", "imgwrap");
    const img = document.createElement("img");
    img.alt = shownName(p.name);
    img.addEventListener("error", function () {
      if (!p.live()) return;
      wrap.textContent = "";
      wrap.appendChild(note("This image could not be displayed."));
    });
    img.src = rawUrl(p.path);
    wrap.appendChild(img);
    p.host.appendChild(wrap);
  }

  const btnTail = byId("btnTail");
  btnTail.addEventListener("click", showTail);

  // A read answer for the start of the file, or for its end when tail is set.
  function showRead(answer, p, tail) {
    const kind = previewKind(p.kind);
    let meta = fmtSize(answer.size) + (tail ? " (last 1 MB)" : answer.truncated === true ? " (first 1 MB)" : "");
    if (answer.binary === true) {
      prevMeta.textContent = meta;
      p.host.appendChild(note("Binary file (" + fmtSize(answer.size) + ") - use Download to inspect it locally."));
      return;
    }
    if (kind.plain) meta += " \u00b7 plain text";
    prevMeta.textContent = meta;
    btnTail.classList.toggle("hidden", tail || answer.truncated !== true);
    kind.text(typeof answer.text === "string" ? shownText(answer.text) : "", answer, p);
  }

  function showFailure(err, meta) {
    prevMeta.textContent = meta;
    prevBody.textContent = "";
    prevBody.appendChild(note("Cannot preview this file: " + errText(err)));
  }

  // The last mebibyte of the previewed file in place of the first.
  function showTail() {
    // A new preview also stops a Markdown document of the start still being built.
    const p = startPreview(curFile, curFile.slice(dirOf(curFile).length));
    const meta = prevMeta.textContent;
    btnTail.classList.add("hidden");
    api("read", pathExtra(p.path) + "&tail=1").then(function (answer) {
      if (!p.live()) return;
      checkOk(answer);
      prevBody.textContent = "";
      prevBody.scrollTop = 0;
      showRead(answer, p, true);
    }).catch(function (err) {
      if (!p.live()) return;
      showFailure(err, meta);
    });
  }

  function previewFile(path, ent) {
    const p = startPreview(path, ent.name);
    const kind = previewKind(p.kind);
    const listedSize = fmtSize(ent.size);
    curFile = path;
    setView("preview");
    prevHd.classList.remove("hidden");
    prevName.textContent = shownName(ent.name);
    prevMeta.textContent = listedSize;
    btnTail.classList.add("hidden");
    btnDownload.disabled = false;
    prevBody.textContent = "";
    prevBody.scrollTop = 0;
    if (kind.source) {
      kind.source(p);
      return;
    }
    api("read", pathExtra(path)).then(function (answer) {
      if (!p.live()) return;
      showRead(checkOk(answer), p, false);
    }).catch(function (err) {
      if (!p.live()) return;
      showFailure(err, listedSize);
    });
  }

  /* ---------- Code view ---------- */

  // Lines never wrap, so each number stays level with its line and a block of lines has a height known
  // before it is laid out. The text is cut into blocks of this many lines, each two text nodes (numbers,
  // lines); the browser lays out only the blocks near the visible part, so a mebibyte shows at once
  // and the rest costs nothing until it is scrolled to.
  const CODE_BLOCK = 100;
  // The line height the styles give code lines.
  const CODE_LINE_PX = @CODE_LINE_PX@;

  // Where the n-th line from pos ends: at its line feed, or at the end of the text.
  function lineEnd(text, pos, n) {
    let nl = pos - 1;
    for (let i = 0; i < n; i++) {
      nl = text.indexOf("\n", pos);
      if (nl < 0) return text.length;
      pos = nl + 1;
    }
    return nl;
  }

  function codeBlock(lines, first, count, numbered) {
    const block = el("div", "cb");
    block.style.containIntrinsicSize = "auto " + count * CODE_LINE_PX + "px";
    if (numbered) {
      const nums = [];
      for (let i = first; i < first + count; i++) nums.push(i);
      block.appendChild(el("div", "ln", nums.join("\n")));
    }
    block.appendChild(el("div", "tx", lines));
    return block;
  }

  // Line numbers are shown only for a window that starts at the top of the file: nothing says which
  // line a later window begins on.
  function showCode(text, answer, p) {
    const numbered = !(answer.offset > 0);
    // A final line feed ends the last line rather than starting an empty one.
    const body = text.endsWith("\n") ? text.slice(0, -1) : text;
    const box = el("div", numbered ? "codetxt" : "codetxt nonum");
    let lines = text === "" ? 0 : 1;
    for (let nl = body.indexOf("\n"); nl >= 0; nl = body.indexOf("\n", nl + 1)) lines++;
    box.style.setProperty("--digits", String(lines).length + "ch");
    for (let first = 1, pos = 0; first <= lines; first += CODE_BLOCK) {
      const end = lineEnd(body, pos, CODE_BLOCK);
      box.appendChild(codeBlock(body.slice(pos, end), first, Math.min(CODE_BLOCK, lines - first + 1), numbered));
      pos = end + 1;
    }
    p.host.appendChild(box);
  }

  /* ---------- Markdown view ---------- */

  // The document is built in slices of this many milliseconds, each a task of its own after the browser
  // has had its turn to draw, so a large one neither freezes the page nor waits to show its start.
  const MD_SLICE_MS = 10;

  function showMarkdown(text, answer, p) {
    const doc = markdown(text, { document: document, dir: dirOf(p.path), rawUrl: rawUrl });
    headingLinks(doc.box, doc.headings);
    p.host.appendChild(doc.box);
    (function slice() {
      if (!p.live()) return;
      const until = performance.now() + MD_SLICE_MS;
      if (doc.step(function () {
        return performance.now() > until;
      })) return;
      const ch = new MessageChannel();
      ch.port1.onmessage = slice;
      ch.port2.postMessage(0);
    })();
  }

  // The pane scrolls, never the page's own address, which holds the page's place.
  function headingLinks(box, headings) {
    box.addEventListener("click", function (ev) {
      const a = ev.target.closest("a");
      const href = a ? a.getAttribute("href") : null;
      if (!href || href[0] !== "#") return;
      ev.preventDefault();
      let name = href.slice(1);
      try {
        name = decodeURIComponent(name);
      } catch (e) {
        return;
      }
      const h = headings.get(name.toLowerCase());
      if (h) scrollPaneTo(h, 3);
    });
  }

  // Parts laid out for the first time as they come into view take their true heights, which moves
  // what follows them; the pane is set again on the next frames until the heading stays at the top.
  function scrollPaneTo(target, tries) {
    const off = target.getBoundingClientRect().top - prevBody.getBoundingClientRect().top;
    if (Math.abs(off) < 1 || tries === 0) return;
    prevBody.scrollTop += off;
    requestAnimationFrame(function () {
      scrollPaneTo(target, tries - 1);
    });
  }
