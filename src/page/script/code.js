  /* ---------- Code view ---------- */

  // Lines are cut into blocks of this many, each laid out only when near the visible part of the pane
  // (styles.css, .cb), so a mebibyte shows at once and the rest costs nothing until it is scrolled to.
  const CODE_BLOCK = 100;
  // The line height the styles give code lines.
  const CODE_LINE_PX = @CODE_LINE_PX@;
  // Blocks this near the visible part are coloured and, when lines wrap, drawn line by line.
  const CODE_NEAR = "800px 0px";
  // The work done for blocks coming into view in one task, in milliseconds.
  const CODE_SLICE_MS = 8;
  // A block longer than this (one line of minified code, say) stays plain: colouring it would hold the
  // page for longer than a frame.
  const CODE_COLOUR_MAX = 65536;

  /* Languages by extension, by a few well-known names, and by the program a script's first line names.
     Each is a grammar that cmake/highlight.cmake takes into the page. */
  const CODE_LANGUAGES = new Map([
    ["c", "c"], ["h", "c"], ["cc", "cpp"], ["cpp", "cpp"], ["cxx", "cpp"], ["hpp", "cpp"], ["hh", "cpp"],
    ["hxx", "cpp"], ["cs", "csharp"], ["go", "go"], ["rs", "rust"], ["java", "java"], ["kt", "kotlin"],
    ["kts", "kotlin"], ["js", "javascript"], ["mjs", "javascript"], ["cjs", "javascript"], ["jsx", "javascript"],
    ["ts", "typescript"], ["tsx", "typescript"], ["mts", "typescript"], ["py", "python"], ["rb", "ruby"],
    ["php", "php"], ["sh", "bash"], ["bash", "bash"], ["zsh", "bash"], ["ps1", "powershell"], ["psm1", "powershell"],
    ["sql", "sql"], ["html", "xml"], ["htm", "xml"], ["xml", "xml"], ["xhtml", "xml"], ["svg", "xml"],
    ["css", "css"], ["json", "json"], ["yml", "yaml"], ["yaml", "yaml"], ["toml", "ini"], ["ini", "ini"],
    ["cfg", "ini"], ["conf", "ini"], ["properties", "ini"], ["md", "markdown"], ["markdown", "markdown"],
    ["diff", "diff"], ["patch", "diff"], ["mk", "makefile"], ["mak", "makefile"], ["cmake", "cmake"],
    ["pl", "perl"], ["pm", "perl"], ["dockerfile", "dockerfile"]
  ]);
  const CODE_NAMES = new Map([
    ["makefile", "makefile"], ["gnumakefile", "makefile"], ["dockerfile", "dockerfile"], ["containerfile", "dockerfile"],
    ["cmakelists.txt", "cmake"], ["nginx.conf", "nginx"], ["lighttpd.conf", "lighttpd"]
  ]);
  const CODE_SHEBANGS = [[/\b(?:ba|z|k|da)?sh\b/, "bash"], [/\bpython/, "python"], [/\bperl\b/, "perl"],
    [/\bruby\b/, "ruby"], [/\b(?:node|deno|bun)\b/, "javascript"], [/\bphp\b/, "php"], [/\bpwsh\b/, "powershell"]];

  // The configuration of the node's own web server, in the highlighter's terms: comments, strings,
  // $HTTP["..."] conditions and dotted option names.
  hljs.registerLanguage("lighttpd", function (h) {
    return {
      name: "lighttpd",
      contains: [h.HASH_COMMENT_MODE, h.QUOTE_STRING_MODE, h.NUMBER_MODE,
        { scope: "variable", match: /\$[A-Z_]+/ },
        { scope: "keyword", match: /\b(?:include|include_shell|var|env|else)\b/ },
        { scope: "attr", match: /\b[a-z][a-z0-9_-]*(?:\.[a-z0-9_-]+)+/ },
        { scope: "operator", match: /==|!=|=~|!~|\+=|:=|=>/ }]
    };
  });

  // The language of a file: its name, a configuration in a folder named after its server, its
  // extension, then its first line; "" for plain text.
  function codeLanguage(path, text) {
    const name = path.slice(Math.max(path.lastIndexOf("/"), path.lastIndexOf("\\")) + 1).toLowerCase();
    const dot = name.lastIndexOf(".");
    const ext = dot < 0 ? "" : name.slice(dot + 1);
    let lang = CODE_NAMES.get(name) || "";
    if (!lang && ext === "conf") {
      const m = /(nginx|lighttpd)[^\\/]*[\\/][^\\/]*$/i.exec(path);
      lang = m ? m[1].toLowerCase() : "";
    }
    if (!lang && /^dockerfile\./.test(name)) lang = "dockerfile";
    if (!lang) lang = CODE_LANGUAGES.get(ext) || "";
    if (!lang && text.startsWith("#!")) {
      const first = text.slice(0, text.indexOf("\n") >>> 0);
      for (const [re, l] of CODE_SHEBANGS) {
        if (re.test(first)) {
          lang = l;
          break;
        }
      }
    }
    return lang && hljs.getLanguage(lang) ? lang : "";
  }

  /* The highlighter's output taken as pieces [text, class] rather than as markup, so that file content
     reaches the document only as text nodes; the class names the outer scope (h-keyword, h-string). */
  class CodePieces {
    constructor() {
      this.pieces = [];
      this.scopes = [];
    }
    addText(text) {
      if (text !== "") this.pieces.push([text, this.scopes.length ? this.scopes[this.scopes.length - 1] : ""]);
    }
    startScope(scope) {
      this.openNode(scope);
    }
    endScope() {
      this.closeNode();
    }
    openNode(scope) {
      const outer = this.scopes.length ? this.scopes[this.scopes.length - 1] : "";
      const name = typeof scope === "string" && scope.indexOf("language:") !== 0 ? "h-" + scope.split(/[.\s]/)[0] : "";
      this.scopes.push(name || outer);
    }
    closeNode() {
      this.scopes.pop();
    }
    __addSublanguage(inner) {
      const outer = this.scopes.length ? this.scopes[this.scopes.length - 1] : "";
      for (const [text, cls] of inner.pieces) this.pieces.push([text, cls || outer]);
    }
    finalize() {
      this.scopes = [];
    }
    toHTML() {
      return "";
    }
  }
  hljs.configure({ __emitter: CodePieces, ignoreUnescapedHTML: true });

  function highlightPieces(text, language) {
    try {
      return hljs.highlight(text, { language: language, ignoreIllegals: true })._emitter.pieces;
    } catch (e) {
      return null;
    }
  }

  // The pieces of a block from ANSI runs [start, end, classes, colour, background] over its text.
  function runPieces(text, runs) {
    const pieces = [];
    let at = 0;
    for (const r of runs) {
      if (r[0] > at) pieces.push([text.slice(at, r[0]), ""]);
      pieces.push([text.slice(r[0], r[1]), r[2], r[3], r[4]]);
      at = r[1];
    }
    if (at < text.length) pieces.push([text.slice(at), ""]);
    return pieces;
  }

  function pieceNode(piece) {
    if (!piece[1] && !piece[2] && !piece[3]) return document.createTextNode(piece[0]);
    const s = el("span", piece[1], piece[0]);
    if (piece[2]) s.style.color = piece[2];
    if (piece[3]) s.style.backgroundColor = piece[3];
    return s;
  }

  // The pieces cut at line feeds: one array of pieces per line.
  function piecesByLine(pieces) {
    const out = [[]];
    for (const p of pieces) {
      const parts = p[0].split("\n");
      parts.forEach(function (part, i) {
        if (i > 0) out.push([]);
        if (part !== "") out[out.length - 1].push([part, p[1], p[2], p[3]]);
      });
    }
    return out;
  }

  /* codeView(how) is the pane's view of a text, filled a piece at a time: how.first is the number of its
     first line (0: lines are not numbered, nothing says where the text starts), how.language the
     grammar that colours it ("" for none), how.wrap whether long lines wrap, how.scroller the element
     that scrolls it, how.lineClicked(n, shift) what a click on a line number does. Its add(text, runs)
     appends lines (text ends with a line feed unless it ends the file; runs are ANSI runs over it); drop(max)
     lets go of the first blocks until at most max characters remain and says the height that went;
     mark(range) marks lines [first, last] (null: none); lineTop(n) is where line n lies in the box;
     setWrap(on) changes how long lines show. The blocks near the view are coloured and drawn line by line
     as they come near; the rest stay two text nodes each. */
  function codeView(how) {
    const box = el("div", "codetxt");
    const numbered = how.first > 0;
    if (!numbered) box.classList.add("nonum");
    box.classList.toggle("wrap", !!how.wrap);
    const blocks = [];
    const byEl = new WeakMap();
    let next = how.first || 1;
    let chars = 0;
    let wrap = !!how.wrap;
    let marked = null;
    let queue = [];
    let queued = false;
    const near = new IntersectionObserver(function (entries) {
      for (const e of entries) {
        const b = byEl.get(e.target);
        b.near = e.isIntersecting;
        if (b.near && !b.painted) queue.push(b);
      }
      drain();
    }, { root: how.scroller, rootMargin: CODE_NEAR });

    function drain() {
      if (queued || !queue.length) return;
      const until = performance.now() + CODE_SLICE_MS;
      while (queue.length && performance.now() < until) {
        const b = queue.shift();
        if (b.near && !b.painted && b.el.isConnected) paint(b);
      }
      if (!queue.length) return;
      queued = true;
      setTimeout(function () {
        queued = false;
        drain();
      }, 0);
    }

    function digits() {
      box.style.setProperty("--digits", String(Math.max(next - 1, 1)).length + "ch");
    }

    function numbers(b) {
      const nums = [];
      for (let i = b.first; i < b.first + b.count; i++) nums.push(i);
      return nums.join("\n");
    }

    // The block as two text nodes, the cheap form every block starts in.
    function plain(b) {
      b.el.textContent = "";
      b.el.classList.remove("w");
      if (numbered) b.el.appendChild(el("div", "ln", numbers(b)));
      b.el.appendChild(el("div", "tx", b.text));
    }

    function pieces(b) {
      if (b.runs && b.runs.length) return runPieces(b.text, b.runs);
      if (how.language && b.text.length <= CODE_COLOUR_MAX) return highlightPieces(b.text, how.language);
      return null;
    }

    function paint(b) {
      b.painted = true;
      const ps = pieces(b);
      if (wrap) {
        const rows = ps ? piecesByLine(ps) : b.text.split("\n").map(function (l) {
          return l === "" ? [] : [[l, ""]];
        });
        const frag = document.createDocumentFragment();
        rows.slice(0, b.count).forEach(function (row, i) {
          const line = el("div", "l");
          if (numbered) line.appendChild(el("span", "n", String(b.first + i)));
          const t = el("span", "t");
          for (const p of row) t.appendChild(pieceNode(p));
          line.appendChild(t);
          frag.appendChild(line);
        });
        b.el.textContent = "";
        b.el.classList.add("w");
        b.el.appendChild(frag);
      } else if (ps) {
        const tx = el("div", "tx");
        for (const p of ps) tx.appendChild(pieceNode(p));
        b.el.replaceChild(tx, b.el.querySelector(".tx"));
      }
      markBlock(b);
    }

    function makeBlock(text, runs, count) {
      const b = { el: el("div", "cb"), text: text, runs: runs, first: next, count: count, painted: false, near: false };
      b.el.style.containIntrinsicSize = "auto " + count * CODE_LINE_PX + "px";
      byEl.set(b.el, b);
      plain(b);
      next += count;
      chars += text.length;
      return b;
    }

    // The runs that fall in [from, to) of the text they were made over, counted from from.
    function runsIn(runs, from, to) {
      const out = [];
      for (const r of runs) {
        if (r[1] <= from || r[0] >= to) continue;
        out.push([Math.max(r[0], from) - from, Math.min(r[1], to) - from, r[2], r[3], r[4]]);
      }
      return out;
    }

    function add(text, runs) {
      if (text === "") return;
      // A last block not yet full takes the new lines first, so a log that grows a line at a time
      // does not become a block per line.
      const last = blocks[blocks.length - 1];
      if (last && last.count < CODE_BLOCK && last.nl) {
        const shift = last.text.length + 1;
        runs = (last.runs || []).concat((runs || []).map(function (r) {
          return [r[0] + shift, r[1] + shift, r[2], r[3], r[4]];
        }));
        text = last.text + "\n" + text;
        next = last.first;
        chars -= last.text.length;
        blocks.pop();
        near.unobserve(last.el);
        last.el.remove();
      }
      const frag = document.createDocumentFragment();
      let pos = 0;
      while (pos < text.length) {
        let end = pos;
        let count = 0;
        while (count < CODE_BLOCK && end < text.length) {
          const nl = text.indexOf("\n", end);
          count++;
          end = nl < 0 ? text.length : nl + 1;
        }
        // A block's text leaves out the line feed that ends its last line.
        const nl = text.charCodeAt(end - 1) === 10;
        const b = makeBlock(text.slice(pos, nl ? end - 1 : end), runs && runs.length ? runsIn(runs, pos, end) : null, count);
        b.nl = nl;
        blocks.push(b);
        frag.appendChild(b.el);
        watch(b);
        pos = end;
      }
      box.appendChild(frag);
      digits();
    }

    // Only a block that is drawn differently near the view is watched: a plain text that does not wrap
    // costs no observer at all.
    function watch(b) {
      if (b.watched || !(wrap || how.language || (b.runs && b.runs.length))) return;
      b.watched = true;
      near.observe(b.el);
    }

    function drop(max) {
      let gone = 0;
      while (chars > max && blocks.length > 1) {
        const b = blocks.shift();
        gone += b.el.offsetHeight;
        chars -= b.text.length;
        near.unobserve(b.el);
        b.el.remove();
      }
      return gone;
    }

    function markBlock(b) {
      const old = b.el.querySelector(".mk");
      if (old && !wrap) old.remove();
      if (wrap) {
        let i = b.first;
        for (const line of b.el.children) {
          line.classList.toggle("mk", !!marked && i >= marked[0] && i <= marked[1]);
          i++;
        }
        return;
      }
      if (!marked || marked[1] < b.first || marked[0] >= b.first + b.count) return;
      const from = Math.max(marked[0], b.first);
      const to = Math.min(marked[1], b.first + b.count - 1);
      const mk = el("div", "mk");
      mk.style.top = (from - b.first) * CODE_LINE_PX + "px";
      mk.style.height = (to - from + 1) * CODE_LINE_PX + "px";
      b.el.appendChild(mk);
    }

    function mark(range) {
      const was = marked;
      marked = range;
      for (const b of blocks) {
        const end = b.first + b.count - 1;
        const touched = (r) => r && r[0] <= end && r[1] >= b.first;
        if (touched(was) || touched(range)) markBlock(b);
      }
    }

    function blockOf(n) {
      for (const b of blocks) if (n >= b.first && n < b.first + b.count) return b;
      return null;
    }

    // Where line n starts, in pixels from the top of the pane (the blocks' offset parent); a block drawn
    // line by line is asked.
    function lineTop(n) {
      const b = blockOf(n);
      if (!b) return -1;
      if (b.el.classList.contains("w")) return b.el.offsetTop + b.el.children[n - b.first].offsetTop;
      return b.el.offsetTop + (n - b.first) * CODE_LINE_PX;
    }

    function setWrap(on) {
      wrap = on;
      box.classList.toggle("wrap", on);
      queue = [];
      for (const b of blocks) {
        watch(b);
        if (b.painted) {
          b.painted = false;
          plain(b);
        }
        if (b.near) queue.push(b);
      }
      drain();
    }

    // A click on a line's number: the number under the pointer.
    box.addEventListener("click", function (ev) {
      if (!numbered || !how.lineClicked) return;
      const t = ev.target;
      const cb = t.closest(".cb");
      const b = cb && byEl.get(cb);
      if (!b) return;
      let n = 0;
      if (t.classList.contains("n")) n = Number(t.textContent);
      else if (t.classList.contains("ln")) n = b.first + Math.floor((ev.clientY - t.getBoundingClientRect().top) / CODE_LINE_PX);
      if (n >= b.first && n < b.first + b.count) how.lineClicked(n, ev.shiftKey);
    });

    return {
      box: box, add: add, drop: drop, mark: mark, lineTop: lineTop, setWrap: setWrap,
      lines: function () {
        return next - (how.first || 1);
      },
      first: function () {
        return blocks.length ? blocks[0].first : how.first || 1;
      },
      next: function () {
        return next;
      },
      paintFirst: function () {
        if (blocks.length && !blocks[0].painted) {
          blocks[0].near = true;
          paint(blocks[0]);
        }
      },
      stop: function () {
        near.disconnect();
        queue = [];
      }
    };
  }
