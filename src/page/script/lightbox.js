  /* ---------- Lightbox ---------- */

  /* In the grid a picture or a video opens over the page, fitted to the window, and the arrows step
     through the folder's pictures and videos in the listing's order (its filter and sort). The open
     file is the address's file, as a preview's is, so Back closes it and a link opens it. A dialog of
     its own: the page behind is inert while it shows, the keys are its own, and focus goes back to the
     grid's selected tile when it closes. */
  const boxEl = byId("lightbox");
  const lbName = byId("lbName");
  const lbMeta = byId("lbMeta");
  const lbExif = byId("lbExif");
  const lbStage = byId("lbStage");
  const lbPrev = byId("lbPrev");
  const lbNext = byId("lbNext");
  const ZOOM_STEP = 1.25;
  const ZOOM_MAX = 16;
  // A swipe is a horizontal move this long, mostly sideways.
  const SWIPE_PX = 50;
  // A JPEG's EXIF block lies in its first 64 KiB.
  const EXIF_BYTES = 65536;

  let boxEntry = null;
  let boxPic = null;
  let boxSeq = 0;
  let boxReturn = null;
  // The picture's scale, 0 while it fits the window, and how far it is moved from the middle.
  let zoom = 0;
  let panX = 0;
  let panY = 0;
  let drag = null;
  // The neighbours' pictures, held until they have loaded into the browser's cache.
  let preloads = [];

  function boxKind(e) {
    const kind = kindOf(e.name);
    return e.type !== "dir" && (kind === "image" || kind === "video");
  }

  // A file of the open folder opens: in the grid a picture or a video in the lightbox, else in the
  // preview pane. True for the lightbox.
  function openFile(path, e) {
    if (!gridOn || !boxKind(e)) {
      hideBox();
      previewFile(path, e);
      return false;
    }
    if (!boxEntry) clearPreview();
    curFile = path;
    showBox(e);
    return true;
  }

  function fitScale() {
    if (!boxPic || !boxPic.naturalWidth) return 1;
    return Math.min(1, lbStage.clientWidth / boxPic.naturalWidth, lbStage.clientHeight / boxPic.naturalHeight);
  }

  function scale() {
    return zoom || fitScale();
  }

  function zoomed() {
    return scale() > fitScale() + 1e-6;
  }

  // The picture at its scale, moved no further than keeps it over the middle of the window.
  function place() {
    if (!boxPic || boxPic.tagName !== "IMG" || !boxPic.naturalWidth) return;
    const s = scale();
    const maxX = Math.max(0, (boxPic.naturalWidth * s - lbStage.clientWidth) / 2);
    const maxY = Math.max(0, (boxPic.naturalHeight * s - lbStage.clientHeight) / 2);
    panX = Math.max(-maxX, Math.min(maxX, panX));
    panY = Math.max(-maxY, Math.min(maxY, panY));
    boxPic.style.width = boxPic.naturalWidth + "px";
    boxPic.style.height = boxPic.naturalHeight + "px";
    boxPic.style.transform = "translate(-50%, -50%) translate(" + panX + "px, " + panY + "px) scale(" + s + ")";
    boxEl.classList.toggle("zoomed", zoomed());
  }

  // A scale at or below the fitting one fits.
  function setZoom(z) {
    const was = scale();
    zoom = z > fitScale() ? Math.min(ZOOM_MAX, z) : 0;
    const now = scale();
    panX *= now / was;
    panY *= now / was;
    place();
  }

  function showMeta(w, h) {
    lbMeta.textContent = w + " \u00d7 " + h + " \u00b7 " + fmtSize(boxEntry.size);
  }

  // The date taken, the camera and the exposure, from the start of a JPEG asked for as a range.
  function readExif(path, seq) {
    fetch(callUrl("raw", pathExtra(path)), { headers: hdr({ Range: "bytes=0-" + (EXIF_BYTES - 1) }) }).then(function (res) {
      if (res.status === 206) return res.arrayBuffer();
      if (res.body) res.body.cancel();
      return null;
    }).then(function (buf) {
      if (!buf || seq !== boxSeq) return;
      const x = exifOf(new Uint8Array(buf, 0, Math.min(buf.byteLength, EXIF_BYTES)));
      if (x) lbExif.textContent = [x.taken, x.camera, x.exposure].filter(Boolean).join(" \u00b7 ");
    }).catch(function () {
      // The picture shows without them.
    });
  }

  function neighbour(step) {
    return boxEntry ? list.next(boxEntry.name, step, boxKind) : null;
  }

  function preloadNeighbours() {
    preloads = [neighbour(-1), neighbour(1)].filter(function (e) {
      return e && kindOf(e.name) === "image";
    }).map(function (e) {
      const img = new Image();
      img.src = rawUrl(joinPath(curPath, e.name));
      return img;
    });
  }

  function showBox(e) {
    const seq = ++boxSeq;
    if (!boxEntry) {
      boxReturn = document.activeElement;
      boxEl.classList.remove("hidden");
      app.inert = true;
      boxEl.focus();
    }
    boxEntry = e;
    const path = joinPath(curPath, e.name);
    const video = kindOf(e.name) === "video";
    lbName.textContent = shownName(e.name);
    lbMeta.textContent = fmtSize(e.size);
    lbExif.textContent = "";
    lbStage.textContent = "";
    zoom = 0;
    panX = 0;
    panY = 0;
    const pic = document.createElement(video ? "video" : "img");
    boxPic = pic;
    if (video) {
      pic.controls = true;
      pic.preload = "metadata";
      pic.addEventListener("loadedmetadata", function () {
        if (seq === boxSeq) showMeta(pic.videoWidth, pic.videoHeight);
      });
    } else {
      pic.alt = shownName(e.name);
      pic.draggable = false;
      pic.addEventListener("load", function () {
        if (seq !== boxSeq) return;
        showMeta(pic.naturalWidth, pic.naturalHeight);
        place();
      });
    }
    pic.addEventListener("error", function () {
      if (seq !== boxSeq) return;
      lbStage.textContent = "";
      lbStage.appendChild(note("This file could not be shown."));
    });
    pic.src = rawUrl(path);
    lbStage.appendChild(pic);
    boxEl.classList.remove("zoomed");
    lbPrev.disabled = !neighbour(-1);
    lbNext.disabled = !neighbour(1);
    preloadNeighbours();
    if (/\.jpe?g$/i.test(e.name)) readExif(path, seq);
  }

  function hideBox() {
    if (!boxEntry) return;
    boxSeq++;
    boxEntry = null;
    boxPic = null;
    preloads = [];
    drag = null;
    // A player taken out of the document stops.
    lbStage.textContent = "";
    boxEl.classList.add("hidden");
    app.inert = false;
    const back = entriesEl.querySelector(".sel") || boxReturn;
    if (back && back.isConnected) back.focus();
  }

  // The next picture or video in the listing's order; the grid's selection goes along.
  function stepBox(step) {
    const e = neighbour(step);
    if (!e) return;
    list.select(e.name);
    curFile = joinPath(curPath, e.name);
    showBox(e);
    writeAddress(false);
  }

  // Focus stays in the dialog: Tab past its last control comes round to its first.
  function trapFocus(ev) {
    const all = Array.prototype.slice.call(boxEl.querySelectorAll("button:not(:disabled), video"));
    const i = all.indexOf(document.activeElement);
    if (!all.length || (ev.shiftKey ? i > 0 : i >= 0 && i < all.length - 1)) return false;
    (ev.shiftKey ? all[all.length - 1] : all[0]).focus();
    return true;
  }

  // The page's own keys (keys.js) rest while the lightbox shows. On a player, the arrows are its own.
  boxEl.addEventListener("keydown", function (ev) {
    ev.stopPropagation();
    if (ev.ctrlKey || ev.metaKey || ev.altKey) return;
    const onPlayer = ev.target.tagName === "VIDEO";
    switch (ev.key) {
      case "Escape":
        leaveFile();
        break;
      case "ArrowLeft":
      case "ArrowRight":
        if (onPlayer) return;
        stepBox(ev.key === "ArrowLeft" ? -1 : 1);
        break;
      case "+":
      case "=":
        setZoom(scale() * ZOOM_STEP);
        break;
      case "-":
        setZoom(scale() / ZOOM_STEP);
        break;
      // 0 fits the picture to the window, or shows it at 1:1 when it fits; 1 shows it at 1:1.
      case "0":
        setZoom(zoom ? 0 : 1);
        break;
      case "1":
        setZoom(1);
        break;
      case "Tab":
        if (!trapFocus(ev)) return;
        break;
      default:
        return;
    }
    ev.preventDefault();
  });

  byId("lbClose").addEventListener("click", leaveFile);
  byId("lbIn").addEventListener("click", function () {
    setZoom(scale() * ZOOM_STEP);
  });
  byId("lbOut").addEventListener("click", function () {
    setZoom(scale() / ZOOM_STEP);
  });
  byId("lbFit").addEventListener("click", function () {
    setZoom(0);
  });
  byId("lbOne").addEventListener("click", function () {
    setZoom(1);
  });
  lbPrev.addEventListener("click", function () {
    stepBox(-1);
  });
  lbNext.addEventListener("click", function () {
    stepBox(1);
  });

  // A drag moves a zoomed picture; on a picture that fits, a swipe steps to the next or the one before.
  // A player's own controls keep their drags.
  lbStage.addEventListener("pointerdown", function (ev) {
    if (!boxPic || ev.button > 0 || ev.target.tagName === "VIDEO") return;
    drag = { id: ev.pointerId, x: ev.clientX, y: ev.clientY, panX: panX, panY: panY, zoomed: zoomed() };
    try {
      lbStage.setPointerCapture(ev.pointerId);
    } catch (e) {
      // A pointer the browser no longer tracks still ends its drag with its pointerup.
    }
    ev.preventDefault();
  });

  lbStage.addEventListener("pointermove", function (ev) {
    if (!drag || ev.pointerId !== drag.id || !drag.zoomed) return;
    panX = drag.panX + ev.clientX - drag.x;
    panY = drag.panY + ev.clientY - drag.y;
    place();
  });

  lbStage.addEventListener("pointerup", function (ev) {
    if (!drag || ev.pointerId !== drag.id) return;
    const d = drag;
    drag = null;
    const dx = ev.clientX - d.x;
    const dy = ev.clientY - d.y;
    if (!d.zoomed && Math.abs(dx) >= SWIPE_PX && Math.abs(dx) > 2 * Math.abs(dy)) stepBox(dx < 0 ? 1 : -1);
  });

  lbStage.addEventListener("pointercancel", function () {
    drag = null;
  });

  window.addEventListener("resize", place);
