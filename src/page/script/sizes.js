  /* ---------- Folder sizes ---------- */

  // Sizes (z) asks du for each folder of the listing, in the order shown, and each size shows in its
  // row as it comes (listview.js reads it from the entry's du); the order by size then goes by them.
  // Each du holds one of the node's slots for heavy work, so at most two are asked at a time, and
  // another listing or a search stops what is left.
  const SIZES_AT_ONCE = 2;
  // Sizes that come close together re-order a listing by size once.
  const SIZES_SETTLE_MS = 200;
  let sizesRun = null;

  byId("btnSizes").addEventListener("click", folderSizes);

  function stopSizes() {
    if (!sizesRun) return;
    sizesRun.stop.abort();
    clearTimeout(sizesRun.timer);
    sizesRun = null;
  }

  function folderSizes() {
    if (!curPath) return;
    stopSizes();
    const run = { stop: new AbortController(), dirs: list.folders(), next: 0, timer: 0 };
    sizesRun = run;
    const hidden = showHidden ? "&hidden=1" : "";
    const one = function () {
      if (run !== sizesRun || run.next >= run.dirs.length) return;
      const e = run.dirs[run.next++];
      api("du", pathExtra(joinPath(curPath, e.name)) + hidden, { signal: run.stop.signal }).then(function (answer) {
        if (run !== sizesRun) return;
        checkOk(answer);
        e.du = { size: answer.size, complete: answer.complete === true };
        list.sized();
        if (sortKey === "size" && !run.timer) run.timer = setTimeout(function () {
          run.timer = 0;
          if (run === sizesRun) list.sort(sortKey, sortDesc);
        }, SIZES_SETTLE_MS);
        one();
      }).catch(function (err) {
        if (run !== sizesRun) return;
        toast("Cannot size " + shownName(e.name) + ": " + errText(err));
        one();
      });
    };
    for (let i = 0; i < SIZES_AT_ONCE; i++) one();
  }
