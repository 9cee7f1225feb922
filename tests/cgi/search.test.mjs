// Searches below a folder: find (names), grep (contents) and du (sizes). One made tree; each query is a row
// with the exact set of what it finds and its last line. Streams come as JSON lines, the nearest levels first.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import { test } from 'node:test';
import { api, build, DIR, errOut, JSON_HEAD, okJson, posixOnly, progPath, SEP, setMtime, tmpBase } from './lib.mjs';

const R = tmpBase();
const NDJSON_HEAD = 'Content-Type: application/x-ndjson; charset=utf-8\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n';
const T1 = 1709647629;
const T1_TEXT = '2024-03-05T14:07:09Z';

const TREE = {
  'alpha.txt': 'first line\nsecond Needle here\n',
  'Beta.LOG': 'needle\r\nNEEDLE twice needle\n',
  'Café.txt': 'no match\n',
  'bin.dat': 'needle\0binary',
  notes: DIR,
  'notes/ΣΟΦΙΑ.md': 'Σοφία\n',
  'notes/Привет.txt': 'привет needle\n',
  'notes/deep/er/needle.c': 'int needle;\n',
  'notes/empty': DIR,
  '.hidden/needle.txt': 'needle\n',
  '.dot-needle': 'needle\n',
};
const T = build(`${R}/tree`, TREE);
for (const n of Object.keys(TREE)) setMtime(`${T}/${n}`, T1);
for (const d of ['notes/deep/er', 'notes/deep', '.hidden']) setMtime(`${T}/${d}`, T1);

const ask = (params, opts = {}) => api(params, { roots: [R], ...opts });
const depth = (rel) => rel.split('/').length - 1;

/** The lines of a stream after its exact header block: progress lines (which a slow machine may send) checked
 * and left out, the last line apart. Matches must come nearest first. */
function stream(r) {
  assert.equal(r.signal, null, 'the program hung or died of a signal');
  assert.equal(r.status, 0);
  assert.equal(r.head, NDJSON_HEAD);
  const text = r.body.toString('utf8');
  assert.ok(text.endsWith('\n'), text);
  const lines = text.slice(0, -1).split('\n').map((l) => JSON.parse(l));
  const last = lines.pop();
  const found = lines.filter((l) => {
    if (!l.progress) return true;
    assert.deepEqual(Object.keys(l), ['progress', 'visited']);
    return false;
  });
  return { found, last };
}
const rel = (p) => p.slice(progPath(T).length + 1).replaceAll(SEP, '/');
const done = (visited, matched, skipped = 0, reason = null) =>
  ({ done: true, visited, matched, skipped, truncated: reason !== null, reason });

function expectFound(r, rels, last) {
  const { found, last: got } = stream(r);
  const names = found.map((l) => rel(l.path));
  assert.deepEqual([...names].sort(), [...rels].sort());
  assert.deepEqual(names.map(depth), names.map(depth).sort((a, b) => a - b), 'nearest levels first');
  assert.deepEqual(got, last);
  return found;
}

// The tree holds 11 entries that are not hidden (4 directories) and 14 with the hidden ones.
// [q, extra parameters, what matches]
const FINDS = [
  ['needle', {}, ['notes/deep/er/needle.c']],
  ['NEEDLE', {}, ['notes/deep/er/needle.c']],
  ['needle', { hidden: '1' }, ['notes/deep/er/needle.c', '.hidden/needle.txt', '.dot-needle']],
  ['*.txt', {}, ['alpha.txt', 'Café.txt', 'notes/Привет.txt']],
  ['*.TXT', {}, ['alpha.txt', 'Café.txt', 'notes/Привет.txt']],
  ['?eta.log', {}, ['Beta.LOG']],
  ['*a', {}, []],
  ['a*', {}, ['alpha.txt']],
  ['n*s', {}, ['notes']],
  ['caf?.TXT', {}, ['Café.txt']],
  ['CAFÉ', {}, ['Café.txt']],
  ['привет', {}, ['notes/Привет.txt']],
  ['σοφια', {}, ['notes/ΣΟΦΙΑ.md']],
  ['ς', {}, ['notes/ΣΟΦΙΑ.md']],
  ['e', {}, ['Beta.LOG', 'notes', 'notes/deep', 'notes/deep/er', 'notes/deep/er/needle.c', 'notes/empty']],
  ['zzz', {}, []],
];
for (const [q, params, rels] of FINDS) {
  test(`find q=${q}${params.hidden ? ' hidden=1' : ''}: ${rels.length} found`, () =>
    expectFound(ask({ action: 'find', path: T, q, ...params }), rels, done(params.hidden ? 14 : 11, rels.length)));
}

test('a found entry is a listing entry with its path', () => {
  const [file, dir] = ['alpha.txt', 'notes/deep'].map((p) => stream(ask({ action: 'find', path: T, q: p.split('/').pop() })).found[0]);
  assert.deepEqual(file, { path: progPath(`${T}/alpha.txt`), name: 'alpha.txt', type: 'file', link: false, size: 30, mtime: T1_TEXT, mode: '0644' });
  assert.deepEqual(dir, { path: progPath(`${T}/notes/deep`), name: 'deep', type: 'dir', link: false, size: 0, mtime: T1_TEXT, mode: '0755' });
});

const hit = (p, line, col, textCol, text) => ({ path: progPath(`${T}/${p}`), line, col, text_col: textCol, text });
// [q, extra parameters, the hits]
const GREPS = [
  ['needle', {}, [hit('alpha.txt', 2, 8, 1, 'second Needle here'), hit('Beta.LOG', 1, 1, 1, 'needle'),
    hit('Beta.LOG', 2, 1, 1, 'NEEDLE twice needle'), hit('notes/Привет.txt', 1, 14, 1, 'привет needle'),
    hit('notes/deep/er/needle.c', 1, 5, 1, 'int needle;')]],
  ['Needle', { case: '1' }, [hit('alpha.txt', 2, 8, 1, 'second Needle here')]],
  ['needle', { hidden: '1', case: '1' }, [hit('Beta.LOG', 1, 1, 1, 'needle'), hit('Beta.LOG', 2, 14, 1, 'NEEDLE twice needle'),
    hit('notes/Привет.txt', 1, 14, 1, 'привет needle'), hit('notes/deep/er/needle.c', 1, 5, 1, 'int needle;'),
    hit('.hidden/needle.txt', 1, 1, 1, 'needle'), hit('.dot-needle', 1, 1, 1, 'needle')]],
  ['ПРИВЕТ', {}, []],
  ['e h', {}, [hit('alpha.txt', 2, 13, 1, 'second Needle here')]],
];
for (const [q, params, hits] of GREPS) {
  test(`grep q=${JSON.stringify(q)}${params.case ? ' case=1' : ''}${params.hidden ? ' hidden=1' : ''}: ${hits.length} lines`, () => {
    const found = expectFound(ask({ action: 'grep', path: T, q, ...params }), hits.map((h) => rel(h.path)),
      done(params.hidden ? 14 : 11, hits.length));
    const byPlace = (a, b) => a.path.localeCompare(b.path) || a.line - b.line;
    assert.deepEqual([...found].sort(byPlace), [...hits].sort(byPlace));
  });
}

test('grep accepts one file as its path', () => {
  const { found, last } = stream(ask({ action: 'grep', path: `${T}/Beta.LOG`, q: 'NEEDLE', case: '1' }));
  assert.deepEqual(found, [hit('Beta.LOG', 2, 1, 1, 'NEEDLE twice needle')]);
  assert.deepEqual(last, done(1, 1));
});

const L = build(`${R}/lines`, {
  'long.txt': `${'x'.repeat(1000)}needle${'y'.repeat(1000)}\n`,
  'euro.txt': `${'€'.repeat(50)}needle\n`,
  'many.txt': 'needle\n'.repeat(150),
  'far.txt': `${'a line of thirty bytes here..\n'.repeat(50000)}the needle\n${'a line of thirty bytes here..\n'.repeat(20000)}needle at the end`,
  'across.txt': `${'z'.repeat((1 << 20) - 3)}needle${'z'.repeat(1 << 19)}`,
});
// [file, the hits: [line, col, text_col, text]]
const LINES = [
  ['long.txt', [[1, 1001, 901, `${'x'.repeat(100)}needle${'y'.repeat(194)}`]]],
  ['euro.txt', [[1, 151, 52, `${'€'.repeat(33)}needle`]]],
  ['many.txt', Array.from({ length: 100 }, (_, i) => [i + 1, 1, 1, 'needle'])],
  ['far.txt', [[50001, 5, 1, 'the needle'], [70002, 1, 1, 'needle at the end']]],
  ['across.txt', [[1, (1 << 20) - 2, (1 << 20) - 102, `${'z'.repeat(100)}needle${'z'.repeat(194)}`]]],
];
for (const [file, hits] of LINES) {
  test(`grep in ${file}: at most 300 bytes around the match, whole characters, lines counted across reads`, () => {
    const { found, last } = stream(ask({ action: 'grep', path: `${L}/${file}`, q: 'needle' }));
    assert.deepEqual(found.map((h) => [h.line, h.col, h.text_col, h.text]), hits);
    assert.deepEqual(last, done(1, hits.length));
  });
}

// [variable, value, action, q, the last line]; a walk cut short has visited what its order reached (undefined)
const LIMITS = [
  ['FILES_FIND_MAX_RESULTS', '1', 'find', '*.txt', done(undefined, 1, 0, 'limit')],
  ['FILES_FIND_MAX_RESULTS', '3', 'find', '*.txt', done(11, 3)],
  ['FILES_FIND_MAX_RESULTS', '2', 'grep', 'needle', done(undefined, 2, 0, 'limit')],
  ['FILES_SEARCH_SECONDS', '0', 'find', 'needle', done(0, 0, 0, 'time')],
  ['FILES_SEARCH_SECONDS', '0', 'grep', 'needle', done(0, 0, 0, 'time')],
  ['FILES_GREP_MAX_FILE', '12', 'grep', 'needle', done(11, 1, 4)],
  ['FILES_GREP_MAX_BYTES', '0', 'grep', 'needle', done(undefined, 0, 0, 'limit')],
  ['FILES_FIND_MAX_RESULTS', 'x', 'find', '*.txt', done(11, 3)],
];
for (const [name, value, action, q, last] of LIMITS) {
  test(`${action} with ${name}=${value}: ${last.reason ? `cut by the ${last.reason}` : 'whole'}`, () => {
    const { found, last: got } = stream(ask({ action, path: T, q }, { env: { [name]: value } }));
    assert.equal(found.length, last.matched);
    assert.deepEqual(got, { ...last, visited: last.visited ?? got.visited });
  });
}

const duOf = (path, size, files, dirs, complete = true) =>
  ({ ok: true, path: progPath(path), size, files, dirs, skipped: 0, complete });
const bytesOf = (hidden) => Object.entries(TREE).filter(([n, v]) => v !== DIR && (hidden || !n.match(/(^|\/)\./)))
  .reduce((sum, [, v]) => sum + Buffer.byteLength(v), 0);
test('du: the bytes of the files below and the counts of files and directories', () =>
  assert.deepEqual(okJson(ask({ action: 'du', path: T })), duOf(T, bytesOf(false), 7, 4)));
test('du hidden=1 counts names that begin with "." too', () =>
  assert.deepEqual(okJson(ask({ action: 'du', path: T, hidden: '1' })), duOf(T, bytesOf(true), 9, 5)));
test('du that runs out of time says it is not complete', () =>
  assert.deepEqual(okJson(ask({ action: 'du', path: T }, { env: { FILES_SEARCH_SECONDS: '0' } })), duOf(T, 0, 0, 0, false)));

test('links: followed to directories and files under a root, never by du; loops, the outside and other kinds left out', posixOnly, () => {
  const O = build(`${R}/../outside-${process.pid}`, { needle: 'needle' });
  const K = build(`${R}/links`, {
    'd/needle.txt': 'needle\n', 'd/up': { link: '..' }, 'needle-file': { link: 'd/needle.txt' },
    'needle-dir': { link: 'd' }, 'needle-out': { link: O }, 'needle-outf': { link: `${O}/needle` },
    'needle-dangling': { link: 'nowhere' }, 'needle-loop': { link: 'needle-loop' }, 'needle-fifo': { fifo: true },
    hard: 'needle\n',
  });
  fs.linkSync(`${K}/hard`, `${K}/hard-too`);
  try {
    const names = stream(ask({ action: 'find', path: K, q: 'needle' })).found.map((l) => [l.path.slice(K.length + 1), l.type, l.link]);
    assert.deepEqual(names.sort(), [['d/needle.txt', 'file', false], ['needle-dir', 'dir', true], ['needle-dir/needle.txt', 'file', false],
      ['needle-file', 'file', true]]);
    const lines = stream(ask({ action: 'grep', path: K, q: 'needle' })).found.map((l) => l.path.slice(K.length + 1));
    assert.deepEqual(lines.sort(), ['d/needle.txt', 'hard', 'hard-too', 'needle-dir/needle.txt', 'needle-file']);
    assert.deepEqual(okJson(ask({ action: 'du', path: K })), duOf(K, 14, 2, 1));
  } finally {
    fs.rmSync(O, { recursive: true });
  }
});

test('a tree deeper than 256 levels and a path longer than 4095 bytes are passed over and counted', posixOnly, () => {
  const D = `${R}/deep`;
  fs.mkdirSync(`${D}/${Array(258).fill('d').join('/')}`, { recursive: true });
  const long = 'n'.repeat(250);
  const top = `${R}/long`;
  const near = `${top}/${Array(Math.floor((4095 - top.length) / 251)).fill(long).join('/')}`;
  fs.mkdirSync(near, { recursive: true });
  execFileSync('sh', ['-c', `cd "$1" && mkdir ${long} && touch ${long}/x`, 'sh', near]);
  try {
    assert.deepEqual(stream(ask({ action: 'find', path: D, q: 'x' })).last, done(257, 0, 1));
    assert.deepEqual(okJson(ask({ action: 'du', path: D })), { ...duOf(D, 0, 0, 257, false), skipped: 1 });
    const levels = near.slice(top.length).split('/').length - 1;
    assert.deepEqual(stream(ask({ action: 'find', path: top, q: 'x' })).last, done(levels, 0, 1));
  } finally {
    execFileSync('rm', ['-rf', D, top]);
  }
});

// [action, parameters, status, message]
const REFUSALS = [
  ['find', { path: T }, 400, 'missing query'],
  ['find', { path: T, q: '' }, 400, 'missing query'],
  ['grep', { path: T }, 400, 'missing query'],
  ['find', { path: T, q: 'x'.repeat(1001) }, 400, 'query too long'],
  ['grep', { path: T, q: 'x'.repeat(1001) }, 400, 'query too long'],
  ['find', { path: `${T}/alpha.txt`, q: 'a' }, 400, 'not a directory'],
  ['du', { path: `${T}/alpha.txt` }, 400, 'not a directory'],
  ['find', { path: `${T}/nothing`, q: 'a' }, 404, 'path not found'],
  ['grep', { path: `${T}/nothing`, q: 'a' }, 404, 'path not found'],
  ['du', { path: `${T}/nothing` }, 404, 'path not found'],
  ['du', {}, 400, 'bad path'],
  ['find', { path: `${R}/..`, q: 'a' }, 403, 'path not allowed'],
  ['grep', { path: `${R}/..`, q: 'a' }, 403, 'path not allowed'],
  ['du', { path: `${R}/..` }, 403, 'path not allowed'],
];
for (const [action, params, status, message] of REFUSALS) {
  test(`${action} ${JSON.stringify(params).replaceAll(R, 'R').slice(0, 60)}: ${status} ${message}`, () =>
    assert.equal(ask({ action, ...params }).out.toString(), errOut(status, message)));
}

test('grep of a FIFO is refused, never opened', posixOnly, () => {
  const F = build(`${R}/fifo`, { pipe: { fifo: true } });
  assert.equal(ask({ action: 'grep', path: `${F}/pipe`, q: 'a' }).out.toString(), errOut(400, 'not a regular file'));
});

test('HEAD gets the header block of each answer and no walk', () => {
  for (const [action, head] of [['find', NDJSON_HEAD], ['grep', NDJSON_HEAD], ['du', JSON_HEAD]]) {
    const r = ask({ action, path: T, q: 'needle' }, { env: { REQUEST_METHOD: 'HEAD' } });
    assert.equal(r.out.toString(), head);
  }
});
