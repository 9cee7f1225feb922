  /* ---------- Audio and video ---------- */

  const isVideo = extTest(["mp4", "m4v", "webm", "ogv", "mov"]);
  const isAudio = extTest(["mp3", "m4a", "aac", "ogg", "oga", "opus", "wav", "flac"]);

  // What a person can do about each failure the media element reports.
  const MEDIA_ERRORS = {
    1: "loading was stopped",
    2: "the network failed while loading it",
    3: "the browser cannot decode it",
    4: "the browser cannot play this format, or the file cannot be read"
  };

  function isMedia(name) {
    return isVideo(name) || isAudio(name);
  }

  // The source is the raw URL, which carries everything a request needs in its query: a media element
  // cannot send a header, and seeking asks the same URL for byte ranges.
  function showMedia(path, name, seq) {
    const player = document.createElement(isVideo(name) ? "video" : "audio");
    const wrap = el("div", "mediawrap");
    player.controls = true;
    player.preload = "metadata";
    player.addEventListener("error", function () {
      if (seq !== previewSeq) return;
      const code = player.error ? player.error.code : 0;
      wrap.textContent = "";
      wrap.appendChild(note("Cannot preview this file: " + (MEDIA_ERRORS[code] || "it could not be loaded")));
    });
    player.src = url("raw", pathExtra(path));
    wrap.appendChild(player);
    prevBody.appendChild(wrap);
  }
