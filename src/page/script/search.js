  /* ---------- Searches below the folder ---------- */

  /* The filter has a scope: the folder's own rows (listview.js), the names below it (find) or the lines
     of its text files (grep). A search's results take the listing's place while they stream in, and the
     keys move through them as through the listing (keys.js asks shownRows()). The address names the
     search (find=TEXT or grep=TEXT for q=), so Back comes back to it and a link repeats it. */

  const scopeEl = byId("scope");
  const foundEl = byId("found");
  const resultsEl = byId("results");
  const listwrapEl = entriesEl.parentNode;
  const SCOPES = {
    "": ["Filter  /", "Filter by name"],
    find: ["Find below  /", "Find names below the folder"],
    grep: ["Find in files  /", "Find text in the files below the folder"]
  };
  // A keystroke starts a search once typing pauses this long; a new search ends the one before.
  const SEARCH_PAUSE_MS = 250;
  // The answer is read a frame at a time for at most this long, so that thousands of results arriving
  // at once never hold the page for long. Results go into chunks of this many rows, every row of the
  // listing's height: a chunk is a box of its rows' height until it comes near the view, and only then
  // are its rows made, so a frame lays out what it brings into view, not all that has come.
  const DRAW_SLICE_MS = 10;
  const CHUNK_ROWS = 100;
  const HIT_ROW_PX = @ROW_PX@;
  const nearView = new IntersectionObserver(function (seen) {
    seen.forEach(function (e) {
      if (e.isIntersecting && search) fillChunk(search, search.chunks.indexOf(e.target));
    });
  }, { root: resultsEl, rootMargin: "400px 0px" });

  let searchMode = "";
  let searchTimer = 0;
  // The search shown: { key, mode, dir, base, text, stop, lines (of the answer, not yet read: from taken
  // on), ended (the answer), items (a row's: { path, type, line: what it opens; cls, draw(row) }), rows
  // (those made), chunks, filled (whether a chunk's rows are made), sel, found, visited, done (its last
  // line), failed, frame, file (the last file of grep's: { path, lines, count }) };
  // null when the listing shows.
  let search = null;

  function searchKey(mode, dir, text) {
    return [mode, dir, text, showHidden ? "1" : ""].join("\n");
  }

  // The filter's scope as the address or the user sets it: a search of the filter's text below dir,
  // or the folder's rows.
  function setScope(mode, dir) {
    searchMode = mode;
    scopeEl.value = mode;
    filterEl.placeholder = SCOPES[mode][0];
    filterEl.setAttribute("aria-label", SCOPES[mode][1]);
    if (mode && filterText && dir) startSearch(dir);
    else endSearch();
  }

  function endSearch() {
    clearTimeout(searchTimer);
    searchTimer = 0;
    if (!search) return;
    search.stop.abort();
    nearView.disconnect();
    search = null;
    resultsEl.textContent = "";
    resultsEl.removeAttribute("aria-busy");
    resultsEl.removeAttribute("aria-activedescendant");
    foundEl.textContent = "";
    listwrapEl.classList.remove("searching");
  }

  // Out of the results into the folder, its rows all shown again.
  function leaveSearch() {
    setScope("", "");
    setFilter("");
    list.filter("");
    writeAddress(false);
  }

  // The rows the keys move through: the results while they show, else the listing.
  function shownRows() {
    return search ? results : list;
  }

  scopeEl.addEventListener("change", function () {
    setScope(scopeEl.value, curPath);
    if (!searchMode) list.filter(filterText);
    writeAddress(false);
  });

  filterEl.addEventListener("input", function () {
    if (!searchMode) return;
    clearTimeout(searchTimer);
    if (!filterText) {
      endSearch();
      return;
    }
    // The results shown are of the text before: they are to be replaced.
    if (search) resultsEl.setAttribute("aria-busy", "true");
    searchTimer = setTimeout(startSearch, SEARCH_PAUSE_MS, curPath);
  });

  // Enter in the filter searches at once what is typed; in the folder's scope, when no row of the folder
  // holds it, below the folder. The keys then find no result to open (keys.js).
  filterEl.addEventListener("keydown", function (ev) {
    if (ev.key !== "Enter" || !filterText || !curPath) return;
    if (!searchMode && !list.counts().shown) {
      setScope("find", curPath);
      writeAddress(false);
    } else if (searchMode && searchTimer) {
      startSearch(curPath);
    }
  });

  // Hidden files shown or not: the search is made again with the folder.
  btnHidden.addEventListener("click", function () {
    if (search) startSearch(search.dir);
  });

  resultsEl.addEventListener("click", function (ev) {
    const row = ev.target.closest(".row");
    const k = search ? search.rows.indexOf(row) : -1;
    if (k < 0 || ev.detail > 1) return;
    pick(search, k);
    openResult(search.items[k]);
  });

  function startSearch(dir) {
    clearTimeout(searchTimer);
    searchTimer = 0;
    const key = searchKey(searchMode, dir, filterText);
    if (search && search.key === key) {
      resultsEl.setAttribute("aria-busy", search.done || search.failed ? "false" : "true");
      return;
    }
    if (search) search.stop.abort();
    nearView.disconnect();
    stopSizes();
    const s = {
      key: key, mode: searchMode, dir: dir, base: joinPath(dir, ""), text: filterText, stop: new AbortController(),
      lines: [], taken: 0, ended: false, items: [], rows: [], chunks: [], filled: [], sel: -1, found: 0, visited: 0,
      done: null, failed: "", frame: 0, file: null
    };
    search = s;
    resultsEl.textContent = "";
    resultsEl.removeAttribute("aria-activedescendant");
    resultsEl.setAttribute("aria-label", s.mode === "find" ? "Names found below the folder" : "Lines found in files");
    resultsEl.setAttribute("aria-busy", "true");
    listwrapEl.classList.add("searching");
    showFound(s);
    const extra = pathExtra(dir) + "&q=" + enc(s.text) + (showHidden ? "&hidden=1" : "");
    send(s.mode, extra, { signal: s.stop.signal }).then(function (res) {
      if (!res.ok) {
        return answerOf(res).then(function (answer) {
          throw new Error(failure(res, answer));
        });
      }
      const reader = res.body.getReader();
      const lines = answerLines();
      return (function pump() {
        return reader.read().then(function (r) {
          if (s !== search) return reader.cancel();
          if (r.done) {
            s.ended = true;
            drawSoon(s);
            return;
          }
          const more = lines(r.value);
          for (let i = 0; i < more.length; i++) s.lines.push(more[i]);
          drawSoon(s);
          return pump();
        });
      })();
    }).catch(function (err) {
      if (s !== search) return;
      s.failed = errText(err);
      drawSoon(s);
    });
  }

  // One line of the answer: a match drawn, the count of entries gone through, or the last line.
  function take(s, v) {
    if (v.done === true) {
      s.done = v;
      s.visited = v.visited;
    } else if (v.progress === true) {
      s.visited = v.visited;
    } else {
      s.found++;
      if (s.mode === "find") drawName(s, v);
      else drawLine(s, v);
    }
  }

  function drawSoon(s) {
    if (!s.frame) s.frame = requestAnimationFrame(function () {
      drawSome(s);
    });
  }

  // The results come faster than a frame can draw them: each frame reads and draws the lines it has
  // time for, the rest the next.
  function drawSome(s) {
    s.frame = 0;
    if (s !== search) return;
    const until = performance.now() + DRAW_SLICE_MS;
    while (s.taken < s.lines.length && !s.failed) {
      const v = lineOf(s.lines[s.taken]);
      s.lines[s.taken++] = "";
      if (v) take(s, v);
      else s.failed = "the answer is not in lines of JSON";
      if ((s.taken & 31) === 0 && performance.now() > until) break;
    }
    if (s.failed) s.stop.abort();
    sizeChunk(s, s.chunks.length - 1);
    if (s.taken < s.lines.length && !s.failed) drawSoon(s);
    else s.lines.length = s.taken = 0;
    if (s.ended && !s.lines.length && !s.done && !s.failed) s.failed = "the search ended early";
    if (s.sel < 0 && s.items.length) pick(s, 0);
    showFound(s);
  }

  function lineOf(text) {
    try {
      const v = JSON.parse(text);
      return v && typeof v === "object" ? v : null;
    } catch (e) {
      return null;
    }
  }

  function showFound(s) {
    let text = s.found + " found \u00b7 " + s.visited + " searched";
    if (s.failed) text = "Cannot search: " + s.failed + " (" + text + ")";
    else if (s.done && s.done.truncated === true) {
      text += s.done.reason === "time" ? " \u00b7 stopped at the time limit" : " \u00b7 stopped at the most results";
    }
    if (s.done && s.done.skipped > 0) text += " \u00b7 " + s.done.skipped + " passed over";
    if (!s.done && !s.failed) text += "\u2026";
    else resultsEl.setAttribute("aria-busy", "false");
    foundEl.textContent = text;
  }

  // A row of the results: made at once when its chunk is near the view, else when the chunk comes to it.
  function addRow(s, item) {
    const k = s.items.length;
    const c = Math.floor(k / CHUNK_ROWS);
    if (c === s.chunks.length) {
      sizeChunk(s, c - 1);
      const box = resultsEl.appendChild(el("div", "chunk"));
      box.setAttribute("role", "none");
      s.chunks.push(box);
      s.filled.push(false);
      // The first chunk is in view: its rows show in the frame that brings them.
      if (c === 0) fillChunk(s, 0);
      else nearView.observe(box);
    }
    s.items.push(item);
    if (s.filled[c]) makeRow(s, k);
  }

  function makeRow(s, k) {
    const item = s.items[k];
    const row = el("div", "row hit" + item.cls);
    row.id = "hit" + k;
    row.setAttribute("role", "option");
    row.setAttribute("aria-selected", k === s.sel ? "true" : "false");
    if (k === s.sel) row.classList.add("sel");
    item.draw(row);
    s.rows[k] = s.chunks[Math.floor(k / CHUNK_ROWS)].appendChild(row);
  }

  function fillChunk(s, c) {
    if (c < 0 || s.filled[c]) return;
    s.filled[c] = true;
    nearView.unobserve(s.chunks[c]);
    s.chunks[c].style.height = "";
    for (let k = c * CHUNK_ROWS; k < Math.min(s.items.length, (c + 1) * CHUNK_ROWS); k++) makeRow(s, k);
  }

  // A chunk whose rows are not made holds their place.
  function sizeChunk(s, c) {
    if (c < 0 || s.filled[c]) return;
    const n = Math.min(CHUNK_ROWS, s.items.length - c * CHUNK_ROWS);
    s.chunks[c].style.height = n * HIT_ROW_PX + "px";
  }

  // The row of result k, made first when its chunk has not come into view.
  function rowOf(s, k) {
    fillChunk(s, Math.floor(k / CHUNK_ROWS));
    return s.rows[k];
  }

  // A path as it shows below the folder searched: its folders dimmed, then its name.
  function pathBelow(s, path) {
    const rel = path.startsWith(s.base) ? path.slice(s.base.length) : path;
    const nm = el("span", "nm");
    const cut = Math.max(rel.lastIndexOf("/"), rel.lastIndexOf("\\")) + 1;
    if (cut) nm.appendChild(el("span", "at", shownName(rel.slice(0, cut))));
    nm.appendChild(document.createTextNode(shownName(rel.slice(cut))));
    return nm;
  }

  function hitIcon(hit) {
    return el("span", "ico " + (hit.link === true ? "link" : hit.type === "dir" ? "dir" : fileIcon(nameOf(hit.path))));
  }

  function nameOf(path) {
    return path.slice(dirOf(path).length);
  }

  function drawName(s, hit) {
    addRow(s, { path: hit.path, type: hit.type, line: 0, cls: hit.type === "dir" ? " dir" : "", draw: function (row) {
      row.appendChild(hitIcon(hit));
      row.appendChild(pathBelow(s, hit.path));
      row.appendChild(el("span", "mt", hit.type === "dir" ? "" : fmtSize(hit.size)));
      row.appendChild(el("span", "tm", fmtTime(hit.mtime)));
    } });
  }

  function lineCount(n) {
    return n + (n === 1 ? " line" : " lines");
  }

  // Lines come file by file: each file a row of its own, its lines below it, the match marked.
  function drawLine(s, hit) {
    if (!s.file || s.file.path !== hit.path) {
      const file = { path: hit.path, lines: 0, count: null };
      s.file = file;
      addRow(s, { path: hit.path, type: "file", line: 0, cls: "", draw: function (row) {
        row.appendChild(hitIcon(hit));
        row.appendChild(pathBelow(s, hit.path));
        file.count = row.appendChild(el("span", "mt", lineCount(file.lines)));
      } });
    }
    s.file.lines++;
    if (s.file.count) s.file.count.textContent = lineCount(s.file.lines);
    addRow(s, { path: hit.path, type: "file", line: hit.line, cls: " ln", draw: function (row) {
      row.appendChild(el("span", "no", String(hit.line)));
      const tx = row.appendChild(el("span", "tx"));
      const parts = matchParts(hit.text, hit.col, hit.text_col, s.text);
      tx.appendChild(document.createTextNode(shownText(parts[0])));
      tx.appendChild(el("mark", "", shownText(parts[1])));
      tx.appendChild(document.createTextNode(shownText(parts[2])));
    } });
  }

  function pick(s, k) {
    if (s.sel >= 0 && s.rows[s.sel]) {
      s.rows[s.sel].classList.remove("sel");
      s.rows[s.sel].setAttribute("aria-selected", "false");
    }
    s.sel = k;
    const row = rowOf(s, k);
    row.classList.add("sel");
    row.setAttribute("aria-selected", "true");
    resultsEl.setAttribute("aria-activedescendant", row.id);
  }

  // The results as the keys see them, as they see the listing (listview.js).
  const results = {
    selected: function () {
      return search && search.sel >= 0 ? search.items[search.sel] : null;
    },
    move: function (step) {
      const n = search.items.length;
      pick(search, Math.max(0, Math.min(n - 1, search.sel + step)));
      search.rows[search.sel].scrollIntoView({ block: "nearest" });
    },
    page: function () {
      return Math.max(1, Math.floor(resultsEl.clientHeight / HIT_ROW_PX) - 1);
    },
    counts: function () {
      const n = search ? search.items.length : 0;
      return { shown: n, total: n };
    }
  };

  // A result opens in its folder, as the next step of the history, so that Back comes back to the
  // results: a folder as its listing, a file previewed, at the line grep found in it when it shows as
  // text (through the line links, text.js).
  function openResult(item) {
    writeAddress(false);
    setScope("", "");
    setFilter("");
    if (item.type === "dir") {
      openDir(item.path, { push: true });
      setView("browse");
      return;
    }
    const name = nameOf(item.path);
    if (curFile === item.path) clearPreview();
    wantLine = item.line && previewKind(kindOf(name)).text === showText ? String(item.line) : "";
    openDir(parentOf(item.path) || dirOf(item.path), { file: name, push: true });
  }
