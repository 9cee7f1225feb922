  /* ---------- Markdown ---------- */

  /* markdown(text, how) builds the document a Markdown text describes, and knows nothing of the page:
     it makes every node through how.document, takes relative image paths from the directory how.dir
     (ending in its separator: /srv/docs/, C:\docs\) and asks how.rawUrl(path) for the source of such
     an image. Optional hooks let the page do more: how.link(a, path) makes a link to a file or folder
     beside the document (or at a path starting with one /) go there, how.code(code, language) colours a
     fenced block, and how.drawing(img, path) feeds an SVG image beside the document. It returns { box, headings, step }: box, the document's element, filled as it is built;
     headings, each heading's element by its name (as "#name" links name it); step(due), which builds
     on until the document is complete (then true) or due() says the time for this step is up (false;
     call again to go on). Text reaches the document only as text nodes and attribute values. */
  const markdown = (function () {
    // At each position the first kind that matches wins: code span, strong, strikethrough, emphasis,
    // image, link, autolink, bare URL. A global regex finds the leftmost position and tries its
    // alternatives in this order. The scheme spells out its cases: a case-insensitive regex runs
    // several times slower on a large document, and nothing else in it is a letter.
    const SCHEME = "[hH][tT][tT][pP][sS]?://";
    // Every part that scans ahead stops at the character that could start the next such part (a
    // bracket, a backtick, a star), so whatever the text, each character is looked at a bounded number
    // of times and a document renders in time linear in its length.
    const INLINE = new RegExp([
      "`([^`]*)`",
      "\\*\\*([^*]+)\\*\\*",
      "~~([^~]+)~~",
      "\\*([^*]+)\\*",
      "!\\[([^\\[\\]]*)\\]\\(([^)\\s\\[\\]]*)(?:\\s+\"([^\"]*)\")?\\)",
      "\\[\\^([^\\[\\]\\s]+)\\]",
      "\\[([^\\[\\]]+)\\]\\(([^)\\[\\]]+)\\)",
      "<(" + SCHEME + "[^\\s<>]+)>",
      "(" + SCHEME + "[^\\s<>\"]*[^\\s<>\".,:;!?'\\]*_~])"
    ].join("|"), "g");
    // Only targets that cannot run script in the page's context become links: the web, a heading, mail.
    const SAFE_HREF = /^(?:https?:\/\/|\/\/|#|mailto:)/i;
    // A target with no scheme that is not a heading nor another host is a file or folder on the node:
    // beside the document, or from the top with one "/".
    const LOCAL_HREF = /^(?![a-z][a-z0-9+.-]*:|#|\/\/|\\|\s)/i;
    // A source with a scheme, another host or a heading is not a file on the node.
    const NOT_RELATIVE = /^(?:[a-z][a-z0-9+.-]*:|\/\/|[\\#])/i;

    // JavaScript's \s, trim() and "." agree with the whitespace and line terminators these rules
    // mean; the heading text may hold no line terminator, so "# x" ending in CR stays paragraph text.
    const RE_HEADING = /^(#{1,4})\s+(.*)$/;
    const RE_ITEM = /^(\s*)(?:([-*+])|[0-9]+\.)\s+/;
    const RE_TASK = /^\[([ xX])\]\s+/;
    const RE_RULE = /^(?:-{3,}|\*{3,}|_{3,})$/;
    const RE_FOOTNOTE = /^\[\^([^\[\]\s]+)\]:\s?(.*)$/;
    const RE_FRONT_KEY = /^([^\s:#][^:]*):(?:\s+(.*))?$/;
    // Quotes inside quotes are rendered to this depth; deeper markers stay text.
    const QUOTE_DEPTH = 16;
    // Lists nest to this depth; a deeper item continues the deepest one.
    const LIST_DEPTH = 32;
    const RE_ALIGN = /^(:?)-+(:?)$/;
    const FENCE = "```";

    /* The document is built in parts of about this many blocks, a list weighing as many as its items (a
       top-level list longer than that is cut), so that each part costs about as much to lay out; the
       styles lay a part out only when it is near the visible part of the pane. A part is filled while
       detached. The first joins the document once full, never earlier, so its shape does not depend on
       how fast the machine is, and the first frame lays out one part only; the later parts gather apart and join
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

    // counts remembers how far each name's numbering has gone, so a thousand equal headings cost no
    // more than a thousand others.
    function slug(text, seen, counts) {
      const base = text.trim().toLowerCase().replace(/[^\p{L}\p{M}\p{N} _-]/gu, "").replace(/ /g, "-");
      let name = base;
      let n = counts.get(base) || 1;
      while (seen.has(name)) name = base + "-" + n++;
      counts.set(base, n);
      return name;
    }

    // Where a bare URL ends: a closing parenthesis stays only when it closes one the URL opened, as in
    // "(see https://x.org/a_(b))". One pass counts them, and each one dropped is a step: a URL
    // followed by any number of parentheses is cut in time linear in its length.
    function urlEnd(u) {
      let open = 0;
      let close = 0;
      for (let i = 0; i < u.length; i++) {
        const c = u.charCodeAt(i);
        if (c === 40) open++;
        else if (c === 41) close++;
      }
      let end = u.length;
      while (end > 0 && u.charCodeAt(end - 1) === 41 && close > open) {
        end--;
        close--;
      }
      return end;
    }

    // The lines of YAML front matter as [key, value] rows: a line "key: value" starts a row, and lines
    // that follow it (an indented block, a list) go on its value. Null when the lines do not start with
    // a key, as a rule and the text after it do not.
    function frontRows(lines) {
      const rows = [];
      for (const line of lines) {
        const m = RE_FRONT_KEY.exec(line);
        if (m && line[0] !== " " && line[0] !== "-") rows.push([m[1].trim(), (m[2] || "").trim()]);
        else if (!rows.length && line.trim() !== "") return null;
        else if (rows.length && line.trim() !== "") {
          const last = rows[rows.length - 1];
          last[1] = (last[1] ? last[1] + " " : "") + line.trim();
        }
      }
      return rows;
    }

    // Attributes are set as attributes, not through properties, so that any document builds the same.
    function render(text, how, depth, notes) {
      const doc = how.document;
      const dir = how.dir;
      const box = el("div", "md");
      const lines = text.split("\n");
      const headings = notes ? notes.headings : new Map();
      const counts = notes ? notes.counts : new Map();
      // Footnotes: those the text defines, found before anything is built, and the order in which
      // the text first refers to them.
      const foot = notes || { defs: new Map(), order: [], headings: headings, counts: counts };
      if (!notes) {
        for (const l of lines) {
          if (l.charCodeAt(0) !== 91) continue;
          const f = RE_FOOTNOTE.exec(l);
          if (f && !foot.defs.has(f[1])) foot.defs.set(f[1], f[2]);
        }
      }
      let quote = [];
      let inComment = false;
      let pending = null;
      let tbl = null;
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

      function link(content, href, title) {
        if (how.link && LOCAL_HREF.test(href) && href !== "") {
          const a = el("a", "", content);
          how.link(a, href[0] === "/" ? besideDir("/", href) : besideDir(dir, href));
          if (title) a.setAttribute("title", title);
          return a;
        }
        if (!SAFE_HREF.test(href)) return doc.createTextNode(content);
        const a = el("a", "", content);
        if (title) a.setAttribute("title", title);
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
      function image(alt, src, title) {
        if (!src || !dir || NOT_RELATIVE.test(src)) return SAFE_HREF.test(src) ? link(alt || src, src, title) :
          doc.createTextNode(alt || src);
        const img = doc.createElement("img");
        const path = src[0] === "/" ? besideDir("/", src) : besideDir(dir, src);
        img.setAttribute("alt", alt);
        if (title) img.setAttribute("title", title);
        img.setAttribute("loading", "lazy");
        // A drawing goes out from the node as text, which an image cannot show: the page feeds it.
        if (how.drawing && /\.svg$/i.test(path)) how.drawing(img, path);
        else img.setAttribute("src", how.rawUrl(path));
        return img;
      }

      // A reference to a footnote the text defines: its number, linking to the note.
      function footRef(id) {
        let n = foot.order.indexOf(id) + 1;
        if (n === 0) n = foot.order.push(id);
        const sup = el("sup", "fnref");
        const a = el("a", "", String(n));
        a.setAttribute("href", "#fn-" + id);
        sup.appendChild(a);
        if (!headings.has("fnref-" + id.toLowerCase())) headings.set("fnref-" + id.toLowerCase(), sup);
        return sup;
      }

      function inlineToken(m) {
        if (m[1] !== undefined) return el("code", "", m[1]);
        if (m[2] !== undefined) return el("strong", "", m[2]);
        if (m[3] !== undefined) return el("del", "", m[3]);
        if (m[4] !== undefined) return el("em", "", m[4]);
        if (m[5] !== undefined) return image(m[5], m[6], m[7]);
        if (m[8] !== undefined) return foot.defs.has(m[8]) ? footRef(m[8]) : doc.createTextNode(m[0]);
        if (m[9] !== undefined) return link(m[9], m[10]);
        const href = m[11] !== undefined ? m[11] : m[12];
        return link(href, href);
      }

      function trimUrl(m) {
        const end = urlEnd(m[12]);
        INLINE.lastIndex -= m[12].length - end;
        m[12] = m[12].slice(0, end);
      }

      // The inline content of s from position from into host; with due, it stops once due() says the
      // step's time is up (asked every 256 pieces) and answers where to go on, else -1 when done.
      function inlineFrom(s, host, from, due) {
        let last = from;
        let m;
        let n = 0;
        INLINE.lastIndex = from;
        while ((m = INLINE.exec(s)) !== null) {
          if (m[12] !== undefined) trimUrl(m);
          if (m.index > last) host.appendChild(doc.createTextNode(s.slice(last, m.index)));
          host.appendChild(inlineToken(m));
          last = INLINE.lastIndex;
          if ((++n & 255) === 0 && due && due()) return last;
        }
        if (last < s.length) host.appendChild(doc.createTextNode(s.slice(last)));
        return -1;
      }
      function renderInline(s, host) {
        inlineFrom(s, host, 0, null);
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
      // A paragraph can be any length: it is built a slice at a time, like the lines.
      function endPara() {
        if (!para.length) return;
        const p = doc.createElement("p");
        const text = para.join(" ");
        para = [];
        add(p);
        pending = [text, p, 0];
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
      function endQuote() {
        if (!quote.length) return;
        const q = doc.createElement("blockquote");
        const body = quote.join("\n");
        quote = [];
        const inner = render(body, how, depth + 1, foot);
        inner.step(function () {
          return false;
        });
        for (const part of Array.from(inner.box.childNodes)) {
          while (part.firstChild) q.appendChild(part.firstChild);
        }
        add(q);
      }
      function endBlocks() {
        tbl = null;
        endPara();
        endQuote();
        while (lists.length) closeList();
      }
      // A top-level list long enough to fill a part goes on in a part of its own, numbered on.
      function splitList() {
        const top = lists[0];
        if (depth > 0 || lists.length !== 1 || top.list.children.length < MD_PART) return;
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
        if (top && indent >= top.content && lists.length >= LIST_DEPTH) {
          top.item.parts.push(s.trim());
          return;
        }
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
      // The head and the line of dashes; the rows that follow are lines of their own (tableLine), so a
      // long table is built a slice at a time.
      function table(align) {
        const t = doc.createElement("table");
        const head = doc.createElement("thead");
        head.appendChild(tableRow(lines[i], "th", align));
        t.appendChild(head);
        i++;
        add(t);
        tbl = { t: t, align: align, body: null };
      }
      function tableLine(s) {
        if (s.trim() === "") {
          tbl = null;
          return false;
        }
        if (!tbl.body) tbl.body = tbl.t.appendChild(doc.createElement("tbody"));
        tbl.body.appendChild(tableRow(s, "td", tbl.align));
        return true;
      }
      function heading(level, s) {
        const h = inlineBlock("h" + level, s);
        const name = slug(h.textContent, headings, counts);
        headings.set(name, h);
        add(h);
      }

      // The line without its HTML comments, which may run over several lines; null when nothing is
      // left of a line that held one.
      function uncomment(s) {
        let out = "";
        let pos = 0;
        let had = inComment;
        for (;;) {
          if (inComment) {
            const close = s.indexOf("-->", pos);
            if (close < 0) return had && out.trim() === "" ? null : out;
            inComment = false;
            pos = close + 3;
          }
          const open = s.indexOf("<!--", pos);
          if (open < 0) break;
          out += s.slice(pos, open);
          inComment = true;
          had = true;
          pos = open + 4;
        }
        out += s.slice(pos);
        return had && out.trim() === "" ? null : out;
      }

      // YAML front matter: a first line "---" and the lines up to the next "---" or "...".
      function frontMatter() {
        if (depth > 0 || lines[0] !== "---") return;
        let end = 1;
        while (end < lines.length && lines[end] !== "---" && lines[end] !== "...") end++;
        if (end >= lines.length) return;
        const rows = frontRows(lines.slice(1, end));
        if (!rows || !rows.length) return;
        i = end + 1;
        const t = el("table", "fm");
        const body = t.appendChild(doc.createElement("tbody"));
        for (const [k, v] of rows) {
          const tr = body.appendChild(doc.createElement("tr"));
          tr.appendChild(el("th", "", k));
          tr.appendChild(el("td", "", v));
        }
        add(t);
      }

      function footnotes() {
        if (depth > 0 || !foot.order.length) return;
        const sec = el("section", "footnotes");
        const ol = sec.appendChild(doc.createElement("ol"));
        for (const id of foot.order) {
          const li = ol.appendChild(doc.createElement("li"));
          renderInline(foot.defs.get(id), li);
          li.appendChild(doc.createTextNode(" "));
          const back = el("a", "", "\u21a9");
          back.setAttribute("href", "#fnref-" + id);
          li.appendChild(back);
          if (!headings.has("fn-" + id.toLowerCase())) headings.set("fn-" + id.toLowerCase(), li);
        }
        add(sec);
      }

      function quoteLine(s) {
        if (s[0] !== ">" || depth >= QUOTE_DEPTH) return false;
        endPara();
        while (lists.length) closeList();
        quote.push(s.slice(1).replace(/^\s/, ""));
        return true;
      }

      function line(raw) {
        let m;
        let align;
        if (tbl && tableLine(raw)) return;
        const s = raw.indexOf("<!--") >= 0 || inComment ? uncomment(raw) : raw;
        if (s === null) return;
        if (quoteLine(s)) return;
        endQuote();
        if (s.startsWith(FENCE)) {
          endBlocks();
          const code = [];
          const lang = s.slice(FENCE.length).trim().split(/\s/)[0];
          // Runs to the closing fence, which is consumed, or to the end of the text.
          while (++i < lines.length && !lines[i].startsWith(FENCE)) code.push(lines[i]);
          const pre = doc.createElement("pre");
          const c = el("code", "", code.join("\n"));
          if (lang && how.code) how.code(c, lang);
          pre.appendChild(c);
          add(pre);
        } else if (s.charCodeAt(0) === 91 && (m = RE_FOOTNOTE.exec(s)) !== null && foot.defs.get(m[1]) === m[2]) {
          endBlocks();
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
        } else if (RE_RULE.test(s.trim())) {
          endBlocks();
          add(doc.createElement("hr"));
        } else if (lists.length) {
          lists[lists.length - 1].item.parts.push(s);
        } else {
          para.push(s);
        }
      }

      // The paragraph being built, when a step ended inside it: [text, element, where to go on].
      function resume(due) {
        if (!pending) return true;
        const at = inlineFrom(pending[0], pending[1], pending[2], due);
        if (at >= 0) {
          pending[2] = at;
          return false;
        }
        pending = null;
        return true;
      }

      function step(due) {
        if (i === 0) frontMatter();
        for (;;) {
          if (!resume(due)) return false;
          if (i >= lines.length) break;
          line(lines[i]);
          i++;
          if ((i & 15) === 0 && due()) return false;
        }
        endBlocks();
        if (!resume(due)) return false;
        footnotes();
        showPart();
        box.appendChild(dest);
        return true;
      }

      return { box: box, headings: headings, step: step };
    }

    const markdown = function (text, how) {
      return render(text, how, 0, null);
    };
    markdown.urlEnd = urlEnd;
    return markdown;
  })();
