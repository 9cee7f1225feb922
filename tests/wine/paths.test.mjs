// Windows path rules, seen from outside: letter case and either slash name the same place, answers use
// the spelling on disk, parents step up by backslashes to the drive, and a drive can be a root.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import { readArchive } from '../cgi/archive.mjs';
import { build, DIR, errOut, expectOut, okJson, okOut, progPath, run, tmpBase } from '../cgi/lib.mjs';

const B = build(tmpBase(), {
  'Data/Sub/lib': DIR, 'Data/Sub/File.TXT': 'x', 'database/f': 'f', 'drive-d/codebases': DIR,
});
const W = progPath(B); // Z:\tmp\pf-cgi-...
const D = `${W}\\Data`;
const lax = (p) => p.toLowerCase().replaceAll('\\', '/'); // the same place, spelled carelessly
const TOP = W.split('\\').slice(0, 2).join('\\'); // the first-level directory holding the fixtures

// Paths and roots go to the program exactly as written here: no respelling on the way.
const ask = (action, p, roots) =>
  run({ query: `action=${action}&path=${encodeURIComponent(p)}`, env: { FILES_ALLOWED_ROOT: roots.join(';') } });
const rootsOut = (...list) => okOut(`{"ok":true,"count":${list.length},"roots":[` +
  list.map(([p, name], i) => `${i ? ',' : ''}\n  {"path":${JSON.stringify(p)},"name":${JSON.stringify(name)}}`).join('') +
  '\n]}\n');

test('one directory named in several spellings is one root, spelled as on disk', () =>
  expectOut(run({ query: 'action=roots', env: { FILES_ALLOWED_ROOT: `${lax(D)}/;${D}\\;${lax(W)}/DATA/sub/..` } }),
    rootsOut([D, 'Data'])));

test('a drive is a root named by itself', () =>
  expectOut(run({ query: 'action=roots', env: { FILES_ALLOWED_ROOT: 'z:/' } }), rootsOut(['Z:\\', 'Z:\\'])));

test('a root without a drive or a share, or on a drive without "\\", is relative and left out', () => {
  const rel = W.slice(2); // \tmp\pf-cgi-..., on the current drive
  expectOut(run({ query: 'action=roots', env: { FILES_ALLOWED_ROOT: `${rel}\\Data;Z:${rel.slice(1)}\\Data;Data;${D}` }, cwd: B }),
    rootsOut([D, 'Data']));
});

test('D:\\codebases, where it exists, is the first root, before the profile', () => {
  const drive = path.join(process.env.WINEPREFIX, 'dosdevices', 'd:');
  fs.symlinkSync(`${B}/drive-d`, drive);
  try {
    expectOut(run({ query: 'action=roots', env: { USERPROFILE: D } }),
      rootsOut(['D:\\codebases', 'codebases'], [D, 'Data']));
  } finally {
    fs.unlinkSync(drive);
  }
});

// [behaviour, requested path, roots, shown path, parent, root]
const LISTED = [
  ['a path in another case and with slashes is shown as on disk', `${lax(D)}/SUB/lib/`, [D], `${D}\\Sub\\lib`, `${D}\\Sub`, D],
  ['.. and doubled backslashes are resolved', `${D}\\Sub\\\\lib\\..\\`, [D], `${D}\\Sub`, D, D],
  ['a root given in another case holds the directory', `${D}\\Sub`, [lax(D)], `${D}\\Sub`, D, D],
  ['a root is listed without a parent', lax(D), [D], D, null, D],
  ['a drive as a root holds its whole tree', W, ['z:\\'], W, path.win32.dirname(W), 'Z:\\'],
  ['the parent of a first-level directory is the drive', lax(TOP), ['Z:\\'], TOP, 'Z:\\', 'Z:\\'],
  ['the drive itself has no parent', 'z:/', ['Z:\\'], 'Z:\\', null, 'Z:\\'],
];
for (const [name, p, roots, shown, parent, root] of LISTED) {
  test(name, () => {
    const got = okJson(ask('ls', p, roots));
    assert.deepEqual([got.path, got.parent, got.root], [shown, parent, root]);
  });
}

test('a file named in another case is read under its name on disk', () => {
  const got = okJson(ask('read', `${lax(D)}/sub/file.txt`, [D]));
  assert.deepEqual([got.path, got.name, got.text], [`${D}\\Sub\\File.TXT`, 'File.TXT', 'x']);
});

test('a folder spelled carelessly is archived under its name on disk, "/" between the names inside', () => {
  const r = ask('zip', `${lax(D)}/SUB`, [D]);
  assert.match(r.head, /filename="Sub\.zip"\r\n/);
  assert.deepEqual(readArchive(r.body).map((e) => e.name.toString()).sort(), ['File.TXT', 'lib/']);
});

// [behaviour, action, requested path, roots]
const REFUSED = [
  ['a sibling whose name extends the root is outside it', 'ls', `${W}\\database`, [D]],
  ['that sibling stays outside in any spelling', 'read', `${lax(W)}/DATABASE/f`, [D]],
  ['.. cannot climb out of a root', 'ls', `${D}\\..\\database`, [D]],
  ['a drive holds nothing of another drive', 'ls', 'C:\\windows', ['Z:\\']],
  ['nor can an archive be made of it', 'zip', 'C:\\windows', ['Z:\\']],
];
for (const [name, action, p, roots] of REFUSED) {
  test(name, () => expectOut(ask(action, p, roots), errOut(403, 'path not allowed')));
}
