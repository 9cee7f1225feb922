// Browsing as a person does: roots, breadcrumbs, rows, keys, hidden files, sizes, and what the page does
// when a listing fails or answers arrive out of order.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import {
  HOME, HUB, NODE_A, SECOND, assertClean, listed, open, preview, row, toastText, until, useBrowser, view, walk,
} from './lib.mjs';
import { BIG_FILES, LS_MAX, MANY, SIZES, SIZE_TIMES, bigName } from './fixtures.mjs';

useBrowser();
const PAGE = `${NODE_A}/plugin_files`;
const HOME_ROWS = ['deep', 'docs', 'empty', 'hostile', 'media', 'outside', 'sizes', 'text', 'notes.txt'];
const lsOf = (reqs) => reqs.filter((r) => r.url.includes('action=ls')).map((r) => new URL(r.url, PAGE).searchParams.get('path'));

describe('Roots and the first listing', () => {
  test('a wide window lists the roots and opens the first one by itself', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    assert.deepEqual(await view(t.page), {
      roots: ['home', 'second'], selRoot: 'home', crumbs: 'home', rows: HOME_ROWS, sel: 'deep', count: '9 items',
      empty: false, view: 'roots', prevName: null, prevMeta: null, download: false, welcome: true,
    });
    assert.deepEqual(await t.page.$$eval('#roots .root .p', (ps) => ps.map((p) => p.textContent)), [HOME, SECOND]);
    // Kind, icon and size of a row: a link to a directory is a directory row with the link icon.
    const rows = await t.page.$$eval('#entries .row', (rs) => rs.map((r) => [r.querySelector('.nm').textContent,
      r.className, r.querySelector('.ico').className, r.querySelector('.mt').textContent]));
    assert.deepEqual([rows[0], rows[5], rows[8]], [
      ['deep', 'row dir sel', 'ico dir', ''], ['outside', 'row dir', 'ico link', ''], ['notes.txt', 'row', 'ico file', '23 B']]);
    assert.deepEqual(t.requests.slice(0, 3), [{ url: '/plugin_files', pwd: null },
      { url: '/plugin_files?action=roots', pwd: null },
      { url: `/plugin_files?action=ls&path=${encodeURIComponent(HOME)}`, pwd: null }]);
    // The page names its own icon, so no request for one fails on every load.
    assert.equal(t.requests.some((r) => r.url.includes('favicon')), false);
    await assertClean(t);
    await t.close();
  });

  test('a window 820px wide keeps the root list until a root is tapped, then shows one pane at a time', async () => {
    const t = await open(PAGE, { width: 820 });
    const shown = () => t.page.evaluate(() => ['#side', '#main', '.listwrap', '.preview', '#btnBack']
      .filter((s) => getComputedStyle(document.querySelector(s)).display !== 'none' && document.querySelector(s).offsetParent !== null));
    assert.deepEqual(await shown(), ['#side']);
    assert.deepEqual([(await view(t.page)).crumbs, (await view(t.page)).count], ['Select a root', '']);
    await t.page.click('#roots .root >> nth=1');
    await listed(t.page, 'second');
    assert.deepEqual(await shown(), ['#main', '.listwrap', '#btnBack']);
    assert.deepEqual(lsOf(t.requests), [SECOND]);
    await preview(t.page, 'other.txt');
    assert.equal((await view(t.page)).view, 'preview');
    // The side pane stays displayed under the main pane, which covers it.
    assert.deepEqual(await shown(), ['#side', '#main', '.preview', '#btnBack']);
    await t.page.click('#btnBack');
    await until(t.page, () => document.querySelector('#app').dataset.view === 'browse');
    assert.deepEqual(await shown(), ['#main', '.listwrap', '#btnBack']);
    // From the listing, back is the root list; the class hidden wins over the narrow rule that shows it.
    await t.page.click('#btnBack');
    assert.deepEqual([(await view(t.page)).view, await shown()], ['roots', ['#side']]);
    await t.page.click('#roots .root >> nth=0');
    await t.page.$eval('#btnBack', (b) => b.classList.add('hidden'));
    assert.deepEqual(await shown(), ['#main', '.listwrap']);
    await t.close();
  });

  test('on a phone the system Back goes from a preview to its listing, and the in-page back drops the file', async () => {
    const t = await open(PAGE, { width: 600 });
    await t.page.click('#roots .root >> nth=0');
    await listed(t.page, 'home');
    await walk(t.page, 'text');
    const place = async () => [(await view(t.page)).view, (await view(t.page)).crumbs, (await view(t.page)).prevName,
      await t.page.evaluate(() => new URLSearchParams(location.hash.slice(1)).get('file'))];
    await preview(t.page, 'notes.txt');
    assert.deepEqual(await place(), ['preview', 'home / text', 'notes.txt', 'notes.txt']);
    await t.page.goBack();
    await until(t.page, () => document.querySelector('#app').dataset.view === 'browse');
    assert.deepEqual(await place(), ['browse', 'home / text', null, null]);
    await preview(t.page, 'crlf.txt');
    await t.page.click('#btnBack');
    await until(t.page, () => document.querySelector('#app').dataset.view === 'browse');
    assert.deepEqual(await place(), ['browse', 'home / text', null, null]);
    await t.page.reload();
    await listed(t.page, 'text');
    assert.deepEqual(await place(), ['browse', 'home / text', null, null]);
    assert.deepEqual(lsOf(t.requests), [HOME, `${HOME}/text`, `${HOME}/text`]);
    await t.close();
  });

  test('the root that holds the listing is the marked one', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    await t.page.click('#roots .root >> nth=1');
    await listed(t.page, 'second');
    const v = await view(t.page);
    assert.deepEqual([v.selRoot, v.crumbs, v.rows, v.count, v.view], ['second', 'second', ['many', 'other.txt'], '2 items', 'browse']);
    await t.close();
  });
});

describe('Breadcrumbs', () => {
  test('each step is a crumb that opens its directory; the root crumb goes back to the root', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    await walk(t.page, 'deep', 'one', 'two');
    const crumbs = await t.page.$$eval('#crumbs > *', (cs) => cs.map((c) => [c.className, c.textContent, c.title]));
    assert.deepEqual(crumbs, [['crumb', 'home', HOME], ['sep', '/', ''], ['crumb', 'deep', `${HOME}/deep`], ['sep', '/', ''],
      ['crumb', 'one', `${HOME}/deep/one`], ['sep', '/', ''], ['crumb last', 'two', `${HOME}/deep/one/two`]]);
    await t.page.click('#crumbs .crumb >> text=deep');
    await listed(t.page, 'deep');
    assert.deepEqual((await view(t.page)).rows, ['one', 'deep.txt']);
    assert.equal((await view(t.page)).count, '2 items');
    await t.page.click('#crumbs .crumb >> text=home');
    await listed(t.page, 'home');
    assert.equal((await view(t.page)).crumbs, 'home');
    await t.close();
  });
});

describe('Keyboard and buttons', () => {
  test('arrows move the selection within the rows and open nothing; Enter opens, Backspace goes up', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    const key = async (k, n = 1) => { for (let i = 0; i < n; i++) await t.page.keyboard.press(k); return (await view(t.page)).sel; };
    assert.equal(await key('ArrowUp'), 'deep');
    assert.equal(await key('ArrowDown', 12), 'notes.txt');
    assert.equal(await key('ArrowUp'), 'text');
    assert.deepEqual(lsOf(t.requests), [HOME]);
    await t.page.keyboard.press('Enter');
    await listed(t.page, 'text');
    await t.page.keyboard.press('Backspace');
    await listed(t.page, 'home');
    assert.equal((await view(t.page)).sel, 'text');
    // In a root Backspace does nothing, while the up button says so.
    await t.page.keyboard.press('Backspace');
    await t.page.click('#btnUp');
    assert.equal(await toastText(t.page), 'Already at the root');
    assert.deepEqual(lsOf(t.requests), [HOME, `${HOME}/text`, HOME]);
    await t.close();
  });

  test('after arrow steps the rows are exactly what drawing the list anew with that selection gives', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    const rowsHtml = () => t.page.$$eval('#entries .row', (rs) => rs.map((r) => r.outerHTML));
    const drawn = await rowsHtml();
    for (let i = 0; i < 5; i++) await t.page.keyboard.press('ArrowDown');
    // A fresh draw gives every row its class in one piece, "sel" last, on the selected row only.
    const fresh = drawn.map((html, i) => {
      const plain = html.replace(' sel"', '"');
      return i === 5 ? plain.replace(/^<div role="option" class="([^"]*)"/, '<div role="option" class="$1 sel"') : plain;
    });
    assert.deepEqual(await rowsHtml(), fresh);
    assert.equal((await view(t.page)).sel, 'outside');
    await t.close();
  });

  test('Enter and Space press the focused button; after a click on one, Enter opens the selected entry', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    await t.page.focus('#btnHidden');
    await t.page.keyboard.press('Enter');
    await until(t.page, () => document.querySelector('#btnHidden').getAttribute('aria-pressed') === 'true');
    await t.page.keyboard.press('Space');
    await until(t.page, () => document.querySelector('#btnHidden').getAttribute('aria-pressed') === 'false');
    assert.equal((await view(t.page)).crumbs, 'home');
    await t.page.click('#sortDesc');
    assert.equal(await t.page.evaluate(() => document.activeElement.id), 'entries');
    await t.page.keyboard.press('Home');
    await t.page.keyboard.press('Enter');
    await listed(t.page, 'text');
    assert.equal(await t.page.getAttribute('#btnHidden', 'class'), 'icon');
    await t.close();
  });

  test('up goes to the parent and refresh lists the directory again', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    await walk(t.page, 'deep', 'one');
    await t.page.click('#btnUp');
    await listed(t.page, 'deep');
    const refreshed = t.page.waitForEvent('requestfinished');
    await t.page.click('#btnRefresh');
    await refreshed;
    assert.deepEqual(lsOf(t.requests), [HOME, `${HOME}/deep`, `${HOME}/deep/one`, `${HOME}/deep`, `${HOME}/deep`]);
    assert.equal((await view(t.page)).crumbs, 'home / deep');
    await t.close();
  });
});

describe('Going up', () => {
  test('up, Backspace and a breadcrumb select the directory left and a double click opens one level', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    await walk(t.page, 'deep', 'one', 'two');
    await t.page.click('#btnUp');
    await listed(t.page, 'one');
    assert.equal((await view(t.page)).sel, 'two');
    await t.page.keyboard.press('Backspace');
    await listed(t.page, 'deep');
    assert.equal((await view(t.page)).sel, 'one');
    await t.page.click('#crumbs .crumb >> text=home');
    await listed(t.page, 'home');
    assert.equal((await view(t.page)).sel, 'deep');
    // The second click lands on the new listing's first row, where the first click was.
    const box = await row(t.page, 'deep').boundingBox();
    await t.page.mouse.click(box.x + 40, box.y + 10);
    await listed(t.page, 'deep');
    await t.page.mouse.down({ clickCount: 2 });
    await t.page.mouse.up({ clickCount: 2 });
    await t.page.evaluate(() => new Promise((r) => setTimeout(r, 300)));
    assert.deepEqual([(await view(t.page)).crumbs, lsOf(t.requests).length], ['home / deep', 8]);
    await t.close();
  });
});

describe('Filter and sort', () => {
  test('/ focuses the filter; arrows and Enter work among the rows shown; Escape clears it', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    await t.page.keyboard.press('/');
    await t.page.keyboard.type('TE');
    assert.deepEqual([(await view(t.page)).rows, (await view(t.page)).sel, (await view(t.page)).count],
      [['text', 'notes.txt'], 'text', '2 of 9 items']);
    // Home and Backspace edit the text; the arrows still move the selection.
    await t.page.keyboard.press('Home');
    await t.page.keyboard.press('ArrowDown');
    await t.page.keyboard.press('ArrowDown');
    assert.equal((await view(t.page)).sel, 'notes.txt');
    await t.page.keyboard.press('Enter');
    await until(t.page, () => document.querySelector('#prevName').textContent === 'notes.txt');
    await t.page.focus('#filter');
    await t.page.keyboard.press('End');
    await t.page.keyboard.press('Backspace');
    assert.deepEqual([await t.page.inputValue('#filter'), (await view(t.page)).count], ['T', '5 of 9 items']);
    await t.page.keyboard.press('Escape');
    assert.deepEqual([await t.page.inputValue('#filter'), (await view(t.page)).rows, (await view(t.page)).count],
      ['', HOME_ROWS, '9 items']);
    assert.deepEqual(lsOf(t.requests), [HOME]);
    await t.close();
  });

  test('a filter that leaves no row says so', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    await t.page.fill('#filter', 'nothing by this name');
    // Rows out of view catch up once typing pauses; until then their group is unseen.
    await until(t.page, () => !document.querySelector('#entries .row:not(.hidden)'));
    assert.deepEqual([(await view(t.page)).rows, (await view(t.page)).count, (await view(t.page)).empty, await t.page.textContent('#empty')],
      [[], '0 of 9 items', true, 'No matches.']);
    await t.close();
  });

  test('sorting keeps directories first, orders by size or time with ties by name, and shows each time', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    await t.page.click('#sortDesc');
    assert.deepEqual(await t.page.getAttribute('#sortDesc', 'class'), 'icon on');
    assert.deepEqual((await view(t.page)).rows, [...HOME_ROWS.slice(0, 8).reverse(), 'notes.txt']);
    await walk(t.page, 'sizes');
    await t.page.selectOption('#sort', 'size');
    assert.deepEqual((await view(t.page)).rows, SIZES.map(([name]) => name).reverse());
    await t.page.click('#sortDesc');
    await t.page.selectOption('#sort', 'time');
    assert.deepEqual((await view(t.page)).rows, ['d', 'g', 'b', 'e', 'h', 'c', 'f', 'a']);
    const local = (s) => { const d = new Date(s * 1000); const p = (n) => String(n).padStart(2, '0');
      return `${d.getFullYear()}-${p(d.getMonth() + 1)}-${p(d.getDate())} ${p(d.getHours())}:${p(d.getMinutes())}`; };
    assert.equal(await row(t.page, 'a').locator('.tm').textContent(), local(SIZE_TIMES[0]));
    await t.close();
  });
});

describe('The address', () => {
  test('a reload and a pasted link, on the node and through the hub, come back to the same place', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    await walk(t.page, 'text');
    await t.page.click('#btnHidden');
    await until(t.page, () => document.querySelector('#count').textContent === '9 items');
    await t.page.selectOption('#sort', 'size');
    await t.page.click('#sortDesc');
    await t.page.fill('#filter', 'txt');
    await preview(t.page, 'crlf.txt');
    const hash = `#${new URLSearchParams({ dir: `${HOME}/text`, file: 'crlf.txt', sort: 'size', desc: '1', q: 'txt', hidden: '1' })}`;
    assert.equal(await t.page.evaluate(() => location.hash), hash);
    const place = async (p) => [await view(p), await p.inputValue('#filter'), await p.inputValue('#sort'),
      await p.getAttribute('#sortDesc', 'class'), await p.getAttribute('#btnHidden', 'class')];
    const here = await place(t.page);
    assert.deepEqual(here[0].rows, ['notes.txt', 'escape.txt', 'crlf.txt', 'trailing.txt', 'empty.txt']);
    await t.page.reload();
    await until(t.page, () => document.querySelector('#prevBody .tx')?.textContent === 'a\r\nb\r');
    assert.deepEqual(await place(t.page), here);
    for (const link of [`${PAGE}${hash}`, `${HUB}/plugins?plugin=files&node=a${hash}`]) {
      const u = await open(link);
      await until(u.page, () => document.querySelector('#prevBody .tx')?.textContent === 'a\r\nb\r');
      assert.deepEqual(await place(u.page), here);
      await u.close();
    }
    await t.close();
  });

  test('the tab is named after the folder open, and the file previewed in it', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    const titles = [await t.page.title()];
    await walk(t.page, 'text');
    titles.push(await t.page.title());
    await preview(t.page, 'notes.txt');
    titles.push(await t.page.title());
    assert.deepEqual(titles, ['home - files', 'text - files', 'notes.txt - text - files']);
    await t.close();
  });

  test('Back and Forward step through the directories visited without loading the page again', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    await walk(t.page, 'deep', 'one');
    await t.page.evaluate(() => { window.stayed = true; });
    await t.page.goBack();
    await listed(t.page, 'deep');
    assert.equal((await view(t.page)).sel, 'one');
    await t.page.goBack();
    await listed(t.page, 'home');
    await t.page.goForward();
    await listed(t.page, 'deep');
    assert.equal(await t.page.evaluate(() => window.stayed), true);
    await t.close();
  });

  test('the preview shows what the address says after Backspace, another root, Back and Forward', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    await walk(t.page, 'text');
    const shows = async () => [(await view(t.page)).prevName, (await view(t.page)).download,
      new URLSearchParams((await t.page.evaluate(() => location.hash)).slice(1)).get('file')];
    await preview(t.page, 'crlf.txt');
    assert.deepEqual(await shows(), ['crlf.txt', true, 'crlf.txt']);
    await t.page.keyboard.press('Backspace');
    await listed(t.page, 'home');
    assert.deepEqual(await shows(), [null, false, null]);
    await t.page.goBack();
    await until(t.page, () => document.querySelector('#prevBody .tx')?.textContent === 'a\r\nb\r');
    assert.deepEqual(await shows(), ['crlf.txt', true, 'crlf.txt']);
    await t.page.goForward();
    await listed(t.page, 'home');
    assert.deepEqual(await shows(), [null, false, null]);
    await walk(t.page, 'text');
    await preview(t.page, 'notes.txt');
    await t.page.click('#roots .root >> nth=1');
    await listed(t.page, 'second');
    assert.deepEqual(await shows(), [null, false, null]);
    await t.page.goBack();
    await until(t.page, () => document.querySelector('#prevName').textContent === 'notes.txt' && document.querySelector('#prevBody .tx'));
    const [download] = await Promise.all([t.page.waitForEvent('download'), t.page.click('#btnDownload')]);
    assert.equal(download.suggestedFilename(), 'notes.txt');
    await t.close();
  });

  // the directory the address names, what the toast says
  const FAILING = [[`${HOME}/missing`, 'path not found'], [`${HOME}/outside`, 'path not allowed']];
  for (const [dir, error] of FAILING) {
    test(`an address naming a directory that fails (${error}) says so and opens the first root`, async () => {
      const t = await open(`${PAGE}#${new URLSearchParams({ dir })}`);
      assert.equal(await toastText(t.page), `Cannot open folder: ${error}`);
      await listed(t.page, 'home');
      assert.equal(await t.page.evaluate(() => location.hash), `#${new URLSearchParams({ dir: HOME })}`);
      await t.close();
    });
  }

  // the place a link names, what the page says (null: nothing), the place it shows, the file previewed
  const LANDINGS = [
    [{ dir: `${HOME}/deep/gone/away` }, 'Cannot open folder: path not found', { dir: `${HOME}/deep` }, null],
    [{ dir: `${HOME}/notes.txt` }, null, { dir: HOME, file: 'notes.txt' }, 'notes.txt'],
    [{ dir: `${HOME}/text`, file: 'gone.txt' }, 'File not found: gone.txt', { dir: `${HOME}/text` }, null],
  ];
  for (const [place, said, shows, file] of LANDINGS) {
    test(`a link to ${JSON.stringify(place).replaceAll(HOME, '~')} shows ${JSON.stringify(shows).replaceAll(HOME, '~')}${said ? ` and says "${said}"` : ''}`, async () => {
      const t = await open(`${PAGE}#${new URLSearchParams(place)}`);
      await until(t.page, (h) => location.hash === h, `#${new URLSearchParams(shows)}`);
      if (file) await until(t.page, () => document.querySelector('#prevBody .tx'));
      assert.deepEqual([said ? await toastText(t.page) : await t.page.$('#toast.show'), (await view(t.page)).prevName], [said, file]);
      await t.close();
    });
  }
});

// The page over the folder of more entries than one answer holds, loaded whole.
const MANY_NAMES = Array.from({ length: MANY }, (_, i) => `f${String(i).padStart(4, '0')}.txt`);
async function openMany(url = PAGE) {
  const t = await open(url);
  if (url === PAGE) {
    await listed(t.page, 'home');
    await t.page.click('#roots .root >> nth=1');
    await walk(t.page, 'many');
  }
  await until(t.page, (n) => document.querySelector('#count').textContent === `${n} items`, MANY);
  return t;
}

// Where the list stands, the names of the rows a user sees in it, and how many rows are in the document.
const seen = (page) => page.evaluate(() => {
  const list = document.querySelector('#entries');
  const box = list.getBoundingClientRect();
  const rows = [...list.querySelectorAll('.row')];
  return [list.scrollTop, rows.filter((r) => {
    const b = r.getBoundingClientRect();
    return r.checkVisibility() && b.height > 0 && b.bottom > box.top && b.top < box.bottom;
  }).map((r) => r.querySelector('.nm').textContent), rows.length];
});
// The shown rows from where the list stands, by the rows' fixed height and the list's padding.
const standing = (top) => Math.floor(Math.max(0, top - 6) / 33.5);

describe('A listing of thousands', () => {
  test('it shows the rows where it stands, a few screens of them in the document, and Home, End and Page keys move by screens', async () => {
    const t = await openMany();
    const names = MANY_NAMES;
    const [top, rows, drawn] = await seen(t.page);
    assert.deepEqual([top, rows, (await view(t.page)).sel], [0, names.slice(0, rows.length), names[0]]);
    assert.ok(rows.length >= 18 && drawn <= 3 * (rows.length + 1), `${rows.length} rows seen, ${drawn} drawn`);
    const screen = await t.page.evaluate(() => Math.floor(document.querySelector('#entries').clientHeight
      / document.querySelector('#entries .row').offsetHeight) - 1);
    const at = async (k) => { await t.page.keyboard.press(k); return (await view(t.page)).sel; };
    assert.deepEqual([await at('PageDown'), await at('PageDown'), await at('PageUp'), await at('End'), await at('Home')],
      [names[screen], names[2 * screen], names[screen], names[MANY - 1], names[0]]);
    await t.page.keyboard.press('End');
    assert.equal(await t.page.evaluate(() => { const e = document.querySelector('#entries').getBoundingClientRect();
      const r = document.querySelector('#entries .row.sel').getBoundingClientRect(); return r.top >= e.top && r.bottom <= e.bottom; }), true);
    const [end, last] = await seen(t.page);
    assert.deepEqual(last, names.slice(standing(end), standing(end) + last.length));
    assert.equal(last.at(-1), names[MANY - 1]);
    await t.close();
  });

  test('Ctrl+F goes to the filter, which finds over the whole folder', async () => {
    const t = await openMany();
    await t.page.keyboard.press('Control+f');
    await t.page.keyboard.type('f4999');
    assert.deepEqual([await t.page.evaluate(() => document.activeElement.id), (await view(t.page)).rows], ['filter', ['f4999.txt']]);
    await t.close();
  });
});

describe('Folders of any size', () => {
  test('a folder of many answers in another order than the server\'s is drawn in it once its last part is in', async () => {
    const t = await openMany(`${PAGE}#${new URLSearchParams({ dir: `${SECOND}/many`, desc: '1' })}`);
    const [, rows] = await seen(t.page);
    assert.deepEqual(rows, [...MANY_NAMES].reverse().slice(0, rows.length));
    await t.close();
  });

  test('a folder of many answers loads whole up to the node\'s most: a link, keys and the filter reach its end, and the count says what is left out', async () => {
    const t = await open(`${HUB}/plugins?plugin=files&node=a#${new URLSearchParams({ dir: `${SECOND}/.big`, file: bigName(LS_MAX - 1) })}`);
    await until(t.page, (n) => document.querySelector('#prevName').textContent === n, bigName(LS_MAX - 1));
    const left = `${BIG_FILES - LS_MAX} more not shown`;
    assert.deepEqual([(await view(t.page)).count, (await view(t.page)).sel], [`${LS_MAX} items, ${left}`, bigName(LS_MAX - 1)]);
    await t.page.keyboard.press('Home');
    await t.page.keyboard.press('End');
    assert.equal((await view(t.page)).sel, bigName(LS_MAX - 1));
    await t.page.fill('#filter', '1999');
    const names = Array.from({ length: LS_MAX }, (_, i) => bigName(i)).filter((n) => n.includes('1999'));
    assert.deepEqual([(await view(t.page)).count, (await view(t.page)).rows], [`${names.length} of ${LS_MAX} items, ${left}`, names]);
    assert.equal(t.requests.filter((r) => r.url.includes('action=ls')).length, Math.ceil(LS_MAX / 5000));
    await t.close();
  });
});

describe('A listing of thousands, filtered', () => {
  test('keys typed into the filter end in the rows and the length a fresh draw of the filtered list gives', async () => {
    const t = await openMany();
    // The selection is compared on its own: typing keeps the selected entry while it passes, where a
    // fresh draw selects the first row.
    const drawn = () => JSON.stringify([document.querySelector('#entries').scrollHeight,
      ...[...document.querySelectorAll('#entries .row')].map((r) => r.outerHTML.replace(' sel"', '"'))]);
    const rowsHtml = () => t.page.evaluate(drawn);
    await t.page.focus('#filter');
    await t.page.keyboard.type('77');
    await t.page.keyboard.press('Backspace');
    assert.equal((await view(t.page)).sel, 'f0077.txt');
    const typed = [(await view(t.page)).count, await rowsHtml()];
    // Rows are drawn again in place, so the count's text, set anew for every part, tells the fresh draw.
    await t.page.$eval('#count', (c) => { c.firstChild.old = true; });
    await t.page.click('#btnRefresh');
    await until(t.page, (n) => !document.querySelector('#count').firstChild.old
      && document.querySelector('#count').textContent.endsWith(`of ${n} items`), MANY);
    assert.match(typed[0], new RegExp(`^13\\d\\d of ${MANY} items$`));
    assert.deepEqual([(await view(t.page)).count, await rowsHtml()], typed);
    await t.close();
  });

  // Typed and read in the same task, or in the frame after a scroll: where the list stands, and the
  // names of the rows a user sees in it.
  const typeAndSee = (page, text, scrollTop) => page.evaluate(([text, scrollTop]) => new Promise((resolve) => {
    const filter = document.querySelector('#filter');
    const list = document.querySelector('#entries');
    const seen = () => [list.scrollTop, [...list.querySelectorAll('.row')].filter((r) => {
      const b = r.getBoundingClientRect();
      const box = list.getBoundingClientRect();
      return r.checkVisibility({ opacityProperty: true }) && b.height > 0 && b.bottom > box.top && b.top < box.bottom;
    }).map((r) => r.querySelector('.nm').textContent)];
    filter.value = text;
    filter.dispatchEvent(new Event('input'));
    if (scrollTop === undefined) return resolve(seen());
    list.scrollTop = scrollTop;
    // The frame after the scroll, once its scroll event has run.
    requestAnimationFrame(() => resolve(seen()));
  }), [text, scrollTop]);

  test('a filter whose first match lies far down shows its rows in the same task', async () => {
    const t = await openMany();
    assert.deepEqual((await typeAndSee(t.page, 'f49'))[1].slice(0, 3), ['f4900.txt', 'f4901.txt', 'f4902.txt']);
    await t.close();
  });

  // A screen of filtered rows shows where the scroll lands, in the frame that shows the scroll.
  test('a scroll right after a keystroke shows a screen of the filtered rows where it lands', async () => {
    const t = await openMany();
    const [top, rows] = await typeAndSee(t.page, '7', 20000);
    const names = MANY_NAMES.filter((n) => n.includes('7'));
    assert.deepEqual([top > 0, rows.length >= 18], [true, true]);
    assert.deepEqual(rows, names.slice(standing(top), standing(top) + rows.length));
    await t.close();
  });
});

describe('Hidden files', () => {
  test('the eye button lists names that begin with a dot, and hides them again', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    const state = async () => [...Object.values(await t.page.$eval('#btnHidden', (b) => ({ c: b.className, t: b.title, a: b.getAttribute('aria-label') }))),
      (await view(t.page)).count];
    await t.page.click('#btnHidden');
    await until(t.page, () => document.querySelector('#count').textContent === '11 items');
    assert.deepEqual((await view(t.page)).rows, ['.config', ...HOME_ROWS.slice(0, 8), '.hidden-file', 'notes.txt']);
    assert.deepEqual(await state(), ['icon on', 'Hide hidden files', 'Hide hidden files', '11 items']);
    assert.ok(t.requests.at(-1).url.endsWith(`path=${encodeURIComponent(HOME)}&hidden=1`));
    await t.page.click('#btnHidden');
    await until(t.page, () => document.querySelector('#count').textContent === '9 items');
    assert.deepEqual(await state(), ['icon', 'Show hidden files', 'Show hidden files', '9 items']);
    await t.close();
  });

  test('with no directory open the toggle changes only the button', async () => {
    const t = await open(PAGE, { width: 600 });
    await t.page.click('#btnHidden');
    assert.deepEqual([await t.page.getAttribute('#btnHidden', 'class'), (await view(t.page)).crumbs], ['icon on', 'Select a root']);
    // The first listing asked for afterwards includes hidden names.
    await t.page.click('#roots .root >> nth=0');
    await until(t.page, () => document.querySelector('#count').textContent === '11 items');
    assert.deepEqual(lsOf(t.requests), [HOME]);
    await t.close();
  });
});

describe('Sizes, counts and the empty directory', () => {
  test('file sizes read in B, KB, MB and GB with one decimal', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    await walk(t.page, 'sizes');
    const shown = await t.page.$$eval('#entries .row', (rs) => rs.map((r) => [r.querySelector('.nm').textContent, r.querySelector('.mt').textContent]));
    assert.deepEqual(shown, SIZES.map(([name, , text]) => [name, text]));
    assert.equal((await view(t.page)).count, '8 items');
    await t.close();
  });

  test('an empty directory says so, puts the welcome back and disables the download button', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    await preview(t.page, 'notes.txt');
    assert.equal((await view(t.page)).download, true);
    await walk(t.page, 'empty');
    const v = await view(t.page);
    assert.deepEqual([v.rows, v.count, v.empty, v.welcome, v.prevName, v.download],
      [[], '0 items', true, true, null, false]);
    assert.equal(await t.page.textContent('#empty'), 'This directory is empty.');
    assert.equal(await t.page.evaluate(() => document.querySelector('#empty').getBoundingClientRect().top
      - document.querySelector('.listbar').getBoundingClientRect().bottom), 6);
    assert.equal(await t.page.textContent('#prevBody'),
      'Pick a root, then open a file to preview it.Arrows move \u00b7 Enter opens \u00b7 Backspace goes up \u00b7 ? lists the keys');
    await t.close();
  });
});

describe('Failures and answers out of order', () => {
  test('a refused listing keeps the old one and says why', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    const before = await view(t.page);
    await row(t.page, 'outside').click();
    assert.equal(await toastText(t.page), 'Cannot open folder: path not allowed');
    assert.deepEqual({ ...await view(t.page), sel: before.sel, view: before.view }, before);
    assert.equal((await view(t.page)).sel, 'outside');
    await t.close();
  });

  test('a busy node is asked once more after the time it names, then the page says the node is busy', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    const answers = [503, 200, 503, 503];
    await t.page.route((u) => u.searchParams.get('action') === 'ls', (route) => (answers.shift() === 200 ? route.continue()
      : route.fulfill({ status: 503, headers: { 'Retry-After': '1' }, contentType: 'application/json', body: '{"ok":false,"error":"busy"}\n' })));
    await row(t.page, 'deep').click();
    await listed(t.page, 'deep');
    await row(t.page, 'one').click();
    assert.equal(await toastText(t.page), 'Cannot open folder: the node is busy, try again in a moment');
    assert.deepEqual([answers, lsOf(t.requests)], [[], [HOME, `${HOME}/deep`, `${HOME}/deep`, `${HOME}/deep/one`, `${HOME}/deep/one`]]);
    await t.close();
  });

  // The older request is held back until the newer one has been drawn, then let through.
  async function overtaken(t, slowPath, act) {
    let release;
    const held = new Promise((r) => { release = r; });
    await t.page.route((u) => u.searchParams.get('path') === slowPath, async (route) => { await held; await route.continue(); });
    const answered = t.page.waitForEvent('response', (r) => new URL(r.url()).searchParams.get('path') === slowPath);
    await act();
    release();
    // The page reads no body from a refusal, so only a success is waited for to the end.
    const res = await answered;
    if (res.ok()) await res.finished();
    // Give the page the turn in which it would apply the late answer.
    await t.page.evaluate(() => new Promise((r) => requestAnimationFrame(() => setTimeout(r))));
  }

  test('a listing answered after a newer one is dropped, and so is its failure', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    await overtaken(t, `${HOME}/deep`, async () => {
      await row(t.page, 'deep').click();
      await walk(t.page, 'docs');
    });
    assert.equal((await view(t.page)).crumbs, 'home / docs');
    await t.page.click('#crumbs .crumb >> text=home');
    await listed(t.page, 'home');
    await overtaken(t, `${HOME}/outside`, async () => {
      await row(t.page, 'outside').click();
      await walk(t.page, 'text');
    });
    assert.deepEqual([(await view(t.page)).crumbs, await t.page.$('#toast.show')], ['home / text', null]);
    await t.close();
  });

  test('a preview answered after a newer one is dropped', async () => {
    const t = await open(PAGE);
    await listed(t.page, 'home');
    await walk(t.page, 'text');
    await overtaken(t, `${HOME}/text/notes.txt`, async () => {
      await row(t.page, 'notes.txt').click();
      await preview(t.page, 'trailing.txt');
    });
    assert.deepEqual(await t.page.$$eval('#prevBody > *', (es) => es.map((e) => e.className)), ['codetxt']);
    assert.equal(await t.page.textContent('#prevBody .ln'), '1\n2\n3');
    await t.close();
  });
});
