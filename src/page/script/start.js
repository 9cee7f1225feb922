  /* ---------- Start ---------- */

  applyAddress(readAddress());
  renderCrumbs();
  loadRoots();
})();
