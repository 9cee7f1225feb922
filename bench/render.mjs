// The page in Chromium over a listing of RENDER_ROWS entries (default 5000; a folder of more comes in
// answers of 5000), beside a reference page that only sets the names as one text (and, for the filter,
// only takes keys into a text field), measured in the same run:
// - the listing: from its first answer parsed to the first frame that shows rows and to the frame after
//   the last row, and the longest task while it draws (the browser names only tasks over 50 ms);
// - one arrow-key step and one filter keystroke: the main thread's work for it, and the time from the
//   keydown to the next frame.
// Frames are not held back to the display's rate, so "the next frame" is the first the browser can make.
// Also checks that the rows after the steps are exactly what drawing the list anew would give.
// Usage: node bench/render.mjs NAME=PAGE-URL...   (each a build of the page; the first serves the reference)
import { chromium } from 'playwright-core';

const PAGES = process.argv.slice(2).map((arg) => arg.split(/=(.*)/s).slice(0, 2));
const ROWS = Number(process.env.RENDER_ROWS || 5000);
// A folder of many answers takes seconds to load whole, so it is drawn fewer times.
const DRAWS = ROWS > 5000 ? 3 : 10;
const STEPS = 60;
const KEYSTROKES = 20;
const ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
  '--disable-component-update', '--disable-sync', '--disable-frame-rate-limit', '--disable-gpu-vsync'];

// Runs in the page before its script: marks when a listing's first answer is parsed, the frames after it that show the first rows and all of them, and the frame after each key (a message posted from the frame's
// callback arrives after its paint).
function instrument(rows) {
  const afterNextFrame = (record) => requestAnimationFrame(() => {
    const ch = new MessageChannel();
    ch.port1.onmessage = () => record(performance.now());
    ch.port2.postMessage(0);
  });
  // The page draws the rows where the list stands: all it can show are there once the count says all
  // entries are in. An older build, which kept every row in groups, has drawn them when they are there.
  const drawn = () => {
    const list = document.getElementById('entries');
    const ref = document.getElementById('ref');
    const n = list ? list.getElementsByClassName('row').length : 0;
    const counted = list && document.getElementById('count').textContent === `${rows} items`;
    const all = n === rows || (n > 0 && counted && !list.querySelector('.grp'));
    return { some: n > 0 || (ref && ref.textContent !== ''), all: all || (ref && ref.textContent !== '') };
  };
  const mark = (v) => {
    if (v && Array.isArray(v.entries) && !v.from) {
      const at = performance.now();
      let first = 0;
      const watch = () => afterNextFrame((end) => {
        const d = drawn();
        if (d.some && !first) first = end - at;
        if (d.all) window.__draws.push({ at, first, all: end - at });
        else watch();
      });
      // Whatever draws the answer runs in the task that parsed it, before this frame.
      watch();
    }
    return v;
  };
  // Parsed by the page from the answer's bytes, or (an older build) by the browser's own reader.
  const parse = JSON.parse;
  JSON.parse = (text) => mark(parse(text));
  const json = Response.prototype.json;
  Response.prototype.json = function () {
    return json.call(this).then(mark);
  };
  window.__draws = [];
  window.__steps = [];
  window.__tasks = [];
  new PerformanceObserver((list) => window.__tasks.push(...list.getEntries().map((e) => ({ start: e.startTime, duration: e.duration }))))
    .observe({ type: 'longtask', buffered: true });
  addEventListener('keydown', (ev) => {
    afterNextFrame((end) => window.__steps.push(end - ev.timeStamp));
  }, true);
}

// The reference: the same answers, their names set as one text once all have come; a key sets one name,
// and a key typed into its text field does nothing more than the browser's own editing, the share of a
// filter keystroke that no page can save.
const REFERENCE = `<!DOCTYPE html><html><body><input id="typed"><pre id="ref"></pre><span id="sel"></span><script>
  let names = [];
  let i = 0;
  const part = (from, got) => fetch(location.search.slice(1) + (from ? '&from=' + from : '')).then((r) => r.text())
    .then((t) => { const a = JSON.parse(t); got.push(...a.entries.map((e) => e.name));
      return got.length < Math.min(a.total || 0, a.max || 0) && a.entries.length ? part(got.length, got) : got; });
  window.draw = () => part(0, []).then((all) => {
    names = all;
    document.getElementById('ref').textContent = '';
    document.getElementById('ref').textContent = names.join('\\n');
  });
  addEventListener('keydown', (ev) => { if (ev.target.id !== 'typed') document.getElementById('sel').textContent = names[++i % names.length]; });
  draw();
</script></body></html>`;

const stats = (xs) => {
  const s = [...xs].sort((a, b) => a - b);
  return { median: s[Math.floor(s.length / 2)], max: s[s.length - 1] };
};

// Draws the listing DRAWS times: the page's refresh button, or the reference's draw.
async function listingDraws(page, redraw) {
  await page.waitForFunction(() => window.__draws.length === 1);
  for (let i = 1; i < DRAWS; i++) {
    await redraw();
    await page.waitForFunction((n) => window.__draws.length === n, i + 1);
  }
  return page.evaluate(() => {
    const last = window.__draws.map((d) => d.at + d.all);
    return { first: window.__draws.map((d) => d.first), all: window.__draws.map((d) => d.all),
      task: Math.max(0, ...window.__tasks.filter((t) => window.__draws.some((d, i) => t.start < last[i] && t.start + t.duration > d.at))
        .map((t) => t.duration)) };
  });
}

// Each key's time to the next frame, and its work: the page's main thread busy from the task that
// dispatches the keydown to the end of the task that paints the frame after it (from a trace), which
// leaves out the time the thread waits for the compositor to ask for that frame.
async function keySteps(page, keys) {
  const cdp = await page.context().newCDPSession(page);
  const events = [];
  cdp.on('Tracing.dataCollected', (d) => events.push(...d.value));
  const traced = new Promise((resolve) => cdp.once('Tracing.tracingComplete', resolve));
  await cdp.send('Tracing.start', { categories: 'devtools.timeline,toplevel', transferMode: 'ReportEvents' });
  const before = await page.evaluate(() => window.__steps.length);
  for (let i = 0; i < keys.length; i++) {
    await page.keyboard.press(keys[i]);
    await page.waitForFunction((n) => window.__steps.length === n, before + i + 1);
  }
  await cdp.send('Tracing.end');
  await traced;
  await cdp.detach();
  return { latency: await page.evaluate((n) => window.__steps.slice(n), before), work: keyWork(events) };
}

function keyWork(events) {
  const complete = events.filter((e) => e.ph === 'X');
  const keydowns = complete.filter((e) => e.name === 'EventDispatch' && e.args.data && e.args.data.type === 'keydown');
  const onThread = complete.filter((e) => e.pid === keydowns[0].pid && e.tid === keydowns[0].tid);
  const tasks = onThread.filter((e) => e.name === 'ThreadControllerImpl::RunTask').sort((a, b) => a.ts - b.ts);
  const paints = onThread.filter((e) => e.name === 'Paint').sort((a, b) => a.ts - b.ts);
  const taskAt = (ts) => tasks.find((t) => t.ts <= ts && ts <= t.ts + t.dur);
  return keydowns.sort((a, b) => a.ts - b.ts).map((key, i, all) => {
    const from = taskAt(key.ts);
    const paint = paints.find((p) => p.ts > key.ts && (i + 1 === all.length || p.ts < all[i + 1].ts));
    const end = paint ? taskAt(paint.ts) : from;
    return tasks.filter((t) => t.ts >= from.ts && t.ts <= end.ts).reduce((sum, t) => sum + t.dur, 0) / 1000;
  });
}

// The rows after the steps, against the listing drawn anew (sorted by size and back by name, which keeps
// the selection): every row both hold is the same, and the same one row is selected.
async function sameAsFreshDraw(page) {
  const rows = () => page.$$eval('#entries .row', (rs) => rs.map((r) => [r.querySelector('.nm').textContent, r.outerHTML]));
  const stepped = await rows();
  await page.selectOption('#sort', 'size');
  await page.selectOption('#sort', 'name');
  const fresh = await rows();
  const before = new Map(stepped);
  const sel = (rs) => rs.filter((r) => r[1].includes(' sel"')).map((r) => r[0]).join();
  if (sel(stepped).split(',').length !== 1 || sel(stepped) !== sel(fresh) ||
    fresh.some(([name, html]) => before.has(name) && before.get(name) !== html)) {
    throw new Error('the rows after the key steps differ from a fresh draw of the list');
  }
}

// The page under test: the listing, arrow-key steps and, where the page has one, filter keystrokes.
// A folder of many answers loads for seconds on a busy machine.
const TIMEOUT_MS = 300000;

async function listingFigures(browser, url) {
  const page = await browser.newPage({ viewport: { width: 1280, height: 760 } });
  page.setDefaultTimeout(TIMEOUT_MS);
  await page.addInitScript(instrument, ROWS);
  await page.goto(url);
  const draws = await listingDraws(page, () => page.click('#btnRefresh'));
  const steps = await keySteps(page, Array(STEPS).fill('ArrowDown'));
  await sameAsFreshDraw(page);
  let filter = null;
  if (await page.$('#filter')) {
    await page.focus('#filter');
    filter = await keySteps(page, Array(KEYSTROKES).fill(['1', 'Backspace']).flat());
  }
  await page.close();
  return { ...draws, steps, filter };
}

async function referenceFigures(browser, url) {
  const page = await browser.newPage({ viewport: { width: 1280, height: 760 } });
  page.setDefaultTimeout(TIMEOUT_MS);
  const origin = new URL(url).origin;
  const ls = `/plugin_files?action=ls&path=${encodeURIComponent(process.env.RENDER_DIR || '')}`;
  await page.route((u) => u.pathname === '/render-reference', (route) => route.fulfill({ contentType: 'text/html', body: REFERENCE }));
  await page.addInitScript(instrument, ROWS);
  await page.goto(`${origin}/render-reference?${ls}`);
  const draws = await listingDraws(page, () => page.evaluate(() => window.draw()));
  const steps = await keySteps(page, Array(STEPS).fill('ArrowDown'));
  await page.focus('#typed');
  const filter = await keySteps(page, Array(KEYSTROKES).fill(['1', 'Backspace']).flat());
  await page.close();
  return { ...draws, steps, filter };
}

function report(name, f, ref) {
  const row = (what, xs, refXs, target) => {
    if (!xs) return console.log(`  ${what.padEnd(34)}   (none on this page)`);
    const s = stats(xs);
    const ratio = s.median / stats(refXs).median;
    console.log(`  ${what.padEnd(34)} ${s.median.toFixed(2).padStart(7)} ms  max ${s.max.toFixed(2).padStart(7)} ms` +
      `  ${ratio.toFixed(2).padStart(6)}x reference${target ? `  (target ${target})` : ''}`);
  };
  console.log(name);
  row(`${ROWS} rows: answer to first rows`, f.first, ref.first, '<= 100 ms');
  row(`${ROWS} rows: answer to all rows`, f.all, ref.all, ROWS > 5000 ? '' : '<= 300 ms');
  const task = f.task ? `${f.task.toFixed(0).padStart(7)} ms` : '   none over 50 ms';
  console.log(`  ${'longest task while drawing'.padEnd(34)} ${task}  (target <= 50 ms)`);
  row('arrow-key step: work', f.steps.work, ref.steps.work, '< 8 ms');
  row('arrow-key step: to next frame', f.steps.latency, ref.steps.latency, '');
  row('filter keystroke: work', f.filter && f.filter.work, ref.filter.work, '< 16 ms');
  row('filter keystroke: to next frame', f.filter && f.filter.latency, ref.filter.latency, '');
}

const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ARGS });
try {
  const ref = await referenceFigures(browser, PAGES[0][1]);
  report('reference (names set as one text, keys typed into a bare field)', ref, ref);
  for (const [name, url] of PAGES) report(name, await listingFigures(browser, url), ref);
} finally {
  await browser.close();
}
