// The grid of pictures and the lightbox: thumbnails made by the node, asked for a few at a time and kept
// by the browser, keys in two dimensions, and a viewer that steps, zooms, swipes and lives in the address.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { describe, test } from 'node:test';
import { HOME, HUB, NODE_A, VAULT, assertClean, enc, listed, open, until, useBrowser } from './lib.mjs';
import { PASSWORD, PHOTOS, PHOTO_OTHERS, PIXEL } from './fixtures.mjs';

useBrowser();
const PHOTO_DIR = `${HOME}/media/photos`;
const PAGE = `${NODE_A}/plugin_files`;
const at = (hash) => `${PAGE}#dir=${enc(PHOTO_DIR)}${hash || ''}`;
// The folder's entries in the server's order: folders first, then names.
const ORDER = ['albums', ...[...PHOTOS.map((p) => p[0]), ...PHOTO_OTHERS.slice(1)].sort()];
const PICTURES = PHOTOS.map((p) => p[0]);

// The tiles as [name, what shows: "thumb" or the icon's class].
const tiles = (page) => page.$$eval('#entries .tile', (ts) => ts.map((t) => [t.querySelector('.nm').textContent,
  t.classList.contains('thumb') ? 'thumb' : t.querySelector('.ico').className]));
const thumbsShown = (page, n) => until(page, (k) => document.querySelectorAll('#entries .tile.thumb').length === k, n);
// The listing's version of a file, as the thumbnail's address carries it.
const version = (file) => {
  const st = fs.statSync(file);
  return `${st.size}-${new Date(Math.floor(st.mtimeMs / 1000) * 1000).toISOString().replace('.000', '')}`;
};
const thumbQuery = (dir, name) => `action=thumb&path=${enc(`${dir}/${name}`)}&size=128&v=${enc(version(`${dir}/${name}`))}`;
const box = (page) => page.evaluate(() => {
  const b = document.getElementById('lightbox');
  const pic = b.querySelector('#lbStage img, #lbStage video');
  return b.classList.contains('hidden') ? null : {
    name: b.querySelector('#lbName').textContent, meta: b.querySelector('#lbMeta').textContent,
    exif: b.querySelector('#lbExif').textContent, tag: pic && pic.tagName, focus: b.contains(document.activeElement),
    transform: pic && pic.style.transform };
});
const boxed = (page, name) => until(page, (n) => document.querySelector('#lbName').textContent === n &&
  !document.getElementById('lightbox').classList.contains('hidden') && /\u00d7/.test(document.querySelector('#lbMeta').textContent), name);
const hash = (page) => new URL(page.url()).hash;

describe('Grid', () => {
  test('a folder of pictures opens as tiles of thumbnails through lighttpd, folders and other files as icons', async () => {
    const t = await open(at());
    await thumbsShown(t.page, PICTURES.length);
    assert.deepEqual(await tiles(t.page), ORDER.map((n) => [n, PICTURES.includes(n) ? 'thumb' :
      n === 'albums' ? 'ico dir' : n === 'clip.webm' ? 'ico video' : 'ico file']));
    assert.equal(hash(t.page), `#dir=${enc(PHOTO_DIR)}&view=grid`);
    // A node busy with other work may answer 503, and the thumbnail is asked for again.
    const asked = [...new Set(t.requests.filter((r) => r.url.includes('action=thumb')).map((r) => r.url))].sort();
    assert.deepEqual(asked, PICTURES.map((n) => `/plugin_files?${thumbQuery(PHOTO_DIR, n)}`).sort());
    // A thumbnail keeps the picture's aspect within its size.
    const sizes = await t.page.$$eval('#entries .tile.thumb', (ts) => ts.slice(0, 2).map((x) => [x.textContent,
      x.querySelector('img').naturalWidth, x.querySelector('img').naturalHeight]));
    assert.deepEqual(sizes, [['p01.jpg', 128, 96], ['p02.jpg', 128, 90]]);
    await assertClean(t);
    await t.close();
  });

  test('through the hub, g turns a guarded node\'s folder into a grid whose thumbnails carry the password', async () => {
    const t = await open(`${HUB}/plugins?plugin=files&node=b&pwd=${enc(PASSWORD)}`);
    await listed(t.page, 'my vault');
    await t.page.keyboard.press('g');
    await thumbsShown(t.page, 1);
    assert.deepEqual(await tiles(t.page), [['back\\slash', 'ico dir'], ['clip.webm', 'ico video'], ['pic.png', 'thumb'],
      ['secret.txt', 'ico file']]);
    const asked = t.requests.filter((r) => r.url.includes('action=thumb'));
    assert.deepEqual(asked.slice(0, 1), [{ url: `/plugins?plugin=files&${thumbQuery(VAULT, 'pic.png')}&node=b`, pwd: PASSWORD }]);
    assert.match(hash(t.page), /&view=grid$/);
    await t.page.keyboard.press('g');
    await until(t.page, () => document.querySelectorAll('#entries .row').length === 4);
    assert.doesNotMatch(hash(t.page), /view=/);
    await t.close();
  });

  test('arrows move in two dimensions; filter, order and g back to the list work on the same entries', async () => {
    const t = await open(at());
    await thumbsShown(t.page, PICTURES.length);
    const cols = await t.page.evaluate(() => getComputedStyle(document.querySelector('#entries .win')).gridTemplateColumns.split(' ').length);
    const sel = () => t.page.$eval('#entries .tile.sel .nm', (e) => e.textContent);
    await t.page.keyboard.press('ArrowRight');
    assert.equal(await sel(), ORDER[1]);
    await t.page.keyboard.press('ArrowDown');
    assert.equal(await sel(), ORDER[1 + cols]);
    await t.page.keyboard.press('ArrowLeft');
    await t.page.keyboard.press('ArrowUp');
    assert.equal(await sel(), ORDER[0]);
    await t.page.fill('#filter', 'p0');
    await until(t.page, () => document.querySelectorAll('#entries .tile').length === 9);
    await t.page.selectOption('#sort', 'size');
    await t.page.click('#sortDesc');
    const bySize = PICTURES.filter((n) => n.startsWith('p0')).sort((a, b) => fs.statSync(`${PHOTO_DIR}/${b}`).size - fs.statSync(`${PHOTO_DIR}/${a}`).size);
    await until(t.page, (first) => document.querySelector('#entries .tile .nm').textContent === first, bySize[0]);
    assert.deepEqual((await tiles(t.page)).map((x) => x[0]), bySize);
    await t.page.locator('#entries').focus();
    await t.page.keyboard.press('g');
    await until(t.page, () => document.querySelectorAll('#entries .row').length === 9);
    assert.deepEqual(await t.page.$$eval('#entries .row .nm', (ns) => ns.map((n) => n.textContent)), bySize);
    assert.match(hash(t.page), /&view=list$/);
    await t.close();
  });

  test('no more than four thumbnails are asked for at once', async () => {
    // The route is in place before the grid's page loads, so every thumbnail it asks for is counted.
    const t = await open(`${NODE_A}/storage-seed`, { wait: false });
    let now = 0;
    let most = 0;
    let done = 0;
    let wake = () => {};
    const held = [];
    await t.page.route((u) => u.search.includes('action=thumb'), (route) => {
      now++;
      most = Math.max(most, now);
      held.push(route);
      wake();
    });
    await t.page.goto(at());
    // Each held request is answered only once as many as can be are waiting, so a fifth would be seen; the
    // answers are the test's own, so that no busy node answers one with a 503 that is asked again.
    while (done < PICTURES.length) {
      while (!(held.length && (now === 4 || done + now === PICTURES.length))) await new Promise((go) => { wake = go; });
      now--;
      done++;
      await held.shift().fulfill({ contentType: 'image/png', body: PIXEL });
    }
    await thumbsShown(t.page, PICTURES.length);
    assert.equal(most, 4);
    await t.close();
  });

  test('a revisit sends no thumbnail request for unchanged pictures', async () => {
    const t = await open(at());
    await thumbsShown(t.page, PICTURES.length);
    const again = await t.context.newPage();
    await again.goto(at());
    await thumbsShown(again, PICTURES.length);
    const fetched = await again.evaluate(() => performance.getEntriesByType('resource').filter((e) => e.name.includes('action=thumb'))
      .map((e) => e.transferSize));
    assert.deepEqual(fetched, PICTURES.map(() => 0));
    await t.close();
  });
});

describe('Lightbox', () => {
  test('Enter opens the picture in a dialog; arrows step through pictures and videos, Escape closes', async () => {
    const t = await open(at());
    await thumbsShown(t.page, PICTURES.length);
    await t.page.keyboard.press('ArrowRight');
    await t.page.keyboard.press('Enter');
    await boxed(t.page, 'clip.webm');
    assert.deepEqual(await t.page.$eval('#lightbox', (b) => [b.getAttribute('role'), b.getAttribute('aria-modal'),
      document.getElementById(b.getAttribute('aria-labelledby')).textContent, document.getElementById('app').inert]),
    ['dialog', 'true', 'clip.webm', true]);
    assert.deepEqual(await box(t.page), { name: 'clip.webm', meta: `64 \u00d7 48 \u00b7 ${(fs.statSync(`${PHOTO_DIR}/clip.webm`).size / 1024).toFixed(1)} KB`,
      exif: '', tag: 'VIDEO', focus: true, transform: '' });
    await t.page.keyboard.press('ArrowRight');
    await boxed(t.page, 'p01.jpg');
    for (let i = 0; i < 11; i++) await t.page.keyboard.press('ArrowRight');
    await boxed(t.page, 'p12.jpg');
    // The text file between is passed over.
    await t.page.keyboard.press('ArrowRight');
    await boxed(t.page, 'sunset.jpg');
    await until(t.page, () => document.querySelector('#lbExif').textContent !== '');
    assert.deepEqual(await box(t.page), { name: 'sunset.jpg', meta: `400 \u00d7 300 \u00b7 ${(fs.statSync(`${PHOTO_DIR}/sunset.jpg`).size / 1024).toFixed(1)} KB`,
      exif: '2024-05-01 18:30:00 \u00b7 Acme Zoom 3 \u00b7 1/250 s \u00b7 f/2.8 \u00b7 ISO 200 \u00b7 35 mm', tag: 'IMG', focus: true,
      transform: 'translate(-50%, -50%) translate(0px, 0px) scale(1)' });
    await t.page.keyboard.press('ArrowRight');
    await boxed(t.page, 'tall.png');
    await t.page.keyboard.press('ArrowRight');
    assert.equal((await box(t.page)).name, 'tall.png');
    assert.equal(hash(t.page), `#dir=${enc(PHOTO_DIR)}&file=tall.png&view=grid`);
    await t.page.keyboard.press('Escape');
    await until(t.page, () => document.getElementById('lightbox').classList.contains('hidden'));
    assert.equal(await t.page.evaluate(() => document.activeElement.matches('#entries .tile.sel') && document.activeElement.textContent), 'tall.png');
    assert.equal(hash(t.page), `#dir=${enc(PHOTO_DIR)}&view=grid`);
    await assertClean(t);
    await t.close();
  });

  test('+, - and 0 zoom, fit and show 1:1; a drag moves a zoomed picture and a swipe steps', async () => {
    // A phone-sized window shows no root list once a folder is open.
    const t = await open(at('&file=sunset.jpg'), { width: 360, wait: false });
    await boxed(t.page, 'sunset.jpg');
    const scale = async () => Number((await box(t.page)).transform.match(/scale\((.*)\)/)[1]);
    const fit = await scale();
    assert.ok(fit < 1);
    await t.page.keyboard.press('+');
    assert.equal(await scale(), fit * 1.25);
    await t.page.keyboard.press('-');
    assert.equal(await scale(), fit);
    await t.page.keyboard.press('0');
    assert.equal(await scale(), 1);
    // Pointer events as a touch screen sends them, on the picture's stage.
    const swipe = (dx, dy) => t.page.$eval('#lbStage', (s, d) => {
      const r = s.getBoundingClientRect();
      const x = r.left + r.width / 2;
      const y = r.top + r.height / 2;
      const ev = (type, px, py) => s.dispatchEvent(new PointerEvent(type, { pointerId: 7, pointerType: 'touch', isPrimary: true,
        clientX: px, clientY: py, bubbles: true, cancelable: true }));
      ev('pointerdown', x, y);
      ev('pointermove', x + d[0] / 2, y + d[1] / 2);
      ev('pointermove', x + d[0], y + d[1]);
      ev('pointerup', x + d[0], y + d[1]);
    }, [dx, dy]);
    await swipe(-20, 0);
    assert.equal((await box(t.page)).transform, 'translate(-50%, -50%) translate(-20px, 0px) scale(1)');
    await t.page.keyboard.press('0');
    assert.equal(await scale(), fit);
    await swipe(80, 10);
    await boxed(t.page, 'p12.jpg');
    await swipe(-80, 0);
    await boxed(t.page, 'sunset.jpg');
    await t.close();
  });

  test('Back closes the lightbox, and a link with the file opens it', async () => {
    const t = await open(at());
    await thumbsShown(t.page, PICTURES.length);
    await t.page.locator('#entries .tile', { hasText: 'p03.jpg' }).click();
    await boxed(t.page, 'p03.jpg');
    const link = t.page.url();
    await t.page.goBack();
    await until(t.page, () => document.getElementById('lightbox').classList.contains('hidden'));
    assert.equal(hash(t.page), `#dir=${enc(PHOTO_DIR)}&view=grid`);
    const other = await open(link);
    await boxed(other.page, 'p03.jpg');
    assert.equal(await other.page.$eval('#entries .tile.sel .nm', (e) => e.textContent), 'p03.jpg');
    await other.close();
    await t.close();
  });
});
