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

/** A one-page PDF that shows text; script, when given, is a document action a viewer could run. */
export function pdf(text, script) {
  const objs = ['<< /Type /Catalog /Pages 2 0 R' + (script ? ' /OpenAction 5 0 R' : '') + ' >>',
    '<< /Type /Pages /Kids [3 0 R] /Count 1 >>',
    '<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Contents 4 0 R /Resources << /Font << /F1 6 0 R >> >> >>'];
  const stream = `BT /F1 18 Tf 20 100 Td (${text}) Tj ET`;
  objs.push(`<< /Length ${stream.length} >>\nstream\n${stream}\nendstream`);
  objs.push(`<< /S /JavaScript /JS (${script || ''}) >>`);
  objs.push('<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>');
  let out = '%PDF-1.4\n';
  const at = [];
  objs.forEach((o, i) => {
    at.push(out.length);
    out += `${i + 1} 0 obj\n${o}\nendobj\n`;
  });
  const xref = out.length;
  out += `xref\n0 ${objs.length + 1}\n0000000000 65535 f \n` + at.map((n) => `${String(n).padStart(10, '0')} 00000 n \n`).join('');
  return out + `trailer\n<< /Size ${objs.length + 1} /Root 1 0 R >>\nstartxref\n${xref}\n%%EOF\n`;
}

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

/** Media made at test time by ffmpeg: a short video with frequent key frames, a tone, and a pixel in AVIF. */
export const MEDIA = [
  ['clip.webm', ['-f', 'lavfi', '-i', 'testsrc=size=64x48:rate=10:duration=3', '-c:v', 'libvpx', '-g', '5', '-b:v', '50k']],
  ['tone.wav', ['-f', 'lavfi', '-i', 'sine=frequency=440:duration=1', '-ar', '8000', '-ac', '1']],
  ['pixel.avif', ['-f', 'lavfi', '-i', 'color=c=red:s=2x2', '-vf', 'scale=1:1', '-frames:v', '1', '-pix_fmt', 'yuv444p',
    '-c:v', 'libaom-av1', '-still-picture', '1']],
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

/** The viewer's files: code in three languages and a plain text, a log in colour, encodings, a compressed
    text, a PDF, tables, JSON and a Markdown document that links to its neighbours. */
export const VIEWER = {
  'code.c': 'int main(void) {\n  return 0; /* done */\n}\n',
  'Makefile': 'all:\n\techo hi\n',
  'run': '#!/usr/bin/env python3\nimport os\n',
  'plain.txt': 'int main(void) { return 0; }\n',
  'colors.log': '\u001b[31mred\u001b[0m plain \u001b[1;32mbold\u001b[0m\u001b[2K\n',
  'latin1.txt': Buffer.from('caf\xe9 cr\xe8me\n', 'latin1'),
  'utf16.txt': Buffer.concat([Buffer.from([0xff, 0xfe]), Buffer.from('hi\nthere\n', 'utf16le')]),
  'notes.txt.gz': zlib.gzipSync('compressed\nlines\n'),
  'doc.pdf': pdf('Hello'),
  'table.csv': 'name,note\nann,"a, b"\nbob,"say ""hi"""\n',
  'table.tsv': 'a\tb\n1\t2\n',
  'data.json': '{"a":[1,2],"b":{"c":null},"n":12345678901234567890}',
  'links.md': '---\ntitle: Links\n---\n[notes](../../notes.txt) [folder](../../deep/) [code](code.c)\n\n```c\nint x;\n```\n\n' +
    '![d](../../media/drawing.svg)\n',
  'grow.log': 'first\n',
};

/** Files of every new kind that would run script if any of them reached the page as markup or a script. */
export const HOSTILE_KINDS = {
  'drawing.svg': '<svg xmlns="http://www.w3.org/2000/svg" width="4" height="4" onload="parent.__pwned=11">' +
    '<script>parent.__pwned=12</script><image href="x" onerror="parent.__pwned=13"/><foreignObject width="4" height="4">' +
    '<img xmlns="http://www.w3.org/1999/xhtml" src="x" onerror="parent.__pwned=14"/></foreignObject><rect width="4" height="4"/></svg>\n',
  'cells.csv': '<img src=x onerror=window.__pwned=15>,"<script>window.__pwned=16</script>"\n<b>x</b>,y\n',
  'tree.json': '{"<img src=x onerror=window.__pwned=17>":"<script>window.__pwned=18</script>"}',
  'doc.pdf': pdf('Hostile', 'this.parent.__pwned = 19; app.launchURL("javascript:parent.__pwned = 19");'),
  'code.html': '<script>window.__pwned=20</script><img src=x onerror="window.__pwned=21">\n',
  'links.md': '[a](javascript:window.__pwned=22) [b](<img src=x onerror=window.__pwned=23>.md) [c](//elsewhere.example/x) ' +
    '<!-- <img src=x onerror=window.__pwned=24> -->\n\n```html\n<img src=x onerror=window.__pwned=25>\n```\n',
};

/** Modification times of the SIZES files, in seconds: an order that is neither by name nor by size. */
export const SIZE_TIMES = SIZES.map((_, i) => 1709647629 - ((i * 5) % 8) * 3600);

/** Names a person meets on real trees: a byte that is not UTF-8, leading spaces, one too long for its row. */
export const ODD_NAME = Buffer.from([0x6c, 0x61, 0x74, 0x69, 0x6e, 0x31, 0x2d, 0xff, 0x2e, 0x74, 0x78, 0x74]);
export const SPACED_NAME = '  two spaces.txt';
export const LONG_NAME = `${'a long name '.repeat(12)}.txt`;

/** More entries than a listing holds (5000), so the page draws at length and says it was cut. */
export const MANY = 5001;

/**
 * A folder of more entries than node a lists (LS_MAX, its FILES_LS_MAX in tests/browser/run), hidden so that
 * the listings of its root do not show it: hard links to one empty file, so that it costs no space.
 */
export const BIG_FILES = 20005;
export const LS_MAX = 20000;
export const bigName = (i) => `file_${String(i).padStart(5, '0')}.txt`;

/**
 * A JPEG's EXIF segment (APP1) holding the given fields, in either byte order: make, model and taken (texts),
 * exposure, fnumber and focal ([numerator, denominator]) and iso. Fields left out are not written.
 */
export function exifSegment({ make, model, taken, exposure, fnumber, iso, focal }, little = false) {
  const w16 = (v) => (little ? [v & 255, v >> 8] : [v >> 8, v & 255]);
  const w32 = (v) => (little ? [v & 255, (v >> 8) & 255, (v >> 16) & 255, v >>> 24] : [v >>> 24, (v >> 16) & 255, (v >> 8) & 255, v & 255]);
  const value = (type, v) => (type === 2 ? [...Buffer.from(`${v}\0`, 'latin1')] : type === 3 ? w16(v) : type === 4 ? w32(v) : [...w32(v[0]), ...w32(v[1])]);
  // One IFD at offset at, its values longer than four bytes right after it.
  const ifd = (entries, at) => {
    const list = entries.filter((e) => e[2] !== undefined);
    const head = [...w16(list.length)];
    const data = [];
    for (const [tag, type, v] of list) {
      const bytes = value(type, v);
      head.push(...w16(tag), ...w16(type), ...w32(type === 2 ? bytes.length : 1));
      if (bytes.length <= 4) head.push(...bytes, ...Array(4 - bytes.length).fill(0));
      else head.push(...w32(at + 2 + 12 * list.length + 4 + data.length)), data.push(...bytes, ...(bytes.length % 2 ? [0] : []));
    }
    return [...head, 0, 0, 0, 0, ...data];
  };
  const sub = [[0x829a, 5, exposure], [0x829d, 5, fnumber], [0x8827, 3, iso], [0x9003, 2, taken], [0x920a, 5, focal]];
  const first = (link) => [[0x010f, 2, make], [0x0110, 2, model], [0x8769, 4, link]];
  const subAt = 8 + ifd(first(0), 8).length;
  const tiff = [...(little ? [0x49, 0x49, 42, 0] : [0x4d, 0x4d, 0, 42]), ...w32(8), ...ifd(first(subAt), 8), ...ifd(sub, subAt)];
  const body = Buffer.concat([Buffer.from('Exif\0\0', 'latin1'), Buffer.from(tiff)]);
  return Buffer.concat([Buffer.from([0xff, 0xe1, (body.length + 2) >> 8, (body.length + 2) & 255]), body]);
}

/** A JPEG with a segment put in right after its start marker. */
export const withSegment = (jpeg, segment) => Buffer.concat([jpeg.subarray(0, 2), segment, jpeg.subarray(2)]);

/**
 * The grid's folder (home/media/photos), mostly pictures: name, width, height and colour of each, made by
 * ImageMagick; the first also carries PHOTO_EXIF. Beside them a folder, a text and a video.
 */
export const PHOTOS = [['sunset.jpg', 400, 300, 'orange'], ['tall.png', 60, 150, 'teal'],
  ...Array.from({ length: 12 }, (_, i) => [`p${String(i + 1).padStart(2, '0')}.jpg`, 160 + 10 * i, 120, `rgb(${20 * i},90,160)`])];
export const PHOTO_EXIF = { make: 'Acme', model: 'Acme Zoom 3', taken: '2024:05:01 18:30:00', exposure: [1, 250], fnumber: [28, 10],
  iso: 200, focal: [35, 1] };
export const PHOTO_OTHERS = ['albums', 'clip.webm', 'readme.txt'];

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
  put(path.join(home, 'docs', 'names', SPACED_NAME), 'spaced\n');
  put(path.join(home, 'docs', 'names', LONG_NAME), 'long\n');
  fs.writeFileSync(Buffer.concat([Buffer.from(path.join(home, 'docs', 'names') + '/'), ODD_NAME]), 'latin-1 name\n');
  for (const name of HOSTILE_NAMES) put(path.join(home, 'hostile', name), HOSTILE_TEXT);
  put(path.join(home, 'hostile', 'hostile.txt'), HOSTILE_TEXT);
  put(path.join(home, 'hostile', 'hostile.md'), HOSTILE_MD);
  fs.mkdirSync(path.join(home, 'hostile', '<img src=x onerror=window.__pwned=9>'), { recursive: true });
  put(path.join(home, 'media', 'pixel.png'), PIXEL);
  const photos = path.join(home, 'media', 'photos');
  for (const [name, w, h, colour] of PHOTOS) {
    put(path.join(photos, name), execFileSync('convert', ['-size', `${w}x${h}`, `xc:${colour}`, `${name.split('.').pop()}:-`]));
  }
  put(path.join(photos, PHOTOS[0][0]), withSegment(fs.readFileSync(path.join(photos, PHOTOS[0][0])), exifSegment(PHOTO_EXIF)));
  fs.mkdirSync(path.join(photos, 'albums'));
  fs.copyFileSync(path.join(home, 'media', 'clip.webm'), path.join(photos, 'clip.webm'));
  put(path.join(photos, 'readme.txt'), 'the pictures of a trip\n');
  put(path.join(home, 'media', 'broken.png'), 'not an image\n');
  put(path.join(home, 'media', 'drawing.svg'), '<svg xmlns="http://www.w3.org/2000/svg" width="8" height="8"><rect width="8" height="8"/></svg>\n');
  SIZES.forEach(([name, size], i) => {
    sparse(path.join(home, 'sizes', name), size);
    fs.utimesSync(path.join(home, 'sizes', name), SIZE_TIMES[i], SIZE_TIMES[i]);
  });
  for (const [name, text] of CODE) put(path.join(home, 'text', name), text);
  put(path.join(home, 'text', 'data.bin'), Buffer.concat([Buffer.from('BIN'), Buffer.alloc(2045)]));
  for (const [name, content] of Object.entries(VIEWER)) put(path.join(home, 'docs', 'viewer', name), content);
  for (const [name, content] of Object.entries(HOSTILE_KINDS)) put(path.join(home, 'hostile', 'kinds', name), content);
  put(path.join(dir, 'outside', 'secret.txt'), 'outside any root\n');
  fs.symlinkSync(path.join(dir, 'outside'), path.join(home, 'outside'));
  fs.symlinkSync(path.join(dir, 'outside', 'secret.txt'), path.join(home, 'text', 'escape.txt'));
  put(path.join(dir, 'a', 'second', 'other.txt'), 'other\n');
  for (let i = 0; i < MANY; i++) put(path.join(dir, 'a', 'second', 'many', `f${String(i).padStart(4, '0')}.txt`), '');
  const big = path.join(dir, 'a', 'second', '.big');
  put(path.join(big, bigName(0)), '');
  for (let i = 1; i < BIG_FILES; i++) fs.linkSync(path.join(big, bigName(0)), path.join(big, bigName(i)));
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
