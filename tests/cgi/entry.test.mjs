// Start-up: what the host learns on the command line, and how a request picks the page or an action.
import assert from 'node:assert/strict';
import { createHash } from 'node:crypto';
import { test } from 'node:test';
import { errOut, expectOut, ROOTS_NONE, run } from './lib.mjs';

const META = '{"name":"files","desc":"File browser"}\n';
const VERSION = 'plugin_files 1.0.0\n';
// The page's header block, its scripts named by their hashes.
const PAGE_HEAD = (scripts) => 'Content-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n' +
  'X-Content-Type-Options: nosniff\r\nX-Frame-Options: SAMEORIGIN\r\n' +
  `Content-Security-Policy: default-src 'none'; script-src ${scripts}; style-src 'unsafe-inline'; ` +
  "img-src 'self' data: blob:; media-src 'self'; frame-src 'self'; connect-src 'self'; form-action 'none'; base-uri 'none'\r\n" +
  'Referrer-Policy: no-referrer\r\n\r\n';
const UNKNOWN = errOut(400, 'unknown action');

const METADATA = [
  ['--meta prints the description', ['--meta'], {}, META],
  ['--version prints name and version', ['--version'], {}, VERSION],
  ['ZV_PLUGIN_META prints the description', [], { ZV_PLUGIN_META: '1' }, META],
  ['ZV_PLUGIN_META counts even when empty', [], { ZV_PLUGIN_META: '' }, META],
  ['ZV_PLUGIN_META wins over --version', ['--version'], { ZV_PLUGIN_META: '' }, META],
  ['ZV_PLUGIN_META wins over --help', ['--help'], { ZV_PLUGIN_META: '' }, META],
  ['only the first argument is looked at', ['--version', '--meta'], {}, VERSION],
  ['--meta needs no password', ['--meta'], { KIV_PASSWORD: 'pw' }, META],
  ['--version ignores a pending request', ['--version'], { KIV_PASSWORD: 'pw', QUERY_STRING: 'action=roots' }, VERSION],
];
for (const [name, args, env, want] of METADATA) test(name, () => expectOut(run({ args, env }), want));

const HELP_NAMES = [
  '--meta', '--version', 'roots', 'ls', 'read', 'raw', 'zip', 'find', 'grep', 'du', 'thumb', 'FILES_ALLOWED_ROOT',
  'USERPROFILE', 'HOME', 'KIV_PASSWORD', 'FILES_ALLOWED_HOSTS', 'FILES_RAW_LIMIT', 'FILES_LS_MAX',
  'FILES_ZIP_MAX_ENTRIES', 'FILES_ZIP_MAX_BYTES', 'FILES_FIND_MAX_RESULTS', 'FILES_SEARCH_SECONDS',
  'FILES_GREP_MAX_BYTES', 'FILES_GREP_MAX_FILE', 'FILES_THUMB_MAX_PIXELS', 'FILES_HEAVY_MAX', 'ZV_PLUGIN_META',
  'QUERY_STRING', 'REQUEST_METHOD', 'HTTP_HOST', 'HTTP_X_KIV_PASSWORD', 'HTTP_AUTHORIZATION', 'HTTP_RANGE', 'HTTP_IF_RANGE',
  'HTTP_IF_NONE_MATCH', 'HTTP_IF_MODIFIED_SINCE', 'HTTP_IF_MATCH', 'HTTP_IF_UNMODIFIED_SINCE',
];
test('--help says what the program is and names every action, option and variable', () => {
  const r = run({ args: ['--help'], query: 'action=roots' });
  assert.equal(r.status, 0);
  const text = r.out.toString();
  assert.ok(text.startsWith('plugin_files 1.0.0: a read-only file browser'), text);
  for (const name of HELP_NAMES) assert.match(text, new RegExp(`(^|[\\s,])${name}[\\s,:]`), name);
});

test('an unknown first argument serves the request from the environment', () => {
  for (const arg of ['-h', 'help', 'meta', '--META', '']) {
    expectOut(run({ args: [arg], query: 'action=roots' }), ROOTS_NONE);
  }
});

const CHOICE = [
  ['format=json', ROOTS_NONE],
  ['action=&format=json', ROOTS_NONE],
  ['a=1&format=json', ROOTS_NONE],
  ['action=roots', ROOTS_NONE],
  ['action=roots%00ls', ROOTS_NONE],
  ['action=%72oots', ROOTS_NONE],
  ['xformat=json', UNKNOWN],
  ['x=format=json', UNKNOWN],
  ['format=jsonp', UNKNOWN],
  ['action=LS', UNKNOWN],
  ['action=Roots', UNKNOWN],
  ['action=ls%20', UNKNOWN],
  ['action=list&format=json', UNKNOWN],
  ['action=' + 'r'.repeat(63), UNKNOWN],
  ['action=' + 'roots'.repeat(14), UNKNOWN],
];
for (const [query, want] of CHOICE) {
  test(`query ${query.slice(0, 40)} answers ${want === UNKNOWN ? 'unknown action' : 'the roots'}`, () =>
    expectOut(run({ query }), want));
}

test('every request without an action gets the same page under the fixed header block', () => {
  const page = run({});
  assert.equal(page.status, 0);
  // The policy names exactly the page's three inline scripts (theme block, page, theme bridge), by their SHA-256.
  const scripts = [...page.body.toString('latin1').matchAll(/<script>(.*?)<\/script>/gs)]
    .map((m) => `'sha256-${createHash('sha256').update(Buffer.from(m[1], 'latin1')).digest('base64')}'`);
  assert.equal(scripts.length, 3);
  assert.equal(page.head, PAGE_HEAD(scripts.join(' ')));
  assert.ok(page.body.length > 0);
  const others = ['', 'action=&path=x', '&&&', 'Action=ls', 'path=%2Fetc', 'format=jso', 'format=JSON', 'p%61th=x&action'];
  for (const query of others) expectOut(run({ query }), page.out);
  expectOut(run({ args: ['-h'] }), page.out);
});
