// Theme and frame: where the theme comes from, the toggle, embed mode, the theme protocol with a host
// page, the screen widths, reduced motion and a browser that refuses storage.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { describe, test } from 'node:test';
import { HUB, HUB_HTDOCS, NODE_A, assertClean, listed, open, toastText, until, useBrowser, view } from './lib.mjs';

useBrowser();
const PAGE = `${NODE_A}/plugin_files`;
const BG = { dark: 'rgb(0, 0, 0)', light: 'rgb(245, 245, 247)' };

function theme(page) {
  return page.evaluate(() => [document.documentElement.dataset.theme, getComputedStyle(document.body).backgroundColor,
    localStorage.getItem('kiv_theme')]);
}

describe('Where the theme comes from', () => {
  const SYSTEMS = {
    dark: { colorScheme: 'dark' },
    light: { colorScheme: 'light' },
    'light but no matchMedia': { colorScheme: 'light', init: () => { window.matchMedia = undefined; } },
    'light but a throwing matchMedia': { colorScheme: 'light', init: () => { window.matchMedia = () => { throw new Error('no'); }; } },
  };
  // query, stored theme, system, resulting theme (which is then stored)
  const CASES = [
    ['?theme=light', 'dark', 'dark', 'light'],
    ['?a=b&theme=dark', 'light', 'light', 'dark'],
    ['?theme=darker', 'light', 'light', 'dark'],
    ['?theme=Light', 'light', 'dark', 'light'],
    ['?theme=Light', null, 'light', 'light'],
    ['?xtheme=light', null, 'dark', 'dark'],
    ['', 'light', 'dark', 'light'],
    ['', 'bogus', 'light', 'light'],
    ['', null, 'light', 'light'],
    ['', null, 'light but no matchMedia', 'dark'],
    ['', null, 'light but a throwing matchMedia', 'dark'],
  ];
  for (const [query, stored, system, expected] of CASES) {
    test(`"${query}" with ${stored} stored and a ${system} system gives ${expected}`, async () => {
      const t = await open(PAGE + query, { ...SYSTEMS[system], storage: stored && { kiv_theme: stored }, wait: false });
      assert.deepEqual(await theme(t.page), [expected, BG[expected], expected]);
      await t.close();
    });
  }

  test('a theme from the URL is kept for the next visit without it', async () => {
    const t = await open(`${PAGE}?theme=light`, { storage: { kiv_theme: 'dark' }, wait: false });
    await t.page.goto(PAGE);
    assert.deepEqual(await theme(t.page), ['light', BG.light, 'light']);
    await t.close();
  });
});

describe('Changing the theme', () => {
  test('the toggle switches, stores and announces; the active or an unknown theme changes nothing', async () => {
    const t = await open(PAGE, {
      // Records what the page posts to its parent, which for a top-level page is itself.
      init: () => {
        window.__posted = [];
        const post = window.postMessage.bind(window);
        window.postMessage = (m, ...rest) => { window.__posted.push(m); post(m, ...rest); };
      },
    });
    await t.page.evaluate(() => { window.__events = []; addEventListener('kiv-theme', (e) => window.__events.push(e.detail)); });
    await t.page.click('#btnTheme');
    assert.deepEqual(await theme(t.page), ['light', BG.light, 'light']);
    await t.page.click('#btnTheme');
    assert.deepEqual(await theme(t.page), ['dark', BG.dark, 'dark']);
    const quiet = await t.page.evaluate(() => {
      localStorage.setItem('kiv_theme', 'untouched');
      window.zvApplyTheme('dark');
      window.zvApplyTheme('blue');
      window.zvApplyTheme();
      const seen = [window.zvTheme()];
      document.documentElement.setAttribute('data-theme', 'sepia');
      seen.push(window.zvTheme());
      document.documentElement.removeAttribute('data-theme');
      seen.push(window.zvTheme());
      window.zvApplyTheme('dark');
      return [localStorage.getItem('kiv_theme'), window.__events, seen, window.__posted];
    });
    assert.deepEqual(quiet, ['dark', ['light', 'dark', 'dark'], ['dark', 'dark', 'dark'], []]);
    await t.close();
  });

  test('"zv-theme" messages are followed from the opener only, not from the page itself or another window', async () => {
    fs.writeFileSync(path.join(HUB_HTDOCS, 'opener.html'), `<!DOCTYPE html>
<meta charset="utf-8"><title>opener</title>
<iframe id="other" srcdoc="<p>another window</p>"></iframe>
`);
    const t = await open(`${HUB}/opener.html`, { wait: false });
    const [popup] = await Promise.all([t.context.waitForEvent('page'),
      t.page.evaluate(() => { window.w = window.open('/plugins?plugin=files&node=a'); })]);
    await listed(popup, 'home');
    await popup.evaluate(() => {
      window.__events = [];
      window.__probes = [];
      addEventListener('kiv-theme', (e) => window.__events.push(e.detail));
      addEventListener('message', (e) => { if (e.data.type === 'probe') window.__probes.push(e.data.from); });
      // Each sender's theme, then its probe: once the probe is in, the theme before it has been seen.
      for (const m of ['zv-theme', { type: 'other', theme: 'light' }, { type: 'zv-theme', theme: 'light' }, { type: 'probe', from: 'self' }]) {
        window.postMessage(m, '*');
      }
    });
    await t.page.evaluate(() => {
      const other = document.getElementById('other').contentWindow;
      other.eval("parent.w.postMessage({ type: 'zv-theme', theme: 'light' }, '*'); parent.w.postMessage({ type: 'probe', from: 'frame' }, '*');");
    });
    await until(popup, () => window.__probes.length === 2);
    const ignored = await popup.evaluate(() => [document.documentElement.dataset.theme, window.__events]);
    await t.page.evaluate(() => {
      for (const theme of ['Light', 'light']) window.w.postMessage({ type: 'zv-theme', theme }, '*');
    });
    await until(popup, () => document.documentElement.dataset.theme === 'light');
    assert.deepEqual([ignored, await popup.evaluate(() => window.__events)], [['dark', []], ['light']]);
    await t.close();
  });
});

describe('Embedding', () => {
  const CASES = [['?embed=1', true], ['?embed=true', true], ['?a=b&embed=1&c=d', true], ['?embed=10', false],
    ['?embed=yes', false], ['?embed=', false], ['?xembed=1', false]];
  test('embed=1 or embed=true hides only the theme button', async () => {
    const t = await open(PAGE, { wait: false });
    for (const [query, embedded] of CASES) {
      await t.page.goto(PAGE + query);
      const shown = await t.page.evaluate(() => [document.documentElement.className,
        [...document.querySelectorAll('button.icon')].filter((b) => b.checkVisibility()).map((b) => b.id)]);
      const buttons = ['btnUp', 'btnRefresh', 'btnHelp', 'btnHidden', ...(embedded ? [] : ['btnTheme']), 'btnDownload', 'btnSizes', 'sortDesc', 'btnGrid', 'btnZip'];
      assert.deepEqual([query, ...shown], [query, embedded ? 'embedded' : '', buttons]);
    }
    await t.close();
  });

  test('a framed page asks its host once for the theme and follows every answer', async () => {
    fs.writeFileSync(path.join(HUB_HTDOCS, 'host.html'), `<!DOCTYPE html>
<meta charset="utf-8"><title>host</title>
<script>
window.requests = [];
addEventListener('message', (e) => {
  if (e.data && e.data.type === 'zv-theme-request') {
    window.requests.push(e.data);
    e.source.postMessage({ type: 'zv-theme', theme: 'light' }, '*');
  }
});
</script>
<iframe id="f" src="/plugins?plugin=files&node=a&embed=1" width="1000" height="600"></iframe>
`);
    const t = await open(`${HUB}/host.html`, { wait: false });
    const frame = () => t.page.frame({ url: /\/plugins\?/ });
    await until(t.page, () => document.getElementById('f').contentDocument?.documentElement.dataset.theme === 'light');
    await listed(frame(), 'home');
    await frame().evaluate(() => { window.__events = []; addEventListener('kiv-theme', (e) => window.__events.push(e.detail)); });
    await t.page.evaluate(() => {
      const w = document.getElementById('f').contentWindow;
      for (const theme of ['dark', 'dark', 'blue', 'light']) w.postMessage({ type: 'zv-theme', theme }, '*');
    });
    await until(frame(), () => window.__events.length === 2);
    assert.deepEqual(await frame().evaluate(() => [window.__events, document.documentElement.className, localStorage.getItem('kiv_theme')]),
      [['dark', 'light'], 'embedded', 'light']);
    assert.deepEqual(await t.page.evaluate(() => window.requests), [{ type: 'zv-theme-request' }]);
    await t.close();
  });
});

describe('Screen widths and motion', () => {
  // width, side column, preview column over listing column (null: main pane not shown), back button shown
  const WIDTHS = [[1280, 252, 1.15, false], [1101, 252, 1.15, false], [1100, 216, 1, false], [821, 216, 1, false], [820, 820, null, false]];
  test('two panes down to 821px, with the side column narrower from 1100px; one pane at 820px', async () => {
    const t = await open(PAGE, { width: WIDTHS[0][0], wait: false });
    for (const [width, side, ratio, back] of WIDTHS) {
      await t.page.setViewportSize({ width, height: 760 });
      const got = await t.page.evaluate(() => {
        const w = (s) => document.querySelector(s).getBoundingClientRect().width;
        const main = getComputedStyle(document.querySelector('#main')).display !== 'none';
        return [w('#side'), main ? Math.round(w('.preview') / w('.listwrap') * 100) / 100 : null,
          main && getComputedStyle(document.querySelector('#btnBack')).display !== 'none'];
      });
      assert.deepEqual([width, ...got], [width, side, ratio, back]);
    }
    await t.close();
  });

  for (const [motion, duration] of [['reduce', '0s'], ['no-preference', '0.16s']]) {
    test(`with ${motion} motion the toast fades over ${duration}`, async () => {
      const t = await open(PAGE, { reducedMotion: motion });
      await listed(t.page, 'home');
      await t.page.click('#btnUp');
      assert.equal(await toastText(t.page), 'Already at the root');
      assert.equal(await t.page.$eval('#toast', (e) => getComputedStyle(e).transitionDuration), duration);
      await t.close();
    });
  }
});

describe('Refused storage', () => {
  test('a browser that refuses localStorage still gets a working page with a working theme', async () => {
    const t = await open(`${PAGE}?node=a`, {
      colorScheme: 'light',
      init: () => Object.defineProperty(window, 'localStorage', {
        configurable: true, get() { throw new DOMException('refused', 'SecurityError'); },
      }),
    });
    await listed(t.page, 'home');
    assert.equal((await view(t.page)).count, '9 items');
    assert.equal(await t.page.evaluate(() => document.documentElement.dataset.theme), 'light');
    await t.page.click('#btnTheme');
    assert.equal(await t.page.evaluate(() => document.documentElement.dataset.theme), 'dark');
    await assertClean(t);
    await t.close();
  });
});
