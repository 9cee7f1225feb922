  /* ---------- Audio and video ---------- */

  // What a person can do about each failure the media element reports.
  const MEDIA_ERRORS = {
    1: "loading was stopped",
    2: "the network failed while loading it",
    3: "the browser cannot decode it",
    4: "the browser cannot play this format, or the file cannot be read"
  };

  // The source is the raw URL, which carries everything a request needs in its query: a media element
  // cannot send a header, and seeking asks the same URL for byte ranges. The kinds are named as the
  // elements that play them, "audio" and "video".
  function showMedia(p) {
    const player = document.createElement(p.kind);
    const wrap = el("div", "mediawrap");
    player.controls = true;
    player.preload = "metadata";
    player.addEventListener("error", function () {
      if (!p.live()) return;
      const code = player.error ? player.error.code : 0;
      wrap.textContent = "";
      wrap.appendChild(note("Cannot preview this file: " + (MEDIA_ERRORS[code] || "it could not be loaded")));
    });
    player.src = rawUrl(p.path);
    wrap.appendChild(player);
    p.host.appendChild(wrap);
  }
