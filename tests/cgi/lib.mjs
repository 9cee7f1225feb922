// Runs plugin_files the way a CGI server does (one process, environment in, bytes out) and keeps every
// platform-specific spelling of a path in this one file, so the same cases can run against the Windows
// build under Wine: tests/wine/run sets PLUGIN_FILES_OS=win and starts the program through its launcher.
// Run from the repo: `node --test tests/cgi/` (the program is taken from build/plugin_files by default).
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after } from 'node:test';
import { fileURLToPath } from 'node:url';

export const WIN = process.env.PLUGIN_FILES_OS === 'win';
// Cases that need a POSIX file system: FIFOs, symlink details, "/" as a root, case-distinct names.
export const posixOnly = { skip: WIN && 'needs a POSIX file system' };

const here = path.dirname(fileURLToPath(import.meta.url));
const CMD = (process.env.PLUGIN_FILES_CMD || path.join(here, '..', '..', 'build', 'plugin_files'))
  .split(' ').filter(Boolean);
// Wine needs its own variables to start at all, and a UTF-8 LANG to pass non-ASCII names and values
// unchanged; the Windows build reads no HOME, so passing it is harmless.
const BASE_ENV = WIN ? pick(process.env, ['PATH', 'HOME', 'LANG', 'WINEPREFIX', 'WINEARCH', 'WINEDEBUG']) : {};
// Only a guard against a hanging program (a FIFO opened for reading): a hang fails instead of blocking.
const HANG_GUARD_MS = 60000;

function pick(obj, keys) {
  return Object.fromEntries(keys.filter((k) => obj[k] !== undefined).map((k) => [k, obj[k]]));
}

/** A fixture path, written the POSIX way by the tests, as the program spells it. */
export function progPath(p) {
  if (!WIN) return p;
  return (p.startsWith('/') ? 'Z:' : '') + p.replaceAll('/', '\\');
}
export const SEP = WIN ? '\\' : '/';
/** The JSON string the program writes for a fixture path. */
export const jp = (p) => JSON.stringify(progPath(p));

/**
 * Starts the program with nothing in its environment but `env` (and QUERY_STRING when `query` is a
 * string). `rawQuery` (a Buffer) passes bytes that Node cannot put into an environment string.
 * Returns the exit status, the whole stdout, the header block as text (blank line included) and the body.
 */
export function run({ query, rawQuery, env = {}, args = [], cwd, cmd = CMD } = {}) {
  const e = { ...BASE_ENV, ...env };
  // Wine replaces USERPROFILE in the first process it starts; the launcher (tests/wine) puts it back.
  if (WIN && e.USERPROFILE !== undefined) e.PF_USERPROFILE = e.USERPROFILE;
  if (query !== undefined) e.QUERY_STRING = query;
  let line = [...cmd, ...args];
  if (rawQuery) {
    const octal = [...rawQuery].map((b) => '\\' + b.toString(8).padStart(3, '0')).join('');
    const script = `QUERY_STRING=$(printf '${octal}'); export QUERY_STRING; unset PWD; exec "$@"`;
    line = ['/bin/sh', '-c', script, 'sh', ...line];
  }
  const r = spawnSync(line[0], line.slice(1), {
    env: e, cwd, maxBuffer: 1 << 28, timeout: HANG_GUARD_MS, killSignal: 'SIGKILL',
  });
  if (r.error && r.error.code !== 'ETIMEDOUT') throw r.error;
  const out = r.stdout ?? Buffer.alloc(0);
  const cut = out.indexOf('\r\n\r\n');
  const end = cut < 0 ? out.length : cut + 4;
  return { status: r.status, signal: r.signal, out, head: out.subarray(0, end).toString('latin1'), body: out.subarray(end) };
}

/** Query text; `path` values are fixture paths and are spelled and percent-encoded for the program. */
export function qs(params) {
  return Object.entries(params)
    .map(([k, v]) => `${k}=${encodeURIComponent(k === 'path' ? progPath(v) : v)}`).join('&');
}

/** The program itself, without what starts it (valgrind, say): its last word. */
export const PROGRAM = CMD[CMD.length - 1];

/** Runs one API request with the given roots (FILES_ALLOWED_ROOT) and nothing else configured. */
export function api(params, { roots = [], env = {}, ...opts } = {}) {
  const rootEnv = roots.length ? { FILES_ALLOWED_ROOT: roots.map(progPath).join(';') } : {};
  return run({ query: typeof params === 'string' ? params : qs(params), env: { ...rootEnv, ...env }, ...opts });
}

export const JSON_HEAD =
  'Content-Type: application/json; charset=utf-8\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n';
const REASON = {
  400: 'Bad Request', 403: 'Forbidden', 404: 'Not Found', 412: 'Precondition Failed', 413: 'Payload Too Large',
  415: 'Unsupported Media Type', 416: 'Range Not Satisfiable', 422: 'Unprocessable Content', 500: 'Internal Server Error',
};
export const errOut = (code, msg) => `Status: ${code} ${REASON[code]}\r\n${JSON_HEAD}{"ok":false,"error":"${msg}"}\n`;
export const okOut = (body) => JSON_HEAD + body;
export const ROOTS_NONE = okOut('{"ok":true,"count":0,"roots":[\n]}\n');

/** Exact comparison of all output bytes; latin1 keeps one character per byte so diffs stay readable. */
export function expectOut(r, expected) {
  assert.equal(r.signal, null, 'the program hung or died of a signal');
  assert.equal(r.status, 0);
  assert.equal(r.out.toString('latin1'), Buffer.from(expected).toString('latin1'));
}

/** A successful JSON answer, parsed. */
export function okJson(r) {
  assert.equal(r.signal, null, 'the program hung or died of a signal');
  assert.equal(r.status, 0);
  assert.equal(r.head, JSON_HEAD);
  return JSON.parse(r.body.toString('utf8'));
}

/** A fresh directory for this test file, removed when the file's tests are done. */
export function tmpBase() {
  const base = fs.realpathSync(fs.mkdtempSync(path.join(os.tmpdir(), 'pf-cgi-')));
  after(() => fs.rmSync(base, { recursive: true, force: true }));
  return base;
}

export const DIR = Symbol('dir');
/**
 * Creates `tree` under `base`: a string or Buffer is a file, DIR a directory, {link} a symbolic link,
 * {size} a sparse file of that length, {fifo: true} a named pipe. Returns `base`.
 */
export function build(base, tree) {
  for (const [rel, v] of Object.entries(tree)) {
    const p = path.join(base, rel);
    fs.mkdirSync(path.dirname(p), { recursive: true });
    if (v === DIR) fs.mkdirSync(p, { recursive: true });
    else if (typeof v === 'string' || Buffer.isBuffer(v)) fs.writeFileSync(p, v);
    else if (v.link !== undefined) fs.symlinkSync(v.link, p);
    else if (v.fifo) execFileSync('mkfifo', [p]);
    else {
      fs.writeFileSync(p, '');
      fs.truncateSync(p, v.size);
    }
  }
  return base;
}

/**
 * The entity tag the program gives a file as it is now (`variant`: what was made of it, a thumbnail's
 * size say); Windows keeps times in steps of 100 ns.
 */
export function etagOf(file, variant = '') {
  const { size, mtimeNs } = fs.statSync(file, { bigint: true });
  const nsec = WIN ? (mtimeNs % 1000000000n) / 100n * 100n : mtimeNs % 1000000000n;
  return `"${size.toString(16)}-${(mtimeNs / 1000000000n).toString(16)}-${nsec.toString(16)}${variant && `-${variant}`}"`;
}

/** Sets a file's modification time in seconds since 1970; Node turns negative times into "now". */
export function setMtime(p, secs) {
  if (secs < 0) execFileSync('touch', ['-m', '-d', `@${secs}`, p]);
  else fs.utimesSync(p, secs, secs);
}
