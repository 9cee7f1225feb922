  /* ---------- Preview ---------- */

  function clearPreview() {
    // The welcome state also retires a preview still in flight, so its answer cannot land here.
    previewSeq++;
    prevHd.classList.add("hidden");
    prevBody.textContent = "";
    prevBody.appendChild(welcomeTpl.cloneNode(true));
    curFile = null;
    btnDownload.classList.add("hidden");
  }

  function note(text) {
    return el("div", "note", text);
  }

  function showImage(path, name, seq) {
    const wrap = el("div", "imgwrap");
    const img = document.createElement("img");
    img.alt = name;
    img.addEventListener("error", function () {
      if (seq !== previewSeq) return;
      wrap.textContent = "";
      wrap.appendChild(note("This image could not be displayed."));
    });
    img.src = url("raw", pathExtra(path));
    wrap.appendChild(img);
    prevBody.appendChild(wrap);
  }


  // SVG is shown as its source on purpose: the server sends it as plain text, so no script in it runs.
  const isSvg = extTest(["svg"]);

  const btnTail = byId("btnTail");
  btnTail.addEventListener("click", showTail);

  // The text of a read answer. Line numbers are shown only for a window that starts at the top of the
  // file: nothing says which line a later window begins on.
  function showText(answer, name) {
    const text = typeof answer.text === "string" ? answer.text : "";
    if (isMarkdown(name)) showMarkdown(text, curFile);
    else renderCode(text, prevBody, !(answer.offset > 0));
  }

  // A read answer for the start of the file, or for its end when tail is set.
  function showRead(answer, name, tail) {
    let meta = fmtSize(answer.size) + (tail ? " (last 1 MB)" : answer.truncated === true ? " (first 1 MB)" : "");
    if (answer.binary === true) {
      prevMeta.textContent = meta;
      prevBody.appendChild(note("Binary file (" + fmtSize(answer.size) + ") - use Download to inspect it locally."));
      return;
    }
    if (!isTextish(name) && !isMarkdown(name)) meta += " \u00b7 plain text";
    prevMeta.textContent = meta;
    btnTail.classList.toggle("hidden", tail || answer.truncated !== true);
    showText(answer, name);
  }

  function showFailure(err, meta) {
    prevMeta.textContent = meta;
    prevBody.textContent = "";
    prevBody.appendChild(note("Cannot preview this file: " + errText(err)));
  }

  // The last mebibyte of the previewed file in place of the first.
  function showTail() {
    // A new sequence number also stops a Markdown document of the start still being built.
    const seq = ++previewSeq;
    const name = prevName.textContent;
    const meta = prevMeta.textContent;
    btnTail.classList.add("hidden");
    api("read", pathExtra(curFile) + "&tail=1").then(function (answer) {
      if (seq !== previewSeq) return;
      checkOk(answer);
      prevBody.textContent = "";
      prevBody.scrollTop = 0;
      showRead(answer, name, true);
    }).catch(function (err) {
      if (seq !== previewSeq) return;
      showFailure(err, meta);
    });
  }

  function previewFile(path, ent) {
    const seq = ++previewSeq;
    const listedSize = fmtSize(ent.size);
    curFile = path;
    setView("preview");
    prevHd.classList.remove("hidden");
    prevName.textContent = ent.name;
    prevMeta.textContent = listedSize;
    btnTail.classList.add("hidden");
    btnDownload.classList.remove("hidden");
    prevBody.textContent = "";
    prevBody.scrollTop = 0;
    if (isMedia(ent.name)) {
      showMedia(path, ent.name, seq);
      return;
    }
    if (isImage(ent.name) && !isSvg(ent.name)) {
      showImage(path, ent.name, seq);
      return;
    }
    api("read", pathExtra(path)).then(function (answer) {
      if (seq !== previewSeq) return;
      showRead(checkOk(answer), ent.name, false);
    }).catch(function (err) {
      if (seq !== previewSeq) return;
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

  function renderCode(text, host, numbered) {
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
    host.appendChild(box);
  }

  /* ---------- Markdown view ---------- */

  // The document is built in slices of this many milliseconds, each a task of its own after the browser
  // has had its turn to draw, so a large one neither freezes the page nor waits to show its start.
  const MD_SLICE_MS = 10;

  function showMarkdown(text, path) {
    const seq = previewSeq;
    const doc = markdown(text, { document: document, dir: dirOf(path), rawUrl: rawUrl });
    headingLinks(doc.box, doc.headings);
    prevBody.appendChild(doc.box);
    (function slice() {
      if (seq !== previewSeq) return;
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
