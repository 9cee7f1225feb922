  /* ---------- JSON ---------- */

  // A tree opens this many of its members at first, then more on request; levels open by themselves
  // while fewer members than this have been drawn.
  const JSON_SHOW = 500;
  const JSON_OPEN = 2000;

  // Numbers keep the digits written: a reviver that is told the source keeps a number that a double
  // cannot hold exactly as its text.
  function jsonParse(text) {
    return JSON.parse(text, function (key, value, context) {
      if (typeof value === "number" && context && typeof context.source === "string" && String(value) !== context.source) {
        return { jsonNumber: context.source };
      }
      return value;
    });
  }

  function isNum(v) {
    return v !== null && typeof v === "object" && typeof v.jsonNumber === "string" && Object.keys(v).length === 1;
  }

  function showJson(text, answer, p) {
    let value;
    try {
      if (answer.truncated === true) throw new Error("the file is larger than the 1 MB a preview reads");
      value = jsonParse(text);
    } catch (err) {
      showText(text, answer, p);
      p.host.insertBefore(note("Shown as text: " + errText(err)), p.host.firstChild);
      return;
    }
    showRich(text, answer, p, function (host) {
      const box = el("div", "json");
      const budget = { left: JSON_OPEN };
      box.appendChild(jsonNode(null, value, true, budget));
      host.appendChild(box);
    });
  }

  function jsonScalar(v) {
    if (isNum(v)) return el("span", "j-num", v.jsonNumber);
    if (typeof v === "string") return el("span", "j-str", JSON.stringify(v));
    if (typeof v === "number") return el("span", "j-num", String(v));
    if (typeof v === "boolean") return el("span", "j-bool", String(v));
    return el("span", "j-null", "null");
  }

  // One member: its key, then its value; an object or array folds behind a button.
  function jsonNode(key, v, last, budget) {
    const line = el("div", "jl");
    const head = el("div", "jh");
    line.appendChild(head);
    const keyEl = key === null ? null : el("span", "j-key", JSON.stringify(key) + ": ");
    const open = v !== null && typeof v === "object" && !isNum(v);
    if (!open) {
      if (keyEl) head.appendChild(keyEl);
      head.appendChild(jsonScalar(v));
      if (!last) head.appendChild(document.createTextNode(","));
      budget.left--;
      return line;
    }
    const list = Array.isArray(v);
    const keys = list ? null : Object.keys(v);
    const size = list ? v.length : keys.length;
    const fold = el("button", "jt");
    fold.type = "button";
    head.appendChild(fold);
    if (keyEl) head.appendChild(keyEl);
    head.appendChild(document.createTextNode(list ? "[" : "{"));
    const summary = el("span", "j-sum", " " + size + (list ? (size === 1 ? " item " : " items ") : (size === 1 ? " key " : " keys ")));
    const close = (list ? "]" : "}") + (last ? "" : ",");
    const tail = document.createTextNode(close);
    head.appendChild(summary);
    head.appendChild(tail);
    const body = el("div", "jb");
    const end = el("div", "je", close);
    let shown = 0;

    function more() {
      const stop = Math.min(size, shown + JSON_SHOW);
      const frag = document.createDocumentFragment();
      for (; shown < stop; shown++) {
        const k = list ? null : keys[shown];
        frag.appendChild(jsonNode(k, list ? v[shown] : v[k], shown === size - 1, budget));
      }
      const old = body.querySelector(":scope > .jmore");
      if (old) old.remove();
      body.appendChild(frag);
      if (shown < size) {
        const b = el("button", "jmore pill", "Show " + Math.min(JSON_SHOW, size - shown) + " more of " + (size - shown));
        b.type = "button";
        b.addEventListener("click", more);
        body.appendChild(b);
      }
    }

    function setOpen(on) {
      fold.setAttribute("aria-expanded", on ? "true" : "false");
      fold.setAttribute("aria-label", on ? "Fold" : "Unfold");
      fold.textContent = on ? "\u25be" : "\u25b8";
      summary.classList.toggle("hidden", on || size === 0);
      tail.data = on && size ? "" : close;
      body.classList.toggle("hidden", !on);
      end.classList.toggle("hidden", !on || size === 0);
      if (on && shown === 0 && size) more();
    }
    fold.addEventListener("click", function () {
      setOpen(fold.getAttribute("aria-expanded") !== "true");
    });
    line.appendChild(body);
    line.appendChild(end);
    budget.left--;
    setOpen(budget.left > 0 && size > 0);
    return line;
  }
