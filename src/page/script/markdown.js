  /* ---------- Markdown ---------- */

  // At each position the first kind that matches wins: code span, strong, strikethrough, emphasis,
  // image, link, autolink, bare URL. A global regex finds the leftmost position and tries its
  // alternatives in this order. The scheme spells out its cases: a case-insensitive regex runs
  // several times slower on a large document, and nothing else in it is a letter.
  const SCHEME = "[hH][tT][tT][pP][sS]?://";
  const INLINE = new RegExp([
    "`([^`]*)`",
    "\\*\\*([^*]+)\\*\\*",
    "~~([^~]+)~~",
    "\\*([^*]+)\\*",
    "!\\[([^\\]]*)\\]\\(([^)\\s]*)(?:\\s+\"[^\"]*\")?\\)",
    "\\[([^\\[\\]]+)\\]\\(([^)]+)\\)",
    "<(" + SCHEME + "[^\\s<>]+)>",
    "(" + SCHEME + "[^\\s<>\"]*[^\\s<>\".,:;!?'\\]*_~])"
  ].join("|"), "g");
  // Only targets that cannot run script in the page's context become links.
  const SAFE_HREF = /^(?:https?:\/\/|\/|#|mailto:)/i;
  // A source with a scheme, or one that starts at a root, is not a file beside the document.
  const NOT_RELATIVE = /^(?:[a-z][a-z0-9+.-]*:|[\\/#])/i;

  function link(text, href) {
    if (!SAFE_HREF.test(href)) return document.createTextNode(text);
    const a = el("a", "", text);
    a.setAttribute("href", href);
    // A link to a heading scrolls the pane (see headingLinks); any other opens apart from the page.
    if (href[0] !== "#") {
      a.target = "_blank";
      a.rel = "noopener noreferrer";
    }
    return a;
  }

  // The path of src taken from the directory of the document at docPath, with "." and ".." applied.
  function besideDoc(docPath, src) {
    let name = src.replace(/[?#].*$/, "");
    try {
      name = decodeURIComponent(name);
    } catch (e) {
      // A malformed escape is taken literally, as the file's name.
    }
    const sep = docPath.lastIndexOf("/") >= docPath.lastIndexOf("\\") ? "/" : "\\";
    const parts = docPath.slice(0, docPath.lastIndexOf(sep)).split(sep);
    name.split(/[\\/]/).forEach(function (p) {
      if (p === "..") {
        if (parts.length > 1) parts.pop();
      } else if (p !== "." && p !== "") {
        parts.push(p);
      }
    });
    return parts.join(sep);
  }

  // A file beside the document shows through the raw action; the page loads nothing from elsewhere,
  // so any other source becomes a link to it, named by its alt text.
  function image(alt, src, docPath) {
    if (!src || !docPath || NOT_RELATIVE.test(src)) return link(alt || src, src);
    const img = document.createElement("img");
    img.alt = alt;
    img.loading = "lazy";
    img.src = url("raw", pathExtra(besideDoc(docPath, src)));
    return img;
  }

  function inlineToken(m, docPath) {
    if (m[1] !== undefined) return el("code", "", m[1]);
    if (m[2] !== undefined) return el("strong", "", m[2]);
    if (m[3] !== undefined) return el("del", "", m[3]);
    if (m[4] !== undefined) return el("em", "", m[4]);
    if (m[5] !== undefined) return image(m[5], m[6], docPath);
    if (m[7] !== undefined) return link(m[7], m[8]);
    const href = m[9] !== undefined ? m[9] : m[10];
    return link(href, href);
  }

  // A bare URL keeps a closing parenthesis only when it closes one the URL opened, as in
  // "(see https://x.org/a_(b))".
  function trimUrl(m) {
    let u = m[10];
    while (u.endsWith(")") && u.split(")").length > u.split("(").length) u = u.slice(0, -1);
    INLINE.lastIndex -= m[10].length - u.length;
    m[10] = u;
  }

  function renderInline(text, host, docPath) {
    let last = 0;
    let m;
    INLINE.lastIndex = 0;
    while ((m = INLINE.exec(text)) !== null) {
      if (m[10] !== undefined) trimUrl(m);
      if (m.index > last) host.appendChild(document.createTextNode(text.slice(last, m.index)));
      host.appendChild(inlineToken(m, docPath));
      last = INLINE.lastIndex;
    }
    if (last < text.length) host.appendChild(document.createTextNode(text.slice(last)));
  }

  // JavaScript's \s, trim() and "." agree with the whitespace and line terminators these rules
  // mean; the heading text may hold no line terminator, so "# x" ending in CR stays paragraph text.
  const RE_HEADING = /^(#{1,4})\s+(.*)$/;
  const RE_ITEM = /^(\s*)(?:([-*+])|[0-9]+\.)\s+/;
  const RE_TASK = /^\[([ xX])\]\s+/;
  const RE_RULE = /^(?:-{3,}|\*{3,}|_{3,})$/;
  const RE_ALIGN = /^(:?)-+(:?)$/;
  const FENCE = "```";

  /* Tables: a row of cells over a row of dashes with as many cells, then rows until a blank line. */

  function tableCells(line) {
    let s = line.trim();
    if (s.startsWith("|")) s = s.slice(1);
    if (s.endsWith("|") && !s.endsWith("\\|")) s = s.slice(0, -1);
    return s.split(/(?<!\\)\|/).map(function (c) {
      return c.trim().replace(/\\\|/g, "|");
    });
  }

  // The alignment of each column, or null when the lines do not start a table.
  function tableAlign(head, delim) {
    if (head.indexOf("|") < 0 || delim === undefined || delim.indexOf("-") < 0) return null;
    const cells = tableCells(delim);
    if (cells.length !== tableCells(head).length) return null;
    const align = [];
    for (const c of cells) {
      const m = RE_ALIGN.exec(c);
      if (!m) return null;
      align.push(m[1] && m[2] ? "center" : m[2] ? "right" : m[1] ? "left" : "");
    }
    return align;
  }

  function tableRow(line, tag, align, docPath) {
    const tr = document.createElement("tr");
    const cells = tableCells(line);
    for (let i = 0; i < align.length; i++) {
      const cell = document.createElement(tag);
      if (align[i]) cell.style.textAlign = align[i];
      renderInline(cells[i] || "", cell, docPath);
      tr.appendChild(cell);
    }
    return tr;
  }

  /* Headings get names as common renderers make them, so "#a-heading" links scroll to them. */

  function slug(text, seen) {
    const base = text.trim().toLowerCase().replace(/[^\p{L}\p{M}\p{N} _-]/gu, "").replace(/ /g, "-");
    let name = base;
    for (let n = 1; seen.has(name); n++) name = base + "-" + n;
    return name;
  }

  // The pane scrolls, never the page's own address, which holds the page's place.
  function headingLinks(box, headings) {
    box.addEventListener("click", function (ev) {
      const a = ev.target.closest("a");
      const href = a ? a.getAttribute("href") : null;
      if (!href || href[0] !== "#") return;
      ev.preventDefault();
      let name = href.slice(1);
      try {
        name = decodeURIComponent(name);
      } catch (e) {
        return;
      }
      const h = headings.get(name.toLowerCase());
      if (h) scrollPaneTo(h, 3);
    });
  }

  // Parts laid out for the first time as they come into view take their true heights, which moves
  // what follows them; the pane is set again on the next frames until the heading stays at the top.
  function scrollPaneTo(target, tries) {
    const off = target.getBoundingClientRect().top - prevBody.getBoundingClientRect().top;
    if (Math.abs(off) < 1 || tries === 0) return;
    prevBody.scrollTop += off;
    requestAnimationFrame(function () {
      scrollPaneTo(target, tries - 1);
    });
  }

  /* The document is built in parts of about this many blocks, a list weighing as many as its items (a
     top-level list longer than that is cut), so that each part costs about as much to lay out. A part is
     laid out only when near the visible part of the pane. Building stops for the browser to draw whenever a
     slice of this many milliseconds is used up, so a large document neither freezes the page nor waits
     to show its start. A part is filled while detached. The first joins the document once full, or at
     the end of the first slice, so the start shows at once and the first frame lays out one part only;
     the later parts gather apart and join together at the end, so the frames in between have nothing
     to lay out or paint. */
  const MD_PART = 50;
  const MD_SLICE_MS = 10;

  function renderMarkdown(text, host, docPath) {
    const seq = previewSeq;
    const box = el("div", "md");
    const lines = text.split("\n");
    const headings = new Map();
    let part = null;
    let dest = box;
    let inPart = 0;
    let para = [];
    // Open lists, outermost first: { list, content (the column its items' text starts at), item: { li,
    // parts } }. An item indented to its parent's text nests in it. Plain lines right after an item
    // continue its text, as common renderers do, so an item's inline content is rendered only once it
    // is complete.
    const lists = [];
    let i = 0;

    function showPart() {
      if (part.parentNode) return;
      dest.appendChild(part);
      if (dest === box) dest = document.createDocumentFragment();
    }
    function add(block) {
      if (inPart >= MD_PART) {
        showPart();
        part = el("div", "mdp");
        inPart = 0;
      }
      part.appendChild(block);
      inPart += block.localName === "ul" || block.localName === "ol" ? block.children.length : 1;
    }
    function inlineBlock(tag, s) {
      const b = document.createElement(tag);
      renderInline(s, b, docPath);
      return b;
    }
    function endPara() {
      if (!para.length) return;
      add(inlineBlock("p", para.join(" ")));
      para = [];
    }
    function endItem(level) {
      const item = level.item;
      if (!item || !item.parts.length) return;
      let s = item.parts.join(" ");
      const task = RE_TASK.exec(s);
      if (task && level.list.localName === "ul") {
        const check = document.createElement("input");
        check.type = "checkbox";
        check.disabled = true;
        check.defaultChecked = task[1] !== " ";
        item.li.className = "task";
        item.li.appendChild(check);
        s = s.slice(task[0].length);
      }
      renderInline(s, item.li, docPath);
      item.parts = [];
    }
    function closeList() {
      const level = lists.pop();
      endItem(level);
      if (!lists.length) add(level.list);
    }
    function endBlocks() {
      endPara();
      while (lists.length) closeList();
    }
    // A top-level list long enough to fill a part goes on in a part of its own, numbered on.
    function splitList() {
      const top = lists[0];
      if (lists.length !== 1 || top.list.children.length < MD_PART) return;
      const next = document.createElement(top.list.localName);
      if (next.localName === "ol") next.start = top.list.start + top.list.children.length;
      top.list.className = "cut";
      closeList();
      inPart = MD_PART;
      lists.push({ list: next, content: top.content, item: null });
    }
    function addItem(m, s) {
      const indent = m[1].length;
      const tag = m[2] ? "ul" : "ol";
      while (lists.length > 1 && indent < lists[lists.length - 2].content) closeList();
      let top = lists[lists.length - 1];
      if (top && indent < top.content && top.list.localName !== tag) {
        closeList();
        top = lists[lists.length - 1];
      }
      if (top && indent < top.content) {
        endItem(top);
        splitList();
        top = lists[lists.length - 1];
      } else {
        if (top) endItem(top);
        const level = { list: document.createElement(tag), content: m[0].length, item: null };
        if (top) top.item.li.appendChild(level.list);
        lists.push(level);
        top = level;
      }
      top.item = { li: document.createElement("li"), parts: [s.slice(m[0].length)] };
      top.list.appendChild(top.item.li);
    }
    function table(align) {
      const t = document.createElement("table");
      const head = document.createElement("thead");
      head.appendChild(tableRow(lines[i], "th", align, docPath));
      t.appendChild(head);
      i++;
      let body = null;
      while (i + 1 < lines.length && lines[i + 1].trim() !== "") {
        if (!body) body = t.appendChild(document.createElement("tbody"));
        body.appendChild(tableRow(lines[++i], "td", align, docPath));
      }
      add(t);
    }
    function heading(level, s) {
      const h = inlineBlock("h" + level, s);
      const name = slug(h.textContent, headings);
      headings.set(name, h);
      add(h);
    }

    function line(s) {
      let m;
      let align;
      if (s.startsWith(FENCE)) {
        endBlocks();
        const code = [];
        // Runs to the closing fence, which is consumed, or to the end of the text.
        while (++i < lines.length && !lines[i].startsWith(FENCE)) code.push(lines[i]);
        const pre = document.createElement("pre");
        pre.appendChild(el("code", "", code.join("\n")));
        add(pre);
      } else if (s.trim() === "") {
        endBlocks();
      } else if ((m = RE_HEADING.exec(s)) !== null) {
        endBlocks();
        heading(m[1].length, m[2]);
      } else if ((align = tableAlign(s, lines[i + 1])) !== null) {
        endBlocks();
        table(align);
      } else if ((m = RE_ITEM.exec(s)) !== null) {
        endPara();
        addItem(m, s);
      } else if (s[0] === ">") {
        endBlocks();
        add(inlineBlock("blockquote", s.slice(1).replace(/^\s/, "")));
      } else if (RE_RULE.test(s.trim())) {
        endBlocks();
        add(document.createElement("hr"));
      } else if (lists.length) {
        lists[lists.length - 1].item.parts.push(s);
      } else {
        para.push(s);
      }
    }

    function slice() {
      if (seq !== previewSeq) return;
      const until = performance.now() + MD_SLICE_MS;
      while (i < lines.length) {
        line(lines[i]);
        i++;
        if ((i & 15) === 0 && performance.now() > until) {
          if (dest === box && part.firstChild) {
            showPart();
            inPart = MD_PART;
          }
          nextSlice(slice);
          return;
        }
      }
      endBlocks();
      showPart();
      box.appendChild(dest);
    }

    part = el("div", "mdp");
    headingLinks(box, headings);
    host.appendChild(box);
    slice();
  }

  // The next slice runs as a task of its own, after the browser has had its turn to draw.
  function nextSlice(fn) {
    const ch = new MessageChannel();
    ch.port1.onmessage = fn;
    ch.port2.postMessage(0);
  }
