/* Client: talks to the file actions and keeps the panes in step with the user. Server text and file
   content only ever reach the document as text nodes or attribute values, never as markup. */
(function () {
  "use strict";

  /* ---------- Elements ---------- */

  function byId(id) {
    return document.getElementById(id);
  }

  const app = byId("app");
  const rootsEl = byId("roots");
  const entriesEl = byId("entries");
  const emptyEl = byId("empty");
  const countEl = byId("count");
  const crumbsEl = byId("crumbs");
  const prevHd = byId("prevHd");
  const prevName = byId("prevName");
  const prevMeta = byId("prevMeta");
  const prevBody = byId("prevBody");
  const toastEl = byId("toast");
  const btnHidden = byId("btnHidden");
  const btnDownload = byId("btnDownload");
  const btnZip = byId("btnZip");
  const filterEl = byId("filter");
  const sortEl = byId("sort");
  const btnSortDesc = byId("sortDesc");

  // Kept before the first preview removes it, so the welcome state is always the original markup.
  const welcomeTpl = byId("welcome").cloneNode(true);
  welcomeTpl.removeAttribute("id");

  function el(tag, cls, text) {
    const n = document.createElement(tag);
    if (cls) n.className = cls;
    if (text != null) n.textContent = text;
    return n;
  }

  /* ---------- Start-up parameters ---------- */

  // A browser that refuses storage still gets a working page: a refusal reads as an absent value.
  function storeGet(key) {
    try {
      return localStorage.getItem(key) || "";
    } catch (e) {
      return "";
    }
  }

  function storeSet(key, value) {
    try {
      localStorage.setItem(key, value);
    } catch (e) {
      // Nothing is kept; the choice still holds for this visit.
    }
  }

  const params = new URLSearchParams(location.search);
  const node = params.get("node") || "";
  const sid = params.get("id") || "";
  const HUB = params.get("plugin") || "";
  // A password goes only to the node it was given for. A hub's pages share one origin and keep each
  // node's password under its name; kiv_active_pwd, which a hub sets for whichever node is active,
  // is taken only where no node is named, on a node's own route, whose origin is that node's.
  const PWD_KEY = node ? "kiv_pwd_" + node : "kiv_active_pwd";
  let pwd = params.get("pwd") || storeGet(PWD_KEY);

  function keepPassword(p) {
    pwd = p;
    storeSet(PWD_KEY, p);
  }

  // A password the page was opened with is kept and taken out of the address, so that a copied link,
  // a bookmark or the history never carries it; the rest of the query stays as it was written.
  if (params.has("pwd")) {
    keepPassword(pwd);
    const rest = location.search.slice(1).split("&").filter(function (pair) {
      return pair && !new URLSearchParams(pair).has("pwd");
    }).join("&");
    history.replaceState(history.state, "", location.pathname + (rest ? "?" + rest : "") + location.hash);
  }

  /* ---------- State ---------- */

  let roots = [];
  let curPath = "";
  let curParent = null;
  let curRoot = null;
  let showHidden = false;
  let curFile = null;
  // A folder larger than one answer comes in parts: whether some are still due, and how many of the
  // folder's entries lie past the most a listing covers, which no part brings.
  let partsDue = false;
  let notShown = 0;
  // How the listing is ordered and narrowed, as the address names it: "name" with sortDesc false is
  // the server's own order.
  let sortKey = "name";
  let sortDesc = false;
  let filterText = "";

  // Answers can overtake each other; only the newest request of a kind may change the page.
  let listSeq = 0;
  let previewSeq = 0;

  let toastTimer = 0;

  /* ---------- Icons ---------- */

  // The root buttons, a handful, carry this drawing, parsed once. The listing's rows draw their icons
  // from the styles (styles.css, .ico), so that thousands of rows carry no drawing to build.
  const ROOT_ICON = (function () {
    const t = document.createElement("template");
    t.innerHTML = '<svg viewBox="0 0 24 24"><path d="M3 7h6l2 2h10v11H3z"/></svg>';
    return t.content.firstElementChild;
  })();

