// The preview pane: text with line numbers, Markdown, images, binary and refused files, downloads,
// and names and contents that must stay text.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { describe, test } from 'node:test';
import { HOME, NODE_A, assertClean, listed, open, preview, row, until, useBrowser, view, walk } from './lib.mjs';
import { CODE, HOSTILE_NAMES, HOSTILE_TEXT, MARKDOWN, PIXEL } from './fixtures.mjs';

useBrowser();
const PAGE = `${NODE_A}/plugin_files`;

async function openAt(...steps) {
  const t = await open(PAGE);
  await listed(t.page, 'home');
  await walk(t.page, ...steps);
  return t;
}

const pane = (page) => page.$$eval('#prevBody > *', (es) => es.map((e) => [e.className, e.textContent]));
const reads = (t) => t.requests.filter((r) => r.url.includes('action=read'));

describe('Text', () => {
  test('text shows with one line number per line, and the meta line names plain text', async () => {
    const t = await openAt('text');
    await t.page.click('#btnHidden');
    await until(t.page, () => document.querySelector('#entries .nm').textContent === '.gitignore');
    for (const [name, text, numbers, meta] of CODE) {
      await preview(t.page, name);
      const shown = await t.page.$eval('#prevBody .codetxt', (c) => [c.children.length, c.querySelector('.ln').textContent,
        c.querySelector('.tx').textContent, c.querySelector('.tx').childNodes.length]);
      assert.deepEqual([name, ...shown, (await view(t.page)).prevMeta], [name, 2, numbers, text.replace(/\n$/, ''), 1, meta]);
    }
    await t.close();
  });

  test('a binary file gets a note with its size, and the download button stays', async () => {
    const t = await openAt('text');
    await preview(t.page, 'data.bin');
    assert.deepEqual(await pane(t.page), [['note', 'Binary file (2.0 KB) - use Download to inspect it locally.']]);
    const v = await view(t.page);
    assert.deepEqual([v.prevMeta, v.download, v.view], ['2.0 KB', true, 'preview']);
    await t.close();
  });

  test('a refused file says why and keeps the size from the listing', async () => {
    const t = await openAt('text');
    await preview(t.page, 'escape.txt');
    assert.deepEqual(await pane(t.page), [['note', 'Cannot preview this file: path not allowed']]);
    assert.equal((await view(t.page)).prevMeta, '17 B');
    await t.close();
  });
});

describe('Markdown', () => {
  test('every block and inline rule builds exactly its elements, with unsafe links left as text', async () => {
    const t = await openAt('docs');
    for (const [name, , html] of MARKDOWN) {
      await preview(t.page, name);
      assert.deepEqual([name, await t.page.$eval('#prevBody', (b) => b.innerHTML)], [name, `<div class="md">${html}</div>`]);
    }
    await t.close();
  });

  test('a Markdown file over a mebibyte renders its first mebibyte and says so', async () => {
    const t = await openAt('docs');
    await preview(t.page, 'big.md');
    assert.equal((await view(t.page)).prevMeta, '1.1 MB (first 1 MB)');
    const shape = await t.page.$eval('#prevBody .md', (md) => [md.children[0].outerHTML, md.children[1].localName,
      md.children.length, md.querySelector('li').innerHTML]);
    assert.deepEqual(shape, ['<h1>Big</h1>', 'ul', 2, 'item with <strong>bold</strong> and <code>code</code>']);
    await t.close();
  });
});

describe('Images', () => {
  test('an image shows from the raw action without a read request; broken images and SVG get a note', async () => {
    const t = await openAt('media');
    await preview(t.page, 'pixel.png');
    await until(t.page, () => document.querySelector('#prevBody img')?.complete);
    const img = await t.page.$eval('#prevBody .imgwrap img', (i) => [i.alt, i.getAttribute('src'), i.naturalWidth]);
    assert.deepEqual(img, ['pixel.png', `/plugin_files?action=raw&path=${encodeURIComponent(`${HOME}/media/pixel.png`)}`, 1]);
    assert.equal((await view(t.page)).prevMeta, `${PIXEL.length} B`);
    for (const name of ['broken.png', 'drawing.svg']) {
      await row(t.page, name).click();
      await until(t.page, () => document.querySelector('#prevBody .note'));
      assert.deepEqual(await t.page.$$eval('#prevBody > * > *', (es) => es.map((e) => [e.className, e.textContent])),
        [['note', 'This image could not be displayed.']]);
    }
    assert.deepEqual(reads(t), []);
    await t.close();
  });
});

describe('Download', () => {
  test('the download button saves the previewed file through the raw action with download=1', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    await preview(t.page, 'notes.txt');
    const [download] = await Promise.all([t.page.waitForEvent('download'), t.page.click('#btnDownload')]);
    assert.equal(new URL(download.url()).search, `?action=raw&path=${encodeURIComponent(`${HOME}/notes.txt`)}&download=1`);
    assert.equal(download.suggestedFilename(), 'notes.txt');
    assert.equal(fs.readFileSync(await download.path(), 'utf8'), CODE[0][1]);
    await t.close();
  });
});

describe('Hostile names and contents', () => {
  test('markup in names, paths and files shows as text and never runs', async () => {
    const t = await openAt('hostile');
    const dir = '<img src=x onerror=window.__pwned=9>';
    assert.deepEqual((await view(t.page)).rows,
      [dir, HOSTILE_NAMES[1], HOSTILE_NAMES[2], HOSTILE_NAMES[0], 'hostile.md', 'hostile.txt']);
    for (const name of [...HOSTILE_NAMES.filter((n) => !n.endsWith('.md')), 'hostile.txt']) {
      await preview(t.page, name);
      assert.deepEqual([(await view(t.page)).prevName, await t.page.textContent('#prevBody .tx')], [name, HOSTILE_TEXT.replace(/\n$/, '')]);
    }
    await preview(t.page, 'hostile.md');
    assert.equal(await t.page.$eval('#prevBody .md', (m) => m.innerHTML),
      '<p>&lt;img src=x onerror="window.__pwned=6"&gt; run data</p>');
    await walk(t.page, dir);
    assert.equal((await view(t.page)).crumbs, `home / hostile / ${dir}`);
    const elements = await t.page.$$eval('#app img, #app script, #toast *', (es) => es.length);
    assert.equal(elements, 0);
    await assertClean(t);
    await t.close();
  });
});
