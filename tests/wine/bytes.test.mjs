// Bytes out of the Windows build: file contents untouched by text-mode translation, non-ASCII names in
// UTF-8 both ways, and for the same request the same answer as the Linux build, paths spelled aside;
// and the slots of heavy work, which there are the system's named mutexes.
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { randomBytes } from 'node:crypto';
import path from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { api, build, DIR, expectOut, okJson, progPath, qs, run, setMtime, tmpBase } from '../cgi/lib.mjs';

const BIN = Buffer.from([0x61, 0x0d, 0x0a, 0x62, 0x1a, 0x00, 0x63, 0x0a, 0x0d, 0xff]);
const DOS = 'one\r\ntwo\x1a\r\n';
const NAME = 'naïve café.txt';
const F = build(`${tmpBase()}/files`, {
  'crlf.bin': BIN, 'dos.txt': DOS, [NAME]: 'crème brûlée\n', Ünï: DIR, '.hidden': 'h', 'big.bin': { size: 67108865 },
});
for (const n of ['crlf.bin', 'dos.txt', NAME, 'Ünï', '.hidden', 'big.bin']) setMtime(`${F}/${n}`, 1709647629);
const ROOTS = { roots: [F] };

test('raw delivers CR LF, 0x1A and 0x00 exactly as stored', () =>
  assert.deepEqual(api({ action: 'raw', path: `${F}/crlf.bin` }, ROOTS).body, BIN));

test('a preview keeps CR and 0x1A in its text', () =>
  assert.equal(okJson(api({ action: 'read', path: `${F}/dos.txt` }, ROOTS)).text, DOS));

test('a non-ASCII name is listed, previewed and streamed', () => {
  const names = okJson(api({ action: 'ls', path: F }, ROOTS)).entries.map((e) => e.name);
  assert.deepEqual(names, ['Ünï', 'big.bin', 'crlf.bin', 'dos.txt', NAME]);
  const read = okJson(api({ action: 'read', path: `${F}/${NAME}` }, ROOTS));
  assert.deepEqual([read.path, read.name, read.text], [progPath(`${F}/${NAME}`), NAME, 'crème brûlée\n']);
  const raw = api({ action: 'raw', path: `${F}/${NAME}` }, ROOTS);
  assert.match(raw.head, /Content-Disposition: attachment; filename="naÃ¯ve cafÃ©\.txt"\r\n/);
  assert.equal(raw.body.toString('utf8'), 'crème brûlée\n');
});

test('a non-ASCII root is taken from the environment', () =>
  assert.deepEqual(okJson(api({ action: 'roots' }, { roots: [`${F}/Ünï`] })).roots,
    [{ path: progPath(`${F}/Ünï`), name: 'Ünï' }]));

// The Linux build answering the same request; its paths respelled as the Windows build writes them.
function linux(params) {
  const env = { FILES_ALLOWED_ROOT: F };
  if (params) env.QUERY_STRING = Object.entries(params).map(([k, v]) => `${k}=${encodeURIComponent(v)}`).join('&');
  const r = spawnSync(process.env.PLUGIN_FILES_LINUX || 'build/plugin_files', [], { env, maxBuffer: 1 << 28 });
  if (r.error) throw r.error;
  const text = r.stdout.toString('latin1')
    .replace(/"(\/[^"]*)"/g, (s, p) => (p.startsWith(F) ? JSON.stringify(progPath(p)) : s));
  return Buffer.from(text, 'latin1');
}

// [request, parameters or null for the page]
const SAME = [
  ['the page', null],
  ['the roots', { action: 'roots' }],
  ['a listing', { action: 'ls', path: F }],
  ['a listing with hidden names', { action: 'ls', path: F, hidden: '1' }],
  ['a text preview', { action: 'read', path: `${F}/dos.txt` }],
  ['a binary preview', { action: 'read', path: `${F}/crlf.bin` }],
  ['a non-ASCII preview', { action: 'read', path: `${F}/${NAME}` }],
  ['a binary download', { action: 'raw', path: `${F}/crlf.bin`, download: '1' }],
  ['a file over 64 MiB', { action: 'raw', path: `${F}/big.bin` }],
  ['a missing path', { action: 'ls', path: `${F}/nope` }],
  ['a directory read as a file', { action: 'read', path: `${F}/Ünï` }],
  ['a file listed as a directory', { action: 'ls', path: `${F}/dos.txt` }],
  ['an unknown action', { action: 'nope' }],
];
for (const [name, params] of SAME) {
  test(`both builds answer alike: ${name}`, () => {
    const win = run({ query: params ? qs(params) : undefined, env: { FILES_ALLOWED_ROOT: progPath(F) } });
    expectOut(win, linux(params));
  });
}

// The executable itself under Wine, not through the launcher, so that killing the process kills it.
const EXE = path.join(path.dirname(fileURLToPath(import.meta.url)), '..', '..', 'build-win', 'plugin_files.exe');
const H = build(`${tmpBase()}/heavy`, { 'random.bin': randomBytes(8 << 20) });
const heavy = { ...process.env, QUERY_STRING: qs({ action: 'zip', path: H }), FILES_ALLOWED_ROOT: progPath(H), FILES_HEAVY_MAX: '1' };
const busy = 'Status: 503 Service Unavailable\r\nContent-Type: application/json; charset=utf-8\r\nCache-Control: no-store\r\n' +
  'X-Content-Type-Options: nosniff\r\nRetry-After: 2\r\n\r\n{"ok":false,"error":"busy"}\n';

test('FILES_HEAVY_MAX=1: an archive held open takes the slot, the next is busy, and a kill frees it', async () => {
  const holder = spawn('wine', [EXE], { env: heavy, stdio: ['ignore', 'pipe', 'ignore'] });
  // Its first bytes mean it holds the slot; unread, the 8 MiB of random bytes keep it writing.
  await new Promise((held) => holder.stdout.once('data', () => { holder.stdout.pause(); held(); }));
  assert.equal(spawnSync('wine', [EXE], { env: heavy }).stdout.toString('latin1'), busy);
  holder.kill('SIGKILL');
  await new Promise((gone) => holder.on('exit', gone));
  const next = spawnSync('wine', [EXE], { env: heavy, maxBuffer: 1 << 28 });
  assert.match(next.stdout.toString('latin1', 0, 64), /^Content-Type: application\/zip\r\n/);
});
