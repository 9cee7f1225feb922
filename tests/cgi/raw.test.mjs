// Raw delivery: content type and disposition by name, byte-exact bodies, length and validators, ranges,
// conditional requests, HEAD, the size limit, refusals.
import assert from 'node:assert/strict';
import { randomBytes } from 'node:crypto';
import fs from 'node:fs';
import { test } from 'node:test';
import { api, build, DIR, errOut, etagOf, expectOut, posixOnly, progPath, run, setMtime, tmpBase, WIN } from './lib.mjs';

const TXT = 'text/plain; charset=utf-8';
const BIN = 'application/octet-stream';
const LIMIT = 67108864;
const R = tmpBase();
const raw = (name, extra = {}, roots = [R]) => api({ action: 'raw', path: name.startsWith('/') ? name : `${R}/${name}`, ...extra }, { roots });
// The validator lines of a file as it is now.
const validators = (file) =>
  `Last-Modified: ${new Date(Number(fs.statSync(file, { bigint: true }).mtimeNs / 1000000000n) * 1000).toUTCString()}\r\n` +
  `ETag: ${etagOf(file)}\r\n`;
const rawHead = (type, disp, name, file = `${R}/${name}`, { len = fs.statSync(file).size, extra = '' } = {}) =>
  `Content-Type: ${type}\r\nCache-Control: private, no-cache\r\nX-Content-Type-Options: nosniff\r\n` +
  "Content-Security-Policy: default-src 'none'; style-src 'unsafe-inline'; img-src data:; media-src 'self'\r\n" +
  `X-Frame-Options: SAMEORIGIN\r\nReferrer-Policy: no-referrer\r\nContent-Disposition: ${disp}; filename="${name}"\r\n` +
  `Content-Length: ${len}\r\nAccept-Ranges: bytes\r\n${validators(file)}${extra}\r\n`;

// [file name, download value, content type, disposition]
const TYPES = [
  ['photo.PNG', undefined, 'image/png', 'inline'], ['photo.PNG', '1', 'image/png', 'attachment'],
  ['photo.PNG', 'true', 'image/png', 'attachment'], ['photo.PNG', 'TRUE', 'image/png', 'inline'],
  ['photo.PNG', 'yes', 'image/png', 'inline'], ['photo.PNG', '0', 'image/png', 'inline'],
  ['a.jpg', undefined, 'image/jpeg', 'inline'], ['b.JpEg', undefined, 'image/jpeg', 'inline'],
  ['c.gif', undefined, 'image/gif', 'inline'], ['d.webp', undefined, 'image/webp', 'inline'],
  ['e.bmp', undefined, 'image/bmp', 'inline'], ['f.ico', undefined, 'image/x-icon', 'inline'],
  ['.png', undefined, 'image/png', 'inline'], ['drawing.svg', undefined, TXT, 'attachment'],
  ['report.pdf', undefined, 'application/pdf', 'inline'], ['report.pdf', '1', 'application/pdf', 'attachment'], ['notes.txt', '1', TXT, 'attachment'],
  ...['g.md', 'h.json', 'i.c', 'j.H', 'k.log', 'page.html', 'x.xhtml', 'y.shtml'].map((n) => [n, undefined, TXT, 'attachment']),
  // Windows drops a trailing dot from a name, so "notes." is a POSIX name only.
  ...['PAGE.HTML', 'z.HtM', 'README', ...(WIN ? [] : ['notes.']), 'archive.tar.gz', '.bashrc', 'x.cc', 'x.pn', 'x.pngx']
    .map((n) => [n, undefined, BIN, 'attachment']),
  ['naïve café.txt', undefined, TXT, 'attachment'],
  ...[['a.mp4', 'video/mp4'], ['b.M4V', 'video/mp4'], ['c.webm', 'video/webm'], ['d.ogv', 'video/ogg'],
    ['e.mov', 'video/quicktime'], ['f.mp3', 'audio/mpeg'], ['g.m4a', 'audio/mp4'], ['h.aac', 'audio/aac'],
    ['i.ogg', 'audio/ogg'], ['j.oga', 'audio/ogg'], ['k.opus', 'audio/ogg'], ['l.wav', 'audio/wav'],
    ['m.flac', 'audio/flac'], ['n.avif', 'image/avif']].map(([n, type]) => [n, undefined, type, 'inline']),
  ['f.mp3', '1', 'audio/mpeg', 'attachment'], ['a.mp4', 'true', 'video/mp4', 'attachment'],
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

build(R, { 'over.bin': { size: LIMIT + 1 }, 'ten.bin': '0123456789', '2mib.bin': { size: 2 * 1048576 + 1 } });
// [FILES_RAW_LIMIT, file, the answer to HEAD: its Content-Length, or the whole refusal]; without a limit
// of its own (unset, empty, 0, or anything but decimal digits) the host sets none.
const LIMITS = [
  ...[undefined, '', '0', 'abc', '-5', '+10', ' 10', '10 ', '1e3', '99999999999999999999999'].map((l) => [l, 'over.bin', LIMIT + 1]),
  ['10', 'ten.bin', 10], ['9', 'ten.bin', errOut(413, 'file larger than 9 bytes')],
  ['2097152', '2mib.bin', errOut(413, 'file larger than 2 MiB')], ['67108864', 'over.bin', errOut(413, 'file larger than 64 MiB')],
];
for (const [limit, file, want] of LIMITS) {
  test(`FILES_RAW_LIMIT ${JSON.stringify(limit)}: ${file} gets ${typeof want === 'number' ? 'its bytes' : 'a 413'}`, () => {
    const env = { REQUEST_METHOD: 'HEAD', ...(limit === undefined ? {} : { FILES_RAW_LIMIT: limit }) };
    const r = api({ action: 'raw', path: `${R}/${file}` }, { roots: [R], env });
    expectOut(r, typeof want === 'number' ? rawHead(BIN, 'attachment', file) : want.slice(0, want.indexOf('\r\n\r\n') + 4));
  });
}

test('the disposition name replaces quote, backslash, CR and LF but keeps other bytes', posixOnly, () => {
  const name = 'a"b\\c\nd\re\tf\x01 é.bin';
  build(R, { [name]: 'x' });
  expectOut(raw(name), rawHead(BIN, 'attachment', 'a_b_c_d_e\tf\x01 é.bin', `${R}/${name}`) + 'x');
});

test('a link is delivered under its target name and type', posixOnly, () => {
  build(R, { 'real.bin': 'real', 'shown.png': { link: 'real.bin' } });
  expectOut(raw('shown.png'), rawHead(BIN, 'attachment', 'real.bin', `${R}/real.bin`) + 'real');
});

test('the tag changes with the size and with the time, and only then', () => {
  const p = `${R}/ten.bin`;
  const tag = () => raw('ten.bin').head.match(/ETag: (.*)\r/)[1];
  setMtime(p, T);
  const first = tag();
  assert.equal(tag(), first);
  setMtime(p, T + 1);
  const touched = tag();
  fs.writeFileSync(p, '01234567890');
  setMtime(p, T + 1);
  assert.equal(new Set([first, touched, tag()]).size, 3);
  fs.writeFileSync(p, '0123456789');
  setMtime(p, T);
});

// Ranges over "0123456789": [Range, [first, last] of a 206, 'whole' for a 200, or 416]
const T = 1709647629;
const DATE = 'Tue, 05 Mar 2024 14:07:09 GMT';
build(R, { 'digits.bin': '0123456789', 'none.bin': '' });
setMtime(`${R}/digits.bin`, T);
setMtime(`${R}/none.bin`, T);
const RANGES = [
  ['bytes=0-0', [0, 0]], ['bytes=2-5', [2, 5]], ['bytes=7-', [7, 9]], ['bytes=-3', [7, 9]], ['bytes=-30', [0, 9]],
  ['bytes=5-100', [5, 9]], ['BYTES = 2 - 5', [2, 5]], ['Bytes=\t2-5 ,', [2, 5]], ['bytes=0-99999999999999999999', [0, 9]],
  ['bytes=10-', 416], ['bytes=-0', 416], ['bytes=99999999999999999999-', 416],
  ...['bytes=5-3', 'bytes=0-1,3-4', 'bytes=0-1, -2', 'items=0-1', 'bytes=abc', 'bytes=', 'bytes', 'bytes=-', 'bytes=1-2-3',
    'bytes=0x1-2', 'bytes 0-1', 'bytes=+1-2', 'bytesx=0-1'].map((spec) => [spec, 'whole']),
];
const ranged = (file, env) => api({ action: 'raw', path: `${R}/${file}` }, { roots: [R], env });
const unsatisfiable = (size) => errOut(416, 'range not satisfiable')
  .replace('nosniff\r\n', `nosniff\r\nContent-Range: bytes */${size}\r\n`);
// Just the part's bytes are read, so that a part of a file of any size can be expected.
function bytesAt(file, first, last) {
  const fd = fs.openSync(`${R}/${file}`, 'r');
  const bytes = Buffer.alloc(last + 1 - first);
  fs.readSync(fd, bytes, 0, bytes.length, first);
  fs.closeSync(fd);
  return bytes.toString('latin1');
}
const part = (file, first, last, size) =>
  'Status: 206 Partial Content\r\n' + rawHead(BIN, 'attachment', file, `${R}/${file}`,
    { len: last - first + 1, extra: `Content-Range: bytes ${first}-${last}/${size}\r\n` }) + bytesAt(file, first, last);
const whole = (file) => rawHead(BIN, 'attachment', file) + fs.readFileSync(`${R}/${file}`).toString('latin1');
for (const [spec, want] of RANGES) {
  test(`Range ${JSON.stringify(spec)} gets ${want === 'whole' ? 'the whole file' : want === 416 ? 416 : want.join('-')}`, () =>
    expectOut(ranged('digits.bin', { HTTP_RANGE: spec }),
      want === 'whole' ? whole('digits.bin') : want === 416 ? unsatisfiable(10) : part('digits.bin', ...want, 10)));
}
for (const spec of ['bytes=0-', 'bytes=-5', 'bytes=0-0']) {
  test(`every range of an empty file, ${spec}, is unsatisfiable`, () =>
    expectOut(ranged('none.bin', { HTTP_RANGE: spec }), unsatisfiable(0)));
}
test('a malformed range of an empty file is ignored', () =>
  expectOut(ranged('none.bin', { HTTP_RANGE: 'bytes=x' }), whole('none.bin')));

test('a range at the end of a large file sends just those bytes', () =>
  assert.equal(ranged('limit.bin', { HTTP_RANGE: `bytes=${LIMIT - 3}-` }).body.toString(), 'END'));

test('with no limit set, a file over 64 MiB comes whole, and a 5 GiB one in parts from anywhere', () => {
  assert.equal(raw('over.bin').body.length, LIMIT + 1);
  const size = 5 * 1024 * LIMIT / 64;
  build(R, { 'huge.bin': { size } });
  const fd = fs.openSync(`${R}/huge.bin`, 'r+');
  fs.writeSync(fd, 'MIDDLE', size / 2);
  fs.writeSync(fd, 'END', size - 3);
  fs.closeSync(fd);
  expectOut(ranged('huge.bin', { HTTP_RANGE: 'bytes=-3' }), part('huge.bin', size - 3, size - 1, size));
  expectOut(ranged('huge.bin', { HTTP_RANGE: `bytes=${size / 2}-${size / 2 + 5}` }), part('huge.bin', size / 2, size / 2 + 5, size));
  fs.rmSync(`${R}/huge.bin`);
});

// Conditions: [name, headers, 412, 304, 206 (for bytes=2-5), or 'whole']
const TAG = () => validators(`${R}/digits.bin`).match(/ETag: (.*)\r/)[1];
const CONDITIONS = [
  ['If-None-Match with the tag', () => ({ HTTP_IF_NONE_MATCH: TAG() }), 304],
  ['If-None-Match with the weak tag', () => ({ HTTP_IF_NONE_MATCH: `W/${TAG()}` }), 304],
  ['If-None-Match with a list holding the tag', () => ({ HTTP_IF_NONE_MATCH: `"x" ,, W/"y", ${TAG()}` }), 304],
  ['If-None-Match *', () => ({ HTTP_IF_NONE_MATCH: '*' }), 304],
  ['If-None-Match with another tag', () => ({ HTTP_IF_NONE_MATCH: '"other"' }), 'whole'],
  ['If-None-Match that is not a tag', () => ({ HTTP_IF_NONE_MATCH: `x ${TAG()}` }), 'whole'],
  ['If-Modified-Since the time', () => ({ HTTP_IF_MODIFIED_SINCE: DATE }), 304],
  ['If-Modified-Since later', () => ({ HTTP_IF_MODIFIED_SINCE: 'Wed, 06 Mar 2024 00:00:00 GMT' }), 304],
  ['If-Modified-Since in the obsolete RFC 850 form', () => ({ HTTP_IF_MODIFIED_SINCE: 'Tuesday, 05-Mar-24 14:07:09 GMT' }), 304],
  ['If-Modified-Since in the asctime form', () => ({ HTTP_IF_MODIFIED_SINCE: 'Tue Mar  5 14:07:09 2024' }), 304],
  ['If-Modified-Since a second before', () => ({ HTTP_IF_MODIFIED_SINCE: 'Tue, 05 Mar 2024 14:07:08 GMT' }), 'whole'],
  ['If-Modified-Since unparsable', () => ({ HTTP_IF_MODIFIED_SINCE: 'Tue, 05 Mar 2024 14:07:09 UTC' }), 'whole'],
  ['If-Modified-Since on the 30th of February', () => ({ HTTP_IF_MODIFIED_SINCE: 'Fri, 30 Feb 2024 00:00:00 GMT' }), 'whole'],
  ['a non-matching If-None-Match over a matching If-Modified-Since', () =>
    ({ HTTP_IF_NONE_MATCH: '"other"', HTTP_IF_MODIFIED_SINCE: DATE }), 'whole'],
  ['If-Match with the tag', () => ({ HTTP_IF_MATCH: `"x", ${TAG()}` }), 'whole'],
  ['If-Match *', () => ({ HTTP_IF_MATCH: '*' }), 'whole'],
  ['If-Match with the weak tag', () => ({ HTTP_IF_MATCH: `W/${TAG()}` }), 412],
  ['If-Match with another tag, over a matching If-None-Match', () => ({ HTTP_IF_MATCH: '"x"', HTTP_IF_NONE_MATCH: '*' }), 412],
  ['If-Unmodified-Since the time', () => ({ HTTP_IF_UNMODIFIED_SINCE: DATE }), 'whole'],
  ['If-Unmodified-Since a second before', () => ({ HTTP_IF_UNMODIFIED_SINCE: 'Tue, 05 Mar 2024 14:07:08 GMT' }), 412],
  ['If-Unmodified-Since unparsable', () => ({ HTTP_IF_UNMODIFIED_SINCE: 'yesterday' }), 'whole'],
  ['If-Range with the tag', () => ({ HTTP_RANGE: 'bytes=2-5', HTTP_IF_RANGE: TAG() }), 206],
  ['If-Range with the date', () => ({ HTTP_RANGE: 'bytes=2-5', HTTP_IF_RANGE: DATE }), 206],
  ['If-Range with the weak tag', () => ({ HTTP_RANGE: 'bytes=2-5', HTTP_IF_RANGE: `W/${TAG()}` }), 'whole'],
  ['If-Range with another tag', () => ({ HTTP_RANGE: 'bytes=2-5', HTTP_IF_RANGE: '"other"' }), 'whole'],
  ['If-Range with a later date', () => ({ HTTP_RANGE: 'bytes=2-5', HTTP_IF_RANGE: 'Wed, 06 Mar 2024 00:00:00 GMT' }), 'whole'],
  ['If-Range that is neither', () => ({ HTTP_RANGE: 'bytes=2-5', HTTP_IF_RANGE: 'soon' }), 'whole'],
];
const notModified = (file) =>
  `Status: 304 Not Modified\r\nCache-Control: private, no-cache\r\nX-Content-Type-Options: nosniff\r\n${validators(`${R}/${file}`)}\r\n`;
for (const [name, headers, want] of CONDITIONS) {
  test(`${name}: ${want}`, () => expectOut(ranged('digits.bin', headers()),
    want === 412 ? errOut(412, 'precondition failed') : want === 304 ? notModified('digits.bin') : want === 206 ? part('digits.bin', 2, 5, 10) : whole('digits.bin')));
}

test('a file dated in the future is announced as modified now', () => {
  build(R, { 'future.bin': 'f' });
  setMtime(`${R}/future.bin`, 4102444800);
  const before = Math.floor(Date.now() / 1000);
  const date = Date.parse(raw('future.bin').head.match(/Last-Modified: (.*)\r/)[1]) / 1000;
  assert.ok(date >= before && date <= Math.floor(Date.now() / 1000), `${date} is not now`);
});

// HEAD: every answer's status and header lines without its body, and a range is a GET's alone.
const HEADS = [
  ['the page', {}, undefined],
  ['roots', {}, 'action=roots'],
  ['a listing', {}, `action=ls&path=${encodeURIComponent(progPath(R))}`],
  ['a preview', {}, `action=read&path=${encodeURIComponent(progPath(`${R}/digits.bin`))}`],
  ['a download', {}, `action=raw&path=${encodeURIComponent(progPath(`${R}/digits.bin`))}`],
  ['an archive', {}, `action=zip&path=${encodeURIComponent(progPath(R))}`],
  ['an error', {}, 'action=nope'],
  ['a refusal', { KIV_PASSWORD: 'pw' }, 'action=roots'],
];
for (const [what, env, query] of HEADS) {
  test(`HEAD of ${what} is the GET's header block alone`, () => {
    const ask = (method) => run({ query, env: { FILES_ALLOWED_ROOT: progPath(R), REQUEST_METHOD: method, ...env } });
    const [get, head] = [ask('GET'), ask('HEAD')];
    assert.ok(get.body.length > 0);
    expectOut(head, get.head);
  });
}
test('HEAD with a range answers as for the whole file', () =>
  expectOut(ranged('digits.bin', { REQUEST_METHOD: 'HEAD', HTTP_RANGE: 'bytes=2-5' }), rawHead(BIN, 'attachment', 'digits.bin')));

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
