// File previews: the exact body, the 1 MiB window, the binary test and what cannot be previewed.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { test } from 'node:test';
import { api, build, DIR, errOut, expectOut, jp, okJson, okOut, posixOnly, progPath, setMtime, tmpBase } from './lib.mjs';

const MiB = 1048576;
const withNul = (at) => Object.assign(Buffer.alloc(9000, 'a'), { [at]: 0 });
const R = build(tmpBase(), {
  'hello.txt': 'line1\nline2\ttab "q" \\ é\x01\r\n', empty: '', 'exact.txt': 'a'.repeat(MiB), 'over.txt': 'a'.repeat(MiB + 1),
  nul8191: withNul(8191), nul8192: withNul(8192), 'big.bin': { size: 5000000 }, sub: DIR, 'ro.txt': 'ro', epoch: 'e',
  fifo: { fifo: true }, lnk: { link: 'hello.txt' }, dangling: { link: 'nowhere' },
});
for (const n of ['hello.txt', 'empty', 'ro.txt']) setMtime(`${R}/${n}`, 1709647629);
setMtime(`${R}/epoch`, 0);
fs.chmodSync(`${R}/ro.txt`, 0o400);
const read = (p, roots = [R]) => api({ action: 'read', path: p }, { roots });
const head = (name, size) =>
  `{"ok":true,"path":${jp(`${R}/${name}`)},"name":"${name}","size":${size},"mtime":"2024-03-05T14:07:09Z","mode":"0644"`;

test('a small text file is previewed whole, with its text escaped', () =>
  expectOut(read(`${R}/hello.txt`), okOut(head('hello.txt', 27) +
    ',"binary":false,"truncated":false,"bytes_read":27,"text":"line1\\nline2\\ttab \\"q\\" \\\\ é\\u0001\\r\\n"}\n')));

test('an empty file has empty text', () =>
  expectOut(read(`${R}/empty`), okOut(head('empty', 0) + ',"binary":false,"truncated":false,"bytes_read":0,"text":""}\n')));

// [file, size, binary, truncated, bytes_read, characters of text (null: no text key)]
const WINDOW = [
  ['exact.txt', MiB, false, false, MiB, MiB],
  ['over.txt', MiB + 1, false, true, MiB, MiB],
  ['nul8191', 9000, true, false, 9000, null],
  ['nul8192', 9000, false, false, 9000, 8192],
  ['big.bin', 5000000, true, false, MiB, null],
];
for (const [name, size, binary, truncated, bytesRead, textLen] of WINDOW) {
  test(`${name}: size ${size}, binary ${binary}, truncated ${truncated}, ${bytesRead} bytes read`, () => {
    const got = okJson(read(`${R}/${name}`));
    assert.deepEqual([got.size, got.binary, got.truncated, got.bytes_read], [size, binary, truncated, bytesRead]);
    assert.equal(got.text, textLen === null ? undefined : 'a'.repeat(textLen));
  });
}

test('a read-only file still shows mode 0644', () => assert.equal(okJson(read(`${R}/ro.txt`)).mode, '0644'));
test('a file from the epoch has an empty time', () => assert.equal(okJson(read(`${R}/epoch`)).mtime, ''));

test('a link is previewed under its target name', posixOnly, () => {
  const got = okJson(read(`${R}/lnk`));
  assert.deepEqual([got.path, got.name, got.text], [progPath(`${R}/hello.txt`), 'hello.txt', 'line1\nline2\ttab "q" \\ é\x01\r\n']);
});

const NOT_REGULAR = errOut(400, 'not a regular file');
const REFUSED = [
  ['a directory', `${R}/sub`, [R], NOT_REGULAR],
  ['a FIFO, without waiting for a writer', `${R}/fifo`, [R], NOT_REGULAR, posixOnly],
  ['a device', '/dev/null', ['/'], NOT_REGULAR, posixOnly],
  ['a dangling link', `${R}/dangling`, [R], errOut(404, 'path not found'), posixOnly],
];
for (const [what, p, roots, want, opts] of REFUSED) {
  test(`${what} cannot be previewed`, opts, () => expectOut(read(p, roots), want));
}

// Windows: eight-byte lines "0000000\n", "0000001\n", ... over 2 MiB and three lines; a tail that starts
// inside a line; a tail of one long line.
const LINES = Array.from({ length: 2 * MiB / 8 + 3 }, (_, i) => `${String(i).padStart(7, '0')}\n`).join('');
const L = LINES.length;
build(R, { 'lines.txt': LINES, 'cut.txt': `ab\n${'c'.repeat(MiB)}\nend\n`, 'long.txt': 'n'.repeat(MiB + 10) });
const win = (name, params) => api({ action: 'read', path: `${R}/${name}`, ...params }, { roots: [R] });
// [file, parameters, offset, truncated, text]
const WINDOWS = [
  ['lines.txt', { offset: '0' }, 0, true, LINES.slice(0, MiB)],
  ['lines.txt', { offset: '8' }, 8, true, LINES.slice(8, 8 + MiB)],
  ['lines.txt', { offset: String(L - 5) }, L - 5, false, LINES.slice(L - 5)],
  ['lines.txt', { offset: String(L) }, L, false, ''],
  ['lines.txt', { offset: String(L + 100) }, L + 100, false, ''],
  ['lines.txt', { offset: String(2n ** 62n) }, 2 ** 62, false, ''],
  ['lines.txt', { offset: '9223372036854775807' }, 2 ** 63, false, ''],
  ['lines.txt', { tail: '1' }, L - MiB, false, LINES.slice(L - MiB)],
  ['lines.txt', { tail: 'true', offset: '3' }, L - MiB, false, LINES.slice(L - MiB)],
  ['cut.txt', { tail: '1' }, MiB + 4, false, 'end\n'],
  ['long.txt', { tail: '1' }, 10, false, 'n'.repeat(MiB)],
  ['hello.txt', { tail: '1' }, 0, false, 'line1\nline2\ttab "q" \\ é\x01\r\n'],
];
for (const [name, params, offset, truncated, text] of WINDOWS) {
  test(`${name} with ${new URLSearchParams(params)}: ${Buffer.byteLength(text)} bytes from ${offset}`, () => {
    const got = okJson(win(name, params));
    assert.deepEqual([got.offset, got.truncated, got.bytes_read, got.binary], [offset, truncated, Buffer.byteLength(text), false]);
    assert.equal(got.text, text);
  });
}

test('a window into a binary file has no text', () => {
  const got = okJson(win('nul8191', { offset: '8192' }));
  assert.deepEqual([got.binary, got.offset, got.bytes_read, got.text], [true, 8192, 808, undefined]);
});

for (const offset of ['', 'abc', '-1', '1.5', ' 1', '0x10', '+1', '99999999999999999999', '1'.padStart(70, '0')]) {
  test(`offset ${JSON.stringify(offset)} is refused`, () =>
    expectOut(win('lines.txt', { offset }), errOut(400, 'bad offset')));
}
