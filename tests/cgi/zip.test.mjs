// Folder archives: headers, what the archive holds and how each entry is named, stored and timed, links,
// limits and refusals. Every archive passes all four readers (archive.mjs) and is compared with the tree.
import assert from 'node:assert/strict';
import { randomBytes } from 'node:crypto';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import { test } from 'node:test';
import { extractEverywhere, readArchive, SCRATCH, sha } from './archive.mjs';
import { api, build, DIR, errOut, expectOut, posixOnly, qs, setMtime, tmpBase, WIN } from './lib.mjs';

const R = tmpBase();
const zip = (dir, params = {}, opts = {}) => api({ action: 'zip', path: dir, ...params }, { roots: [R], ...opts });
const zipHead = (name) => 'Content-Type: application/zip\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n' +
  `Referrer-Policy: no-referrer\r\nContent-Disposition: attachment; filename="${name}"\r\n\r\n`;

/** The entries of a successful answer, after the exact header block and every reader's check. */
function entriesOf(r, fileName) {
  assert.equal(r.signal, null, 'the program hung or died of a signal');
  assert.equal(r.status, 0);
  assert.equal(r.head, zipHead(fileName));
  return readArchive(r.body);
}

/** Names (a trailing "/" for a directory) with their contents' digests, in name order. */
const summary = (entries) => entries.map((e) => [e.name.toString('latin1'), e.dir ? 'dir' : e.sha]).sort();
function expectTree(entries, tree) {
  const want = Object.entries(tree).map(([n, v]) => [Buffer.from(n + (v === DIR ? '/' : '')).toString('latin1'), v === DIR ? 'dir' : sha(v)]);
  assert.deepEqual(summary(entries), want.sort());
}

const PLAIN = {
  'notes.txt': 'one line\n'.repeat(500), 'src/main.c': 'int main(void) { return 0; }\n', 'src/lib/util.h': '',
  'src/lib/deep/er/still.txt': 'deep', 'empty': DIR, 'src/empty': DIR, 'random.bin': randomBytes(200000),
  'naïve café.txt': 'accents',
};
const P = build(`${R}/plain`, PLAIN);

test('a folder comes whole: every directory and file, named from the folder down, contents unchanged', () =>
  expectTree(entriesOf(zip(P), 'plain.zip'), { ...PLAIN, src: DIR, 'src/lib': DIR, 'src/lib/deep': DIR, 'src/lib/deep/er': DIR }));

test('text is deflated, random bytes are stored, names carry the UTF-8 flag', () => {
  const by = Object.fromEntries(entriesOf(zip(P), 'plain.zip').map((e) => [e.name.toString(), e]));
  assert.deepEqual([by['notes.txt'].method, by['random.bin'].method, by['src/lib/util.h'].method], [8, 0, 0]);
  assert.ok(Object.values(by).every((e) => e.utf8));
});

const HIDDEN = { 'a/.dot/x': 'x', 'a/b/.rc': 'rc', '.top': 't', 'a/b/seen': 's' };
const H = build(`${R}/hidden`, HIDDEN);
for (const [value, shown] of [['1', true], ['true', true], ['TRUE', false], [undefined, false]]) {
  test(`hidden=${value}: names beginning with "." at any depth are ${shown ? 'in' : 'left out'}`, () => {
    const tree = shown ? { ...HIDDEN, a: DIR, 'a/.dot': DIR, 'a/b': DIR } : { 'a/b/seen': 's', a: DIR, 'a/b': DIR };
    expectTree(entriesOf(zip(H, value === undefined ? {} : { hidden: value }), 'hidden.zip'), tree);
  });
}

test('hostile names are stored as their bytes but for "\\"; one that is not UTF-8 goes without the flag', posixOnly, () => {
  const names = ['q"uote', 'back\\slash', 'line\nfeed', 'n'.repeat(255), 'é'.repeat(127)];
  const N = build(`${R}/names`, Object.fromEntries(names.map((n) => [n, n])));
  fs.writeFileSync(Buffer.from(`${N}/\xff\xfe latin`, 'latin1'), 'bytes');
  const entries = entriesOf(zip(N), 'names.zip');
  assert.deepEqual(summary(entries), [...names.map((n) => [Buffer.from(n.replaceAll('\\', '_')).toString('latin1'), sha(n)]),
    ['\xff\xfe latin', sha('bytes')]].sort());
  assert.deepEqual(entries.filter((e) => !e.utf8).map((e) => e.name.toString('latin1')), ['\xff\xfe latin']);
});

// Names an extractor could read as a way out of its folder: [name in the folder, name in the archive]
const ESCAPES = [
  ['..\\..\\..\\x.txt', '.._.._.._x.txt'], ['C:/y', 'C_/y'], ['d:z', 'd_z'], ['\\\\server\\share', '__server_share'],
  ['sub/..\\w', 'sub/.._w'], ['sub/\\', 'sub/_'], ['sub/e:f', 'sub/e:f'], ['1:x', '1:x'],
];
test('no name in an archive leads out of the folder it is extracted to, whatever extracts it', posixOnly, () => {
  const E = build(`${R}/escapes`, Object.fromEntries(ESCAPES.map(([n]) => [n, n])));
  const want = { 'C_': DIR, sub: DIR, ...Object.fromEntries(ESCAPES.map(([n, stored]) => [stored, n])) };
  const r = zip(E, { hidden: '1' });
  expectTree(entriesOf(r, 'escapes.zip'), want);
  const files = Object.keys(want).map((n) => want[n] === DIR ? `${n}/` : n);
  for (const [tool, found] of Object.entries(extractEverywhere(r.body))) {
    assert.deepEqual(found, [...SCRATCH, ...files.map((n) => SCRATCH.at(-1) + n)].sort(), tool);
  }
});

test('the archive is named after the folder, made safe as raw makes its names', posixOnly, () => {
  const D = build(`${R}/a"b\\c`, { f: 'f' });
  expectTree(entriesOf(zip(D), 'a_b_c.zip'), { f: 'f' });
});

// [time, DOS date and time as zipfile reads them, extended timestamp]
const TIMES = [
  [1709647629, [2024, 3, 5, 14, 7, 8], 1709647629],
  [315532799, [1980, 1, 1, 0, 0, 0], 315532799],
  [4102444800, [2100, 1, 1, 0, 0, 0], null],
  ...(WIN ? [] : [[-86400, [1980, 1, 1, 0, 0, 0], null]]),
];
test('modification times go both as DOS time (UTC, two-second steps) and as the extended timestamp', () => {
  const T = build(`${R}/times`, Object.fromEntries(TIMES.map(([t]) => [`t${t}`, 'x'])));
  for (const [t] of TIMES) setMtime(`${T}/t${t}`, t);
  const got = entriesOf(zip(T), 'times.zip').map((e) => [Number(e.name.toString().slice(1)), e.dos, e.unix]);
  assert.deepEqual(got.sort((a, b) => a[0] - b[0]), TIMES.slice().sort((a, b) => a[0] - b[0]));
});

test('links: followed to files and directories under a root; outside, dangling, looping or back up: left out', posixOnly, () => {
  const O = build(`${R}/../outside-${process.pid}`, { secret: 'secret' });
  const K = build(`${R}/links`, {
    'd/f': 'f', 'd/up': { link: '..' }, 'd/self': { link: '.' }, lf: { link: 'd/f' }, ld: { link: 'd' },
    other: { link: '../plain/src/lib' }, out: { link: O }, outf: { link: `${O}/secret` }, dangling: { link: 'nowhere' },
    loop: { link: 'loop' }, fifo: { fifo: true }, lfifo: { link: 'fifo' },
  });
  try {
    expectTree(entriesOf(zip(K), 'links.zip'), {
      d: DIR, 'd/f': 'f', lf: 'f', ld: DIR, 'ld/f': 'f', other: DIR, 'other/util.h': '', 'other/deep': DIR,
      'other/deep/er': DIR, 'other/deep/er/still.txt': 'deep',
    });
  } finally {
    fs.rmSync(O, { recursive: true });
  }
});

// Windows reaches no path past 259 bytes unless long paths are enabled, so its tree is shallower.
const DEPTH = WIN ? 40 : 200;
test(`a tree ${DEPTH} directories deep comes whole`, () => {
  const parts = Array.from({ length: DEPTH }, (_, i) => `d${i % 10}`);
  const tree = {};
  for (let i = 1; i <= parts.length; i++) tree[parts.slice(0, i).join('/')] = DIR;
  tree[`${parts.join('/')}/leaf.txt`] = 'leaf';
  expectTree(entriesOf(zip(build(`${R}/deep`, tree)), 'deep.zip'), tree);
});

test('an empty folder is an archive without entries', () =>
  assert.deepEqual(entriesOf(zip(build(`${R}/void`, { '.only': 'h' })), 'void.zip'), []));

// [variable, value, folder] with 3 entries of 6 bytes: at the limit and one past it
const L = build(`${R}/limits`, { d: DIR, 'd/a': 'abc', b: 'def' });
for (const [name, at] of [['FILES_ZIP_MAX_ENTRIES', 3], ['FILES_ZIP_MAX_BYTES', 6]]) {
  test(`${name}=${at} admits this folder, ${at - 1} refuses it before any byte`, () => {
    expectTree(entriesOf(zip(L, {}, { env: { [name]: String(at) } }), 'limits.zip'), { d: DIR, 'd/a': 'abc', b: 'def' });
    assert.equal(zip(L, {}, { env: { [name]: String(at - 1) } }).out.toString(), errOut(413, 'folder too large to archive'));
  });
}

test('a limit that is not a plain number leaves the default in force', () =>
  expectTree(entriesOf(zip(L, {}, { env: { FILES_ZIP_MAX_ENTRIES: '-1', FILES_ZIP_MAX_BYTES: '5x' } }), 'limits.zip'),
    { d: DIR, 'd/a': 'abc', b: 'def' }));

// [path, status, message]
const REFUSALS = [
  [`${R}/plain/notes.txt`, 400, 'not a directory'],
  [`${R}/nothing`, 404, 'path not found'],
  ['', 400, 'bad path'],
];
for (const [p, status, message] of REFUSALS) {
  test(`zip of ${p ? p.slice(R.length) : 'no path'}: ${status} ${message}`, () =>
    assert.equal(zip(p).out.toString(), errOut(status, message)));
}
test('a folder outside the roots is refused', () =>
  assert.equal(zip(P, {}, { roots: [`${R}/hidden`] }).out.toString(), errOut(403, 'path not allowed')));

test('a file growing while it is archived: its entry holds a prefix of it, with a matching CRC', posixOnly, async () => {
  const G = build(`${R}/growing`, { 'log.txt': 'x'.repeat(4 << 20) });
  const writer = spawn('sh', ['-c', 'while :; do echo "another line" >>"$1"; done', 'sh', `${G}/log.txt`]);
  let entries;
  try {
    entries = entriesOf(zip(G), 'growing.zip');
  } finally {
    writer.kill('SIGKILL');
    await new Promise((done) => writer.on('exit', done));
  }
  const now = fs.readFileSync(`${G}/log.txt`);
  assert.equal(entries.length, 1);
  assert.ok(entries[0].size >= 4 << 20);
  assert.equal(entries[0].sha, sha(now.subarray(0, entries[0].size)));
});

// Selections: name= picks entries of the folder, each with its subtree, by the folder archive's rules.
const pick = (dir, names, params = {}, opts = {}) => api(qs({ action: 'zip', path: dir, ...params }) +
  names.map((n) => `&name=${encodeURIComponent(n)}`).join(''), { roots: [R], ...opts });
const SRC = { src: DIR, 'src/main.c': PLAIN['src/main.c'], 'src/lib': DIR, 'src/lib/util.h': '', 'src/lib/deep': DIR,
  'src/lib/deep/er': DIR, 'src/lib/deep/er/still.txt': 'deep', 'src/empty': DIR };
// [behaviour, names, what the archive holds]
const PICKS = [
  ['one file', ['notes.txt'], { 'notes.txt': PLAIN['notes.txt'] }],
  ['a folder comes with its subtree', ['src'], SRC],
  ['several entries, a name given twice archived once', ['random.bin', 'src', 'naïve café.txt', 'random.bin'],
    { ...SRC, 'random.bin': PLAIN['random.bin'], 'naïve café.txt': 'accents' }],
  ['an empty folder', ['empty'], { empty: DIR }],
];
for (const [what, names, tree] of PICKS) {
  test(`a selection of ${what}, the archive named after the folder`, () => expectTree(entriesOf(pick(P, names), 'plain.zip'), tree));
}

test('a selection of every entry is the folder archive, byte for byte', () =>
  assert.ok(pick(P, Object.keys(PLAIN).map((n) => n.split('/')[0])).out.equals(zip(P).out)));

test('a hidden name is picked with hidden=1, its subtree\'s hidden names too', () =>
  expectTree(entriesOf(pick(H, ['a', '.top'], { hidden: '1' }), 'hidden.zip'),
    { a: DIR, 'a/.dot': DIR, 'a/.dot/x': 'x', 'a/b': DIR, 'a/b/.rc': 'rc', 'a/b/seen': 's', '.top': 't' }));

const PICK_LINKS = build(`${R}/picklinks`, {
  f: 'f', lf: { link: 'f' }, out: { link: '/' }, dangling: { link: 'nowhere' }, loop: { link: 'loop' }, sub: DIR,
  ...(WIN ? {} : { fifo: { fifo: true } }),
});
test('a link the folder archive follows can be picked', posixOnly, () =>
  expectTree(entriesOf(pick(PICK_LINKS, ['lf']), 'picklinks.zip'), { lf: 'f' }));
// [behaviour, folder, names, more parameters]: every one is 400 "bad name", before any byte of an archive
const BAD_NAMES = [
  ['a name the folder does not hold', P, ['nothing']],
  ['one missing among good ones', P, ['notes.txt', 'nothing', 'src']],
  ['an empty name', P, ['']],
  ['a path below the folder', P, ['src/main.c']],
  ['a name with a slash at its end', P, ['src/']],
  ['"."', P, ['.']],
  ['".."', P, ['..']],
  ['"..", hidden names allowed', P, ['..'], { hidden: '1' }],
  ['an encoded climb', P, ['../plain/notes.txt']],
  ['a name longer than any entry', P, ['n'.repeat(300)]],
  ['a name that %00 would cut to one that exists', P, ['notes.txt\0.gone']],
  ['a hidden name without hidden=1', H, ['.top']],
  ['a name differing in case', P, ['NOTES.TXT']],
  ['a link out of the roots', PICK_LINKS, ['out']],
  ['a dangling link', PICK_LINKS, ['dangling']],
  ['a link to itself', PICK_LINKS, ['loop']],
  ...(WIN ? [['a name with a backslash', P, ['src\\main.c']]] : [['a FIFO', PICK_LINKS, ['fifo']]]),
];
for (const [what, dir, names, params = {}] of BAD_NAMES) {
  test(`zip selection of ${what}: 400 bad name`, () => expectOut(pick(dir, names, params), errOut(400, 'bad name')));
}

test('a selection is measured by what it picks: the limits of the folder archive, the same refusal', () => {
  expectTree(entriesOf(pick(L, ['d'], {}, { env: { FILES_ZIP_MAX_ENTRIES: '2' } }), 'limits.zip'), { d: DIR, 'd/a': 'abc' });
  expectOut(pick(L, ['d'], {}, { env: { FILES_ZIP_MAX_ENTRIES: '1' } }), errOut(413, 'folder too large to archive'));
});

// The Windows environment holds no query this long.
test('at most 10000 names: one more is 400', posixOnly, () => {
  expectTree(entriesOf(pick(L, Array(10000).fill('b')), 'limits.zip'), { b: 'def' });
  expectOut(pick(L, Array(10001).fill('b')), errOut(400, 'more than 10000 names'));
});

test('a selection answers HEAD with the archive\'s header block alone', () =>
  expectOut(pick(P, ['src'], {}, { env: { REQUEST_METHOD: 'HEAD' } }), zipHead('plain.zip')));

test('a selection on a guarded node needs the password', () => {
  const env = { KIV_PASSWORD: 'pw' };
  assert.match(pick(P, ['notes.txt'], {}, { env }).out.toString(), /^Status: 401 Unauthorized\r\n/);
  expectTree(entriesOf(pick(P, ['notes.txt'], {}, { env: { ...env, HTTP_X_KIV_PASSWORD: 'pw' } }), 'plain.zip'),
    { 'notes.txt': PLAIN['notes.txt'] });
});

test('picked hostile names lead no extractor out of its folder', posixOnly, () => {
  const E = build(`${R}/picked-escapes`, Object.fromEntries(ESCAPES.map(([n]) => [n, n])));
  const want = { 'C_': DIR, 'C_/y': 'C:/y', '.._.._.._x.txt': '..\\..\\..\\x.txt', '__server_share': '\\\\server\\share' };
  const r = pick(E, ['..\\..\\..\\x.txt', 'C:', '\\\\server\\share'], { hidden: '1' });
  expectTree(entriesOf(r, 'picked-escapes.zip'), want);
  const files = Object.keys(want).map((n) => want[n] === DIR ? `${n}/` : n);
  for (const [tool, found] of Object.entries(extractEverywhere(r.body))) {
    assert.deepEqual(found, [...SCRATCH, ...files.map((n) => SCRATCH.at(-1) + n)].sort(), tool);
  }
});
