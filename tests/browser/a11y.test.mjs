// Accessibility: axe-core over every state of the page, in both themes at desktop and phone size; a walk
// done with the keyboard alone; the accessibility tree of a row, a toggle and the preview.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import { describe, test } from 'node:test';
import { HOME, NODE_A, NODE_B, listed, open, row, until, useBrowser, view } from './lib.mjs';

useBrowser();
const PAGE = `${NODE_A}/plugin_files`;
const AXE = fs.readFileSync(createRequire(import.meta.url).resolve('axe-core/axe.min.js'), 'utf8');
const TAGS = ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa', 'wcag22aa', 'best-practice'];
const themed = (address, theme) => address.replace(/(#|$)/, `?theme=${theme}$1`);
const at = (dir, file) => `${PAGE}#dir=${encodeURIComponent(dir)}${file ? `&file=${encodeURIComponent(file)}` : ''}`;
const VIEWER = `${HOME}/docs/viewer`;

// Waits until the previewed file's pane holds what its kind shows.
const shows = (page, selector) => until(page, (s) => document.querySelector(`#prevBody ${s}`), selector);
const searchDone = (page) => until(page, () => document.querySelector('#results').getAttribute('aria-busy') === 'false'
  && document.querySelector('#results [role=option]'));
const keys = async (page, ...list) => { for (const k of list) await page.keyboard.press(k); };

/**
 * The states of the page: [name, address, how to reach it from there once the page has loaded]. A
 * state a branch adds (search results, grid, lightbox) is one row more.
 */
export const STATES = [
  ['roots', PAGE, (p) => p.waitForSelector('#roots .root')],
  ['listing', at(HOME), (p) => listed(p, 'home')],
  ['empty folder', at(`${HOME}/empty`), (p) => listed(p, 'empty')],
  ['filter', `${PAGE}#dir=${encodeURIComponent(HOME)}&q=te`, (p) => until(p, () => document.querySelectorAll('#entries .row').length === 2)],
  ['text', at(`${HOME}/text`, 'notes.txt'), (p) => shows(p, '.codetxt')],
  ['code', at(VIEWER, 'code.c'), (p) => shows(p, '.codetxt .h-keyword')],
  ['markdown', at(VIEWER, 'links.md'), (p) => shows(p, '.md img')],
  ['image', at(`${HOME}/media`, 'pixel.png'), (p) => until(p, () => document.querySelector('#prevBody img')?.complete)],
  ['video', at(`${HOME}/media`, 'clip.webm'), (p) => shows(p, 'video')],
  ['audio', at(`${HOME}/media`, 'tone.wav'), (p) => shows(p, 'audio')],
  ['drawing', at(`${HOME}/media`, 'drawing.svg'), (p) => shows(p, 'img')],
  ['table', at(VIEWER, 'table.csv'), (p) => shows(p, '.csv')],
  ['json', at(VIEWER, 'data.json'), (p) => shows(p, '.json')],
  ['pdf', at(VIEWER, 'doc.pdf'), (p) => shows(p, 'iframe')],
  ['gzip', at(VIEWER, 'notes.txt.gz'), (p) => shows(p, '.codetxt')],
  ['bytes', at(`${HOME}/text`, 'data.bin'), (p) => shows(p, '.hex')],
  ['preview error', at(`${HOME}/text`, 'escape.txt'), (p) => shows(p, '.note')],
  // The toast goes after two seconds, which axe on a busy machine may outlast: it is held shown.
  ['listing error', at(`${HOME}/nowhere`), async (p) => {
    await p.waitForSelector('#toast.show');
    await p.evaluate(() => {
      const toast = document.querySelector('#toast');
      toast.classList.add('show');
      new MutationObserver(() => { if (!toast.classList.contains('show')) toast.classList.add('show'); }).observe(toast, { attributes: true });
    });
    await until(p, () => getComputedStyle(document.querySelector('#toast')).opacity === '1');
  }],
  ['selection bar', at(`${HOME}/text`), async (p) => {
    await listed(p, 'text');
    await p.focus('#entries');
    await keys(p, 'Space', 'Shift+ArrowDown', 'Shift+ArrowDown');
    await p.waitForSelector('#selbar:not(.hidden)');
  }],
  ['names found below', `${PAGE}#${new URLSearchParams({ dir: HOME, find: 'dee' })}`, (p) => searchDone(p)],
  ['lines found in files', `${PAGE}#${new URLSearchParams({ dir: HOME, grep: 'ND LI' })}`, (p) => searchDone(p)],
  ['grid', `${at(`${HOME}/media/photos`)}&view=grid`, (p) => until(p, () => document.querySelector('#entries .tile.thumb'))],
  ['lightbox', `${at(`${HOME}/media/photos`, 'tall.png')}&view=grid`,
    (p) => until(p, () => /\u00d7/.test(document.querySelector('#lbMeta').textContent))],
  ['password form', `${NODE_B}/plugin_files`, (p) => p.waitForSelector('#login:not(.hidden)')],
  ['help dialog', at(HOME), async (p) => {
    await listed(p, 'home');
    await p.keyboard.press('?');
    await p.waitForSelector('#help[open]');
  }],
];

const SIZES = [['desktop', 1280], ['phone', 390]];
const THEMES = ['dark', 'light'];

// The rules axe found broken, each with the elements it found.
async function violations(page) {
  await page.evaluate(AXE);
  return page.evaluate(async (tags) => {
    const res = await window.axe.run(document, { runOnly: { type: 'tag', values: tags }, resultTypes: ['violations'] });
    return res.violations.map((v) => `${v.id}: ${v.nodes.map((n) => `${n.target.join(' ')} (${n.any.concat(n.all).map((c) => c.message).join('; ')})`).join(', ')}`);
  }, TAGS);
}

describe('axe finds nothing', () => {
  for (const [size, width] of SIZES) {
    for (const theme of THEMES) {
      for (const [name, address, reach] of STATES) {
        test(`${name}, ${theme}, ${size}`, async (c) => {
          const t = await open(themed(address, theme), { width, wait: false });
          await reach(t.page);
          const found = await violations(t.page);
          c.diagnostic(`axe violations: ${found.length}`);
          assert.deepEqual(found, []);
          await t.close();
        });
      }
    }
  }
});

// Pointer events the person made, counted in the page: a walk done with the keys alone has none.
const COUNT_POINTER = () => {
  window.__pointer = 0;
  for (const type of ['pointerdown', 'mousedown', 'mouseup', 'click', 'wheel']) {
    addEventListener(type, (ev) => { if (ev.isTrusted && (type !== 'click' || ev.detail > 0)) window.__pointer++; }, true);
  }
};
const marked = (page) => page.$$eval('#entries .row[aria-selected=true] .nm', (ns) => ns.map((n) => n.textContent));
const typed = async (page, text) => { await page.keyboard.press('Control+f'); await page.keyboard.type(text); };
const rowsAre = (page, names) => until(page, (n) => JSON.stringify([...document.querySelectorAll('#entries .row:not(.hidden) .nm')]
  .map((e) => e.textContent)) === n, JSON.stringify(names));

describe('Keyboard alone', () => {
  test('open a root, filter, open a folder, preview a file, scroll it, mark three files, download them, go back', async () => {
    const t = await open(PAGE, { init: COUNT_POINTER });
    const k = (...list) => keys(t.page, ...list);
    await listed(t.page, 'home');
    await k('F6', 'Tab', 'Enter');
    await listed(t.page, 'second');
    await k('Shift+Tab', 'Enter');
    await listed(t.page, 'home');
    await typed(t.page, 'doc');
    await rowsAre(t.page, ['docs']);
    await k('Enter');
    await listed(t.page, 'docs');
    await typed(t.page, 'long');
    await k('Enter');
    await until(t.page, () => document.querySelector('#prevBody .codetxt'));
    await k('F6', 'F6', 'PageDown');
    await until(t.page, () => document.querySelector('#prevBody').scrollTop > 0);
    await k('Shift+F6');
    await typed(t.page, '.md');
    await rowsAre(t.page, ['anchors.md', 'big.md', 'pictures.md']);
    await k('F6', 'Home', 'Space', 'Shift+ArrowDown', 'Shift+ArrowDown');
    assert.deepEqual(await marked(t.page), ['anchors.md', 'big.md', 'pictures.md']);
    const zip = t.page.waitForRequest((r) => r.url().includes('action=zip'));
    await k('Tab', 'Enter');
    assert.equal(new URL((await zip).url()).search,
      `?action=zip&path=${encodeURIComponent(`${HOME}/docs`)}&name=anchors.md&name=big.md&name=pictures.md`);
    await k('Backspace');
    await listed(t.page, 'home');
    assert.equal(await t.page.evaluate(() => window.__pointer), 0);
    assert.equal(await t.page.isHidden('#selbar'), true);
    await t.close();
  });

  test('? opens the keys in a dialog that holds the focus, lists every key, and Escape closes', async () => {
    const t = await open(at(HOME));
    await listed(t.page, 'home');
    await t.page.keyboard.press('?');
    await t.page.waitForSelector('#help[open]');
    assert.equal(await t.page.evaluate(() => !!document.activeElement.closest('#help')), true);
    assert.deepEqual(await t.page.$$eval('#help tbody td:first-child', (ns) => ns.map((n) => n.textContent)), [
      '\u2191 \u2193', 'Page Up, Page Down', 'Home, End', 'Enter', 'Space', 'Shift + click', 'Ctrl (\u2318) + click',
      'Ctrl (\u2318) + A', 'Escape', 'Backspace', '/, Ctrl (\u2318) + F', 'w', 'f', 'z', 'g', 'F6, Shift + F6', 'Tab, Shift + Tab', '?']);
    await t.page.keyboard.press('ArrowDown');
    assert.equal((await view(t.page)).sel, 'deep');
    await t.page.keyboard.press('Escape');
    await until(t.page, () => !document.querySelector('#help').open);
    await t.close();
  });
});

// One node of the browser's accessibility tree: its role, name and the states asked for.
async function axNode(t, selector, states) {
  const cdp = await t.context.newCDPSession(t.page);
  const { root } = await cdp.send('DOM.getDocument', { depth: 0 });
  const { nodeId } = await cdp.send('DOM.querySelector', { nodeId: root.nodeId, selector });
  const { nodes } = await cdp.send('Accessibility.getPartialAXTree', { nodeId, fetchRelatives: false });
  const n = nodes[0];
  const props = Object.fromEntries((n.properties || []).map((p) => [p.name, p.value.value]));
  return { role: n.role.value, name: n.name.value, ...Object.fromEntries(states.map((s) => [s, props[s] ?? null])) };
}

describe('The accessibility tree', () => {
  test('the listing is a listbox named by its folder, its rows options that read as words, the selected one active', async () => {
    const t = await open(at(`${HOME}/sizes`));
    await listed(t.page, 'sizes');
    await t.page.keyboard.press('ArrowDown');
    assert.deepEqual(await axNode(t, '#entries', ['multiselectable', 'focusable']),
      { role: 'listbox', name: 'sizes', multiselectable: true, focusable: true });
    const active = await t.page.getAttribute('#entries', 'aria-activedescendant');
    assert.equal(await t.page.$eval(`#${active} .nm`, (n) => n.textContent), 'b');
    const b = await axNode(t, `#${active}`, ['selected']);
    assert.match(b.name, /^b, file, 1023 bytes, modified \d{1,2} [A-Z][a-z]+ 2024, \d\d:\d\d$/);
    assert.deepEqual({ ...b, name: '' }, { role: 'option', name: '', selected: false });
    await t.page.keyboard.press('Space');
    assert.equal((await axNode(t, `#${active}`, ['selected'])).selected, true);
    await t.close();
  });

  test('the folder opened and its count are said politely; a listing slow to come is busy and shows a line', async () => {
    const t = await open(at(HOME));
    await listed(t.page, 'home');
    assert.deepEqual(await t.page.$eval('#say', (n) => [n.getAttribute('role'), n.textContent]), ['status', 'folder home, 9 items']);
    let answer;
    const held = new Promise((done) => { answer = done; });
    await t.page.route('**/*action=ls*', async (r) => { await held; await r.continue(); });
    await t.page.click('#btnRefresh');
    await t.page.waitForSelector('.listwrap.loading');
    assert.equal(await t.page.getAttribute('#entries', 'aria-busy'), 'true');
    answer();
    await until(t.page, () => !document.querySelector('.listwrap.loading') && !document.querySelector('#entries').hasAttribute('aria-busy'));
    assert.equal(await t.page.getAttribute('#toast', 'role'), 'alert');
    await t.close();
  });

  test('a folder reads as a folder, a toggle as pressed, the root and the crumb as current', async () => {
    const t = await open(at(HOME));
    await listed(t.page, 'home');
    assert.match((await axNode(t, '#r0', [])).name, /^deep, folder, modified /);
    await t.page.click('#btnHidden');
    await until(t.page, () => document.querySelector('#count').textContent === '11 items');
    assert.deepEqual(await axNode(t, '#btnHidden', ['pressed']), { role: 'button', name: 'Hide hidden files', pressed: 'true' });
    assert.equal(await t.page.getAttribute('#roots .root.sel', 'aria-current'), 'true');
    assert.equal(await t.page.getAttribute('#crumbs .crumb.last', 'aria-current'), 'location');
    await t.close();
  });

  test('the preview is a focusable region named by its file, under a heading of that name, and scrolls with the keys', async () => {
    const t = await open(at(`${HOME}/docs`, 'long.log'));
    await until(t.page, () => document.querySelector('#prevBody .codetxt'));
    assert.deepEqual(await axNode(t, '#prevBody', ['focusable']), { role: 'region', name: 'Preview of long.log', focusable: true });
    assert.deepEqual(await axNode(t, '#prevName', ['level']), { role: 'heading', name: 'long.log', level: 2 });
    await t.page.focus('#prevBody');
    await t.page.keyboard.press('End');
    await until(t.page, () => document.querySelector('#prevBody').scrollTop > 0);
    assert.equal((await view(t.page)).sel, 'long.log');
    await t.close();
  });
});

describe('Marks', () => {
  test('Space, Shift with arrows or a click, Ctrl with a click and Ctrl+A mark; sorting and filtering keep them; Escape clears', async () => {
    const t = await open(at(`${HOME}/sizes`));
    await listed(t.page, 'sizes');
    await t.page.focus('#entries');
    await keys(t.page, 'Space', 'Shift+ArrowDown');
    assert.deepEqual(await marked(t.page), ['a', 'b']);
    await row(t.page, 'e').click({ modifiers: ['Shift'] });
    assert.deepEqual(await marked(t.page), ['a', 'b', 'c', 'd', 'e']);
    await row(t.page, 'c').click({ modifiers: ['Control'] });
    await row(t.page, 'h').click({ modifiers: ['Control'] });
    assert.deepEqual(await marked(t.page), ['a', 'b', 'd', 'e', 'h']);
    assert.equal(await t.page.textContent('#selText'), '5 selected \u00b7 1.0 GB');
    await t.page.selectOption('#sort', 'size');
    await t.page.click('#sortDesc');
    assert.deepEqual(await marked(t.page), ['h', 'e', 'd', 'b', 'a']);
    await t.page.fill('#filter', 'zzz');
    await t.page.fill('#filter', '');
    assert.deepEqual(await marked(t.page), ['h', 'e', 'd', 'b', 'a']);
    await t.page.focus('#entries');
    await keys(t.page, 'Escape');
    assert.deepEqual(await marked(t.page), []);
    assert.equal(await t.page.isHidden('#selbar'), true);
    await keys(t.page, 'Control+a');
    assert.equal((await marked(t.page)).length, 8);
    await t.page.click('#crumbs .crumb');
    await listed(t.page, 'home');
    assert.deepEqual(await marked(t.page), []);
    await t.close();
  });

  test('Download of one marked file is that file, Copy paths puts the full paths on the clipboard one a line', async () => {
    const t = await open(at(`${HOME}/text`), { init: () => {
      window.__copied = [];
      navigator.clipboard.writeText = (s) => { window.__copied.push(s); return Promise.resolve(); };
    } });
    await listed(t.page, 'text');
    await row(t.page, 'notes.txt').click({ modifiers: ['Control'] });
    const get = t.page.waitForRequest((r) => r.url().includes('action=raw'));
    await t.page.click('#selDownload');
    assert.match((await get).url(), new RegExp(`action=raw&path=${encodeURIComponent(`${HOME}/text/notes.txt`)}&download=1$`));
    await row(t.page, 'README').click({ modifiers: ['Control'] });
    await t.page.click('#selCopy');
    await until(t.page, () => window.__copied.length === 1);
    assert.deepEqual(await t.page.evaluate(() => window.__copied), [`${HOME}/text/notes.txt\n${HOME}/text/README`]);
    await t.close();
  });
});

// Whether every control on screen can be brought into view by scrolling what scrolls: a pane that
// clips without scrolling, or the page's own body, must not have had to move for it.
function unreachable() {
  const clips = (n) => ['hidden', 'clip'].includes(getComputedStyle(n).overflowY) || ['hidden', 'clip'].includes(getComputedStyle(n).overflowX);
  const out = [];
  for (const c of document.querySelectorAll('#app button, #app input, #app select')) {
    if (!c.getClientRects().length || c.closest('[inert]') || c.disabled) continue;
    c.scrollIntoView({ block: 'nearest', inline: 'nearest' });
    const r = c.getBoundingClientRect();
    const hit = document.elementFromPoint(r.left + r.width / 2, r.top + r.height / 2);
    let moved = document.scrollingElement.scrollTop || document.scrollingElement.scrollLeft;
    for (let a = c.parentElement; a; a = a.parentElement) moved = moved || (clips(a) && (a.scrollTop || a.scrollLeft));
    if (moved || !hit || !c.contains(hit)) out.push(c.id || c.className || c.textContent);
    for (let a = c.parentElement; a; a = a.parentElement) if (clips(a)) a.scrollTop = a.scrollLeft = 0;
  }
  return out;
}

describe('Room', () => {
  test('at 400 % zoom with eight roots every control of the roots, the listing and the preview can be reached', async () => {
    const t = await open(PAGE, { width: 320, height: 190, wait: false });
    await t.page.route('**/*action=roots*', (r) => r.fulfill({ contentType: 'application/json',
      body: JSON.stringify({ ok: true, roots: Array.from({ length: 8 }, (_, i) => ({ name: `root ${i + 1}`, path: HOME })) }) }));
    await t.page.reload();
    await until(t.page, () => document.querySelectorAll('#roots .root').length === 8);
    assert.deepEqual(await t.page.evaluate(unreachable), []);
    await t.page.click('#roots .root >> nth=7');
    await listed(t.page, 'home');
    assert.deepEqual(await t.page.evaluate(unreachable), []);
    await row(t.page, 'notes.txt').click();
    await until(t.page, () => document.querySelector('#prevBody .codetxt'));
    assert.deepEqual(await t.page.evaluate(unreachable), []);
    await t.close();
  });

  for (const theme of THEMES) {
    test(`in the ${theme} theme the border of every control stands 3:1 against its pane`, async () => {
      const t = await open(themed(at(`${HOME}/text`, 'notes.txt'), theme));
      await until(t.page, () => document.querySelector('#prevBody .codetxt'));
      await t.page.click('#entries .row >> nth=0', { modifiers: ['Control'] });
      const weak = await t.page.evaluate(() => {
        const rgba = (s) => { const m = s.match(/[\d.]+/g).map(Number); return [m[0], m[1], m[2], m[3] ?? 1]; };
        const over = (top, under) => top.slice(0, 3).map((v, i) => v * top[3] + under[i] * (1 - top[3])).concat(1);
        const lum = (c) => { const l = c.slice(0, 3).map((v) => { v /= 255; return v <= 0.03928 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4; });
          return 0.2126 * l[0] + 0.7152 * l[1] + 0.0722 * l[2]; };
        const behind = (n) => { const layers = []; for (let a = n; a; a = a.parentElement) layers.push(rgba(getComputedStyle(a).backgroundColor));
          return layers.reverse().reduce((acc, c) => over(c, acc), [255, 255, 255, 1]); };
        const out = [];
        for (const c of document.querySelectorAll('.icon, .filter, .sort, .pill, .prev-hd .tail')) {
          if (!c.getClientRects().length || c.disabled) continue;
          const pane = behind(c.parentElement);
          const border = over(rgba(getComputedStyle(c).borderTopColor), pane);
          const [hi, lo] = [lum(border), lum(pane)].sort((a, b) => b - a);
          const ratio = (hi + 0.05) / (lo + 0.05);
          if (ratio < 3) out.push(`${c.id || c.className} ${ratio.toFixed(2)}`);
        }
        return out;
      });
      assert.deepEqual(weak, []);
      await t.close();
    });
  }
});
