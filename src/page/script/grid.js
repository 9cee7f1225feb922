  /* ---------- Grid of pictures ---------- */

  /* The listing as tiles: the same list view (listview.js) with its order, filter, selection and window
     of drawn entries, each entry a tile with its thumbnail (action thumb) or its icon and its name under
     it. Only the tiles near the view are drawn, so only they ask for thumbnails, and no more than
     THUMBS_AT_ONCE at a time: each is a process on the node, which a grid of thousands must not flood. */
  const THUMBS_AT_ONCE = 4;
  // Thumbnails kept as pictures for tiles that come back into view; more than a large screen draws.
  const THUMBS_KEPT = 1000;
  // The thumbnail's box in the tile, in CSS pixels, and the sizes the node makes.
  const THUMB_BOX_PX = 128;
  const THUMB_SIZES = [128, 256, 512];
  const btnGrid = byId("btnGrid");
  const bodyEl = byId("body");

  // "grid" or "list" as the address or the user chose for this folder; "" lets the folder choose: the
  // grid when most of its entries are pictures.
  let viewChoice = "";
  let gridAuto = false;
  let gridOn = false;

  const TILES = { linePx: @TILE_LINE_PX@, tilePx: @TILE_PX@, sidePx: @GRID_SIDE_PX@, build: buildTile, fill: fillTile };

  // Each tile's thumbnail: the query of the one it shows or waits for ("" for an icon).
  const tileThumb = new WeakMap();
  // Thumbnails as pictures (blob URLs), the most recently drawn last; the queries that have no
  // thumbnail (not a picture the node decodes); the tiles waiting, by query, in the order they asked;
  // the queries on their way.
  const thumbUrls = new Map();
  const thumbNone = new Set();
  const thumbWaiting = new Map();
  const thumbAsked = new Set();
  let pumpDue = false;

  function buildTile() {
    const b = el("button", "tile");
    const pic = b.appendChild(el("span", "pic"));
    pic.appendChild(el("span", "ico"));
    const img = pic.appendChild(document.createElement("img"));
    img.alt = "";
    img.decoding = "async";
    b.appendChild(el("span", "nm"));
    tileThumb.set(b, "");
    return b;
  }

  function thumbSize() {
    const want = THUMB_BOX_PX * (window.devicePixelRatio || 1);
    return THUMB_SIZES.find(function (n) {
      return n >= want;
    }) || THUMB_SIZES[THUMB_SIZES.length - 1];
  }

  // The thumbnail's query: its file and the version the listing saw, so that the browser keeps it for
  // good and a changed file has another address; "" for an entry that shows its icon.
  function thumbQuery(e) {
    if (e.type === "dir" || kindOf(e.name) !== "image") return "";
    const q = pathExtra(joinPath(curPath, e.name)) + "&size=" + thumbSize() + "&v=" + enc(e.size + "-" + (e.mtime || ""));
    return thumbNone.has(q) ? "" : q;
  }

  // Only what differs is written, as for the list's rows.
  function fillTile(b, e, selected, icon) {
    const q = thumbQuery(e);
    const url = q ? thumbUrls.get(q) : "";
    if (url) {
      thumbUrls.delete(q);
      thumbUrls.set(q, url);
    }
    const cls = "tile" + (e.type === "dir" ? " dir" : "") + (url ? " thumb" : "") + (selected ? " sel" : "");
    if (b.className !== cls) b.className = cls;
    const pic = b.firstChild;
    if (pic.firstChild.className !== "ico " + icon) pic.firstChild.className = "ico " + icon;
    if (url && pic.lastChild.getAttribute("src") !== url) pic.lastChild.src = url;
    const name = shownName(e.name);
    if (b.lastChild.textContent !== name) b.lastChild.textContent = name;
    const was = tileThumb.get(b);
    if (was === q) return b;
    if (thumbWaiting.get(was) === b) thumbWaiting.delete(was);
    tileThumb.set(b, q);
    if (q && !url) {
      thumbWaiting.set(q, b);
      pumpSoon();
    }
    return b;
  }

  // Asked once the drawing is done: tiles filled and filled again in one task (a new listing) ask for
  // their last entries only.
  function pumpSoon() {
    if (pumpDue) return;
    pumpDue = true;
    setTimeout(pumpThumbs, 0);
  }

  function pumpThumbs() {
    pumpDue = false;
    for (const pair of thumbWaiting) {
      if (thumbAsked.size >= THUMBS_AT_ONCE) return;
      const q = pair[0];
      const b = pair[1];
      if (!b.isConnected || tileThumb.get(b) !== q) thumbWaiting.delete(q);
      else if (!thumbAsked.has(q)) askThumb(q);
    }
  }

  // A busy node (503) is asked again after the wait it names (requests.js), and again while the tile is
  // drawn; an answer that is no picture leaves the icon.
  function askThumb(q) {
    thumbAsked.add(q);
    send("thumb", q, {}).then(function (res) {
      if (res.ok) return res.blob();
      if (res.status !== 503) {
        thumbNone.add(q);
        thumbWaiting.delete(q);
      }
      return null;
    }).then(function (blob) {
      if (!blob) return;
      keepThumb(q, URL.createObjectURL(blob));
      const b = thumbWaiting.get(q);
      thumbWaiting.delete(q);
      if (b && b.isConnected && tileThumb.get(b) === q) {
        b.firstChild.lastChild.src = thumbUrls.get(q);
        b.classList.add("thumb");
      }
    }).catch(function () {
      thumbWaiting.delete(q);
    }).then(function () {
      thumbAsked.delete(q);
      pumpThumbs();
    });
  }

  function keepThumb(q, url) {
    thumbUrls.set(q, url);
    if (thumbUrls.size <= THUMBS_KEPT) return;
    const oldest = thumbUrls.keys().next().value;
    URL.revokeObjectURL(thumbUrls.get(oldest));
    thumbUrls.delete(oldest);
  }

  function mostlyPictures(entries) {
    let n = 0;
    for (const e of entries) {
      if (e.type !== "dir" && kindOf(e.name) === "image") n++;
    }
    return n * 2 > entries.length;
  }

  function chosenGrid() {
    return viewChoice ? viewChoice === "grid" : gridAuto;
  }

  // The view as the address names it: the grid whenever it shows, so that a link opens as it; the list
  // only where the folder would choose the grid.
  function viewInAddress() {
    return gridOn ? "grid" : gridAuto ? "list" : "";
  }

  function markGrid(on) {
    gridOn = on;
    entriesEl.classList.toggle("grid", on);
    bodyEl.classList.toggle("gridded", on);
    btnGrid.classList.toggle("on", on);
    btnGrid.setAttribute("aria-pressed", on ? "true" : "false");
  }

  // The tiles for a new listing of entries, or null for rows; fresh when the page moved to another
  // folder, which chooses anew.
  function gridFor(entries, fresh) {
    if (fresh) viewChoice = "";
    gridAuto = mostlyPictures(entries);
    markGrid(chosenGrid());
    return gridOn ? TILES : null;
  }

  // The view as chosen, for the listing the page has.
  function showGrid() {
    markGrid(chosenGrid());
    list.layout(gridOn ? TILES : null);
  }

  function toggleGrid() {
    viewChoice = gridOn ? "list" : "grid";
    showGrid();
    writeAddress(false);
  }

  btnGrid.addEventListener("click", toggleGrid);

  // g switches the view; in the grid the arrows move in two dimensions, Left and Right staying a text
  // field's own. True when the key was taken.
  function gridKey(ev, typing, choosing) {
    if (ev.key === "g" && !typing && !ev.ctrlKey && !ev.metaKey && !ev.altKey) {
      ev.preventDefault();
      toggleGrid();
      return true;
    }
    const across = ev.key === "ArrowLeft" ? -1 : ev.key === "ArrowRight" ? 1 : 0;
    const down = ev.key === "ArrowUp" ? -1 : ev.key === "ArrowDown" ? 1 : 0;
    if (!gridOn || choosing || (typing && across) || !(across || down) || !list.counts().shown) return false;
    ev.preventDefault();
    list.move(across || down * list.columns());
    return true;
  }
