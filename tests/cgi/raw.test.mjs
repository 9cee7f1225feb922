// Raw delivery: content type and disposition by name, byte-exact bodies, the 64 MiB limit, refusals.
import assert from 'node:assert/strict';
import { randomBytes } from 'node:crypto';
import fs from 'node:fs';
import { test } from 'node:test';
import { api, build, DIR, errOut, expectOut, posixOnly, tmpBase, WIN } from './lib.mjs';

const TXT = 'text/plain; charset=utf-8';
const BIN = 'application/octet-stream';
const LIMIT = 67108864;
const R = tmpBase();
const raw = (name, extra = {}, roots = [R]) => api({ action: 'raw', path: name.startsWith('/') ? name : `${R}/${name}`, ...extra }, { roots });
const rawHead = (type, disp, name) => `Content-Type: ${type}\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n` +
  "Content-Security-Policy: default-src 'none'; style-src 'unsafe-inline'; img-src data:\r\n" +
  `X-Frame-Options: SAMEORIGIN\r\nContent-Disposition: ${disp}; filename="${name}"\r\n\r\n`;

// [file name, download value, content type, disposition]
const TYPES = [
  ['photo.PNG', undefined, 'image/png', 'inline'], ['photo.PNG', '1', 'image/png', 'attachment'],
  ['photo.PNG', 'true', 'image/png', 'attachment'], ['photo.PNG', 'TRUE', 'image/png', 'inline'],
  ['photo.PNG', 'yes', 'image/png', 'inline'], ['photo.PNG', '0', 'image/png', 'inline'],
  ['a.jpg', undefined, 'image/jpeg', 'inline'], ['b.JpEg', undefined, 'image/jpeg', 'inline'],
  ['c.gif', undefined, 'image/gif', 'inline'], ['d.webp', undefined, 'image/webp', 'inline'],
  ['e.bmp', undefined, 'image/bmp', 'inline'], ['f.ico', undefined, 'image/x-icon', 'inline'],
  ['.png', undefined, 'image/png', 'inline'], ['drawing.svg', undefined, TXT, 'attachment'],
  ['report.pdf', undefined, 'application/pdf', 'attachment'], ['notes.txt', '1', TXT, 'attachment'],
  ...['g.md', 'h.json', 'i.c', 'j.H', 'k.log', 'page.html', 'x.xhtml', 'y.shtml'].map((n) => [n, undefined, TXT, 'attachment']),
  // Windows drops a trailing dot from a name, so "notes." is a POSIX name only.
  ...['PAGE.HTML', 'z.HtM', 'README', ...(WIN ? [] : ['notes.']), 'archive.tar.gz', '.bashrc', 'x.cc', 'x.pn', 'x.pngx']
    .map((n) => [n, undefined, BIN, 'attachment']),
  ['naïve café.txt', undefined, TXT, 'attachment'],
];
build(R, Object.fromEntries(TYPES.map(([n]) => [n, `bytes of ${n}`])));
for (const [name, download, type, disp] of TYPES) {
  test(`${name}${download ? ` with download=${download}` : ''} is ${type}, ${disp}`, () =>
    expectOut(raw(name, download === undefined ? {} : { download }), rawHead(type, disp, name) + `bytes of ${name}`));
}

for (const size of [0, 1, 65535, 65536, 65537, 70000, 131072, 200003]) {
  test(`${size} random bytes arrive unchanged`, () => {
    const bytes = randomBytes(size);
    fs.writeFileSync(`${R}/r${size}.bin`, bytes);
    expectOut(raw(`r${size}.bin`), Buffer.concat([Buffer.from(rawHead(BIN, 'attachment', `r${size}.bin`)), bytes]));
  });
}

test('a file of exactly 64 MiB is delivered whole', () => {
  build(R, { 'limit.bin': { size: LIMIT } });
  const fd = fs.openSync(`${R}/limit.bin`, 'r+');
  fs.writeSync(fd, 'BEGIN', 0);
  fs.writeSync(fd, 'END', LIMIT - 3);
  fs.closeSync(fd);
  const r = raw('limit.bin');
  assert.equal(r.head, rawHead(BIN, 'attachment', 'limit.bin'));
  assert.equal(r.body.length, LIMIT);
  assert.ok(r.body.equals(fs.readFileSync(`${R}/limit.bin`)), 'body differs from the file');
});

test('one byte more is refused before anything is sent', () => {
  build(R, { 'over.bin': { size: LIMIT + 1 } });
  expectOut(raw('over.bin'), errOut(413, 'file larger than 64 MiB'));
});

test('the disposition name replaces quote, backslash, CR and LF but keeps other bytes', posixOnly, () => {
  const name = 'a"b\\c\nd\re\tf\x01 é.bin';
  build(R, { [name]: 'x' });
  expectOut(raw(name), rawHead(BIN, 'attachment', 'a_b_c_d_e\tf\x01 é.bin') + 'x');
});

test('a link is delivered under its target name and type', posixOnly, () => {
  build(R, { 'real.bin': 'real', 'shown.png': { link: 'real.bin' } });
  expectOut(raw('shown.png'), rawHead(BIN, 'attachment', 'real.bin') + 'real');
});

const NOT_REGULAR = errOut(400, 'not a regular file');
build(R, { sub: DIR, fifo: { fifo: true }, dangling: { link: 'nowhere' } });
const REFUSED = [
  ['a directory', 'sub', [R], NOT_REGULAR],
  ['a FIFO, without waiting for a writer', 'fifo', [R], NOT_REGULAR, posixOnly],
  ['a device', '/dev/zero', ['/'], NOT_REGULAR, posixOnly],
  ['a dangling link', 'dangling', [R], errOut(404, 'path not found'), posixOnly],
];
for (const [what, name, roots, want, opts] of REFUSED) {
  test(`${what} is not delivered`, opts, () => expectOut(raw(name, {}, roots), want));
}
