// The trees the browser tests browse. The tests import the same tables to know what each file holds, so
// a fixture and its expectation never drift apart. `node tests/browser/fixtures.mjs DIR` writes them.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';
import { fileURLToPath } from 'node:url';

const CRC_TABLE = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});

function crc32(buf) {
  let c = 0xffffffff;
  for (const b of buf) c = CRC_TABLE[(c ^ b) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

function chunk(type, data) {
  const len = Buffer.alloc(4);
  len.writeUInt32BE(data.length);
  const body = Buffer.concat([Buffer.from(type, 'latin1'), data]);
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(body));
  return Buffer.concat([len, body, crc]);
}

/** An RGB PNG of w x h pixels; colour(x, y) gives [r, g, b]. */
export function png(w, h, colour) {
  const head = Buffer.alloc(13);
  head.writeUInt32BE(w, 0);
  head.writeUInt32BE(h, 4);
  head.set([8, 2, 0, 0, 0], 8);
  const raw = Buffer.alloc(h * (1 + 3 * w));
  for (let y = 0; y < h; y++) {
    for (let x = 0; x < w; x++) raw.set(colour(x, y), y * (1 + 3 * w) + 1 + 3 * x);
  }
  const sig = Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]);
  return Buffer.concat([sig, chunk('IHDR', head), chunk('IDAT', zlib.deflateSync(raw)), chunk('IEND', Buffer.alloc(0))]);
}

/** Markdown cases: file name, source, and the exact markup the renderer must build inside its box. */
const A = ' target="_blank" rel="noopener noreferrer"';
export const MARKDOWN = [
  ['fence.md', '```js\nconst a = 1 < 2;\n**not bold**\n``` closing info\nafter',
    '<pre><code>const a = 1 &lt; 2;\n**not bold**</code></pre><p>after</p>'],
  ['fence-open.md', 'text\n```\ncode\n# no heading', '<p>text</p><pre><code>code\n# no heading</code></pre>'],
  ['fence-indented.md', '  ```\nx', '<p>  <code></code>` x</p>'],
  ['headings.md', '# One\n## Two\n### Three\n#### Four\n##### Five\n#NoSpace\n# Kept #\n## A `b` *c*',
    '<h1>One</h1><h2>Two</h2><h3>Three</h3><h4>Four</h4><p>##### Five #NoSpace</p><h1>Kept #</h1>' +
    '<h2>A <code>b</code> <em>c</em></h2>'],
  ['unicode-space.md', '#\u00a0Title\n-\u3000item\n\u2003\u00a0\n# a\u2028b',
    '<h1>Title</h1><ul><li>item</li></ul><p># a\u2028b</p>'],
  ['lists.md', '- a\n* b\n1. c\n22. d\n  + e\n\n3. x\n7. **y**',
    '<ul><li>a</li><li>b</li></ul><ol><li>c</li><li>d</li></ol><ul><li>e</li></ul><ol><li>x</li><li><strong>y</strong></li></ol>'],
  ['list-continued.md', '- item\ncontinued *here*\n- next\n\npara',
    '<ul><li>item continued <em>here</em></li><li>next</li></ul><p>para</p>'],
  ['quotes.md', '> one\n> two `c`\n>> nested\n>tight', '<blockquote>one</blockquote><blockquote>two <code>c</code></blockquote>' +
    '<blockquote>&gt; nested</blockquote><blockquote>tight</blockquote>'],
  ['rules.md', '---\n***\n___\n  -----  \n* * *\n\npara\n---', '<hr><hr><hr><hr><ul><li><em> </em></li></ul><p>para</p><hr>'],
  ['paragraphs.md', 'one\ntwo\n\nthree\n \t \nfour', '<p>one two</p><p>three</p><p>four</p>'],
  ['inline.md', '`code *x*` **bold [x](y)** *em `c`* [site](https://example.com/a) 2 * 3 * 4 ``',
    '<p><code>code *x*</code> <strong>bold [x](y)</strong> <em>em `c`</em> ' +
    `<a href="https://example.com/a"${A}>site</a> 2 <em> 3 </em> 4 <code></code></p>`],
  ['links.md', '[a](http://x.org) [b](HTTPS://X.ORG) [c](/abs) [d](#top) [e](MailTo:a@b.c) [f](notes.md) ' +
    '[g](javascript:alert(1)) [h](JavaScript:x) [i](data:text/html,hi) [j](vbscript:x) [k]( http://x.org)',
  `<p><a href="http://x.org"${A}>a</a> <a href="HTTPS://X.ORG"${A}>b</a> <a href="/abs"${A}>c</a> ` +
    '<a href="#top">d</a> ' + `<a href="MailTo:a@b.c"${A}>e</a> f g) h i j k</p>`],
  ['nested.md', '- a\n  - b\n    1. c\n  - d\n- e\n1. f\n   - g\n- [ ] open\n- [x] done *now*\n- [X]no space\n\n1. [ ] not a task',
    '<ul><li>a<ul><li>b<ol><li>c</li></ol></li><li>d</li></ul></li><li>e</li></ul><ol><li>f<ul><li>g</li></ul></li></ol>' +
    '<ul><li class="task"><input type="checkbox" disabled="">open</li><li class="task"><input type="checkbox" disabled="" checked="">' +
    'done <em>now</em></li><li>[X]no space</li></ul><ol><li>[ ] not a task</li></ol>'],
  ['tables.md', '| Left | Mid | Right | None |\n|:-----|:---:|------:|---|\n| `a\\|b` | **b** | c \\| d |\n' +
    '| <b>x</b> | [l](javascript:alert(1)) | <img src=x onerror=window.__pwned=10> | 4 | 5 |\nno pipes here\n\na | b\n-|-\n\n' +
    'x | y\n--|--|--\n\n| only |\n| ---- |',
  '<table><thead><tr><th style="text-align: left;">Left</th><th style="text-align: center;">Mid</th>' +
    '<th style="text-align: right;">Right</th><th>None</th></tr></thead><tbody><tr><td style="text-align: left;"><code>a|b</code></td>' +
    '<td style="text-align: center;"><strong>b</strong></td><td style="text-align: right;">c | d</td><td></td></tr>' +
    '<tr><td style="text-align: left;">&lt;b&gt;x&lt;/b&gt;</td><td style="text-align: center;">l)</td>' +
    '<td style="text-align: right;">&lt;img src=x onerror=window.__pwned=10&gt;</td><td>4</td></tr>' +
    '<tr><td style="text-align: left;">no pipes here</td><td style="text-align: center;"></td><td style="text-align: right;"></td><td></td></tr>' +
    '</tbody></table><table><thead><tr><th>a</th><th>b</th></tr></thead></table><p>x | y --|--|--</p>' +
    '<table><thead><tr><th>only</th></tr></thead></table>'],
  ['strike-autolinks.md', '~~gone~~ ~~a ~ b~~ <https://x.org/a?b=1> see https://x.org/p_(1). (or http://y.org/z), ' +
    '<javascript:alert(1)> javascript:alert(2) `https://in.code` [t](https://t.org) https://',
  `<p><del>gone</del> ~~a ~ b~~ <a href="https://x.org/a?b=1"${A}>https://x.org/a?b=1</a> see ` +
    `<a href="https://x.org/p_(1)"${A}>https://x.org/p_(1)</a>. (or <a href="http://y.org/z"${A}>http://y.org/z</a>), ` +
    '&lt;javascript:alert(1)&gt; javascript:alert(2) <code>https://in.code</code> ' + `<a href="https://t.org"${A}>t</a> https://</p>`],
  ['images.md', '![far](https://example.com/a.png) ![](/abs.png) ![run](javascript:alert(1)) ![data](data:image/png;base64,AA) ' +
    '![x](vbscript:x "title")',
  `<p><a href="https://example.com/a.png"${A}>far</a> <a href="/abs.png"${A}>/abs.png</a> run) data x</p>`],
  ['no-escapes.md', '_not em_ \\*x\\* ![alt](/img.png) [x](a(b)c)',
    `<p>_not em_ \\<em>x\\</em> <a href="/img.png"${A}>alt</a> xc)</p>`],
  ['markup.md', '<script>window.__pwned = 1</script> &amp; <b>b</b>',
    '<p>&lt;script&gt;window.__pwned = 1&lt;/script&gt; &amp;amp; &lt;b&gt;b&lt;/b&gt;</p>'],
  ['crlf.md', '# Title\r\n- a\r\n> q\r\n```\r\ncode\r\n```\r\n---\r\ntext\r\n',
    '<p># Title\r</p><ul><li>a\r</li></ul><blockquote>q\r</blockquote><pre><code>code\r</code></pre><hr><p>text\r</p>'],
  ['empty.md', '', ''],
];

/** A log of this many numbered lines, "line N", larger than the mebibyte a preview reads. */
export const BIG_LOG_LINES = 100000;
export const bigLogLine = (n) => `line ${n} ${'.'.repeat(n % 7)}`;

/** Lines of every width: long ones that would wrap, a tab, wide characters, a lone carriage return. */
export const LONG_LINES = Array.from({ length: 230 }, (_, i) => (i % 3 ? `${i + 1} ${'word '.repeat(i % 60)}` :
  `${i + 1}\t\u6f22\u5b57 \u{1f600} ${'x'.repeat(400)}`));
LONG_LINES[4] = '5 lone\rreturn';

// A document whose links lead to its own headings, far enough apart that the pane must scroll.
export const ANCHORS_MD = '[to the end](#the-end-part) [to Duplicate](#dup-1)\n\n' + 'filler\n\n'.repeat(120) +
  '## Dup\n## Dup\n## The *End* part!\n' + '\nfiller\n'.repeat(120);

/** Media made at test time by ffmpeg: a short video with frequent key frames, and a tone. */
export const MEDIA = [
  ['clip.webm', ['-f', 'lavfi', '-i', 'testsrc=size=64x48:rate=10:duration=3', '-c:v', 'libvpx', '-g', '5', '-b:v', '50k']],
  ['tone.wav', ['-f', 'lavfi', '-i', 'sine=frequency=440:duration=1', '-ar', '8000', '-ac', '1']],
];

/** Code-view cases: file name, content, line-number column, meta line. */
export const CODE = [
  ['notes.txt', 'first line\nsecond line\n', '1\n2', '23 B'],
  ['trailing.txt', 'a\nb\n\n', '1\n2\n3', '5 B'],
  ['empty.txt', '', '', '0 B'],
  ['crlf.txt', 'a\r\nb\r\n', '1\n2', '6 B'],
  ['README', 'plain readme', '1', '12 B \u00b7 plain text'],
  ['Makefile.am', 'all:\n\ttrue', '1\n2', '10 B \u00b7 plain text'],
  ['.gitignore', 'build/\n', '1', '7 B'],
];

/** Files whose listed sizes are checked, made sparse so that a gigabyte costs nothing. */
export const SIZES = [
  ['a', 0, '0 B'], ['b', 1023, '1023 B'], ['c', 1024, '1.0 KB'], ['d', 1536, '1.5 KB'],
  ['e', 1048575, '1024.0 KB'], ['f', 1048576, '1.0 MB'], ['g', 1073741823, '1024.0 MB'], ['h', 1073741824, '1.0 GB'],
];

// Names and contents that would run script if any of them reached the page as markup.
export const HOSTILE_NAMES = ['<img src=x onerror=window.__pwned=1>.txt', '"><svg onload=window.__pwned=2>.md',
  "'><script>window.__pwned=3<\\script>"];
export const HOSTILE_TEXT = '</script><script>window.__pwned=4</script>\n<img src=x onerror="window.__pwned=5">\n&lt;b&gt;\n';
export const HOSTILE_MD = '<img src=x onerror="window.__pwned=6"> [run](javascript:window.__pwned=7) ' +
  '[data](data:text/html,<script>parent.__pwned=8</script>)\n';

/** Modification times of the SIZES files, in seconds: an order that is neither by name nor by size. */
export const SIZE_TIMES = SIZES.map((_, i) => 1709647629 - ((i * 5) % 8) * 3600);

/** More entries than a listing holds (5000), so the page draws at length and says it was cut. */
export const MANY = 5001;

export const PASSWORD = 's3 cret&x=%y';
export const PIXEL = png(1, 1, () => [200, 40, 40]);
export const BIG_MD_SIZE = 1200000;

export function put(file, content) {
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(file, content);
}

function sparse(file, size) {
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.closeSync(fs.openSync(file, 'w'));
  fs.truncateSync(file, size);
}

/**
 * Test trees under dir: node a serves home/ and second/, node b (with PASSWORD) serves "my vault/";
 * outside/ belongs to no root and is reached only through links.
 */
export function testTree(dir) {
  const home = path.join(dir, 'a', 'home');
  put(path.join(home, 'notes.txt'), CODE[0][1]);
  put(path.join(home, '.hidden-file'), 'hidden\n');
  fs.mkdirSync(path.join(home, '.config'), { recursive: true });
  put(path.join(home, 'deep', 'deep.txt'), 'deep\n');
  put(path.join(home, 'deep', 'one', 'two', 'leaf.txt'), 'leaf\n');
  for (const [name, text] of MARKDOWN) put(path.join(home, 'docs', name), text);
  const bigLine = '- item with **bold** and `code`\n';
  put(path.join(home, 'docs', 'big.md'), '# Big\n' + bigLine.repeat(Math.ceil(BIG_MD_SIZE / bigLine.length)).slice(0, BIG_MD_SIZE - 6));
  put(path.join(home, 'media', 'broken.webm'), 'not a video\n');
  for (const [name, args] of MEDIA) {
    execFileSync('ffmpeg', ['-hide_banner', '-loglevel', 'error', ...args, '-y', path.join(home, 'media', name)]);
  }
  put(path.join(home, 'docs', 'anchors.md'), ANCHORS_MD);
  put(path.join(home, 'docs', 'pictures.md'), '![a pixel](../media/pixel.png) ![space](./sub%20dir/p.png)\n');
  put(path.join(home, 'docs', 'sub dir', 'p.png'), PIXEL);
  put(path.join(home, 'docs', 'long.log'), LONG_LINES.join('\n'));
  put(path.join(home, 'docs', 'big.log'), Array.from({ length: BIG_LOG_LINES }, (_, i) => bigLogLine(i + 1) + '\n').join(''));
  fs.mkdirSync(path.join(home, 'empty'), { recursive: true });
  for (const name of HOSTILE_NAMES) put(path.join(home, 'hostile', name), HOSTILE_TEXT);
  put(path.join(home, 'hostile', 'hostile.txt'), HOSTILE_TEXT);
  put(path.join(home, 'hostile', 'hostile.md'), HOSTILE_MD);
  fs.mkdirSync(path.join(home, 'hostile', '<img src=x onerror=window.__pwned=9>'), { recursive: true });
  put(path.join(home, 'media', 'pixel.png'), PIXEL);
  put(path.join(home, 'media', 'broken.png'), 'not an image\n');
  put(path.join(home, 'media', 'drawing.svg'), '<svg xmlns="http://www.w3.org/2000/svg" width="8" height="8"><rect width="8" height="8"/></svg>\n');
  SIZES.forEach(([name, size], i) => {
    sparse(path.join(home, 'sizes', name), size);
    fs.utimesSync(path.join(home, 'sizes', name), SIZE_TIMES[i], SIZE_TIMES[i]);
  });
  for (const [name, text] of CODE) put(path.join(home, 'text', name), text);
  put(path.join(home, 'text', 'data.bin'), Buffer.concat([Buffer.from('BIN'), Buffer.alloc(2045)]));
  put(path.join(dir, 'outside', 'secret.txt'), 'outside any root\n');
  fs.symlinkSync(path.join(dir, 'outside'), path.join(home, 'outside'));
  fs.symlinkSync(path.join(dir, 'outside', 'secret.txt'), path.join(home, 'text', 'escape.txt'));
  put(path.join(dir, 'a', 'second', 'other.txt'), 'other\n');
  for (let i = 0; i < MANY; i++) put(path.join(dir, 'a', 'second', 'many', `f${String(i).padStart(4, '0')}.txt`), '');
  const vault = path.join(dir, 'b', 'my vault');
  put(path.join(vault, 'secret.txt'), 'behind the password\n');
  put(path.join(vault, 'pic.png'), PIXEL);
  fs.copyFileSync(path.join(home, 'media', 'clip.webm'), path.join(vault, 'clip.webm'));
  put(path.join(vault, '.dot'), 'hidden\n');
  fs.mkdirSync(path.join(vault, 'back\\slash'), { recursive: true });
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  if (!process.argv[2]) {
    console.error('usage: fixtures.mjs DIR');
    process.exit(2);
  }
  testTree(process.argv[2]);
}
