// Directory listings: exact bodies, order, hidden names, links, times, parts of 5000 entries, FILES_LS_MAX and roots.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { test } from 'node:test';
import { api, build, DIR, errOut, expectOut, jp, okJson, okOut, posixOnly, progPath, setMtime, tmpBase } from './lib.mjs';

const B = tmpBase();
const T1 = 1709647629;
const T1_TEXT = '2024-03-05T14:07:09Z';
const L = build(`${B}/list`, { sub: DIR, apple: 'apple', Banana: 'banana', cherry: '', '.hidden': 'h' });
for (const n of ['sub', 'apple', 'Banana', 'cherry', '.hidden']) setMtime(`${L}/${n}`, T1);
const ls = (params, roots = [L]) => api({ action: 'ls', ...params }, { roots });
const line = (name, type, link, size, mtime, mode) =>
  `{"name":"${name}","type":"${type}","link":${link},"size":${size},"mtime":"${mtime}","mode":"${mode}"}`;

test('a listing without a path shows the first root: directories first, names ignoring case', () => {
  expectOut(ls({}), okOut(`{"ok":true,"path":${jp(L)},"parent":null,"root":${jp(L)},"hidden":0,"count":4,"truncated":false,"entries":[
  ${line('sub', 'dir', false, 0, T1_TEXT, '0755')},
  ${line('apple', 'file', false, 5, T1_TEXT, '0644')},
  ${line('Banana', 'file', false, 6, T1_TEXT, '0644')},
  ${line('cherry', 'file', false, 0, T1_TEXT, '0644')}
]}\n`));
});

test('an empty directory has an empty entry list and its parent', () => {
  const body = `{"ok":true,"path":${jp(`${L}/sub`)},"parent":${jp(L)},"root":${jp(L)},"hidden":0,"count":0,"truncated":false,"entries":[\n]}\n`;
  expectOut(ls({ path: `${L}/sub` }), okOut(body));
});

for (const [value, digit] of [['1', 1], ['true', 1], ['TRUE', 0], ['yes', 0], ['0', 0], ['', 0], ['1x', 0]]) {
  test(`hidden=${value} ${digit ? 'shows' : 'leaves out'} names beginning with "."`, () => {
    const got = okJson(ls({ hidden: value }));
    assert.equal(got.hidden, digit);
    assert.deepEqual(got.entries.map((e) => e.name), digit ? ['sub', '.hidden', 'apple', 'Banana', 'cherry'] : ['sub', 'apple', 'Banana', 'cherry']);
  });
}

test('a path that names a file cannot be listed', () =>
  expectOut(ls({ path: `${L}/apple` }), errOut(403, 'cannot list directory')));

test('order: directories first, then bytes compared with A-Z folded to lower case', () => {
  const S = build(`${B}/sort`, { b: DIR, Z: DIR, apple: '', Banana: '', cherry: '', _x: '', 10: '', 9: '', 'é': '', '~': '' });
  assert.deepEqual(okJson(ls({}, [S])).entries.map((e) => e.name), ['b', 'Z', '10', '9', '_x', 'apple', 'Banana', 'cherry', '~', 'é']);
});

test('names equal but for case are ordered by their bytes', posixOnly, () => {
  const S = build(`${B}/case`, { readme: '', Readme: '', README: '' });
  assert.deepEqual(okJson(ls({}, [S])).entries.map((e) => e.name), ['README', 'Readme', 'readme']);
});

test('links: followed for kind, size and time; a dangling one is listed without attributes', posixOnly, () => {
  const K = build(`${B}/links`, {
    d: DIR, f: 'abc', lf: { link: 'f' }, ld: { link: 'd' }, dangling: { link: 'nowhere' }, out: { link: '../list/sub' },
  });
  for (const n of ['d', 'f', '../list/sub']) setMtime(`${K}/${n}`, T1);
  expectOut(ls({}, [K]), okOut(`{"ok":true,"path":${jp(K)},"parent":null,"root":${jp(K)},"hidden":0,"count":6,"truncated":false,"entries":[
  ${line('d', 'dir', false, 0, T1_TEXT, '0755')},
  ${line('ld', 'dir', true, 0, T1_TEXT, '0755')},
  ${line('out', 'dir', true, 0, T1_TEXT, '0755')},
  ${line('dangling', 'file', true, 0, '', '0000')},
  ${line('f', 'file', false, 3, T1_TEXT, '0644')},
  ${line('lf', 'file', true, 3, T1_TEXT, '0644')}
]}\n`));
});

// Times are whole UTC seconds; nothing at or before the epoch, nothing after 9999, is printed.
const TIMES = [
  [-1, ''], [0, ''], [0.5, ''], [1, '1970-01-01T00:00:01Z'], [951782400, '2000-02-29T00:00:00Z'],
  [2147483648, '2038-01-19T03:14:08Z'], [4107542399, '2100-02-28T23:59:59Z'], [4107542400, '2100-03-01T00:00:00Z'],
  [13574606400, '2400-02-29T12:00:00Z'], [253402300799, '9999-12-31T23:59:59Z'], [253402300800, ''],
];
test('modification times', async (t) => {
  const M = build(`${B}/times`, Object.fromEntries(TIMES.map(([s]) => [`t${s}`, ''])));
  for (const [s] of TIMES) setMtime(`${M}/t${s}`, s);
  const got = Object.fromEntries(okJson(ls({}, [M])).entries.map((e) => [e.name, e.mtime]));
  for (const [s, text] of TIMES) {
    const stored = fs.statSync(`${M}/t${s}`).mtimeMs === s * 1000;
    await t.test(`${s} s is "${text}"`, { skip: !stored && 'the file system cannot hold this time' }, () =>
      assert.equal(got[`t${s}`], text));
  }
});

for (const [n, hidden, count, truncated] of [[5000, '', 5000, false], [5001, '', 5000, true], [5000, '1', 5000, true]]) {
  test(`${n} visible names and one hidden, hidden=${hidden}: count ${count}, truncated ${truncated}`, () => {
    const dir = `${B}/many${n}${hidden}`;
    fs.mkdirSync(dir);
    for (let i = 0; i < n; i++) fs.writeFileSync(`${dir}/f${i}`, '');
    fs.writeFileSync(`${dir}/.h`, '');
    const got = okJson(ls({ hidden }, [dir]));
    assert.deepEqual([got.count, got.truncated, got.entries.length], [count, truncated, count]);
  });
}

// A folder of 12,000 names made in shuffled order, listed in parts: each part is the next 5000 of the
// whole folder's order, and FILES_LS_MAX bounds how far the parts go.
const MANY = 12000;
const names = Array.from({ length: MANY }, (_, i) => `${i % 3 ? 'n' : 'N'}${String((i * 7919) % MANY).padStart(5, '0')}`);
const M = `${B}/parts`;
fs.mkdirSync(M);
for (const n of names) fs.writeFileSync(`${M}/${n}`, '');
const order = names.slice().sort((a, b) => (a.toLowerCase() < b.toLowerCase() ? -1 : 1));
// [from, FILES_LS_MAX, first entry's place, count, truncated, max]
const PARTS = [
  [undefined, undefined, 0, 5000, true, 200000], ['0', undefined, 0, 5000, true, 200000], ['5000', undefined, 5000, 5000, true, 200000],
  ['10000', undefined, 10000, 2000, false, 200000], ['11999', undefined, 11999, 1, false, 200000],
  ['12000', undefined, 12000, 0, false, 200000], ['9223372036854775807', undefined, 12000, 0, false, 200000],
  [undefined, '7', 0, 7, true, 7], ['5', '7', 5, 2, true, 7], ['7', '7', 7, 0, true, 7],
  ['4000', '6000', 4000, 2000, true, 6000], [undefined, '0', 0, 5000, true, 200000], [undefined, 'x', 0, 5000, true, 200000],
];
for (const [from, max, first, count, truncated, maxShown] of PARTS) {
  test(`${MANY} entries, from=${from}, FILES_LS_MAX=${max}: ${count} from place ${first} of the whole order`, () => {
    const got = okJson(api({ action: 'ls', path: M, ...(from === undefined ? {} : { from }) },
      { roots: [M], env: max === undefined ? {} : { FILES_LS_MAX: max } }));
    assert.deepEqual([got.count, got.truncated, got.total, got.from, got.max], [count, truncated, MANY, Number(from ?? 0), maxShown]);
    assert.deepEqual(got.entries.map((e) => e.name), order.slice(first, first + count));
  });
}

for (const from of ['', 'x', '-1', '1.5', '+1', ' 1', '99999999999999999999']) {
  test(`from=${JSON.stringify(from)} is refused`, () => expectOut(ls({ from }), errOut(400, 'bad offset')));
}

test('a part says where it starts, how many the folder holds and how far a listing goes', () => {
  expectOut(ls({ from: '1' }), okOut(`{"ok":true,"path":${jp(L)},"parent":null,"root":${jp(L)},"hidden":0,"count":3,"truncated":false,"total":4,"from":1,"max":200000,"entries":[
  ${line('apple', 'file', false, 5, T1_TEXT, '0644')},
  ${line('Banana', 'file', false, 6, T1_TEXT, '0644')},
  ${line('cherry', 'file', false, 0, T1_TEXT, '0644')}
]}\n`));
  expectOut(api({ action: 'ls' }, { roots: [L], env: { FILES_LS_MAX: '2' } }), okOut(`{"ok":true,"path":${jp(L)},"parent":null,"root":${jp(L)},"hidden":0,"count":2,"truncated":true,"total":4,"from":0,"max":2,"entries":[
  ${line('sub', 'dir', false, 0, T1_TEXT, '0755')},
  ${line('apple', 'file', false, 5, T1_TEXT, '0644')}
]}\n`));
});

test('nested roots: the first containing root in table order is the root', () => {
  const A = build(`${B}/ann`, { 'work/src': DIR });
  const W = `${A}/work`;
  const cases = [
    [W, [A, W], A, A], [`${W}/src`, [A, W], A, W], [W, [W, A], W, null], [A, [W, A], A, null],
  ];
  for (const [dir, roots, root, parent] of cases) {
    const got = okJson(ls({ path: dir }, roots));
    assert.deepEqual([got.root, got.parent], [progPath(root), parent && progPath(parent)], dir);
  }
});

test('hostile names are escaped in the listing', posixOnly, () => {
  const NAMES = [
    ['tab\there', 'tab\\there'], ['quote"q', 'quote\\"q'], ['back\\slash', 'back\\\\slash'], ['cr\rx', 'cr\\rx'],
    ['lf\nx', 'lf\\nx'], ['ctl\x01\x07\x08\x0c\x1b', 'ctl\\u0001\\u0007\\u0008\\u000c\\u001b'], ['del\x7f', 'del\x7f'],
    ['naïve café.txt', 'naïve café.txt'], ['日本語', '日本語'],
  ];
  const H = build(`${B}/hostile`, Object.fromEntries(NAMES.map(([n]) => [n, ''])));
  const r = ls({}, [H]);
  const body = r.body.toString('utf8');
  for (const [, json] of NAMES) assert.ok(body.includes(`\n  {"name":"${json}","type":"file"`), json);
  assert.deepEqual(okJson(r).entries.map((e) => e.name).sort(), NAMES.map(([n]) => n).sort());
});

test('names of the longest length the file system allows come out whole, many at once', () => {
  // 255 bytes each: plain letters, and three-byte characters that end exactly at the limit.
  const names = [];
  for (let i = 0; i < 400; i++) names.push(String(i).padStart(3, '0') + 'x'.repeat(252));
  names.push('\u65e5'.repeat(85));
  const D = build(`${B}/longnames`, Object.fromEntries(names.map((n) => [n, ''])));
  const got = okJson(ls({}, [D]));
  assert.equal(got.count, names.length);
  assert.deepEqual(got.entries.map((e) => e.name), names);
});

test('an entry whose full path would pass 4095 bytes is listed without attributes', posixOnly, () => {
  let deep = `${B}/deep`;
  while (deep.length < 3900) deep += '/' + 'd'.repeat(Math.min(200, 3999 - deep.length));
  fs.mkdirSync(deep, { recursive: true });
  const long = 'n'.repeat(250);
  const back = process.cwd();
  process.chdir(deep);
  try {
    fs.writeFileSync(long, 'x');
    fs.writeFileSync('ok', 'ok');
    const got = okJson(ls({}, [deep])).entries;
    assert.deepEqual(got.map((e) => [e.name, e.size, e.mtime, e.mode]), [[long, 0, '', '0000'], ['ok', 2, got[1].mtime, '0644']]);
  } finally {
    fs.rmSync(long, { force: true });
    process.chdir(back);
  }
});
