// The preview of a mebibyte of text and of Markdown in Chromium, beside a reference page that only sets
// the same text, measured in the same run: from the read answer parsed to the first frame, to the frame
// after the last change of the document, and the longest task in between (the browser names only tasks
// over 50 ms). Frames are not held back to the display's rate. Each preview opens in a fresh page.
// Usage: node bench/render-preview.mjs DIR NAME=PAGE-URL...   (DIR holds text.log and doc.md and is the
// pages' first root; the first page's origin serves /reference-text.html)
import { chromium } from 'playwright-core';

const DIR = process.argv[2];
const PAGES = process.argv.slice(3).map((arg) => arg.split(/=(.*)/s).slice(0, 2));
const RUNS = 5;
const STILL_MS = 1000;
const ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
  '--disable-component-update', '--disable-sync', '--disable-frame-rate-limit', '--disable-gpu-vsync'];

// Runs in the page before its script: from a read answer parsed, every frame until the document has been
// still for STILL_MS, the time of each change in the document, and every task over 50 ms.
function instrument(still) {
  window.__read = null;
  window.__frames = [];
  window.__changes = [];
  window.__tasks = [];
  new PerformanceObserver((list) => list.getEntries().forEach((e) => window.__tasks.push([e.startTime, e.duration])))
    .observe({ type: 'longtask' });
  new MutationObserver(() => window.__changes.push(performance.now()))
    .observe(document, { childList: true, subtree: true, characterData: true, attributes: true });
  const frames = () => requestAnimationFrame(() => {
    const ch = new MessageChannel();
    ch.port1.onmessage = () => {
      const now = performance.now();
      window.__frames.push(now);
      if (now - Math.max(window.__changes[window.__changes.length - 1] ?? 0, window.__read) < still) frames();
    };
    ch.port2.postMessage(0);
  });
  const json = Response.prototype.json;
  Response.prototype.json = function () {
    return json.call(this).then((v) => {
      if (v && typeof v.text === 'string') {
        window.__read = performance.now();
        frames();
      }
      return v;
    });
  };
}

// One preview in a fresh page: opens url, lets show() bring the file up, waits until the frames stop.
async function measure(browser, url, show) {
  const page = await browser.newPage({ viewport: { width: 1280, height: 760 } });
  try {
    await page.addInitScript(instrument, STILL_MS);
    await page.goto(url);
    await show(page);
    await page.waitForFunction((still) => {
      const f = window.__frames;
      return window.__read !== null && f.length > 0 &&
        f[f.length - 1] - Math.max(window.__changes[window.__changes.length - 1] ?? 0, window.__read) >= still;
    }, STILL_MS, { timeout: 60000 });
    return await page.evaluate(() => {
      const at = window.__read;
      const last = Math.max(at, ...window.__changes.filter((c) => c >= at));
      // The task that parsed the answer counts from the answer on: the reference parses it too.
      const tasks = window.__tasks.filter(([start, len]) => start + len >= at).map(([start, len]) => start + len - Math.max(start, at));
      return { first: window.__frames[0] - at, complete: window.__frames.find((f) => f > last) - at, task: Math.max(0, ...tasks) };
    });
  } finally {
    await page.close();
  }
}

function preview(name) {
  return async (page) => {
    await page.waitForFunction((n) => [...document.querySelectorAll('#entries .row .nm')].some((e) => e.textContent === n), name);
    await page.click(`#entries .row:has-text("${name}")`);
  };
}

const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];
const show = (name, ms, note) => console.log(`${name.padEnd(44)} ${ms.toFixed(2).padStart(8)} ms  ${note}`);

const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ARGS });
try {
  const reference = `${new URL(PAGES[0][1]).origin}/reference-text.html?path=`;
  for (const [file, figure, target] of [['text.log', 'first', '<= 100 ms'], ['doc.md', 'complete', '<= 500 ms']]) {
    const ref = [];
    const runs = PAGES.map(() => []);
    for (let i = 0; i < RUNS; i++) {
      ref.push(await measure(browser, reference + encodeURIComponent(`${DIR}/${file}`), async () => {}));
      for (const [k, [, url]] of PAGES.entries()) runs[k].push(await measure(browser, url, preview(file)));
    }
    const base = median(ref.map((r) => r[figure]));
    show(`1 MiB ${file}, answer to ${figure === 'first' ? 'first frame' : 'last change'}: reference`, base, `median of ${RUNS}`);
    for (const [k, [name]] of PAGES.entries()) {
      const mine = median(runs[k].map((r) => r[figure]));
      show(`  ${name}`, mine, `${(mine / base).toFixed(2)}x the reference  (target ${target})`);
      show(`  ${name}: longest task while it draws`, median(runs[k].map((r) => r.task)), '(target <= 50 ms; 0: none over 50 ms)');
    }
  }
} finally {
  await browser.close();
}
