// The grid of pictures in Chromium, served by the program behind lighttpd, over a folder of GRID_DIR's
// photos, beside a reference page that puts every thumbnail of the folder into a plain CSS grid of
// lazily loaded images (the browser's own way to load only what is near the view), measured in the same
// run, each draw in a fresh browser context so that no thumbnail comes from an earlier one:
// - the first screen: from the start of the navigation to the frame in which every tile in view shows
//   its thumbnail, loaded;
// - scrolling the grid from its top to its end, a screenful every frame: the longest task of the page's
//   main thread (from a trace, so tasks under 50 ms count too), and the number over 50 ms.
// Usage: GRID_DIR=DIR node bench/grid.mjs NAME=PAGE-URL...   (the first serves the reference)
import { chromium } from 'playwright-core';

const PAGES = process.argv.slice(2).map((arg) => arg.split(/=(.*)/s).slice(0, 2));
const DIR = process.env.GRID_DIR;
const DRAWS = Number(process.env.GRID_DRAWS || 5);
const ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
  '--disable-component-update', '--disable-sync'];
const TIMEOUT_MS = 120000;

// Runs in the page before its script: the time of the first frame in which every tile (or reference
// image) in view has its picture (a reference image that failed, as a busy node's 503 makes it, counts as done).
function instrument() {
  window.__firstScreen = 0;
  window.__long = 0;
  new PerformanceObserver((list) => { window.__long += list.getEntries().length; }).observe({ type: 'longtask' });
  const ready = () => {
    const host = document.getElementById('entries') || document.getElementById('ref');
    if (!host) return false;
    const box = host.getBoundingClientRect();
    const cells = [...host.querySelectorAll('.tile, .cell')].filter((c) => {
      const r = c.getBoundingClientRect();
      return r.bottom > box.top && r.top < box.bottom && r.height > 0;
    });
    return cells.length > 0 && cells.every((c) => {
      const img = c.querySelector('img');
      return c.classList.contains('tile') ? c.classList.contains('thumb') && img.complete : img.complete;
    });
  };
  const check = () => {
    if (ready()) window.__firstScreen = performance.now();
    else requestAnimationFrame(check);
  };
  requestAnimationFrame(check);
}

// The reference: the folder's listing, every picture's thumbnail a lazily loaded image in a grid of cells
// of the page's tile size.
const REFERENCE = `<!DOCTYPE html><html><head><style>
  html, body { margin: 0; height: 100%; }
  #ref { height: 100%; overflow-y: auto; display: grid; grid-template-columns: repeat(auto-fill, minmax(148px, 1fr)); grid-auto-rows: 172px; }
  .cell { display: flex; flex-direction: column; align-items: center; }
  .cell img { max-width: 128px; max-height: 128px; }
</style></head><body><div id="ref"></div><script>
  const q = new URLSearchParams(location.search);
  const dir = q.get('dir');
  fetch('/plugin_files?action=ls&path=' + encodeURIComponent(dir)).then((r) => r.json()).then((a) => {
    const ref = document.getElementById('ref');
    for (const e of a.entries) {
      const cell = ref.appendChild(document.createElement('div'));
      cell.className = 'cell';
      const img = cell.appendChild(document.createElement('img'));
      img.loading = 'lazy';
      img.src = '/plugin_files?action=thumb&size=128&path=' + encodeURIComponent(dir + '/' + e.name) + '&v=' + encodeURIComponent(e.size + '-' + e.mtime);
      cell.appendChild(document.createElement('span')).textContent = e.name;
    }
  });
</script></body></html>`;

const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];

// Scrolls the list from its top to its end, a screenful a frame, under a trace; the longest task of the
// thread that ran the frames.
async function scrollFigures(page) {
  const cdp = await page.context().newCDPSession(page);
  const events = [];
  cdp.on('Tracing.dataCollected', (d) => events.push(...d.value));
  const traced = new Promise((resolve) => cdp.once('Tracing.tracingComplete', resolve));
  await cdp.send('Tracing.start', { categories: 'devtools.timeline,toplevel', transferMode: 'ReportEvents' });
  const before = await page.evaluate(() => window.__long);
  await page.evaluate(() => new Promise((done) => {
    const host = document.getElementById('entries') || document.getElementById('ref');
    const step = () => {
      if (host.scrollTop + host.clientHeight >= host.scrollHeight - 1) return done();
      host.scrollTop += host.clientHeight;
      requestAnimationFrame(step);
    };
    requestAnimationFrame(step);
  }));
  const long = (await page.evaluate(() => window.__long)) - before;
  await cdp.send('Tracing.end');
  await traced;
  await cdp.detach();
  const complete = events.filter((e) => e.ph === 'X');
  const frame = complete.find((e) => e.name === 'FireAnimationFrame');
  const tasks = complete.filter((e) => e.name === 'ThreadControllerImpl::RunTask' && e.pid === frame.pid && e.tid === frame.tid);
  return { task: Math.max(...tasks.map((t) => t.dur)) / 1000, long };
}

async function figures(browser, url) {
  const first = [];
  const task = [];
  let long = 0;
  for (let i = 0; i < DRAWS; i++) {
    const context = await browser.newContext({ viewport: { width: 1280, height: 760 } });
    const page = await context.newPage();
    page.setDefaultTimeout(TIMEOUT_MS);
    if (url.reference) await page.route((u) => u.pathname === '/grid-reference', (route) => route.fulfill({ contentType: 'text/html', body: REFERENCE }));
    await page.addInitScript(instrument);
    await page.goto(url.href);
    await page.waitForFunction(() => window.__firstScreen > 0);
    first.push(await page.evaluate(() => window.__firstScreen));
    const s = await scrollFigures(page);
    task.push(s.task);
    long = Math.max(long, s.long);
    await context.close();
  }
  return { first, task, long };
}

function report(name, f, ref) {
  const line = (what, xs, refXs, target) => console.log(`  ${what.padEnd(40)} ${median(xs).toFixed(0).padStart(6)} ms  max ` +
    `${Math.max(...xs).toFixed(0).padStart(6)} ms  ${(median(xs) / median(refXs)).toFixed(2).padStart(6)}x reference  (target ${target})`);
  console.log(name);
  line('first screen of thumbnails complete', f.first, ref.first, '<= 1500 ms');
  line('scrolling: longest task', f.task, ref.task, '<= 50 ms');
  console.log(`  ${'scrolling: tasks over 50 ms (most in a draw)'.padEnd(40)} ${String(f.long).padStart(6)}`);
}

const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ARGS });
try {
  const origin = new URL(PAGES[0][1]).origin;
  const ref = await figures(browser, { href: `${origin}/grid-reference?dir=${encodeURIComponent(DIR)}`, reference: true });
  report('reference (every thumbnail a lazily loaded image in a CSS grid)', ref, ref);
  for (const [name, url] of PAGES) report(name, await figures(browser, { href: `${url}#dir=${encodeURIComponent(DIR)}` }), ref);
} finally {
  await browser.close();
}
