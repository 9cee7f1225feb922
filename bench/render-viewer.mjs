// The viewer's heavier kinds in Chromium, beside reference pages that only set the same text, measured in
// the same run (the reference pages are written by bench/render into the node's static files):
// - 1 MiB of C highlighted, 1 MiB of CSV as a table and a 1 MiB hostile Markdown document: from the read
//   answer parsed to the first frame, to the frame after the last change, and the longest task between;
// - a 4 GiB sparse file's bytes: a jump to its middle, from the range answer to the rows drawn;
// - Follow on a log growing by 1 MB a second for 60 s: reads a second and the longest task.
// Usage: node bench/render-viewer.mjs DIR NAME=PAGE-URL...   (DIR is the pages' first root and gets the files)
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

// Runs in the page before its script: the read answer parsed, every frame until the document is still,
// each change, every task over 50 ms, and when a ranged raw answer's bytes arrive.
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

async function click(page, name) {
  await page.waitForFunction((n) => [...document.querySelectorAll('#entries .row .nm')].some((e) => e.textContent === n), name);
  await page.click(`#entries .row:has-text("${name}")`);
}

// A preview from its answer: first frame, last change, longest task. The reference shows the text at once.
async function drawn(browser, url, name) {
  const page = await fresh(browser, url);
  try {
    if (name) await click(page, name);
    await page.waitForFunction((still) => {
      const f = window.__frames;
      return window.__read !== null && f.length > 0 &&
        f[f.length - 1] - Math.max(window.__changes[window.__changes.length - 1] ?? 0, window.__read) >= still;
    }, STILL_MS, { timeout: 60000 });
    return await page.evaluate(() => {
      const at = window.__read;
      const last = Math.max(at, ...window.__changes.filter((c) => c >= at));
      const tasks = window.__tasks.filter(([s, l]) => s + l >= at).map(([s, l]) => s + l - Math.max(s, at));
      return { first: window.__frames[0] - at, complete: window.__frames.find((f) => f > last) - at, task: Math.max(0, ...tasks) };
    });
  } finally {
    await page.close();
  }
}

// The hex view's jump to the middle of the file: from the answer of the range that holds it to the rows.
async function jump(browser, url, reference) {
  const page = await fresh(browser, url);
  try {
    if (!reference) await click(page, 'bytes.bin');
    await page.waitForSelector('#prevBody .hexbar input');
    const middle = 2 * 1024 * MIB;
    const want = middle.toString(16).padStart(9, '0');
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
      await click(page, 'grow.log');
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
const show = (name, v, unit, note) => console.log(`${name.padEnd(52)} ${v.toFixed(2).padStart(9)} ${unit.padEnd(3)} ${note}`);

files();
const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ARGS });
try {
  const reference = `${ORIGIN}/reference-text.html?path=`;
  for (const [file, figure, target] of [['code.c', 'first', '<= 100 ms'], ['table.csv', 'first', '<= 100 ms'],
    ['hostile.md', 'complete', '<= 500 ms']]) {
    const ref = [];
    const runs = PAGES.map(() => []);
    for (let i = 0; i < RUNS; i++) {
      ref.push(await drawn(browser, reference + encodeURIComponent(`${DIR}/${file}`), ''));
      for (const [k, [, url]] of PAGES.entries()) runs[k].push(await drawn(browser, url, file));
    }
    const base = median(ref.map((r) => r[figure]));
    show(`1 MiB ${file}, answer to ${figure === 'first' ? 'first frame' : 'last change'}: reference`, base, 'ms', `median of ${RUNS}`);
    for (const [k, [name]] of PAGES.entries()) {
      const mine = median(runs[k].map((r) => r[figure]));
      show(`  ${name}`, mine, 'ms', `${(mine / base).toFixed(2)}x the reference  (target ${target})`);
      show(`  ${name}: longest task until still`, median(runs[k].map((r) => r.task)), 'ms', '(target <= 50 ms; 0: none over 50 ms)');
    }
  }
  const refJump = [];
  const jumps = PAGES.map(() => []);
  for (let i = 0; i < RUNS; i++) {
    refJump.push(await jump(browser, `${ORIGIN}/reference-hex.html?path=${encodeURIComponent(`${DIR}/bytes.bin`)}`, true));
    for (const [k, [, url]] of PAGES.entries()) jumps[k].push(await jump(browser, url, false));
  }
  const base = median(refJump.map((r) => r.jump));
  show('4 GiB bytes, range answer to its rows drawn: reference', base, 'ms', `median of ${RUNS}`);
  for (const [k, [name]] of PAGES.entries()) {
    const mine = median(jumps[k].map((r) => r.jump));
    show(`  ${name}`, mine, 'ms', `${(mine / Math.max(base, 0.01)).toFixed(2)}x the reference  (target <= 100 ms)`);
  }
  const ref = await follow(browser, `${ORIGIN}/reference-follow.html?path=${encodeURIComponent(`${DIR}/grow.log`)}`, true);
  show(`follow, 1 MB/s for ${FOLLOW_S} s: reference reads a second`, ref.rate, '/s', '');
  show('  reference: longest task', ref.task, 'ms', '(0: none over 50 ms)');
  const mine = await follow(browser, PAGES[0][1], false);
  show(`  ${PAGES[0][0]}: reads a second`, mine.rate, '/s', '(target <= 1)');
  show(`  ${PAGES[0][0]}: longest task`, mine.task, 'ms', '(target <= 50 ms; 0: none over 50 ms)');
  show(`  ${PAGES[0][0]}: characters kept in the pane`, mine.shown / 1000, 'k', '(at most about 1 MiB)');
} finally {
  await browser.close();
}
