// The preview of a mebibyte of text, of Markdown, of C highlighted, of CSV as a table and of a hostile
// Markdown document in Chromium, beside a reference page that only sets the same text, measured in the
// same run: from the read answer parsed to the first frame, to the frame after the last change of the
// document, and the longest task in between (the browser names only tasks over 50 ms). Then the bytes of
// a 4 GiB sparse file: a jump to its middle, from the range answer to its rows drawn, beside a page that
// only writes those rows; and Follow on a log growing by 1 MB a second for 60 s (BENCH_FOLLOW_S): reads a
// second and the longest task, beside a page that only reads and appends. Frames are not held back to
// the display's rate. Each preview opens in a fresh page.
// Usage: node bench/render-preview.mjs DIR NAME=PAGE-URL...   (DIR holds text.log and doc.md, gets the
// other files and is the pages' first root, which raw must serve at any size; the first page's origin
// serves /reference-text.html, /reference-hex.html and /reference-follow.html from bench/reference/)
import fs from 'node:fs';
import path from 'node:path';
import { chromium } from 'playwright-core';

const DIR = process.argv[2];
const PAGES = process.argv.slice(3).map((arg) => arg.split(/=(.*)/s).slice(0, 2));
const ORIGIN = new URL(PAGES[0][1]).origin;
const RUNS = 5;
const STILL_MS = 1000;
const MIB = 1048576;
const FOLLOW_S = Number(process.env.BENCH_FOLLOW_S || 60);
const ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
  '--disable-component-update', '--disable-sync', '--disable-frame-rate-limit', '--disable-gpu-vsync'];

function files() {
  const src = path.join(path.dirname(new URL(import.meta.url).pathname), '..', 'src');
  const code = fs.readdirSync(src).filter((n) => /\.(cpp|h)$/.test(n)).map((n) => fs.readFileSync(path.join(src, n), 'utf8')).join('\n');
  fs.writeFileSync(path.join(DIR, 'code.c'), code.repeat(Math.ceil(MIB / code.length)).slice(0, MIB));
  let csv = 'id,name,city,amount,note\n';
  for (let i = 0; csv.length < MIB; i++) csv += `${i},"Name ${i}",City ${i % 97},${(i * 7.31).toFixed(2)},"a note, with ""quotes"" ${i}"\n`;
  fs.writeFileSync(path.join(DIR, 'table.csv'), csv);
  // What froze the page before: 40 KB of "see http://" and 40,000 ")", then nested brackets, emphasis
  // runs and a long table, to a mebibyte.
  let md = 'see http://'.repeat(3700) + ')'.repeat(40000) + '\n\n' + '['.repeat(100000) + ']'.repeat(100000) + '\n\n' +
    '*a'.repeat(100000) + '\n\n' + '![['.repeat(30000) + '\n\n| a | b |\n|---|---|\n';
  while (md.length < MIB) md += '| [x](y) **b** | `c` ' + ')'.repeat(20) + ' |\n';
  fs.writeFileSync(path.join(DIR, 'hostile.md'), md.slice(0, MIB));
  fs.closeSync(fs.openSync(path.join(DIR, 'bytes.bin'), 'w'));
  fs.truncateSync(path.join(DIR, 'bytes.bin'), 4 * 1024 * MIB);
  fs.writeFileSync(path.join(DIR, 'grow.log'), logLines(0, 100000));
}

function logLines(from, bytes) {
  let out = '';
  for (let i = from; out.length < bytes; i++) out += `2024-03-05 14:07:${String(i % 60).padStart(2, '0')} INFO request ${i} served in ${i % 97} ms\n`;
  return out;
}

// Runs in the page before its script: from a read answer parsed, every frame until the document has been
// still for STILL_MS, the time of each change in the document, and every task over 50 ms.
function instrument(still) {
  window.__read = null;
  window.__frames = [];
  window.__changes = [];
  window.__tasks = [];
  window.__ranges = [];
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
      if (v && typeof v.text === 'string' && window.__read === null) {
        window.__read = performance.now();
        frames();
      }
      return v;
    });
  };
  // When a ranged raw answer's bytes arrive.
  const buf = Response.prototype.arrayBuffer;
  Response.prototype.arrayBuffer = function () {
    const range = this.headers.get('Content-Range');
    return buf.call(this).then((v) => {
      if (range) window.__ranges.push([range, performance.now()]);
      return v;
    });
  };
}

async function fresh(browser, url) {
  const page = await browser.newPage({ viewport: { width: 1280, height: 760 } });
  await page.addInitScript(instrument, STILL_MS);
  await page.goto(url);
  return page;
}

// One preview in a fresh page: opens url, lets show() bring the file up, waits until the frames stop.
async function measure(browser, url, show) {
  const page = await fresh(browser, url);
  try {
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

// The hex view's jump to the middle of the file: from the answer of the range that holds it to the rows.
async function jump(browser, url, reference) {
  const page = await fresh(browser, url);
  try {
    if (!reference) await preview('bytes.bin')(page);
    await page.waitForSelector('#prevBody .hexbar input');
    const middle = 2 * 1024 * MIB;
    const want = middle.toString(16).padStart(8, '0');
    await page.evaluate((w) => {
      window.__drawn = null;
      new MutationObserver(() => {
        const t = document.querySelector('#prevBody .hexrows').textContent;
        if (window.__drawn === null && t.startsWith(w) && !t.includes('\u00b7')) window.__drawn = performance.now();
      }).observe(document.querySelector('#prevBody .hexrows'), { childList: true, characterData: true, subtree: true });
    }, want);
    await page.fill('#prevBody .hexbar input', '0x' + middle.toString(16));
    await page.press('#prevBody .hexbar input', 'Enter');
    await page.waitForFunction(() => window.__drawn !== null, null, { timeout: 20000 });
    return await page.evaluate((m) => {
      const r = window.__ranges.find(([range]) => range.startsWith(`bytes ${m}-`));
      return { jump: window.__drawn - r[1] };
    }, middle);
  } finally {
    await page.close();
  }
}

// Follow for FOLLOW_S seconds while the log grows by 1 MB a second (100 kB every 100 ms).
async function follow(browser, url, reference) {
  const page = await fresh(browser, url);
  let reads = 0;
  page.on('request', (r) => r.url().includes('action=read') && reads++);
  try {
    if (!reference) {
      await preview('grow.log')(page);
      await page.waitForSelector('#btnFollow:not(.hidden)');
      await page.keyboard.press('f');
      await page.waitForFunction(() => document.querySelector('#btnFollow').classList.contains('on'));
    }
    const start = Date.now();
    const startReads = reads;
    const t0 = await page.evaluate(() => performance.now());
    let n = 0;
    const timer = setInterval(() => fs.appendFileSync(path.join(DIR, 'grow.log'), logLines(n++ * 2000, 100000)), 100);
    await new Promise((done) => setTimeout(done, FOLLOW_S * 1000));
    clearInterval(timer);
    const secs = (Date.now() - start) / 1000;
    const task = await page.evaluate((t) => Math.max(0, ...window.__tasks.filter(([s]) => s >= t).map(([, l]) => l)), t0);
    const shown = reference ? 0 : await page.evaluate(() => document.querySelector('#prevBody .codetxt').textContent.length);
    return { rate: (reads - startReads) / secs, task, shown };
  } finally {
    await page.close();
    fs.writeFileSync(path.join(DIR, 'grow.log'), logLines(0, 100000));
  }
}

const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];
const show = (name, v, note, unit = 'ms') => console.log(`${name.padEnd(52)} ${v.toFixed(2).padStart(9)} ${unit.padEnd(3)} ${note}`);

files();
const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ARGS });
try {
  const reference = `${new URL(PAGES[0][1]).origin}/reference-text.html?path=`;
  for (const [file, figure, target] of [['text.log', 'first', '<= 100 ms'], ['doc.md', 'complete', '<= 500 ms'],
    ['code.c', 'first', '<= 100 ms'], ['table.csv', 'first', '<= 100 ms'], ['hostile.md', 'complete', '<= 500 ms']]) {
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
  // The bytes and Follow are new with the viewer: only this build has them.
  const [name, url] = PAGES[0];
  const refJump = [];
  const jumps = [];
  for (let i = 0; i < RUNS; i++) {
    refJump.push(await jump(browser, `${ORIGIN}/reference-hex.html?path=${encodeURIComponent(`${DIR}/bytes.bin`)}`, true));
    jumps.push(await jump(browser, url, false));
  }
  const base = median(refJump.map((r) => r.jump));
  const jumped = median(jumps.map((r) => r.jump));
  show('4 GiB bytes, range answer to its rows drawn: reference', base, `median of ${RUNS}`);
  show(`  ${name}`, jumped, `${(jumped / Math.max(base, 0.01)).toFixed(2)}x the reference  (target <= 100 ms)`);
  const ref = await follow(browser, `${ORIGIN}/reference-follow.html?path=${encodeURIComponent(`${DIR}/grow.log`)}`, true);
  show(`follow, 1 MB/s for ${FOLLOW_S} s: reference, reads a second`, ref.rate, '', '/s');
  show('  reference: longest task', ref.task, '(0: none over 50 ms)');
  const mine = await follow(browser, url, false);
  show(`  ${name}: reads a second`, mine.rate, '(target <= 1)', '/s');
  show(`  ${name}: longest task`, mine.task, '(target <= 50 ms; 0: none over 50 ms)');
  show(`  ${name}: characters kept in the pane`, mine.shown / 1000, '(at most about 1 MiB)', 'k');
} finally {
  await browser.close();
}
