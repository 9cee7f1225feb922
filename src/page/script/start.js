  /* ---------- Start ---------- */

  renderCrumbs();
  loadRoots();
})();
