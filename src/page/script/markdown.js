  /* ---------- Markdown ---------- */

  // At each position the first kind that matches wins: code span, strong, emphasis, link.
  // A global regex finds the leftmost position and tries its alternatives in this order.
  const INLINE = /`([^`]*)`|\*\*([^*]+)\*\*|\*([^*]+)\*|\[([^\]]+)\]\(([^)]+)\)/g;
  // Only targets that cannot run script in the page's context become links.
  const SAFE_HREF = /^(?:https?:\/\/|\/|#|mailto:)/i;

  function inlineToken(m) {
    if (m[1] !== undefined) return el("code", "", m[1]);
    if (m[2] !== undefined) return el("strong", "", m[2]);
    if (m[3] !== undefined) return el("em", "", m[3]);
    if (!SAFE_HREF.test(m[5])) return document.createTextNode(m[4]);
    const a = el("a", "", m[4]);
    a.setAttribute("href", m[5]);
    a.target = "_blank";
    a.rel = "noopener noreferrer";
    return a;
  }

  function renderInline(text, host) {
    let last = 0;
    let m;
    INLINE.lastIndex = 0;
    while ((m = INLINE.exec(text)) !== null) {
      if (m.index > last) host.appendChild(document.createTextNode(text.slice(last, m.index)));
      host.appendChild(inlineToken(m));
      last = INLINE.lastIndex;
    }
    if (last < text.length) host.appendChild(document.createTextNode(text.slice(last)));
  }

  function inlineBlock(tag, text) {
    const b = document.createElement(tag);
    renderInline(text, b);
    return b;
  }

  // JavaScript's \s, trim() and "." agree with the whitespace and line terminators these rules
  // mean; the heading text may hold no line terminator, so "# x" ending in CR stays paragraph text.
  const RE_HEADING = /^(#{1,4})\s+(.*)$/;
  const RE_ITEM = /^\s*(?:([-*+])|[0-9]+\.)\s+/;
  const RE_RULE = /^(?:-{3,}|\*{3,}|_{3,})$/;
  const FENCE = "```";

  function renderMarkdown(text, host) {
    const box = el("div", "md");
    const lines = text.split("\n");
    let para = [];
    let list = null;
    // The last item of the open list: plain lines right after it continue its text, as common
    // renderers do, so its inline content is rendered only once the item is complete.
    let item = null;

    function endPara() {
      if (!para.length) return;
      box.appendChild(inlineBlock("p", para.join(" ")));
      para = [];
    }
    function endItem() {
      if (!item) return;
      renderInline(item.parts.join(" "), item.li);
      item = null;
    }
    function endList() {
      endItem();
      if (!list) return;
      box.appendChild(list);
      list = null;
    }
    function endBlocks() {
      endPara();
      endList();
    }

    for (let i = 0; i < lines.length; i++) {
      const line = lines[i];
      let m;
      if (line.startsWith(FENCE)) {
        endBlocks();
        const code = [];
        // Runs to the closing fence, which is consumed, or to the end of the text.
        while (++i < lines.length && !lines[i].startsWith(FENCE)) code.push(lines[i]);
        const pre = document.createElement("pre");
        pre.appendChild(el("code", "", code.join("\n")));
        box.appendChild(pre);
      } else if (line.trim() === "") {
        endBlocks();
      } else if ((m = RE_HEADING.exec(line)) !== null) {
        endBlocks();
        box.appendChild(inlineBlock("h" + m[1].length, m[2]));
      } else if ((m = RE_ITEM.exec(line)) !== null) {
        endPara();
        endItem();
        const tag = m[1] ? "ul" : "ol";
        if (!list || list.localName !== tag) {
          endList();
          list = document.createElement(tag);
        }
        item = { li: document.createElement("li"), parts: [line.slice(m[0].length)] };
        list.appendChild(item.li);
      } else if (line[0] === ">") {
        endBlocks();
        box.appendChild(inlineBlock("blockquote", line.slice(1).replace(/^\s/, "")));
      } else if (RE_RULE.test(line.trim())) {
        endBlocks();
        box.appendChild(document.createElement("hr"));
      } else if (item) {
        item.parts.push(line);
      } else {
        para.push(line);
      }
    }
    endBlocks();
    host.appendChild(box);
  }

