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

  function showRead(answer, name) {
    let meta = fmtSize(answer.size) + (answer.truncated === true ? " (first 1 MB)" : "");
    if (answer.binary === true) {
      prevMeta.textContent = meta;
      prevBody.appendChild(note("Binary file (" + fmtSize(answer.size) + ") - use Download to inspect it locally."));
      return;
    }
    if (!isTextish(name) && !isMarkdown(name)) meta += " \u00b7 plain text";
    prevMeta.textContent = meta;
    const text = typeof answer.text === "string" ? answer.text : "";
    if (isMarkdown(name)) renderMarkdown(text, prevBody);
    else renderCode(text, prevBody);
  }

  function previewFile(path, ent) {
    const seq = ++previewSeq;
    const listedSize = fmtSize(ent.size);
    curFile = path;
    setView("preview");
    prevHd.classList.remove("hidden");
    prevName.textContent = ent.name;
    prevMeta.textContent = listedSize;
    btnDownload.classList.remove("hidden");
    prevBody.textContent = "";
    prevBody.scrollTop = 0;
    if (isImage(ent.name)) {
      showImage(path, ent.name, seq);
      return;
    }
    api("read", pathExtra(path)).then(function (answer) {
      if (seq !== previewSeq) return;
      showRead(checkOk(answer), ent.name);
    }).catch(function (err) {
      if (seq !== previewSeq) return;
      prevMeta.textContent = listedSize;
      prevBody.textContent = "";
      prevBody.appendChild(note("Cannot preview this file: " + errText(err)));
    });
  }

  /* ---------- Code view ---------- */

  // Two text nodes whatever the length: a mebibyte of text must not become an element per line.
  function renderCode(text, host) {
    const lines = text.split("\n");
    if (lines[lines.length - 1] === "") lines.pop();
    const nums = [];
    for (let i = 1; i <= lines.length; i++) nums.push(i);
    const box = el("div", "codetxt");
    const ln = el("div", "ln");
    const tx = el("div", "tx");
    ln.appendChild(document.createTextNode(nums.join("\n")));
    tx.appendChild(document.createTextNode(lines.join("\n")));
    box.appendChild(ln);
    box.appendChild(tx);
    host.appendChild(box);
  }

