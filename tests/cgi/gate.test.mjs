// The gate: which credentials the node password lets in, the one fixed answer for all that it does not,
// and without a password the hosts a request may be sent to.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { errOut, expectOut, ROOTS_NONE, run } from './lib.mjs';

const DENIED = 'Status: 401 Unauthorized\r\nContent-Type: application/json; charset=utf-8\r\n' +
  'Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n{"ok":false,"error":"invalid node password"}\n';
const PW = 's3cret';
const LONG = 'L'.repeat(300);

test('the refusal is exactly 178 bytes', () => assert.equal(Buffer.byteLength(DENIED), 178));

// [behaviour, node password, request environment, query text after action=roots, admitted]
const CASES = [
  ['no node password admits everyone', undefined, {}, '', true],
  ['an empty node password admits everyone', '', {}, '', true],
  ['no credential is refused', PW, {}, '', false],
  ['the X-Kiv-Password header admits', PW, { HTTP_X_KIV_PASSWORD: PW }, '', true],
  ['a header differing in case is refused', PW, { HTTP_X_KIV_PASSWORD: 'S3cret' }, '', false],
  ['a header with a trailing space is refused', PW, { HTTP_X_KIV_PASSWORD: PW + ' ' }, '', false],
  ['a wrong header does not stop a right pwd', PW, { HTTP_X_KIV_PASSWORD: 'no' }, '&pwd=' + PW, true],
  ['a wrong header does not stop a right bearer', PW, { HTTP_X_KIV_PASSWORD: 'no', HTTP_AUTHORIZATION: 'Bearer ' + PW }, '', true],
  ['Bearer and the password admit', PW, { HTTP_AUTHORIZATION: 'Bearer ' + PW }, '', true],
  ['spaces around Bearer are skipped', PW, { HTTP_AUTHORIZATION: '   Bearer    ' + PW }, '', true],
  ['a bare password in Authorization admits', PW, { HTTP_AUTHORIZATION: '  ' + PW }, '', true],
  ['lower-case bearer is refused', PW, { HTTP_AUTHORIZATION: 'bearer ' + PW }, '', false],
  ['Bearer without its space is refused', PW, { HTTP_AUTHORIZATION: 'Bearer' + PW }, '', false],
  ['a trailing space after the bearer password is refused', PW, { HTTP_AUTHORIZATION: 'Bearer ' + PW + ' ' }, '', false],
  ['Basic credentials are refused', PW, { HTTP_AUTHORIZATION: 'Basic ' + PW }, '', false],
  ['the pwd parameter admits', PW, {}, '&pwd=' + PW, true],
  ['a percent-encoded pwd admits', PW, {}, '&pwd=%73%33cre%74', true],
  ['a pwd prefix is refused', PW, {}, '&pwd=s3cre', false],
  ['a pwd with a trailing space is refused', PW, {}, '&pwd=s3cret+', false],
  ['a pwd differing in case is refused', PW, {}, '&pwd=S3CRET', false],
  ['the first pwd wins', PW, {}, '&pwd=x&pwd=' + PW, false],
  ['plus and escapes in pwd decode', 'p&ss w+rd', {}, '&pwd=p%26ss+w%2Brd', true],
  ['a 255-byte password fits in pwd', 'q'.repeat(255), {}, '&pwd=' + 'q'.repeat(255), true],
  ['a pwd longer than 255 bytes is never cut to the password', 'q'.repeat(255), {}, '&pwd=' + 'q'.repeat(255) + 'X', false],
  ['pwd is measured decoded', 'a'.repeat(254) + 'A', {}, '&pwd=' + 'a'.repeat(254) + '%41', true],
  ['a longer password cannot come through pwd', LONG, {}, '&pwd=' + LONG, false],
  ['a longer password comes through the header', LONG, { HTTP_X_KIV_PASSWORD: LONG }, '', true],
  ['a longer password comes through Authorization', LONG, { HTTP_AUTHORIZATION: 'Bearer ' + LONG }, '', true],
];
for (const [name, pw, env, extra, admitted] of CASES) {
  test(name, () => {
    const r = run({ query: 'action=roots' + extra, env: pw === undefined ? env : { KIV_PASSWORD: pw, ...env } });
    expectOut(r, admitted ? ROOTS_NONE : DENIED);
  });
}

test('a guarded node serves its page without the password, which the page asks for, and nothing else', () => {
  const page = run({ env: { KIV_PASSWORD: PW, HTTP_X_KIV_PASSWORD: PW } }).out;
  for (const query of [undefined, '', 'pwd=wrong', 'path=%2Fetc']) expectOut(run({ query, env: { KIV_PASSWORD: PW } }), page);
  for (const query of ['format=json', 'action=roots', 'action=ls', 'action=' + 'x'.repeat(100)]) {
    expectOut(run({ query, env: { KIV_PASSWORD: PW } }), DENIED);
  }
});

test('the page opens with the right pwd', () => {
  const r = run({ query: 'pwd=' + PW, env: { KIV_PASSWORD: PW } });
  assert.match(r.head, /^Content-Type: text\/html; charset=utf-8\r\n/);
});

// Without a password, a web page elsewhere must not reach the node through a name of its own; the rules
// of a host are in the unit tests. [behaviour, node password, request environment, query, answer]
const HOST_REFUSED = errOut(403, 'host not allowed');
const HOSTS = [
  ['an unknown host is refused', undefined, { HTTP_HOST: 'evil.example' }, 'action=roots', HOST_REFUSED],
  ['so is the page at that host', undefined, { HTTP_HOST: 'evil.example:8080' }, undefined, HOST_REFUSED],
  ['an IP address is answered', undefined, { HTTP_HOST: '127.0.0.1:8080' }, 'action=roots', ROOTS_NONE],
  ['localhost is answered', undefined, { HTTP_HOST: 'localhost:8080' }, 'action=roots', ROOTS_NONE],
  ['a name in FILES_ALLOWED_HOSTS is answered', undefined,
    { HTTP_HOST: 'files.example.org', FILES_ALLOWED_HOSTS: 'hub.example.org,files.example.org' }, 'action=roots', ROOTS_NONE],
  ['an empty node password looks at the host', '', { HTTP_HOST: 'evil.example' }, 'action=roots', HOST_REFUSED],
  ['with a password the host is not looked at', PW, { HTTP_HOST: 'evil.example', HTTP_X_KIV_PASSWORD: PW }, 'action=roots', ROOTS_NONE],
  ['with a password a wrong one is refused as such at any host', PW, { HTTP_HOST: 'evil.example' }, 'action=roots', DENIED],
];
for (const [name, pw, env, query, want] of HOSTS) {
  test(name, () => expectOut(run({ query, env: pw === undefined ? env : { KIV_PASSWORD: pw, ...env } }), want));
}
