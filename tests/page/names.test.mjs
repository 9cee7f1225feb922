// Names as bytes (src/page/script/names.js) run on their own: every byte string the node may send comes
// back as the same bytes, valid UTF-8 reads as the browser reads it, and the encodings match the
// browser's own wherever the text is UTF-8.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { test } from 'node:test';
import vm from 'node:vm';

const source = fs.readFileSync(new URL('../../src/page/script/names.js', import.meta.url), 'utf8');
const names = vm.runInNewContext(`${source}\n({ decodeBytes, bytesOf, enc, formEnc, formRead, shownName, shownText });`,
  { TextDecoder, TextEncoder });

// bytes as the node sends them (hex), the name as it shows, the name in a query
const BYTES = [
  ['6e6f7465732e747874', 'notes.txt', 'notes.txt'],
  ['6e61c3af7665206361660ce9', 'na\u00efve caf\u240c\ufffd', 'na%C3%AFve%20caf%0C%E9'],
  ['f09f98802e6d64', '\u{1f600}.md', '%F0%9F%98%80.md'],
  ['ff', '\ufffd', '%FF'],
  ['6c61c3', 'la\ufffd', 'la%C3'],
  ['c0af', '\ufffd\ufffd', '%C0%AF'],
  ['eda080', '\ufffd\ufffd\ufffd', '%ED%A0%80'],
  ['f4908080', '\ufffd\ufffd\ufffd\ufffd', '%F4%90%80%80'],
  ['e282', '\ufffd\ufffd', '%E2%82'],
  ['80c3a9', '\ufffd\u00e9', '%80%C3%A9'],
  ['f0908180ff', '\u{10040}\ufffd', '%F0%90%81%80%FF'],
  ['0a20097f', '\u240a \u2409\u2421', '%0A%20%09%7F'],
];

test('every byte string decodes to a name that encodes back to the same bytes', () => {
  for (const [hex, shown, query] of BYTES) {
    const name = names.decodeBytes(Buffer.from(hex, 'hex'));
    assert.deepEqual([hex, Buffer.from(names.bytesOf(name)).toString('hex'), names.shownName(name), names.enc(name)],
      [hex, hex, shown, query]);
  }
});

test('UTF-8 names encode as encodeURIComponent and URLSearchParams do, and read back', () => {
  for (const s of ['a b+c&d=e/f', '~!*\'()-_.', 'na\u00efve \u{1f600}', '100%', '']) {
    const frag = names.formEnc(s);
    assert.deepEqual([names.enc(s), frag, names.formRead(`dir=${frag}&x=1`).get('dir')],
      [encodeURIComponent(s), new URLSearchParams({ d: s }).toString().slice(2), s]);
  }
});

test('a fragment reads as URLSearchParams reads it, a byte outside UTF-8 kept as itself', () => {
  const read = names.formRead('dir=%2Fsrv%2Fa+b&file=x%FF.txt&q=%zz&q=second&flag');
  assert.deepEqual([...read].map(([k, v]) => [k, v]), [['dir', '/srv/a b'], ['file', 'x\udcff.txt'], ['q', '%zz'], ['flag', '']]);
  assert.equal(names.shownText('a\udcffb\n\u{1f600}'), 'a\ufffdb\n\u{1f600}');
});
