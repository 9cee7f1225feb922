// Malformed and oversized requests: each still gets one complete, well-formed answer and exit status 0.
import fs from 'node:fs';
import { test } from 'node:test';
import { errOut, expectOut, okOut, posixOnly, progPath, ROOTS_NONE, run, setMtime, tmpBase } from './lib.mjs';

const B = tmpBase();
const PAGE = run({}).out;
const UNKNOWN = errOut(400, 'unknown action');
const BAD = errOut(400, 'bad path');
// Linux refuses to start a program with an environment string over 128 KiB, so this is the largest query.
const MAX_QUERY = 131072 - 'QUERY_STRING='.length - 1;
const pad = (head, total) => head + 'a'.repeat(total - head.length);

// [behaviour, query, expected output]
const CASES = [
  ['the largest query, mostly a relative path', pad('action=ls&path=', MAX_QUERY), BAD],
  ['the largest query with the action at its end', pad('x=', MAX_QUERY - 13) + '&action=roots', ROOTS_NONE],
  ['a relative path of 5000 bytes is too long', 'action=read&path=' + 'a'.repeat(5000), BAD],
  ['an absolute path of 5000 bytes is refused, never cut', 'action=read&path=' + pad(progPath(B) + '/', 5000), BAD],
  ['a % at the end of the query', 'action=roots%', UNKNOWN],
  ['%zz', 'action=%zz', UNKNOWN],
  ['%00 empties a path', 'action=raw&path=%00', BAD],
  ['%00 empties an action', 'action=%00&format=json', ROOTS_NONE],
  ['escapes for bytes 0x80 to 0xFF', 'action=%80%C3%A9%FF', UNKNOWN],
  ['an empty query', '', PAGE],
  ['only separators', '&&&', PAGE],
  ['ten thousand separators', '&'.repeat(10000), PAGE],
  ['a lone =', '=', PAGE],
  ['separators around an action', '&&&action=roots&&&', ROOTS_NONE],
];
for (const [name, query, want] of CASES) test(name, () => expectOut(run({ query, cwd: B }), want));

test('raw bytes 0x80 to 0xFF in the query', posixOnly, () => {
  const bytes = Buffer.from(Array.from({ length: 128 }, (_, i) => 0x80 + i));
  expectOut(run({ rawQuery: Buffer.concat([Buffer.from('action='), bytes]) }), UNKNOWN);
});

test('a name that is not UTF-8 passes through unchanged', posixOnly, () => {
  const name = Buffer.from(`${B}/\xe9`, 'latin1');
  fs.writeFileSync(name, 'x');
  setMtime(name, 1);
  const want = Buffer.from(okOut(`{"ok":true,"path":"${B}/\xe9","name":"\xe9","size":1,"mtime":"1970-01-01T00:00:01Z",` +
    '"mode":"0644","binary":false,"truncated":false,"bytes_read":1,"text":"x"}\n'), 'latin1');
  const env = { FILES_ALLOWED_ROOT: B };
  expectOut(run({ rawQuery: Buffer.concat([Buffer.from(`action=read&path=${B}/`), Buffer.from([0xe9])]), env }), want);
  expectOut(run({ query: `action=read&path=${B}/%E9`, env }), want);
});
