  /* ---------- Follow ---------- */

  // At most one read a second, none while the page is hidden; the pane keeps this many characters of
  // the newest lines and lets the older blocks go, so a log that grows for hours stays light.
  const FOLLOW_MS = 1000;
  const FOLLOW_KEEP = 1048576;
  // The end of what shows is checked against this much of it read again, so a file replaced by another
  // of the same size or more is noticed.
  const FOLLOW_CHECK = 256;

  const btnFollow = byId("btnFollow");
  const btnNew = byId("btnNew");

  btnFollow.addEventListener("click", toggleFollow);
  btnNew.addEventListener("click", function () {
    btnNew.classList.add("hidden");
    prevBody.scrollTop = prevBody.scrollHeight;
  });
  // Scrolled back to the end, the pane is pinned again and the count of new lines goes.
  prevBody.addEventListener("scroll", function () {
    if (doc && doc.follow && pinned()) {
      doc.unseen = 0;
      btnNew.classList.add("hidden");
    }
  }, { passive: true });
  document.addEventListener("visibilitychange", function () {
    if (!document.hidden && doc && doc.follow && doc.waiting) {
      doc.waiting = false;
      followStep(doc);
    }
  });

  function pinned() {
    return prevBody.scrollTop + prevBody.clientHeight >= prevBody.scrollHeight - 2 * CODE_LINE_PX;
  }

  function setFollowButton(on) {
    btnFollow.classList.toggle("on", on);
    btnFollow.setAttribute("aria-pressed", on ? "true" : "false");
    if (!on) btnNew.classList.add("hidden");
  }

  function toggleFollow() {
    const d = doc;
    if (!d || d.enc !== "utf-8" || d.packed) return;
    if (d.follow) {
      d.follow = false;
      clearTimeout(d.timer);
      setFollowButton(false);
      return;
    }
    if (d.more) {
      // The end is not in the pane yet: it is read first, and followed from there.
      followFrom(d.p, "");
      return;
    }
    startFollow(d);
  }

  // The text of the end of the file in place of what shows, then followed; said is a note to show.
  function followFrom(old, said) {
    const p = startPreview(old.path, old.name);
    readWindow({ p: p, enc: "utf-8" }, 0, true).then(function (w) {
      if (!p.live()) return;
      const d = showTextWindow(w, { p: p, tail: w.offset > 0, note: said });
      startFollow(d);
    }).catch(function (err) {
      if (p.live()) showFailure(err, prevMeta.textContent);
    });
  }

  function startFollow(d) {
    d.follow = true;
    d.unseen = 0;
    moreButton(d);
    btnTail.classList.add("hidden");
    setFollowButton(true);
    prevBody.scrollTop = prevBody.scrollHeight;
    d.timer = setTimeout(followStep, FOLLOW_MS, d);
  }

  // The last characters shown, from a character's start: what the next read must begin with.
  function shownEnd(d) {
    const t = d.lastText || "";
    let from = Math.max(0, t.length - FOLLOW_CHECK);
    if (from > 0 && (t.charCodeAt(from) & 0xfc00) === 0xdc00) from++;
    return t.slice(from);
  }

  function followStep(d) {
    if (doc !== d || !d.follow || !d.p.live()) return;
    if (document.hidden) {
      d.waiting = true;
      return;
    }
    const check = shownEnd(d);
    const at = d.end - lines.utf8Length(check);
    api("read", pathExtra(d.p.path) + "&offset=" + at).then(function (a) {
      if (doc !== d || !d.follow) return;
      checkOk(a);
      const text = typeof a.text === "string" ? a.text : "";
      if (a.size < d.end || !text.startsWith(check)) {
        followFrom(d.p, a.size < d.end ? "The file was cut short: following from its new end." :
          "The file was replaced: following from its new end.");
        return;
      }
      let gain = text.slice(check.length);
      if (a.truncated === true) gain = gain.slice(0, lines.wholeLength(gain, true));
      if (gain !== "") append(d, gain);
      d.end += lines.utf8Length(gain);
      d.size = a.size;
      d.timer = setTimeout(followStep, FOLLOW_MS, d);
    }).catch(function () {
      // A failed read is tried again a second later; the file may be back by then.
      if (doc === d && d.follow) d.timer = setTimeout(followStep, FOLLOW_MS, d);
    });
  }

  function append(d, gain) {
    const stay = pinned();
    const before = d.view.next();
    const piece = pieceOf(d, gain);
    d.view.add(piece.text, piece.runs);
    d.lastText = ((d.lastText || "") + gain).slice(-4 * FOLLOW_CHECK);
    const gone = d.view.drop(FOLLOW_KEEP);
    if (stay) {
      prevBody.scrollTop = prevBody.scrollHeight;
      return;
    }
    if (gone) prevBody.scrollTop -= gone;
    d.unseen += d.view.next() - before;
    btnNew.textContent = d.unseen === 1 ? "1 new line" : d.unseen + " new lines";
    btnNew.classList.remove("hidden");
  }
