// Searching below the open folder as a person does: names (find) and lines of files (grep) streamed in the
// listing's place, a result opened in its folder, the search kept in the address, and folder sizes (du).
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { describe, test } from 'node:test';
import { HOME, NODE_A, listed, open, row, until, useBrowser, view } from './lib.mjs';

useBrowser();
const PAGE = `${NODE_A}/plugin_files`;
const HOME_ROWS = ['deep', 'docs', 'empty', 'hostile', 'media', 'outside', 'sizes', 'text', 'notes.txt'];
const searchesOf = (reqs) => reqs.filter((r) => /action=(find|grep)/.test(r.url)).map((r) => {
  const q = new URL(r.url, PAGE).searchParams;
  return [q.get('action'), q.get('path'), q.get('q')];
});

// The results as they show: each row's parts but its icon, the folder part of a path apart from its name, a
// match apart from the rest of its line.
function results(page) {
  return page.$$eval('#results .row', (rs) => rs.map((r) => [...r.querySelectorAll(':scope > :not(.ico)')].map((c) => (c.children.length
    ? [...c.childNodes].map((n) => (n.nodeType === 3 ? n.data : `[${n.textContent}]`)).join('') : c.textContent))));
}

// Waits until the search has said its last line, and gives its count line.
async function searched(page) {
  await until(page, () => document.querySelector('#results').getAttribute('aria-busy') === 'false');
  return page.textContent('#found');
}

async function search(page, scope, text) {
  await page.selectOption('#scope', scope);
  await page.fill('#filter', text);
  return searched(page);
}

describe('Searching below the folder', () => {
  test('names below stream in nearest first; a file opens in its folder, and Back and a link with find= bring the results back', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    assert.match(await search(t.page, 'find', 'dee'), /^2 found · \d+ searched$/);
    const FOUND = [['deep', ''], ['[deep/]deep.txt', '5 B']];
    const shown = async (p) => (await results(p)).map((r) => r.slice(0, 2));
    assert.deepEqual(await shown(t.page), FOUND);
    assert.equal(await t.page.getAttribute('#results', 'aria-label'), 'Names found below the folder');
    const hash = await t.page.evaluate(() => location.hash);
    assert.equal(hash, `#${new URLSearchParams({ dir: HOME, find: 'dee' })}`);
    // The keys move through the results as through the listing; Enter opens one.
    await t.page.keyboard.press('ArrowDown');
    await t.page.keyboard.press('Enter');
    await listed(t.page, 'deep');
    await until(t.page, () => document.querySelector('#prevName').textContent === 'deep.txt');
    assert.deepEqual([(await view(t.page)).rows, await t.page.inputValue('#filter'), await t.page.inputValue('#scope')],
      [['one', 'deep.txt'], '', '']);
    await t.page.goBack();
    assert.match(await searched(t.page), /^2 found · \d+ searched$/);
    assert.deepEqual([await shown(t.page), await t.page.inputValue('#filter'), await t.page.inputValue('#scope'), (await view(t.page)).crumbs],
      [FOUND, 'dee', 'find', 'home']);
    const u = await open(`${PAGE}${hash}`);
    assert.match(await searched(u.page), /^2 found · \d+ searched$/);
    assert.deepEqual(await shown(u.page), FOUND);
    await u.close();
    // Escape goes back to the folder.
    await t.page.keyboard.press('Escape');
    assert.deepEqual([(await view(t.page)).rows, await t.page.evaluate(() => location.hash)], [HOME_ROWS, `#${new URLSearchParams({ dir: HOME })}`]);
    assert.deepEqual(searchesOf(t.requests), [['find', HOME, 'dee'], ['find', HOME, 'dee']]);
    await t.close();
  });

  test('a new keystroke after the pause ends the search still running and starts another', async () => {
    const t = await open(PAGE, { init: () => {
      const fetch = window.fetch;
      window.ended = [];
      window.fetch = (url, how) => {
        how?.signal?.addEventListener('abort', () => window.ended.push(String(url)));
        return fetch(url, how);
      };
    } });
    await listed(t.page, 'home');
    // The first search is held unanswered, so it is still running when the next one starts.
    await t.page.route((u) => u.searchParams.get('q') === 'dee', () => {});
    await t.page.selectOption('#scope', 'find');
    await t.page.fill('#filter', 'dee');
    await until(t.page, () => document.querySelector('#results').getAttribute('aria-busy') === 'true');
    await t.page.fill('#filter', 'deep');
    assert.match(await searched(t.page), /^2 found · \d+ searched$/);
    assert.deepEqual(searchesOf(t.requests), [['find', HOME, 'dee'], ['find', HOME, 'deep']]);
    const ended = await t.page.evaluate(() => window.ended.map((u) => new URL(u, location.href).searchParams.get('q')));
    assert.deepEqual(ended, ['dee']);
    await t.close();
  });
});

describe('Searching in files', () => {
  test('lines show under their files with the match marked, and a line opens its file scrolled to it and marked', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    assert.match(await search(t.page, 'grep', 'ND LI'), /^2 found · \d+ searched/);
    assert.deepEqual(await results(t.page), [
      ['notes.txt', '1 line'], ['2', 'seco[nd li]ne'], ['[text/]notes.txt', '1 line'], ['2', 'seco[nd li]ne']]);
    assert.equal(await t.page.getAttribute('#results', 'aria-label'), 'Lines found in files');
    assert.match(await search(t.page, 'grep', 'E 5000 '), /^1 found · \d+ searched/);
    assert.deepEqual(await results(t.page), [['[docs/]big.log', '1 line'], ['5000', 'lin[e 5000 ]..']]);
    await t.page.click('#results .row >> nth=1');
    await listed(t.page, 'docs');
    await until(t.page, () => {
      const mark = document.querySelector('#prevBody .mk')?.getBoundingClientRect();
      const pane = document.querySelector('#prevBody').getBoundingClientRect();
      return mark && mark.top >= pane.top && mark.bottom <= pane.bottom;
    });
    assert.deepEqual([(await view(t.page)).prevName, new URLSearchParams((await t.page.evaluate(() => location.hash)).slice(1)).get('line')],
      ['big.log', '5000']);
    await t.close();
  });
});

// What du answers for a folder: the bytes of the regular files below it, each file once, no link followed, no
// name that begins with a dot.
function bytesBelow(dir, seen = new Set()) {
  let sum = 0;
  for (const name of fs.readdirSync(dir, { encoding: 'buffer' })) {
    if (name[0] === 0x2e) continue;
    const below = Buffer.concat([Buffer.from(`${dir}/`), name]);
    const st = fs.lstatSync(below);
    if (st.isDirectory()) sum += bytesBelow(below, seen);
    else if (st.isFile() && !seen.has(st.ino)) sum += (seen.add(st.ino), st.size);
  }
  return sum;
}

const fmtSize = (n) => (n < 1024 ? `${n} B` : n < 1048576 ? `${(n / 1024).toFixed(1)} KB`
  : n < 1073741824 ? `${(n / 1048576).toFixed(1)} MB` : `${(n / 1073741824).toFixed(1)} GB`);

describe('Folder sizes', () => {
  test('Sizes asks for each folder, two at a time, shows each size as it comes, and the order by size goes by them', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    const dirs = HOME_ROWS.slice(0, 8);
    // Each answer is held until the page has asked for all it asks for at once; deep's says it is a lower bound.
    const held = [];
    let wake = () => {};
    await t.page.route((u) => u.searchParams.get('action') === 'du', (route) => { held.push(route); wake(); });
    const asked = async (n) => { while (held.length < n) await new Promise((r) => { wake = r; }); };
    const LOWER = 1288490189;
    await t.page.keyboard.press('z');
    for (let i = 0; i < dirs.length; i++) {
      await asked(Math.min(i + 2, dirs.length));
      await t.page.evaluate(() => new Promise((r) => requestAnimationFrame(() => setTimeout(r))));
      assert.equal(held.length, Math.min(i + 2, dirs.length));
      const route = held[i];
      if (i === 0) await route.fulfill({ contentType: 'application/json', body: JSON.stringify({ ok: true, path: `${HOME}/deep`,
        size: LOWER, files: 1, dirs: 0, skipped: 1, complete: false }) });
      else await route.continue();
    }
    assert.deepEqual(held.map((r) => new URL(r.request().url()).searchParams.get('path')), dirs.map((d) => `${HOME}/${d}`));
    const sizes = new Map(dirs.map((d) => [d, d === 'deep' ? LOWER : d === 'outside' ? 0 : bytesBelow(`${HOME}/${d}`)]));
    const want = dirs.map((d) => (d === 'deep' ? `≥ ${fmtSize(LOWER)}` : d === 'outside' ? '' : fmtSize(sizes.get(d))));
    // The link leads out of the roots: its folder has no size to show.
    await until(t.page, (n) => [...document.querySelectorAll('#entries .row.dir .mt')].filter((m) => m.textContent).length === n, 7);
    const sizeColumn = () => Promise.all(dirs.map((d) => row(t.page, d).locator('.mt').textContent()));
    assert.deepEqual(await sizeColumn(), want);
    await t.page.selectOption('#sort', 'size');
    const bySize = [...dirs].sort((a, b) => sizes.get(a) - sizes.get(b) || dirs.indexOf(a) - dirs.indexOf(b));
    assert.deepEqual((await view(t.page)).rows, [...bySize, 'notes.txt']);
    await t.close();
  });
});
