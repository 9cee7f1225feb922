  /* ---------- Markdown ---------- */

  /* markdown(text, how) builds the document a Markdown text describes, and knows nothing of the page:
     it makes every node through how.document, takes relative image paths from the directory how.dir
     (ending in its separator: /srv/docs/, C:\docs\) and asks how.rawUrl(path) for the source of such
     an image. It returns { box, headings, step }: box, the document's element, filled as it is built;
     headings, each heading's element by its name (as "#name" links name it); step(due), which builds
     on until the document is complete (then true) or due() says the time for this step is up (false;
     call again to go on). Text reaches the document only as text nodes and attribute values. */
  const markdown = (function () {
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

    // JavaScript's \s, trim() and "." agree with the whitespace and line terminators these rules
    // mean; the heading text may hold no line terminator, so "# x" ending in CR stays paragraph text.
    const RE_HEADING = /^(#{1,4})\s+(.*)$/;
    const RE_ITEM = /^(\s*)(?:([-*+])|[0-9]+\.)\s+/;
    const RE_TASK = /^\[([ xX])\]\s+/;
    const RE_RULE = /^(?:-{3,}|\*{3,}|_{3,})$/;
    const RE_ALIGN = /^(:?)-+(:?)$/;
    const FENCE = "```";

    /* The document is built in parts of about this many blocks, a list weighing as many as its items (a
       top-level list longer than that is cut), so that each part costs about as much to lay out; the
       styles lay a part out only when it is near the visible part of the pane. A part is filled while
       detached. The first joins the document once full, or when the first step ends, so the start shows
       at once and the first frame lays out one part only; the later parts gather apart and join
       together at the end, so the frames in between have nothing to lay out or paint. */
    const MD_PART = 50;

    // The path of src taken from the directory dir, with "." and ".." applied.
    function besideDir(dir, src) {
      let name = src.replace(/[?#].*$/, "");
      try {
        name = decodeURIComponent(name);
      } catch (e) {
        // A malformed escape is taken literally, as the file's name.
      }
      const sep = dir.lastIndexOf("/") >= dir.lastIndexOf("\\") ? "/" : "\\";
      const parts = dir.slice(0, dir.lastIndexOf(sep)).split(sep);
      name.split(/[\\/]/).forEach(function (p) {
        if (p === "..") {
          if (parts.length > 1) parts.pop();
        } else if (p !== "." && p !== "") {
          parts.push(p);
        }
      });
      return parts.join(sep);
    }

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

    /* Headings get names as common renderers make them, so "#a-heading" links scroll to them. */

    function slug(text, seen) {
      const base = text.trim().toLowerCase().replace(/[^\p{L}\p{M}\p{N} _-]/gu, "").replace(/ /g, "-");
      let name = base;
      for (let n = 1; seen.has(name); n++) name = base + "-" + n;
      return name;
    }

    // Attributes are set as attributes, not through properties, so that any document builds the same.
    return function (text, how) {
      const doc = how.document;
      const dir = how.dir;
      const box = el("div", "md");
      const lines = text.split("\n");
      const headings = new Map();
      let part = el("div", "mdp");
      let dest = box;
      let inPart = 0;
      let para = [];
      // Open lists, outermost first: { list, start (an ordered list's first number), content (the column
      // its items' text starts at), item: { li, parts } }. An item indented to its parent's text nests in
      // it. Plain lines right after an item continue its text, as common renderers do, so an item's
      // inline content is rendered only once it is complete.
      const lists = [];
      let i = 0;

      function el(tag, cls, content) {
        const n = doc.createElement(tag);
        if (cls) n.className = cls;
        if (content != null) n.textContent = content;
        return n;
      }

      function link(content, href) {
        if (!SAFE_HREF.test(href)) return doc.createTextNode(content);
        const a = el("a", "", content);
        a.setAttribute("href", href);
        // A link to a heading scrolls the pane (the page's business); any other opens apart from the page.
        if (href[0] !== "#") {
          a.setAttribute("target", "_blank");
          a.setAttribute("rel", "noopener noreferrer");
        }
        return a;
      }

      // A file beside the document shows through the raw action; the page loads nothing from
      // elsewhere, so any other source becomes a link to it, named by its alt text.
      function image(alt, src) {
        if (!src || !dir || NOT_RELATIVE.test(src)) return link(alt || src, src);
        const img = doc.createElement("img");
        img.setAttribute("alt", alt);
        img.setAttribute("loading", "lazy");
        img.setAttribute("src", how.rawUrl(besideDir(dir, src)));
        return img;
      }

      function inlineToken(m) {
        if (m[1] !== undefined) return el("code", "", m[1]);
        if (m[2] !== undefined) return el("strong", "", m[2]);
        if (m[3] !== undefined) return el("del", "", m[3]);
        if (m[4] !== undefined) return el("em", "", m[4]);
        if (m[5] !== undefined) return image(m[5], m[6]);
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

      function renderInline(s, host) {
        let last = 0;
        let m;
        INLINE.lastIndex = 0;
        while ((m = INLINE.exec(s)) !== null) {
          if (m[10] !== undefined) trimUrl(m);
          if (m.index > last) host.appendChild(doc.createTextNode(s.slice(last, m.index)));
          host.appendChild(inlineToken(m));
          last = INLINE.lastIndex;
        }
        if (last < s.length) host.appendChild(doc.createTextNode(s.slice(last)));
      }

      function tableRow(line, tag, align) {
        const tr = doc.createElement("tr");
        const cells = tableCells(line);
        for (let c = 0; c < align.length; c++) {
          const cell = doc.createElement(tag);
          if (align[c]) cell.setAttribute("style", "text-align: " + align[c] + ";");
          renderInline(cells[c] || "", cell);
          tr.appendChild(cell);
        }
        return tr;
      }

      function showPart() {
        if (part.parentNode) return;
        dest.appendChild(part);
        if (dest === box) dest = doc.createDocumentFragment();
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
        const b = doc.createElement(tag);
        renderInline(s, b);
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
          const check = doc.createElement("input");
          check.setAttribute("type", "checkbox");
          check.setAttribute("disabled", "");
          if (task[1] !== " ") check.setAttribute("checked", "");
          item.li.className = "task";
          item.li.appendChild(check);
          s = s.slice(task[0].length);
        }
        renderInline(s, item.li);
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
        const next = { list: doc.createElement(top.list.localName), start: top.start + top.list.children.length,
          content: top.content, item: null };
        if (next.list.localName === "ol") next.list.setAttribute("start", String(next.start));
        top.list.className = "cut";
        closeList();
        inPart = MD_PART;
        lists.push(next);
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
          const level = { list: doc.createElement(tag), start: 1, content: m[0].length, item: null };
          if (top) top.item.li.appendChild(level.list);
          lists.push(level);
          top = level;
        }
        top.item = { li: doc.createElement("li"), parts: [s.slice(m[0].length)] };
        top.list.appendChild(top.item.li);
      }
      function table(align) {
        const t = doc.createElement("table");
        const head = doc.createElement("thead");
        head.appendChild(tableRow(lines[i], "th", align));
        t.appendChild(head);
        i++;
        let body = null;
        while (i + 1 < lines.length && lines[i + 1].trim() !== "") {
          if (!body) body = t.appendChild(doc.createElement("tbody"));
          body.appendChild(tableRow(lines[++i], "td", align));
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
          const pre = doc.createElement("pre");
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
          add(doc.createElement("hr"));
        } else if (lists.length) {
          lists[lists.length - 1].item.parts.push(s);
        } else {
          para.push(s);
        }
      }

      function step(due) {
        while (i < lines.length) {
          line(lines[i]);
          i++;
          if ((i & 15) === 0 && due()) {
            if (dest === box && part.firstChild) {
              showPart();
              inPart = MD_PART;
            }
            return false;
          }
        }
        endBlocks();
        showPart();
        box.appendChild(dest);
        return true;
      }

      return { box: box, headings: headings, step: step };
    };
  })();
