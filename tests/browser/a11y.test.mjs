// Accessibility: axe-core over every state of the page, in both themes at desktop and phone size; a walk
// done with the keyboard alone; the accessibility tree of a row, a toggle and the preview.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import { describe, test } from 'node:test';
import { HOME, NODE_A, listed, open, until, useBrowser } from './lib.mjs';

useBrowser();
const PAGE = `${NODE_A}/plugin_files`;
const AXE = fs.readFileSync(createRequire(import.meta.url).resolve('axe-core/axe.min.js'), 'utf8');
const TAGS = ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa', 'wcag22aa', 'best-practice'];
const themed = (address, theme) => address.replace(/(#|$)/, `?theme=${theme}$1`);
const at = (dir, file) => `${PAGE}#dir=${encodeURIComponent(dir)}${file ? `&file=${encodeURIComponent(file)}` : ''}`;
const VIEWER = `${HOME}/docs/viewer`;

// Waits until the previewed file's pane holds what its kind shows.
const shows = (page, selector) => until(page, (s) => document.querySelector(`#prevBody ${s}`), selector);
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
  ['listing error', at(`${HOME}/nowhere`), (p) => until(p, () => getComputedStyle(document.querySelector('#toast')).opacity === '1')],
  ['selection bar', at(`${HOME}/text`), async (p) => {
    await listed(p, 'text');
    await p.focus('#entries');
    await keys(p, 'Space', 'Shift+ArrowDown', 'Shift+ArrowDown');
    await p.waitForSelector('#selbar:not(.hidden)');
  }],
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
    return res.violations.map((v) => `${v.id}: ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`);
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
