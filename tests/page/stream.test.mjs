// Answers in lines (src/page/script/stream.js) run on their own, over names.js: the lines of a search's
// answer read out of chunks cut anywhere, and a grep line cut at the bytes of its match.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { test } from 'node:test';
import vm from 'node:vm';

const part = (name) => fs.readFileSync(new URL(`../../src/page/script/${name}`, import.meta.url), 'utf8');
const stream = vm.runInNewContext(`${part('names.js')}\n${part('stream.js')}\n({ answerLines, matchParts });`, { TextDecoder, TextEncoder });

test('lines come out whole wherever the chunks cut them, a name\'s bytes outside UTF-8 kept', () => {
  const answer = Buffer.concat([Buffer.from('{"path":"/d/caf\u00e9","name":"caf\u00e9"}\n{"path":"/d/'), Buffer.from([0xff]),
    Buffer.from('"}\n{"progress":true,"visited":3}\n{"done":true,"matched":2}\n')]);
  const want = [{ path: '/d/caf\u00e9', name: 'caf\u00e9' }, { path: '/d/\udcff' }, { progress: true, visited: 3 }, { done: true, matched: 2 }];
  for (const size of [1, 2, 7, answer.length]) {
    const read = stream.answerLines();
    const got = [];
    for (let at = 0; at < answer.length; at += size) got.push(...read(Uint8Array.from(answer.subarray(at, at + size))));
    assert.deepEqual([size, got.map((line) => JSON.parse(line))], [size, want]);
  }
});

// text, col, text_col, query: before, match, after
const MATCHES = [
  ['second line', 5, 1, 'ND LI', 'seco', 'nd li', 'ne'],
  ['  if (needle(x))', 106, 100, 'needle', '  if (', 'needle', '(x))'],
  ['caf\u00e9 needle', 7, 1, 'needle', 'caf\u00e9 ', 'needle', ''],
  ['\u00e9t\u00e9 \u00e9t\u00e9', 7, 1, '\u00e9t\u00e9', '\u00e9t\u00e9 ', '\u00e9t\u00e9', ''],
  ['\udcffab', 2, 1, 'a', '\udcff', 'a', 'b'],
  ['cut short', 5, 1, 'short and more', 'cut ', 'short', ''],
];

test('a grep line is cut at the bytes its columns name, in any script', () => {
  for (const [text, col, textCol, q, ...want] of MATCHES) {
    assert.deepEqual([text, [...stream.matchParts(text, col, textCol, q)]], [text, want]);
  }
});
