// The path policy: only canonical paths under a root are served, and every refusal has its own answer.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { api, build, DIR, errOut, expectOut, okJson, posixOnly, progPath, tmpBase } from './lib.mjs';

const X = build(tmpBase(), {
  'data/sub/lib': DIR, 'data/file.txt': 'x', 'data/out': { link: '../outside' },
  'data/outfile': { link: '../outside/secret.txt' }, 'data/in': { link: 'sub' },
  'database/f': 'f', 'outside/secret.txt': 'secret', Data: DIR,
});
const D = `${X}/data`;
const NOT_ALLOWED = errOut(403, 'path not allowed');
const NOT_FOUND = errOut(404, 'path not found');
const BAD = errOut(400, 'bad path');

// [behaviour, action, path, roots, expected output, options]
const REFUSED = [
  ['a path outside every root is not allowed', 'ls', `${X}/outside`, [D], NOT_ALLOWED],
  ['.. cannot climb out of a root', 'read', `${D}/../outside/secret.txt`, [D], NOT_ALLOWED],
  ['a sibling sharing the prefix is outside', 'ls', `${X}/database`, [D], NOT_ALLOWED],
  ['a file in that sibling is outside', 'raw', `${X}/database/f`, [D], NOT_ALLOWED],
  ['a link to a directory outside is refused', 'ls', `${D}/out`, [D], NOT_ALLOWED, posixOnly],
  ['a link to a file outside cannot be read', 'read', `${D}/outfile`, [D], NOT_ALLOWED, posixOnly],
  ['a link to a file outside cannot be fetched', 'raw', `${D}/outfile`, [D], NOT_ALLOWED, posixOnly],
  ['a name differing in case is another directory', 'ls', `${X}/Data`, [D], NOT_ALLOWED, posixOnly],
  ['a missing directory is not found', 'ls', `${D}/nope`, [D], NOT_FOUND],
  ['a missing file is not found', 'read', `${D}/nope.txt`, [D], NOT_FOUND],
  ['a missing path outside the roots is not found', 'raw', `${X}/outside/nope`, [D], NOT_FOUND],
  ['a missing parent is not found', 'read', `${D}/no/such/file`, [D], NOT_FOUND],
  ['read needs a path', 'read', '', [D], BAD],
  ['raw needs a path', 'raw', '', [D], BAD],
  ['without roots nothing is allowed', 'ls', D, [], NOT_ALLOWED],
  ['without roots a missing path is still not found', 'read', `${D}/nope`, [], NOT_FOUND],
  ['without roots an empty path is still bad', 'raw', '', [], BAD],
  ['a listing needs a root when it has no path', 'ls', '', [], errOut(500, 'no allowlisted root available')],
];
for (const [name, action, p, roots, want, opts] of REFUSED) {
  test(name, opts, () => expectOut(api({ action, path: p }, { roots }), want));
}

// [behaviour, requested path, roots, expected path, parent, root, options]
const ROOT_SLASH = '/' + X.split('/')[1];
const ACCEPTED = [
  ['trailing slashes are dropped', `${D}//`, [D], D, null, D],
  ['doubled slashes and dots are resolved', `${D}//sub/./lib/`, [D], `${D}/sub/lib`, `${D}/sub`, D],
  ['.. that stays inside is fine', `${D}/sub/lib/../../sub`, [D], `${D}/sub`, D, D],
  ['a link inside a root is shown as its target', `${D}/in`, [D], `${D}/sub`, D, D, posixOnly],
  ['a relative path starts at the working directory', 'data/sub', [D], `${D}/sub`, D, D, { cwd: X }],
  ['"/" as a root admits everything', `${X}/outside`, ['/'], `${X}/outside`, X, '/', posixOnly],
  ['the parent of a first-level directory is "/"', ROOT_SLASH, ['/'], ROOT_SLASH, '/', '/', posixOnly],
  ['"/" itself has no parent', '/', ['/'], '/', null, '/', posixOnly],
];
for (const [name, p, roots, dir, parent, root, { cwd, ...opts } = {}] of ACCEPTED) {
  test(name, opts, () => {
    const got = okJson(api({ action: 'ls', path: p }, { roots, cwd }));
    const want = { path: dir, parent, root };
    for (const k in want) assert.equal(got[k], want[k] && progPath(want[k]), k);
  });
}
