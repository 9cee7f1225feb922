  /* ---------- Preview ---------- */

  function clearPreview() {
    // The welcome state also retires a preview still in flight, so its answer cannot land here.
    previewSeq++;
    hideBox();
    prevHd.classList.add("hidden");
    prevBody.textContent = "";
    prevBody.appendChild(welcomeTpl.cloneNode(true));
    prevBody.setAttribute("aria-label", "Preview");
    busy(prevBody)();
    curFile = null;
    curLine = "";
    btnDownload.disabled = true;
    resetTools();
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
  const UNKNOWN = { text: showText, plain: true };
  const PREVIEW_KINDS = new Map([
    ["image", { source: showImage, icon: "img" }],
    ["audio", { source: showMedia, icon: "audio" }],
    ["video", { source: showMedia, icon: "video" }],
    ["markdown", { text: showMarkdown }],
    ["text", { text: showText }],
    // The server sends SVG as plain text, so no script in it runs; the page shows it as a picture.
    ["drawing", { text: showDrawing, icon: "img" }],
    ["table", { text: showTable }],
    ["json", { text: showJson }],
    ["pdf", { source: showPdf }],
    ["gzip", { source: showGzip }]
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

  // A picture in its frame, named by the file; one that cannot be shown leaves a note instead.
  function picture(p, cls, failed) {
    const wrap = el("div", cls);
    const img = document.createElement("img");
    img.alt = shownName(p.name);
    img.addEventListener("error", function () {
      if (!p.live()) return;
      wrap.textContent = "";
      wrap.appendChild(note(failed));
    });
    wrap.appendChild(img);
    p.host.appendChild(wrap);
    return img;
  }

  function showImage(p) {
    picture(p, "imgwrap", "This image could not be displayed.").src = rawUrl(p.path);
  }

  const btnTail = byId("btnTail");
  btnTail.addEventListener("click", showTail);

  // A read answer for the start of the file: its bytes shown as bytes when the server found a NUL in
  // its head, else the kind's own view of its text.
  function showRead(answer, p) {
    const kind = previewKind(p.kind);
    prevMeta.textContent = fmtSize(answer.size) + (answer.truncated === true ? " (first 1 MB)" : "") +
      (kind.plain ? " \u00b7 plain text" : "");
    if (answer.binary === true) {
      showBinary(p, answer);
      return;
    }
    kind.text(typeof answer.text === "string" ? shownText(answer.text) : "", answer, p);
  }

  function showFailure(err, meta) {
    prevMeta.textContent = meta;
    prevBody.textContent = "";
    prevBody.appendChild(note("Cannot preview this file: " + errText(err)));
  }

  function previewFile(path, ent) {
    const p = startPreview(path, ent.name);
    const kind = previewKind(p.kind);
    const listedSize = fmtSize(ent.size);
    curFile = path;
    curLine = "";
    resetTools();
    setView("preview");
    prevHd.classList.remove("hidden");
    prevName.textContent = shownName(ent.name);
    prevBody.setAttribute("aria-label", "Preview of " + shownName(ent.name));
    prevMeta.textContent = listedSize;
    btnTail.classList.add("hidden");
    btnDownload.disabled = false;
    prevBody.textContent = "";
    prevBody.scrollTop = 0;
    const done = busy(prevBody);
    if (kind.source) {
      done();
      kind.source(p);
      return;
    }
    api("read", pathExtra(path)).then(function (answer) {
      if (!p.live()) return;
      done();
      showRead(checkOk(answer), p);
    }).catch(function (err) {
      if (!p.live()) return;
      done();
      showFailure(err, listedSize);
    });
  }

  /* ---------- Markdown view ---------- */

  // The document is built in slices of this many milliseconds, each a task of its own after the browser
  // has had its turn to draw, so a large one neither freezes the page nor waits to show its start.
  const MD_SLICE_MS = 10;

  function showMarkdown(text, answer, p) {
    showRich(text, answer, p, function (host, live) {
      drawMarkdown(text, p, host, live);
    });
  }

  // Fenced code takes the fence's language, when the page knows its grammar.
  function fencedCode(code, lang) {
    const name = lang.toLowerCase();
    const grammar = CODE_LANGUAGES.get(name) || (hljs.getLanguage(name) ? name : "");
    if (!grammar || code.textContent.length > CODE_COLOUR_MAX) return;
    const pieces = highlightPieces(code.textContent, grammar);
    if (!pieces) return;
    code.textContent = "";
    for (const piece of pieces) code.appendChild(pieceNode(piece));
  }

  // A link to a file or folder beside the document opens it here: a folder as its listing, a file in
  // its folder's listing with its preview.
  function localLink(a, path) {
    const name = path.slice(Math.max(path.lastIndexOf("/"), path.lastIndexOf("\\")) + 1);
    const folder = dirOf(path);
    a.setAttribute("href", "#dir=" + (name ? formEnc(folder) + "&file=" + formEnc(name) : formEnc(path)));
    a.addEventListener("click", function (ev) {
      if (ev.button !== 0 || ev.metaKey || ev.ctrlKey || ev.shiftKey) return;
      ev.preventDefault();
      api("ls", pathExtra(path)).then(function (answer) {
        checkOk(answer);
        openDir(path);
        setView("browse");
      }).catch(function () {
        openDir(folder.replace(/(.)[\\/]$/, "$1"), { file: name });
      });
    });
  }

  function drawMarkdown(text, p, host, live) {
    const doc = markdown(text, { document: document, dir: dirOf(p.path), rawUrl: rawUrl, code: fencedCode,
      link: localLink, drawing: markdownDrawing });
    headingLinks(doc.box, doc.headings);
    host.appendChild(doc.box);
    (function slice() {
      if (!live()) return;
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
