  /* ---------- PDF ---------- */

  // A PDF shows in the browser's own viewer, in a frame that loads the raw answer; the file's own
  // policy lets nothing in it run as part of the page.
  function showPdf(p) {
    const wrap = el("div", "pdfwrap");
    const bar = el("div", "pdfbar");
    const save = el("button", "pill", "Download");
    save.type = "button";
    save.addEventListener("click", function () {
      download("raw", pathExtra(p.path) + "&download=1");
    });
    bar.appendChild(save);
    const frame = document.createElement("iframe");
    frame.title = p.name;
    frame.src = rawUrl(p.path);
    wrap.appendChild(bar);
    wrap.appendChild(frame);
    p.host.appendChild(wrap);
  }
