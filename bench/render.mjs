// The page in Chromium over a listing of 5000 entries: how long drawing the list takes, from the answer
// parsed to the next frame, and how long one arrow-key step takes, from the keydown to the next frame.
// Frames are not held back to the display's rate, so "the next frame" is the first one the browser can
// make. Also checks that the rows after the steps are exactly what drawing the list anew would give.
// Usage: node bench/render.mjs PAGE-URL
import { chromium } from 'playwright-core';

const PAGE = process.argv[2];
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
} finally {
  await browser.close();
}
