// The page in Chromium over a listing of 5000 entries: how long drawing the list takes, from the answer
// parsed to the next frame, and how long one arrow-key step takes, from the keydown to the next frame.
// Frames are not held back to the display's rate, so "the next frame" is the first one the browser can
// make. Also checks that the rows after the steps are exactly what drawing the list anew would give.
// Then the preview of a mebibyte of text and of Markdown: from the read answer parsed to the first frame,
// to the frame after the last change of the pane, and the longest task in between; a reference page that
// only sets the same text is measured in the same run.
// Usage: node bench/render.mjs PAGE-URL LARGE-ROOT
import { chromium } from 'playwright-core';

const PAGE = process.argv[2];
const LARGE = process.argv[3];
const PREVIEWS = 5;
const DRAWS = 10;
const STEPS = 60;
const ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
  '--disable-component-update', '--disable-sync', '--disable-frame-rate-limit', '--disable-gpu-vsync'];

// Runs in the page before its script: marks when a listing's answer is parsed and when the frame after
// a listing or a key has been made (a message posted from the frame's callback arrives after its paint).
function instrument() {
  const afterNextFrame = (record) => requestAnimationFrame(() => {
    const ch = new MessageChannel();
    ch.port1.onmessage = () => record(performance.now());
    ch.port2.postMessage(0);
  });
  const json = Response.prototype.json;
  Response.prototype.json = function () {
    return json.call(this).then((v) => {
      if (v && Array.isArray(v.entries)) {
        const at = performance.now();
        afterNextFrame((end) => window.__draws.push(end - at));
      }
      return v;
    });
  };
  window.__draws = [];
  window.__steps = [];
  addEventListener('keydown', (ev) => {
    afterNextFrame((end) => window.__steps.push(end - ev.timeStamp));
  }, true);
}

const stats = (xs) => {
  const s = [...xs].sort((a, b) => a - b);
  return { median: s[Math.floor(s.length / 2)], max: s[s.length - 1] };
};
const line = (name, ms, target) =>
  console.log(`${name.padEnd(36)} ${ms.median.toFixed(2).padStart(6)} ms    (target ${target})  median of the runs, max ${ms.max.toFixed(2)} ms`);

// Runs in the page before its script: from a read answer parsed, every frame until the pane has been
// still for a while, the time of each change in the document, and every task over 50 ms.
function instrumentPreview() {
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
      const last = window.__changes[window.__changes.length - 1] ?? 0;
      if (now - Math.max(last, window.__read) < 1000) frames();
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

// One preview: opens url, lets open() make the pane show the file, then waits until it has been still.
async function measurePreview(browser, url, open) {
  const page = await browser.newPage({ viewport: { width: 1280, height: 760 } });
  try {
    await page.addInitScript(instrumentPreview);
    await page.goto(url);
    await open(page);
    await page.waitForFunction(() => window.__read !== null);
    await page.waitForFunction(() => {
      const f = window.__frames;
      return f.length && f[f.length - 1] - Math.max(window.__changes[window.__changes.length - 1] ?? 0, window.__read) >= 1000;
    }, null, { timeout: 60000 });
    return await page.evaluate(() => {
      const at = window.__read;
      const lastChange = Math.max(at, ...window.__changes.filter((c) => c >= at));
      // The task that parsed the answer counts from the answer on: parsing is the reference's cost too.
      const tasks = window.__tasks.filter(([start, len]) => start + len >= at).map(([start, len]) => start + len - Math.max(start, at));
      return {
        first: window.__frames[0] - at,
        complete: window.__frames.find((f) => f > lastChange) - at,
        task: Math.max(0, ...tasks),
      };
    });
  } finally {
    await page.close();
  }
}

async function openInPage(page, name) {
  await page.waitForSelector('#roots .root');
  await page.click('#roots .root:nth-child(2)');
  await page.waitForFunction((n) => [...document.querySelectorAll('#entries .row .nm')].some((e) => e.textContent === n), name);
  await page.click(`#entries .row:has-text("${name}")`);
}

async function previewFigures(browser) {
  const origin = new URL(PAGE).origin;
  const cases = [['text.log', 'first frame'], ['doc.md', 'complete']];
  for (const [name, figure] of cases) {
    const ours = [];
    const ref = [];
    for (let i = 0; i < PREVIEWS; i++) {
      ref.push(await measurePreview(browser, `${origin}/reference-text.html?path=${encodeURIComponent(`${LARGE}/${name}`)}`, () => {}));
      ours.push(await measurePreview(browser, PAGE, (page) => openInPage(page, name)));
    }
    const key = figure === 'first frame' ? 'first' : 'complete';
    const target = figure === 'first frame' ? '<= 100 ms' : '<= 500 ms';
    const [mine, theirs] = [stats(ours.map((r) => r[key])), stats(ref.map((r) => r[key]))];
    line(`preview 1 MiB ${name} (${figure})`, mine, target);
    line(`  reference page setting its text`, theirs, 'none');
    console.log(`${'  ratio to the reference'.padEnd(36)} ${(mine.median / theirs.median).toFixed(2).padStart(6)}x`);
    line(`  longest task while it draws`, stats(ours.map((r) => r.task)), '<= 50 ms');
  }
}

const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ARGS });
try {
  const page = await browser.newPage({ viewport: { width: 1280, height: 760 } });
  await page.addInitScript(instrument);
  await page.goto(PAGE);
  await page.waitForFunction(() => document.querySelector('#count')?.textContent === '5000 items' && window.__draws.length === 1);
  for (let i = 1; i < DRAWS; i++) {
    await page.click('#btnRefresh');
    await page.waitForFunction((n) => window.__draws.length === n, i + 1);
  }
  const drawn = await page.$$eval('#entries .row', (rs) => rs.map((r) => r.outerHTML));
  for (let i = 0; i < STEPS; i++) {
    await page.keyboard.press('ArrowDown');
    await page.waitForFunction((n) => window.__steps.length === n, i + 1);
  }
  const fresh = drawn.map((html, i) => {
    const plain = html.replace(' sel"', '"');
    return i === STEPS ? plain.replace(/^<button class="([^"]*)"/, '<button class="$1 sel"') : plain;
  });
  const now = await page.$$eval('#entries .row', (rs) => rs.map((r) => r.outerHTML));
  if (now.length !== fresh.length || now.some((h, i) => h !== fresh[i])) {
    throw new Error('the rows after the key steps differ from a fresh draw of the list');
  }
  const { draws, steps } = await page.evaluate(() => ({ draws: window.__draws, steps: window.__steps }));
  line('draw 5000 rows (answer to frame)', stats(draws), 'none');
  line('arrow-key step in 5000 rows', stats(steps), '< 16 ms');
  await previewFigures(browser);
} finally {
  await browser.close();
}
