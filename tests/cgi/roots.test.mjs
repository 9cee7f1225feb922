// The allowlist of roots: where it comes from, what qualifies, and how the roots action prints it.
import path from 'node:path';
import { test } from 'node:test';
import { build, DIR, expectOut, jp, okOut, posixOnly, progPath, run, tmpBase } from './lib.mjs';

const B = build(tmpBase(), {
  ...Object.fromEntries([...'abcdefghij'].map((c) => [c, DIR])),
  'a/sub': DIR, 'p/web': DIR, 'Case/data': DIR, 'Case/Data': DIR, lnk: { link: 'p/web' },
});
const P = (rel) => `${B}/${rel}`;
const far = (...pieces) => ({ FILES_ALLOWED_ROOT: pieces.map((x) => x && progPath(x)).join(';') });
const rootsOut = (list) => okOut(`{"ok":true,"count":${list.length},"roots":[` +
  list.map((p, i) => `${i ? ',' : ''}\n  {"path":${jp(p)},"name":${JSON.stringify(p === '/' ? '/' : path.basename(p))}}`).join('') +
  '\n]}\n');
const ten = [...'abcdefghij'].map(P);

test('each root stands on its own line with its last name', () => {
  const want = `{"ok":true,"count":2,"roots":[\n  {"path":${jp(P('a'))},"name":"a"},\n  {"path":${jp(P('p/web'))},"name":"web"}\n]}\n`;
  expectOut(run({ query: 'action=roots', env: far(P('a'), P('p/web')) }), okOut(want));
});

test('an empty allowlist is an empty list, not an error', () =>
  expectOut(run({ query: 'action=roots' }), okOut('{"ok":true,"count":0,"roots":[\n]}\n')));

test('the roots action ignores a path', () =>
  expectOut(run({ query: 'action=roots&path=%2Fnope', env: far(P('a')) }), rootsOut([P('a')])));

// [behaviour, environment, expected roots in order, options]
const CASES = [
  ['USERPROFILE is a root', { USERPROFILE: progPath(P('a')) }, [P('a')]],
  ['USERPROFILE wins over HOME', { USERPROFILE: progPath(P('a')), HOME: P('b') }, [P('a')]],
  ['HOME stands in for the profile', { HOME: P('a') }, [P('a')], posixOnly],
  ['an empty USERPROFILE falls back to HOME', { USERPROFILE: '', HOME: P('b') }, [P('b')], posixOnly],
  ['the profile comes before configured roots', { USERPROFILE: progPath(P('c')), ...far(P('a'), P('b')) }, [P('c'), P('a'), P('b')]],
  ['missing directories are left out', { USERPROFILE: progPath(P('nope')), ...far(P('gone'), P('a')) }, [P('a')]],
  ['empty pieces are ignored', far('', P('a'), '', P('b'), ''), [P('a'), P('b')]],
  ['the same directory is stored once', far(P('a'), P('a/'), P('a/./'), P('b/../a')), [P('a')]],
  ['the profile and a configured root may coincide', { USERPROFILE: progPath(P('a')), ...far(P('a')) }, [P('a')]],
  ['nested roots are both kept', far(P('a'), P('a/sub')), [P('a'), P('a/sub')]],
  ['at most 8 roots are kept', far(...ten), ten.slice(0, 8)],
  ['the profile counts toward the 8', { USERPROFILE: progPath(P('j')), ...far(...ten) }, [P('j'), ...ten.slice(0, 7)]],
  ['a piece over 4095 bytes is skipped', far(P('a') + '/'.repeat(4100), P('b')), [P('b')]],
  ['roots are shown canonical', far(P('p/../a/')), [P('a')]],
  ['a linked root is shown as its target', far(P('lnk')), [P('p/web')], posixOnly],
  ['names differing in case are different roots', far(P('Case/data'), P('Case/Data')), [P('Case/data'), P('Case/Data')], posixOnly],
  ['"/" is a root named "/"', far('/'), ['/'], posixOnly],
  ['a relative root is left out, as a missing one is', { FILES_ALLOWED_ROOT: `b;${progPath(P('a'))}` }, [P('a')], { cwd: B }],
];
for (const [name, env, want, { cwd, ...opts } = {}] of CASES) {
  test(name, opts, () => expectOut(run({ query: 'action=roots', env, cwd }), rootsOut(want)));
}
