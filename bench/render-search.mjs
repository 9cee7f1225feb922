// A search's results streamed into the page in Chromium, beside a reference page that only appends the same
// answer's text as it comes, measured in the same run: 10,000 names (find) and 10,000 lines of 100 files
// (grep), each search typed into the filter RUNS times. For each: from the first chunk of the answer that
// holds a match to the frame after the first results show, and to the frame after the last; and the longest
// task of the page's main thread from the request to that frame (from a trace, so tasks under 50 ms count
// too). Frames are not held back to the display's rate.
// Usage: node bench/render-search.mjs DIR NAME=PAGE-URL...   (DIR, the pages' root, is made here: names/
// and texts/; the node must let a search send 10,000 matches)
import fs from 'node:fs';
import path from 'node:path';
import { chromium } from 'playwright-core';

const DIR = process.argv[2];
const PAGES = process.argv.slice(3).map((arg) => arg.split(/=(.*)/s).slice(0, 2));
const RUNS = 5;
const FOLDERS = 100;
const EACH = 100;
const ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
  '--disable-component-update', '--disable-sync', '--disable-frame-rate-limit', '--disable-gpu-vsync'];

// 100 folders of 100 photos each, named as cameras name them, and 100 logs of 100 lines that say "timeout"
// among lines that do not.
function trees() {
  for (let d = 0; d < FOLDERS; d++) {
    const dir = path.join(DIR, 'names', `2024-${String(1 + (d % 12)).padStart(2, '0')}-trip-${d}`);
    fs.mkdirSync(dir, { recursive: true });
    for (let f = 0; f < EACH; f++) fs.writeFileSync(path.join(dir, `IMG_2024${String(d * EACH + f).padStart(5, '0')}.jpg`), '');
  }
  fs.mkdirSync(path.join(DIR, 'texts'), { recursive: true });
  for (let d = 0; d < FOLDERS; d++) {
    let log = '';
    for (let l = 0; l < 2 * EACH; l++) {
      log += l % 2 ? `2024-03-05 14:07:${String(l % 60).padStart(2, '0')} WARN upstream ${d}.${l} timeout after ${l % 97} ms, retrying\n`
        : `2024-03-05 14:07:${String(l % 60).padStart(2, '0')} INFO request ${d}.${l} served in ${l % 97} ms\n`;
    }
    fs.writeFileSync(path.join(DIR, 'texts', `service-${d}.log`), log);
  }
}

const SEARCHES = [
  { name: 'find: 10,000 names', scope: 'find', dir: 'names', q: 'img_', matches: FOLDERS * EACH },
  { name: 'grep: 10,000 lines in 100 files', scope: 'grep', dir: 'texts', q: 'timeout', matches: FOLDERS * EACH },
];

// Runs in the page before its script: the first chunk of an answer that holds a match, then every frame
// until the page shows results, and until it holds all the search's matches (the page's count line says
// so once it has read them all, the rows in view drawn; the reference has appended them).
function instrument() {
  const afterNextFrame = (record) => requestAnimationFrame(() => {
    const ch = new MessageChannel();
    ch.port1.onmessage = () => record(performance.now());
    ch.port2.postMessage(0);
  });
  const shown = (all) => {
    const results = document.getElementById('results');
    if (!results) return window.refShown >= (all ? window.__run.matches : 1);
    return results.getElementsByClassName('row').length > 0 && (!all || (results.getAttribute('aria-busy') === 'false' &&
      document.getElementById('found').textContent.startsWith(`${window.__run.matches} found`)));
  };
  window.__run = null;
  const watch = () => requestAnimationFrame(() => {
    const run = window.__run;
    if (shown(false) && !run.firstAsked) {
      run.firstAsked = true;
      afterNextFrame((end) => { run.first = end - run.line; });
    }
    if (shown(true)) afterNextFrame((end) => { run.all = end - run.line; });
    else watch();
  });
  const read = ReadableStreamDefaultReader.prototype.read;
  const decoder = new TextDecoder();
  ReadableStreamDefaultReader.prototype.read = function () {
    return read.call(this).then((r) => {
      const run = window.__run;
      if (run && !run.line && !r.done && decoder.decode(r.value).includes('{"path"')) {
        run.line = performance.now();
        watch();
      }
      return r;
    });
  };
}

// The reference: the answer's text appended to the document as it comes, its matches counted.
const REFERENCE = `<!DOCTYPE html><html><body><pre id="ref"></pre><script>
  window.refShown = 0;
  window.search = (u) => fetch(u).then((res) => {
    const reader = res.body.getReader();
    const decoder = new TextDecoder();
    const ref = document.getElementById('ref');
    ref.textContent = '';
    window.refShown = 0;
    const pump = () => reader.read().then((r) => {
      if (r.done) return;
      const text = decoder.decode(r.value, { stream: true });
      ref.appendChild(document.createTextNode(text));
      window.refShown += text.split('{"path"').length - 1;
      return pump();
    });
    return pump();
  });
</script></body></html>`;

// The longest task on the page's main thread from the search's request on (the page is still after it):
// its time on the clock, and its time on the processor, which a machine busy with other work leaves as it is.
function longestTask(events, action) {
  const complete = events.filter((e) => e.ph === 'X');
  const frame = complete.find((e) => e.name === 'FireAnimationFrame') || complete.find((e) => e.name === 'FunctionCall');
  const sent = events.find((e) => e.name === 'ResourceSendRequest' && e.args.data && String(e.args.data.url).includes(`action=${action}`));
  const tasks = complete.filter((e) => e.name === 'ThreadControllerImpl::RunTask' && e.pid === frame.pid && e.tid === frame.tid &&
    e.ts >= sent.ts);
  return [Math.max(0, ...tasks.map((e) => e.dur / 1000)), Math.max(0, ...tasks.map((e) => (e.tdur ?? e.dur) / 1000))];
}

async function traced(page, act) {
  const cdp = await page.context().newCDPSession(page);
  const events = [];
  cdp.on('Tracing.dataCollected', (d) => events.push(...d.value));
  const done = new Promise((resolve) => cdp.once('Tracing.tracingComplete', resolve));
  await cdp.send('Tracing.start', { categories: 'devtools.timeline,toplevel', transferMode: 'ReportEvents' });
  await act();
  await cdp.send('Tracing.end');
  await done;
  await cdp.detach();
  return events;
}

async function measure(page, s, start, leave) {
  const figures = { first: [], all: [], task: [], cpu: [] };
  for (let i = 0; i < RUNS; i++) {
    await page.evaluate((n) => { window.__run = { matches: n, line: 0, first: 0, all: 0 }; }, s.matches);
    const events = await traced(page, async () => {
      await start();
      await page.waitForFunction(() => window.__run.all > 0, null, { timeout: 120000 });
    });
    const run = await page.evaluate(() => window.__run);
    figures.first.push(run.first);
    figures.all.push(run.all);
    const [task, cpu] = longestTask(events, s.scope);
    figures.task.push(task);
    figures.cpu.push(cpu);
    await leave();
  }
  return figures;
}

async function pageFigures(browser, url, s) {
  const page = await browser.newPage({ viewport: { width: 1280, height: 760 } });
  await page.addInitScript(instrument);
  await page.goto(`${url}#dir=${encodeURIComponent(path.join(DIR, s.dir))}`);
  await page.waitForSelector('#entries .row');
  const figures = await measure(page, s, async () => {
    await page.selectOption('#scope', s.scope);
    await page.fill('#filter', s.q);
    await page.press('#filter', 'Enter');
  }, async () => {
    await page.press('#filter', 'Escape');
    await page.waitForSelector('#entries .row');
  });
  await page.close();
  return figures;
}

async function referenceFigures(browser, url, s) {
  const page = await browser.newPage({ viewport: { width: 1280, height: 760 } });
  const origin = new URL(url).origin;
  await page.route((u) => u.pathname === '/search-reference', (route) => route.fulfill({ contentType: 'text/html', body: REFERENCE }));
  await page.addInitScript(instrument);
  await page.goto(`${origin}/search-reference`);
  const query = `/plugin_files?action=${s.scope}&path=${encodeURIComponent(path.join(DIR, s.dir))}&q=${s.q}`;
  const figures = await measure(page, s, () => page.evaluate((u) => { window.search(u); }, query), async () => {});
  await page.close();
  return figures;
}

const stats = (xs) => {
  const v = [...xs].sort((a, b) => a - b);
  return { median: v[Math.floor(v.length / 2)], max: v[v.length - 1] };
};

function report(name, f, ref) {
  console.log(`  ${name}`);
  const row = (what, xs, refXs, target) => {
    const s = stats(xs);
    console.log(`    ${what.padEnd(34)} ${s.median.toFixed(1).padStart(7)} ms  max ${s.max.toFixed(1).padStart(7)} ms` +
      `  ${(s.median / stats(refXs).median).toFixed(2).padStart(6)}x reference${target ? `  (target ${target})` : ''}`);
  };
  row('first line to first results', f.first, ref.first, '<= 100 ms');
  row('first line to all results', f.all, ref.all, '');
  row('longest task', f.task, ref.task, '<= 50 ms');
  row('longest task, processor time', f.cpu, ref.cpu, '<= 50 ms');
}

trees();
const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ARGS });
try {
  for (const s of SEARCHES) {
    console.log(s.name);
    const ref = await referenceFigures(browser, PAGES[0][1], s);
    report('reference (the answer appended as text)', ref, ref);
    for (const [name, url] of PAGES) report(name, await pageFigures(browser, url, s), ref);
  }
} finally {
  await browser.close();
}
