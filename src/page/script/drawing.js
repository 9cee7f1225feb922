  /* ---------- Drawings ---------- */

  // An SVG drawing shows as a picture: an image element fed from its text as a picture of type
  // image/svg+xml. A picture never runs a script, follows a link or loads anything, so the drawing
  // shows without a way to act on the page. Its object URL goes once the picture is in, or replaced.
  function drawingImage(img, text) {
    const src = URL.createObjectURL(new Blob([text], { type: "image/svg+xml" }));
    const done = function () {
      URL.revokeObjectURL(src);
    };
    img.addEventListener("load", done, { once: true });
    img.addEventListener("error", done, { once: true });
    img.src = src;
  }

  function showDrawing(text, answer, p) {
    if (answer.truncated === true) {
      showText(text, answer, p);
      p.host.insertBefore(note("Shown as its source: the drawing is larger than the 1 MB a preview reads."), p.host.firstChild);
      return;
    }
    showRich(text, answer, p, function () {
      drawingImage(picture(p, "imgwrap drawing", "This drawing could not be displayed."), text);
    });
  }

  // An SVG image inside a Markdown document, read as text and shown the same way.
  function markdownDrawing(img, path) {
    fetch(callUrl("raw", pathExtra(path)), { headers: hdr() }).then(function (res) {
      if (!res.ok) throw new Error("HTTP " + res.status);
      return res.text();
    }).then(function (text) {
      drawingImage(img, text);
    }).catch(function () {
      img.alt = img.alt + " (cannot be shown)";
    });
  }
