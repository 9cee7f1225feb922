// The preview pane: text with line numbers, the end of a large text, Markdown, images, audio and video,
// binary and refused files, downloads, and names and contents that must stay text.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { describe, test } from 'node:test';
import {
  HOME, HUB, NODE_A, SECOND, VAULT, assertClean, enc, listed, open, preview, row, toastText, until, useBrowser, view, walk,
} from './lib.mjs';
import {
  BIG_LOG_LINES, CODE, HOSTILE_KINDS, HOSTILE_NAMES, HOSTILE_TEXT, LONG_LINES, LONG_NAME, ODD_NAME, PASSWORD, SPACED_NAME, VIEWER,
  bigLogLine, put,
} from './fixtures.mjs';

useBrowser();
const PAGE = `${NODE_A}/plugin_files`;

async function openAt(...steps) {
  const t = await open(PAGE);
  await listed(t.page, 'home');
  await walk(t.page, ...steps);
  return t;
}

// The code view as [line-number column, text], each joined over its blocks of lines.
const code = (page) => page.$eval('#prevBody .codetxt', (c) => [c.querySelector('.ln') && [...c.querySelectorAll('.ln')]
  .map((e) => e.textContent).join('\n'), [...c.querySelectorAll('.tx')].map((e) => e.textContent).join('\n')]);
const pane = (page) => page.$$eval('#prevBody > *', (es) => es.map((e) => [e.className, e.textContent]));
const reads = (t) => t.requests.filter((r) => r.url.includes('action=read'));

describe('Text', () => {
  test('text shows with one line number per line, and the meta line names plain text', async () => {
    const t = await openAt('text');
    await t.page.click('#btnHidden');
    await until(t.page, () => document.querySelector('#entries .nm').textContent === '.gitignore');
    for (const [name, text, numbers, meta] of CODE) {
      await preview(t.page, name);
      const [ln, tx] = await code(t.page);
      assert.deepEqual([name, ln ?? '', tx, (await view(t.page)).prevMeta], [name, numbers, text.replace(/\n$/, ''), meta]);
    }
    await t.close();
  });

  test('each line number stays level with its line, however long the lines are', async () => {
    const t = await openAt('docs');
    await preview(t.page, 'long.log');
    assert.deepEqual(await code(t.page), [LONG_LINES.map((l, i) => i + 1).join('\n'), LONG_LINES.join('\n')]);
    for (const n of [1, 4, 5, 6, 17, 35, 100, 101, 199, 200, 201, 230]) {
      const [number, line] = await t.page.evaluate((n) => {
        // The top of the first character of the n-th line of a column, scrolled into view first.
        const top = (col) => {
          const texts = [...document.querySelectorAll(`#prevBody ${col}`)].map((e) => e.firstChild);
          let left = n;
          for (const node of texts) {
            const lines = node.data.split('\n');
            if (left > lines.length) { left -= lines.length; continue; }
            const at = lines.slice(0, left - 1).join('\n').length + (left > 1 ? 1 : 0);
            node.parentElement.scrollIntoView();
            const r = document.createRange();
            r.setStart(node, at);
            r.setEnd(node, at + 1);
            return r.getBoundingClientRect().top;
          }
        };
        return [top('.ln'), top('.tx')];
      }, n);
      assert.ok(Math.abs(number - line) < 1, `line ${n}: number at ${number}, line at ${line}`);
    }
    const wide = await t.page.$eval('#prevBody', (b) => b.scrollWidth > b.clientWidth);
    assert.equal(wide, true);
    await t.close();
  });

  test('a text larger than a preview offers its end, landing on its last line without line numbers, and its start again', async () => {
    const t = await openAt('docs');
    await preview(t.page, 'long.log');
    assert.equal(await t.page.isVisible('#btnTail'), false);
    await preview(t.page, 'big.log');
    assert.deepEqual([(await view(t.page)).prevMeta, await t.page.textContent('#btnTail')], ['1.4 MB (first 1 MB)', 'Show the end']);
    assert.equal((await code(t.page))[0].split('\n')[0], '1');
    await t.page.click('#btnTail');
    await until(t.page, () => document.querySelector('#prevMeta').textContent.endsWith('(last 1 MB)'));
    const [ln, tx] = await code(t.page);
    const last = tx.split('\n');
    const first = BIG_LOG_LINES - last.length + 1;
    assert.deepEqual([ln, last[0], last[last.length - 1], await t.page.textContent('#btnTail')],
      [null, bigLogLine(first), bigLogLine(BIG_LOG_LINES), 'Show the start']);
    // The last line is in view at the bottom of the pane.
    await until(t.page, () => {
      const b = document.querySelector('#prevBody');
      return b.scrollTop > 0 && b.scrollTop + b.clientHeight >= b.scrollHeight - 1;
    });
    assert.ok(reads(t).some((r) => r.url.endsWith(`path=${enc(`${HOME}/docs/big.log`)}&tail=1`)));
    await t.page.click('#btnTail');
    await until(t.page, () => document.querySelector('#prevMeta').textContent.endsWith('(first 1 MB)'));
    assert.deepEqual([(await code(t.page))[0].split('\n')[0], await t.page.textContent('#btnTail')], ['1', 'Show the end']);
    await t.close();
  });

  test('the first mebibyte ends after its last whole line, and Show more reads the next window, numbered on', async () => {
    const t = await openAt('docs');
    await preview(t.page, 'big.log');
    const [ln, tx] = await code(t.page);
    const shown = tx.split('\n');
    assert.deepEqual([shown[shown.length - 1], ln.split('\n').length], [bigLogLine(shown.length), shown.length]);
    await t.page.click('#prevBody .more');
    await until(t.page, () => document.querySelector('#prevBody .more').classList.contains('hidden'));
    const [ln2, tx2] = await code(t.page);
    const all = tx2.split('\n');
    assert.deepEqual([all.length, all[shown.length], all[all.length - 1], ln2.split('\n')[all.length - 1]],
      [BIG_LOG_LINES, bigLogLine(shown.length + 1), bigLogLine(BIG_LOG_LINES), String(BIG_LOG_LINES)]);
    await t.close();
  });

  test('an SVG drawing shows as a picture fed from its text, and as its source on request', async () => {
    const t = await openAt('media');
    await preview(t.page, 'drawing.svg');
    await until(t.page, () => document.querySelector('#prevBody .drawing img')?.complete);
    assert.deepEqual(await t.page.$eval('#prevBody .drawing img', (i) => [i.alt, i.src.startsWith('blob:'), i.naturalWidth]),
      ['drawing.svg', true, 8]);
    assert.equal(await t.page.$$eval('#prevBody svg', (es) => es.length), 0);
    await t.page.click('#btnSource');
    assert.deepEqual(await code(t.page), ['1', fs.readFileSync(`${HOME}/media/drawing.svg`, 'utf8').replace(/\n$/, '')]);
    assert.equal(await t.page.getAttribute('#btnSource', 'aria-pressed'), 'true');
    await t.close();
  });

  test('a binary file shows its bytes, 16 a row as hex and characters, jumps to an offset, and keeps the download button', async () => {
    const t = await openAt('text');
    await preview(t.page, 'data.bin');
    const rows = () => t.page.$eval('#prevBody .hexrows', (p) => p.textContent.split('\n'));
    const zeros = '00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00  ................';
    assert.deepEqual((await rows()).slice(0, 2), ['00000000  42 49 4e 00 00 00 00 00  00 00 00 00 00 00 00 00  BIN.............',
      `00000010  ${zeros}`]);
    const v = await view(t.page);
    assert.deepEqual([v.prevMeta, v.download, v.view], ['2.0 KB \u00b7 binary', true, 'preview']);
    await t.page.fill('#prevBody .hexbar input', '0x7f0');
    await t.page.press('#prevBody .hexbar input', 'Enter');
    await until(t.page, () => document.querySelector('#prevBody .hexrows').textContent.startsWith('000007f0'));
    const last = await rows();
    assert.deepEqual(last.slice(0, 1), [`000007f0  ${zeros}`]);
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

describe('Viewer', () => {
  const V = `${HOME}/docs/viewer`;
  // The classes of the coloured pieces of the code view, and its text.
  const colours = (page) => page.$eval('#prevBody .codetxt', (c) => [[...new Set([...c.querySelectorAll('.tx span, .t span')]
    .map((e) => e.className))].sort(), [...c.querySelectorAll('.tx, .l .t')].map((e) => e.textContent).join('\n')]);
  const at = (dir, file, extra = '') => `${PAGE}#dir=${enc(dir)}&file=${enc(file)}${extra}`;

  test('code is coloured by the language its extension, name or first line names, and keeps its exact text', async () => {
    const t = await openAt('docs', 'viewer');
    const cases = [['code.c', ['h-comment', 'h-keyword', 'h-number', 'h-params', 'h-title', 'h-type']], ['Makefile', ['h-section']],
      ['run', ['h-comment', 'h-keyword']], ['plain.txt', []]];
    for (const [name, classes] of cases) {
      await preview(t.page, name);
      await until(t.page, (c) => c === 0 || document.querySelector('#prevBody .tx span'), classes.length);
      assert.deepEqual([name, ...await colours(t.page)], [name, classes, VIEWER[name].replace(/\n$/, '')]);
    }
    await assertClean(t);
    await t.close();
  });

  test('a log shows its terminal colours, the escapes hidden', async () => {
    const t = await openAt('docs', 'viewer');
    await preview(t.page, 'colors.log');
    await until(t.page, () => document.querySelector('#prevBody .tx span'));
    const spans = await t.page.$$eval('#prevBody .tx span', (es) => es.map((e) => [e.textContent, e.className, e.style.color]));
    assert.deepEqual([spans, (await code(t.page))[1]], [[['red', '', 'var(--a1)'], ['bold', 'a-bo', 'var(--a2)']], 'red plain bold']);
    await t.close();
  });

  test('clicking line numbers marks a line or, with shift, a range, in the address; a link to them marks and shows them', async () => {
    const t = await openAt('docs');
    await preview(t.page, 'long.log');
    const number = (n) => t.page.$eval('#prevBody .ln', (ln, k) => {
      const r = ln.getBoundingClientRect();
      return [r.left + 5, r.top + (k - 0.5) * 20];
    }, n);
    const [x, y3] = await number(3);
    await t.page.mouse.click(x, y3);
    await until(t.page, () => location.hash.endsWith('&line=3'));
    const [, y6] = await number(6);
    await t.page.keyboard.down('Shift');
    await t.page.mouse.click(x, y6);
    await t.page.keyboard.up('Shift');
    await until(t.page, () => location.hash.endsWith('&line=3-6'));
    const marks = () => t.page.$$eval('#prevBody .mk', (ms) => ms.map((m) => [m.style.top, m.style.height]));
    assert.deepEqual(await marks(), [['40px', '80px']]);
    await t.context.grantPermissions(['clipboard-read', 'clipboard-write']);
    await t.page.click('#btnLink');
    assert.equal(await toastText(t.page), 'Link to line 3-6 copied');
    assert.equal(await t.page.evaluate(() => navigator.clipboard.readText()), t.page.url());
    await t.close();
    const again = await open(at(`${HOME}/docs`, 'long.log', '&line=150-151'));
    await until(again.page, () => document.querySelector('#prevBody .mk'));
    const shown = await again.page.$eval('#prevBody .mk', (m) => {
      const r = m.getBoundingClientRect();
      const b = document.querySelector('#prevBody').getBoundingClientRect();
      return [m.style.height, r.top >= b.top && r.bottom <= b.bottom];
    });
    assert.deepEqual(shown, ['40px', true]);
    await again.close();
  });

  test('a link to a line reaches it in a text larger than a preview, reading windows on and counting their lines', async () => {
    const t = await open(at(`${HOME}/docs`, 'big.log', '&line=90000'));
    await until(t.page, () => /\(lines \d+\u2013\d+\)$/.test(document.querySelector('#prevMeta').textContent) &&
      document.querySelector('#prevBody .mk'));
    const [ln, tx] = await code(t.page);
    const numbers = ln.split('\n');
    const lines = tx.split('\n');
    const i = numbers.indexOf('90000');
    assert.deepEqual([lines[i], lines[0], (await view(t.page)).prevMeta.startsWith('1.4 MB (lines ')],
      [bigLogLine(90000), bigLogLine(Number(numbers[0])), true]);
    assert.equal(reads(t).filter((r) => r.url.includes('&offset=')).length, 1);
    await t.close();
  });

  test('w wraps long lines with each number level with its line, and the choice is remembered', async () => {
    const t = await openAt('docs');
    await preview(t.page, 'long.log');
    await t.page.keyboard.press('w');
    await until(t.page, () => document.querySelector('#prevBody .codetxt.wrap .cb.w .l'));
    const level = () => t.page.$$eval('#prevBody .cb.w .l', (ls) => ls.slice(0, 12).map((l) => {
      const n = l.querySelector('.n').getBoundingClientRect();
      const x = l.querySelector('.t').getBoundingClientRect();
      return [l.querySelector('.n').textContent, Math.abs(n.top - x.top) < 1, x.height > 25];
    }));
    const rows = await level();
    assert.deepEqual(rows.map((r) => r.slice(0, 2)), Array.from({ length: 12 }, (_, i) => [String(i + 1), true]));
    assert.equal(rows[0][2], true);
    assert.equal(await t.page.$eval('#prevBody', (b) => b.scrollWidth <= b.clientWidth), true);
    await preview(t.page, 'big.md');
    await preview(t.page, 'long.log');
    await until(t.page, () => document.querySelector('#prevBody .codetxt.wrap .cb.w'));
    assert.equal(await t.page.getAttribute('#btnWrap', 'aria-pressed'), 'true');
    await t.page.click('#btnWrap');
    await until(t.page, () => !document.querySelector('#prevBody .codetxt.wrap'));
    await t.close();
  });

  test('Follow (f) appends what the file gains, counts new lines while scrolled up, and starts again when the file is cut short', async () => {
    const file = `${V}/grow.log`;
    fs.writeFileSync(file, 'first\n');
    const t = await openAt('docs', 'viewer');
    await preview(t.page, 'grow.log');
    await t.page.keyboard.press('f');
    await until(t.page, () => document.querySelector('#btnFollow').getAttribute('aria-pressed') === 'true');
    fs.appendFileSync(file, 'second\nthird\n');
    await until(t.page, () => document.querySelector('#prevBody .codetxt').textContent.endsWith('first\nsecond\nthird'));
    fs.appendFileSync(file, Array.from({ length: 200 }, (_, i) => `more ${i}\n`).join(''));
    await until(t.page, () => [...document.querySelectorAll('#prevBody .ln')].pop()?.textContent.endsWith('\n203'));
    await until(t.page, () => {
      const b = document.querySelector('#prevBody');
      return b.scrollTop + b.clientHeight >= b.scrollHeight - 1;
    });
    await t.page.$eval('#prevBody', (b) => { b.scrollTop = 0; });
    fs.appendFileSync(file, 'a\nb\n');
    await until(t.page, () => document.querySelector('#btnNew').textContent === '2 new lines');
    await t.page.click('#btnNew');
    fs.writeFileSync(file, 'new start\n');
    await until(t.page, () => document.querySelector('#prevBody .note')?.textContent ===
      'The file was cut short: following from its new end.');
    fs.appendFileSync(file, 'and on\n');
    await until(t.page, () => document.querySelector('#prevBody .codetxt').textContent.endsWith('new start\nand on'));
    const times = reads(t).filter((r) => r.url.includes('&offset=')).length;
    assert.ok(times >= 4, String(times));
    await t.page.keyboard.press('f');
    assert.equal(await t.page.getAttribute('#btnFollow', 'aria-pressed'), 'false');
    await t.close();
  });

  test('a text that is not UTF-8 shows as Windows-1252 with a note and a picker, and a UTF-16 file as its text', async () => {
    const t = await openAt('docs', 'viewer');
    await preview(t.page, 'latin1.txt');
    await until(t.page, () => document.querySelector('#prevBody .codetxt'));
    assert.deepEqual([await t.page.textContent('#prevBody .note'), await t.page.inputValue('#prevEnc'), (await code(t.page))[1]],
      ['Not UTF-8: shown as Windows-1252. Pick another encoding above if it reads wrong.', 'windows-1252', 'caf\u00e9 cr\u00e8me']);
    await t.page.selectOption('#prevEnc', 'iso-8859-5');
    await until(t.page, () => document.querySelector('#prevBody .tx')?.textContent === 'caf\u0449 cr\u0448me');
    await preview(t.page, 'utf16.txt');
    await until(t.page, () => document.querySelector('#prevBody .codetxt'));
    assert.deepEqual([await t.page.textContent('#prevBody .note'), await code(t.page)],
      ['UTF-16 text (little-endian, from its byte-order mark).', ['1\n2', 'hi\nthere']]);
    await t.close();
  });

  test('a gzip-compressed text shows decompressed, with a note', async () => {
    const t = await openAt('docs', 'viewer');
    await preview(t.page, 'notes.txt.gz');
    await until(t.page, () => document.querySelector('#prevBody .codetxt'));
    assert.deepEqual([await t.page.textContent('#prevBody .note'), await code(t.page)],
      ['Shown decompressed (gzip).', ['1\n2', 'compressed\nlines']]);
    await t.close();
  });

  test('a PDF shows in the browser\'s own viewer, framed from the raw action, with a download button', async () => {
    const t = await openAt('docs', 'viewer');
    await preview(t.page, 'doc.pdf');
    const src = `/plugin_files?action=raw&path=${enc(`${V}/doc.pdf`)}`;
    assert.equal(await t.page.getAttribute('#prevBody .pdfwrap iframe', 'src'), src);
    // The frame holds the browser's PDF viewer once it has loaded the answer.
    const viewer = () => t.page.frames().some((f) => f.url().startsWith('chrome-extension://'));
    while (!viewer()) await t.page.waitForEvent('framenavigated');
    const [download] = await Promise.all([t.page.waitForEvent('download'), t.page.click('#prevBody .pdfbar button')]);
    assert.equal(new URL(download.url()).search, `?action=raw&path=${enc(`${V}/doc.pdf`)}&download=1`);
    await t.close();
  });

  test('CSV and TSV show as a table with its header and quoted fields, and their source on request', async () => {
    const t = await openAt('docs', 'viewer');
    const table = (page) => page.$eval('#prevBody .csv', (c) => [...c.querySelectorAll('.csvh, .cr')]
      .map((r) => [...r.children].map((e) => e.textContent)));
    await preview(t.page, 'table.csv');
    assert.deepEqual(await table(t.page), [['name', 'note'], ['ann', 'a, b'], ['bob', 'say "hi"']]);
    await t.page.click('#btnSource');
    assert.deepEqual(await code(t.page), ['1\n2\n3', VIEWER['table.csv'].replace(/\n$/, '')]);
    await preview(t.page, 'table.tsv');
    assert.deepEqual(await table(t.page), [['a', 'b'], ['1', '2']]);
    await t.close();
  });

  test('JSON shows pretty-printed, its numbers as written, and folds', async () => {
    const t = await openAt('docs', 'viewer');
    await preview(t.page, 'data.json');
    const text = () => t.page.$eval('#prevBody .json', (j) => [...j.querySelectorAll('.jh, .je')]
      .filter((e) => e.offsetParent !== null).map((e) => e.innerText).join('\n'));
    assert.equal(await text(), '\u25be{\n\u25be"a": [\n1,\n2\n],\n\u25be"b": {\n"c": null\n},\n"n": 12345678901234567890\n}');
    await t.page.click('#prevBody .json .jb .jt');
    assert.equal(await text(), '\u25be{\n\u25b8"a": [ 2 items ],\n\u25be"b": {\n"c": null\n},\n"n": 12345678901234567890\n}');
    assert.equal(await t.page.getAttribute('#prevBody .json .jb .jt', 'aria-expanded'), 'false');
    await t.close();
  });
});

describe('Markdown', () => {
  test('relative links open a folder\'s listing or a file\'s preview here; front matter is a table, fenced code coloured, a drawing shown', async () => {
    const t = await openAt('docs', 'viewer');
    await preview(t.page, 'links.md');
    await until(t.page, () => document.querySelector('#prevBody .md img')?.complete);
    const doc = await t.page.$eval('#prevBody .md', (md) => [md.querySelector('.fm').textContent,
      [...md.querySelectorAll('pre code span')].map((s) => [s.textContent, s.className]),
      md.querySelector('img').src.startsWith('blob:'), md.querySelector('img').naturalWidth]);
    assert.deepEqual(doc, ['titleLinks', [['int', 'h-type']], true, 8]);
    await t.page.click('#prevBody .md a >> text=notes');
    await listed(t.page, 'home');
    await until(t.page, () => document.querySelector('#prevName').textContent === 'notes.txt' && document.querySelector('#prevBody .tx'));
    assert.equal((await code(t.page))[1], CODE[0][1].replace(/\n$/, ''));
    await walk(t.page, 'docs', 'viewer');
    await preview(t.page, 'links.md');
    await t.page.click('#prevBody .md a >> text=folder');
    await listed(t.page, 'deep');
    await t.close();
  });


  test('a Markdown file over a mebibyte renders its first mebibyte in parts, as one plain draw would', async () => {
    const t = await openAt('docs');
    await preview(t.page, 'big.md');
    assert.equal((await view(t.page)).prevMeta, '1.1 MB (first 1 MB)');
    // The mebibyte ends inside an item, which shows what it has.
    const items = Math.ceil((1048576 - 6) / 32);
    await until(t.page, (n) => document.querySelectorAll('#prevBody li').length === n, items);
    const shape = await t.page.$eval('#prevBody .md', (md) => {
      const lists = [...md.querySelectorAll('ul')];
      return [md.querySelector('h1').outerHTML, md.children.length > 1, [...md.children].every((p) => p.className === 'mdp'),
        lists.slice(0, -1).every((l) => l.className === 'cut'), lists[lists.length - 1].className,
        [...new Set([...md.querySelectorAll('li')].map((li) => li.innerHTML))], md.querySelector('h1').nextSibling.localName];
    });
    assert.deepEqual(shape, ['<h1>Big</h1>', true, true, true, '',
      ['item with <strong>bold</strong> and <code>code</code>', 'item with <strong>bold</strong> and `'], 'ul']);
    await t.close();
  });

  test('a link to a heading scrolls the pane to it and leaves the address alone', async () => {
    const t = await openAt('docs');
    await preview(t.page, 'anchors.md');
    const address = t.page.url();
    for (const [text, heading, index] of [['to the end', 'The End part!', 2], ['to Duplicate', 'Dup', 1]]) {
      await t.page.click(`#prevBody a >> text=${text}`);
      // The pane settles with the heading at its top (the second of two equal headings for "-1").
      await until(t.page, (i) => {
        const body = document.querySelector('#prevBody');
        const top = document.querySelectorAll('#prevBody h2')[i].getBoundingClientRect().top;
        return body.scrollTop > 0 && Math.abs(top - body.getBoundingClientRect().top) < 1;
      }, index);
      assert.equal(t.page.url(), address);
    }
    await t.close();
  });

  test('an image beside the document shows through the raw action', async () => {
    const t = await openAt('docs');
    await preview(t.page, 'pictures.md');
    await until(t.page, () => [...document.querySelectorAll('#prevBody img')].every((i) => i.complete));
    const imgs = await t.page.$$eval('#prevBody img', (is) => is.map((i) => [i.alt, i.getAttribute('src'), i.naturalWidth]));
    assert.deepEqual(imgs, [['a pixel', `/plugin_files?action=raw&path=${enc(`${HOME}/media/pixel.png`)}`, 1],
      ['space', `/plugin_files?action=raw&path=${enc(`${HOME}/docs/sub dir/p.png`)}`, 1]]);
    await t.close();
  });
});

describe('Images', () => {
  test('an image shows from the raw action without a read request; a broken one gets a note', async () => {
    const t = await openAt('media');
    for (const name of ['pixel.png', 'pixel.avif']) {
      await preview(t.page, name);
      await until(t.page, () => document.querySelector('#prevBody img')?.complete);
      const img = await t.page.$eval('#prevBody .imgwrap img', (i) => [i.alt, i.getAttribute('src'), i.naturalWidth]);
      assert.deepEqual(img, [name, `/plugin_files?action=raw&path=${encodeURIComponent(`${HOME}/media/${name}`)}`, 1]);
      assert.equal((await view(t.page)).prevMeta, `${fs.statSync(`${HOME}/media/${name}`).size} B`);
    }
    await row(t.page, 'broken.png').click();
    await until(t.page, () => document.querySelector('#prevBody .note'));
    assert.deepEqual(await t.page.$$eval('#prevBody > * > *', (es) => es.map((e) => [e.className, e.textContent])),
      [['note', 'This image could not be displayed.']]);
    assert.deepEqual(reads(t), []);
    await t.close();
  });
});

describe('Audio and video', () => {
  const loaded = (page, tag) => until(page, (s) => document.querySelector(`#prevBody ${s}`)?.readyState >= 1, tag);
  const player = (page, tag) => page.$eval(`#prevBody .mediawrap ${tag}`, (m) => [m.controls, m.getAttribute('src'), m.duration > 0]);

  test('a video and a sound play from the raw action with controls, and a bad file says why', async () => {
    const t = await openAt('media');
    for (const [name, tag] of [['clip.webm', 'video'], ['tone.wav', 'audio']]) {
      await preview(t.page, name);
      await loaded(t.page, tag);
      assert.deepEqual(await player(t.page, tag), [true, `/plugin_files?action=raw&path=${enc(`${HOME}/media/${name}`)}`, true]);
    }
    await row(t.page, 'broken.webm').click();
    await until(t.page, () => document.querySelector('#prevBody .note'));
    assert.deepEqual(await pane(t.page), [['mediawrap',
      'Cannot preview this file: the browser cannot play this format, or the file cannot be read']]);
    assert.deepEqual(reads(t), []);
    await assertClean(t);
    await t.close();
  });

  test('audio and video rows carry icons of their own', async () => {
    const t = await openAt('media');
    const icons = await t.page.$$eval('#entries .row', (rs) => Object.fromEntries(rs.map((r) => [r.querySelector('.nm').textContent,
      r.querySelector('.ico').className])));
    assert.deepEqual([icons['clip.webm'], icons['tone.wav'], icons['pixel.png'], icons['drawing.svg']],
      ['ico video', 'ico audio', 'ico img', 'ico img']);
    await t.close();
  });

  test('through the hub a guarded node\'s video loads with the password in its source', async () => {
    const t = await open(`${HUB}/plugins?plugin=files&node=b&pwd=${enc(PASSWORD)}`);
    await listed(t.page, 'my vault');
    await preview(t.page, 'clip.webm');
    await loaded(t.page, 'video');
    const src = `/plugins?plugin=files&action=raw&path=${enc(`${VAULT}/clip.webm`)}&node=b&pwd=${enc(PASSWORD)}`;
    assert.deepEqual(await player(t.page, 'video'), [true, src, true]);
    await t.close();
  });

  test('a video seeks, its later part fetched as a byte range', async () => {
    const t = await openAt('media');
    const ranges = [];
    t.page.on('response', (r) => r.url().includes('action=raw') && ranges.push([r.status(), r.request().headers().range ?? null]));
    await preview(t.page, 'clip.webm');
    await loaded(t.page, 'video');
    const seeked = await t.page.$eval('#prevBody video', (v) => new Promise((done) => {
      v.addEventListener('seeked', () => done([v.seekable.length, v.currentTime]), { once: true });
      v.currentTime = 2.5;
    }));
    assert.deepEqual(seeked, [1, 2.5]);
    assert.ok(ranges.some(([status, range]) => status === 206 && range !== null), JSON.stringify(ranges));
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

describe('A download that fails', () => {
  test('says why in the page, which stays, for a file and for a folder', async () => {
    const dir = `${SECOND}/.going`;
    put(`${dir}/file.txt`, 'soon gone\n');
    const t = await open(`${PAGE}#${new URLSearchParams({ dir, file: 'file.txt' })}`);
    await until(t.page, () => document.querySelector('#prevBody .tx')?.textContent === 'soon gone');
    let saved = 0;
    t.page.on('download', () => saved++);
    fs.rmSync(`${dir}/file.txt`);
    await t.page.click('#btnDownload');
    assert.equal(await toastText(t.page), 'Cannot download: path not found');
    await t.page.waitForSelector('#toast:not(.show)');
    fs.rmSync(dir, { recursive: true });
    await t.page.click('#btnZip');
    assert.equal(await toastText(t.page), 'Cannot download: path not found');
    assert.deepEqual([saved, await t.page.$eval('#app', (a) => a.isConnected), (await view(t.page)).prevName], [0, true, 'file.txt']);
    await t.close();
  });
});

describe('Names as they are', () => {
  test('a name that is not UTF-8 shows a replacement mark and previews, downloads and comes back from the address', async () => {
    const t = await openAt('docs', 'names');
    const shown = 'latin1-\ufffd.txt';
    await preview(t.page, shown);
    assert.equal(await t.page.textContent('#prevBody .tx'), 'latin-1 name');
    const [download] = await Promise.all([t.page.waitForEvent('download'), t.page.click('#btnDownload')]);
    assert.equal(fs.readFileSync(await download.path(), 'utf8'), 'latin-1 name\n');
    const file = [...ODD_NAME].map((b) => (b < 0x80 ? String.fromCharCode(b) : `%${b.toString(16).toUpperCase()}`)).join('');
    assert.equal(await t.page.evaluate(() => location.hash.replace(/^.*&file=/, '')), file);
    assert.deepEqual(reads(t).map((r) => r.url.replace(/^.*path=/, '')), [enc(`${HOME}/docs/names/`) + file]);
    await t.page.reload();
    await until(t.page, () => document.querySelector('#prevBody .tx')?.textContent === 'latin-1 name');
    assert.equal((await view(t.page)).prevName, shown);
    await assertClean(t);
    await t.close();
  });

  test('names keep their leading spaces, and one cut short by its row shows whole as a tooltip', async () => {
    const t = await openAt('docs', 'names');
    assert.deepEqual((await view(t.page)).rows, [SPACED_NAME, LONG_NAME, 'latin1-\ufffd.txt']);
    const title = async (name) => {
      await row(t.page, name).locator('.nm').hover();
      return row(t.page, name).locator('.nm').getAttribute('title');
    };
    assert.deepEqual([await title(SPACED_NAME), await title(LONG_NAME)], [null, LONG_NAME]);
    // The first letter stands two spaces' width into the name's box, where collapsed spaces leave it at its edge.
    const indent = await row(t.page, SPACED_NAME).locator('.nm').evaluate((n) => {
      const r = document.createRange();
      r.setStart(n.firstChild, 2);
      r.setEnd(n.firstChild, 3);
      return r.getBoundingClientRect().left - n.getBoundingClientRect().left;
    });
    assert.ok(indent > 4, `the first letter stands ${indent}px in`);
    await t.close();
  });
});

describe('Hostile names and contents', () => {
  test('the page runs its own scripts only: one put into the document is refused', async () => {
    const t = await open(PAGE, { init: () => {
      window.__refused = [];
      document.addEventListener('securitypolicyviolation', (e) => window.__refused.push(e.effectiveDirective));
    } });
    await listed(t.page, 'home');
    const ownScripts = await t.page.evaluate(() => [...window.__refused]);
    const injected = await t.page.evaluate(() => new Promise((done) => {
      document.addEventListener('securitypolicyviolation', () => done([window.__pwned, window.__refused]), { once: true });
      const s = document.createElement('script');
      s.textContent = 'window.__pwned = 10';
      document.body.appendChild(s);
    }));
    assert.deepEqual([ownScripts, injected], [[], [undefined, ['script-src-elem']]]);
    await t.close();
  });

  test('markup in names, paths and files shows as text and never runs', async () => {
    const t = await openAt('hostile');
    const dir = '<img src=x onerror=window.__pwned=9>';
    assert.deepEqual((await view(t.page)).rows,
      [dir, 'kinds', HOSTILE_NAMES[1], HOSTILE_NAMES[2], HOSTILE_NAMES[0], 'hostile.md', 'hostile.txt']);
    for (const name of [...HOSTILE_NAMES.filter((n) => !n.endsWith('.md')), 'hostile.txt']) {
      await preview(t.page, name);
      assert.deepEqual([(await view(t.page)).prevName, await t.page.textContent('#prevBody .tx')], [name, HOSTILE_TEXT.replace(/\n$/, '')]);
    }
    await preview(t.page, 'hostile.md');
    assert.equal(await t.page.$eval('#prevBody .md', (m) => m.innerHTML),
      '<div class="mdp"><p>&lt;img src=x onerror="window.__pwned=6"&gt; run data</p></div>');
    await walk(t.page, dir);
    assert.equal((await view(t.page)).crumbs, `home / hostile / ${dir}`);
    const elements = await t.page.$$eval('#app img, #app script, #toast *', (es) => es.length);
    assert.equal(elements, 0);
    await assertClean(t);
    await t.close();
  });

  // Each new kind of view, given a file that would run script if it reached the page as markup or ran as
  // a script: what the view shows, read as plain values.
  const KINDS = [
    ['drawing.svg', async (page) => {
      await until(page, () => document.querySelector('#prevBody .drawing img')?.complete);
      return page.$eval('#prevBody .drawing img', (i) => [i.naturalWidth, i.src.startsWith('blob:')]);
    }, [4, true]],
    ['cells.csv', (page) => page.$$eval('#prevBody .csvh .cc, #prevBody .cr .cc', (cs) => cs.map((c) => c.textContent)),
      ['<img src=x onerror=window.__pwned=15>', '<script>window.__pwned=16</script>', '<b>x</b>', 'y']],
    ['tree.json', (page) => page.$eval('#prevBody .json', (j) => j.innerText),
      '\u25be{\n"<img src=x onerror=window.__pwned=17>": "<script>window.__pwned=18</script>"\n}'],
    ['doc.pdf', (page) => page.getAttribute('#prevBody iframe', 'src'), `/plugin_files?action=raw&path=${enc(`${HOME}/hostile/kinds/doc.pdf`)}`],
    ['code.html', async (page) => {
      await until(page, () => document.querySelector('#prevBody .tx span'));
      return page.$eval('#prevBody .tx', (x) => [x.textContent, x.querySelectorAll('span.h-tag').length > 0]);
    }, [HOSTILE_KINDS['code.html'].replace(/\n$/, ''), true]],
    ['links.md', (page) => page.$eval('#prevBody .md', (m) => [m.textContent, [...m.querySelectorAll('a')]
      .map((a) => [a.textContent, a.getAttribute('href').slice(0, 5)]), m.querySelectorAll('pre code span').length > 0]),
    ['a b c <img src=x onerror=window.__pwned=25>', [['b', '#dir='], ['c', '//els']], true]],
  ];

  test('a hostile file of every kind of view shows as what it is and runs nothing', async () => {
    const t = await openAt('hostile', 'kinds');
    for (const [name, shown, want] of KINDS) {
      await preview(t.page, name);
      assert.deepEqual([name, await shown(t.page)], [name, want]);
      assert.equal(await t.page.$$eval('#app img:not(.drawing img), #app script', (es) => es.length), 0);
    }
    await assertClean(t);
    await t.close();
  });
});
