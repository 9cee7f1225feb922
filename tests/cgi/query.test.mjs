// How parameters are found and decoded, seen through the directory that a listing ends up showing.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { api, build, DIR, errOut, expectOut, okJson, posixOnly, progPath, SEP, tmpBase } from './lib.mjs';

const B = build(tmpBase(), {
  'a b': DIR, '%41': DIR, A: DIR, one: DIR, two: DIR, '100%': DIR, '%zz': DIR, 'x%4': DIR, 'readme.md': '# readme\n',
});
const Q = progPath(B) + SEP; // raw, unencoded prefix of the path values below
const listed = (query) => okJson(api('action=ls&' + query, { roots: [B] })).path;
// A path value padded with separators to exactly 4095 bytes, the most the program takes.
const padded = (name) => Q + SEP.repeat(4095 - Q.length - name.length) + name;
const full = padded('one');

const CASES = [
  ['plus is a space', `path=${Q}a+b`, 'a b'],
  ['%20 is a space', `path=${Q}a%20b`, 'a b'],
  ['hex digits in either case', `path=${Q}%6Fn%65`, 'one'],
  ['decoded bytes are not decoded again', `path=${Q}%2541`, '%41'],
  ['an escape decodes once', `path=${Q}%41`, 'A'],
  ['a lone % at the end stays', `path=${Q}100%`, '100%'],
  ['% without two hex digits stays', `path=${Q}%zz`, '%zz'],
  ['% with one hex digit at the end stays', `path=${Q}x%4`, 'x%4'],
  ['encoded slashes separate names', `path=${Q}one%2F..%2Ftwo`, 'two'],
  ['%00 ends the value', `path=${Q}one%00/../two`, 'one'],
  ['the first duplicate wins', `path=${Q}one&path=${Q}two`, 'one'],
  ['a longer name ending in path is another parameter', `xpath=${Q}two&path=${Q}one`, 'one'],
  ['xpath alone is no path', `xpath=${Q}two`, null],
  ['names are not decoded', `p%61th=${Q}two`, null],
  ['a name without = is passed over', `path&path=${Q}one`, 'one'],
  ['a trailing & is harmless', `path=${Q}one&`, 'one'],
];
for (const [name, query, dir] of CASES) {
  test(name, () => assert.equal(listed(query), progPath(dir === null ? B : `${B}/${dir}`)));
}
// The narrow Win32 calls refuse a path of 260 bytes or more, so this one needs POSIX.
test('a value of 4095 bytes is taken whole', posixOnly, () => assert.equal(listed(`path=${full}`), progPath(`${B}/one`)));
// A longer one is refused: cut, it would name another file that exists.
for (const [what, query] of [['listing', `action=ls&path=${full}XYZ`], ['preview', `action=read&path=${padded('readme.md')}.does-not-exist`],
  ['download', `action=raw&path=${padded('readme.md')}%2Edoes-not-exist`]]) {
  test(`a ${what} of a path past 4095 bytes is 400, never cut`, () =>
    expectOut(api(query, { roots: [B] }), errOut(400, 'bad path')));
}
