// The pure parts of the text viewer (src/page/script/lines.js, ansi.js, encodings.js, csv.js), each
// evaluated on its own as it stands: they must need nothing of the page.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { test } from 'node:test';
import vm from 'node:vm';

const part = (name, value) => vm.runInNewContext(
  `${fs.readFileSync(new URL(`../../src/page/script/${name}`, import.meta.url), 'utf8')}\n${value};`, { TextDecoder });
const lines = part('lines.js', 'lines');
const ansiReader = part('ansi.js', 'ansiReader');
const encodings = part('encodings.js', 'encodings');
const delimited = part('csv.js', 'delimited');
const plain = (v) => JSON.parse(JSON.stringify(v));

test('a window keeps its whole lines, counted in UTF-8 bytes and lines', () => {
  const cases = [
    // text, bytes remain after it, length kept, UTF-8 bytes of the text, line feeds
    ['a\nb\nc', true, 4, 5, 2],
    ['a\nb\nc', false, 5, 5, 2],
    ['one long line', true, 13, 13, 0],
    ['caf\u00e9\n\u6f22\n', true, 7, 10, 2],
    ['\u{1f600}\n', false, 3, 5, 1],
    ['', true, 0, 0, 0],
  ];
  for (const [text, more, keep, bytes, count] of cases) {
    assert.deepEqual([text, lines.wholeLength(text, more), lines.utf8Length(text), lines.count(text)], [text, keep, bytes, count]);
  }
  const le = Uint8Array.from([0xff, 0xfe, 0x61, 0, 0x0a, 0, 0x62, 0]);
  assert.deepEqual([lines.bytesWhole(Uint8Array.from([0x61, 0x0a, 0x62]), 1), lines.bytesWhole(le, 2),
    lines.bytesWhole(Uint8Array.from([0x0a, 0x00, 0x61]).subarray(1), 2)], [2, 6, 0]);
});

test('an address names one line or a range of lines, in either order', () => {
  const cases = [['7', [7, 7]], ['3-9', [3, 9]], ['9-3', [3, 9]], ['0', null], ['-3', null], ['3-', null], ['x', null],
    ['12345678901', null], ['', null]];
  for (const [text, want] of cases) assert.deepEqual([text, plain(lines.parseRange(text))], [text, want]);
  assert.deepEqual([lines.rangeText([4, 4]), lines.rangeText([4, 8])], ['4', '4-8']);
  const known = [[0, 1], [1000, 80], [5000, 300]];
  assert.deepEqual([1, 79, 80, 299, 301].map((n) => plain(lines.startFor(known, n))),
    [[0, 1], [0, 1], [1000, 80], [1000, 80], [5000, 300]]);
});

test('terminal escapes are taken out and their colours kept as runs, across windows', () => {
  const read = ansiReader();
  const cases = [
    ['plain', 'plain', []],
    ['\u001b[31mred\u001b[0m and \u001b[1;92mbright\u001b[22m', 'red and bright',
      [[0, 3, '', 'var(--a1)', ''], [8, 14, 'a-bo', 'var(--a10)', '']]],
    // The colour still in force goes on in the next window.
    ['still\u001b[39m done', 'still done', [[0, 5, '', 'var(--a10)', '']]],
    ['\u001b[38;5;196mx\u001b[48;2;1;2;3my\u001b[7mz\u001b[0m', 'xyz',
      [[0, 1, '', '#ff0000', ''], [1, 2, '', '#ff0000', '#010203'], [2, 3, '', '#010203', '#ff0000']]],
    ['\u001b[2K\u001b[1Gcursor \u001b]0;title\u0007moves \u001b(Bend\u001b[', 'cursor moves Bend', []],
    ['\u001b[4;3mu\u001b[m.', 'u.', [[0, 1, 'a-it a-un', '', '']]],
  ];
  for (const [text, want, runs] of cases) assert.deepEqual([text, plain(read(text))], [text, { text: want, runs }]);
});

test('a byte-order mark or a gzip header says what a file holds, and text that is not UTF-8 reads as Windows-1252', () => {
  const b = (...v) => Uint8Array.from(v);
  assert.deepEqual([b(0xff, 0xfe, 0x61, 0), b(0xfe, 0xff, 0, 0x61), b(0x1f, 0x8b, 8, 0), b(0x61, 0x62), b(0xff)]
    .map(encodings.sniff), ['utf-16le', 'utf-16be', 'gzip', '', '']);
  assert.deepEqual([b(0x63, 0xc3, 0xa9), b(0x63, 0xc3), b(0x63, 0xe9, 0x20), b(0xe2, 0x82, 0x61)].map(encodings.guess),
    ['utf-8', 'utf-8', 'windows-1252', 'windows-1252']);
  assert.deepEqual([encodings.decode(b(0x63, 0xe9), 'windows-1252'), encodings.decode(b(0xff, 0xfe, 0x61, 0), 'utf-16le'),
    encodings.decode(b(0xc1), 'koi8-r')], ['c\u00e9', 'a', '\u0430']);
  assert.deepEqual([encodings.binary('a\u0000b'), encodings.binary('a'.repeat(8192) + '\u0000'), encodings.unit('utf-16be')],
    [true, false, 2]);
  assert.equal(encodings.CHOICES.length, 12);
});

test('comma- and tab-separated rows read with quotes, doubled quotes and line ends inside fields', () => {
  const cases = [
    ['a,b,c\n1,2,3\n', ',', [['a', 'b', 'c'], ['1', '2', '3']]],
    ['a,"b, c","d ""q"""\r\n"multi\nline",,x', ',', [['a', 'b, c', 'd "q"'], ['multi\nline', '', 'x']]],
    ['a\tb\n"t\tab"\tc', '\t', [['a', 'b'], ['t\tab', 'c']]],
    ['"open,\nto the end', ',', [['open,\nto the end']]],
    ['"a"b,c\n\nlast', ',', [['ab', 'c'], [''], ['last']]],
    ['', ',', []],
  ];
  for (const [text, sep, rows] of cases) {
    const r = delimited(text, sep);
    const got = [...r.next(1), ...r.next(100)];
    assert.deepEqual([text, plain(got), r.done()], [text, rows, true]);
  }
});
