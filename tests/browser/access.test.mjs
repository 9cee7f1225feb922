// The node password and the hub: where the page finds the password, how it presents it, and the hub
// route that carries plugin, node, id and password to the right node.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { describe, test } from 'node:test';
import { HUB, NODE_A, NODE_B, VAULT, assertClean, listed, open, preview, row, toastText, until, useBrowser, view } from './lib.mjs';
import { PASSWORD } from './fixtures.mjs';

useBrowser();
const enc = encodeURIComponent;
const P = enc(PASSWORD);
const calls = (t) => t.requests.filter((r) => r.url.includes('action='));

// Lets the document itself through the node's gate, as a host that already holds the password would,
// so that only the page's own calls show where it finds the password.
async function admitDocument(t) {
  await t.page.route((u) => !u.searchParams.has('action'), (route) =>
    route.continue({ headers: { ...route.request().headers(), 'x-kiv-password': PASSWORD } }));
}

async function openStored(url, storage) {
  const t = await open(url, { storage, wait: false });
  await admitDocument(t);
  // The first load may still be calling until the new document replaces it: count from then on.
  const restart = (frame) => {
    if (frame !== t.page.mainFrame()) return;
    t.requests.length = 0;
    t.page.off('framenavigated', restart);
  };
  t.page.on('framenavigated', restart);
  await t.page.goto(url);
  return t;
}

describe('Node password', () => {
  test('a guarded node opened without its password asks for it, says when it is wrong, and goes on where it was', async () => {
    const t = await open(`${NODE_B}/plugin_files#${new URLSearchParams({ dir: VAULT, file: 'secret.txt' })}`, { wait: false });
    await t.page.waitForSelector('#login:not(.hidden)');
    const form = () => t.page.evaluate(() => [document.querySelector('#login label').textContent,
      document.querySelector('#login label').control === document.activeElement, document.querySelector('#loginMsg').textContent]);
    assert.deepEqual(await form(), ['This node asks for its password', true, '']);
    await t.page.keyboard.type('wrong');
    await t.page.keyboard.press('Enter');
    await until(t.page, () => document.querySelector('#loginMsg').textContent !== '');
    assert.deepEqual(await form(), ['This node asks for its password', true, 'invalid node password']);
    await t.page.keyboard.type(PASSWORD);
    await t.page.keyboard.press('Enter');
    await until(t.page, () => document.querySelector('#prevBody .tx')?.textContent === 'behind the password');
    assert.deepEqual([await t.page.isVisible('#login'), (await view(t.page)).crumbs,
      await t.page.evaluate(() => localStorage.getItem('kiv_active_pwd'))], [false, 'my vault', PASSWORD]);
    await t.close();
  });

  test('a password beyond Latin-1 goes out in the header as its UTF-8 bytes, so the calls still leave', async () => {
    const word = 'пароль';
    const t = await open(`${NODE_A}/plugin_files?pwd=${enc(word)}`);
    await listed(t.page, 'home');
    assert.deepEqual(calls(t)[0], { url: '/plugin_files?action=roots', pwd: Buffer.from(word).toString('latin1') });
    await assertClean(t);
    await t.close();
  });

  test('a password in the page URL leaves the address, is kept for the node, and goes in the header, on images and downloads in the URL', async () => {
    const t = await open(`${NODE_B}/plugin_files?a=1&pwd=${P}&b=2#x`);
    await listed(t.page, 'my vault');
    assert.deepEqual(await t.page.evaluate(() => [location.search, location.hash, localStorage.getItem('kiv_active_pwd')]),
      ['?a=1&b=2', `#${new URLSearchParams({ dir: VAULT })}`, PASSWORD]);
    assert.deepEqual(calls(t), [
      { url: '/plugin_files?action=roots', pwd: PASSWORD },
      { url: `/plugin_files?action=ls&path=${enc(VAULT)}`, pwd: PASSWORD }]);
    await preview(t.page, 'pic.png');
    await until(t.page, () => document.querySelector('#prevBody img')?.complete);
    assert.equal(await t.page.$eval('#prevBody img', (i) => i.naturalWidth), 1);
    await preview(t.page, 'secret.txt');
    assert.equal(await t.page.textContent('#prevBody .tx'), 'behind the password');
    const [download] = await Promise.all([t.page.waitForEvent('download'), t.page.click('#btnDownload')]);
    assert.equal(fs.readFileSync(await download.path(), 'utf8'), 'behind the password\n');
    const raw = `/plugin_files?action=raw&path=${enc(`${VAULT}/secret.txt`)}&download=1`;
    assert.deepEqual(calls(t).slice(2), [
      { url: `/plugin_files?action=raw&path=${enc(`${VAULT}/pic.png`)}&pwd=${P}`, pwd: null },
      { url: `/plugin_files?action=read&path=${enc(`${VAULT}/secret.txt`)}`, pwd: PASSWORD },
      { url: raw, pwd: PASSWORD, method: 'HEAD' }]);
    // The browser's downloads fetch the file themselves, out of the page's sight.
    assert.equal(download.url().replace(/^https?:\/\/[^/]+/, ''), `${raw}&pwd=${P}`);
    await t.close();
  });

  test('the folder download names the open directory, hidden files while they are shown, and the password', async () => {
    const t = await open(`${NODE_B}/plugin_files?pwd=${P}`);
    await listed(t.page, 'my vault');
    const asked = [];
    await t.page.route((u) => u.searchParams.get('action') === 'zip', (route) => {
      asked.push([route.request().method(), route.request().url().replace(/^https?:\/\/[^/]+/, '')]);
      route.fulfill({ contentType: 'application/zip', headers: { 'Content-Disposition': 'attachment; filename="my vault.zip"' }, body: 'PK' });
    });
    assert.equal(await t.page.getAttribute('#btnZip', 'title'), 'Download folder');
    const saved = [];
    const save = async () => {
      const [download] = await Promise.all([t.page.waitForEvent('download'), t.page.click('#btnZip')]);
      saved.push(['GET', download.url().replace(/^https?:\/\/[^/]+/, ''), download.suggestedFilename()]);
    };
    await save();
    await t.page.click('#btnHidden');
    await until(t.page, () => [...document.querySelectorAll('#entries .nm')].some((n) => n.textContent === '.dot'));
    await save();
    const zip = `/plugin_files?action=zip&path=${enc(VAULT)}`;
    assert.deepEqual([asked, saved], [[['HEAD', zip], ['HEAD', `${zip}&hidden=1`]],
      [['GET', `${zip}&pwd=${P}`, 'my vault.zip'], ['GET', `${zip}&hidden=1&pwd=${P}`, 'my vault.zip']]]);
    await t.close();
  });

  // the page, what is stored, the password the page must use (null: none). A password goes only to the node it
  // was given for: kiv_active_pwd only where no node is named, on a node's own route.
  const STORED = [
    ['the active password', `${NODE_B}/plugin_files`, { kiv_active_pwd: PASSWORD }, PASSWORD],
    ["the node's password before the active one", `${NODE_B}/plugin_files?node=b`, { kiv_pwd_b: PASSWORD, kiv_active_pwd: 'wrong' }, PASSWORD],
    ['the active password only, a node named', `${NODE_B}/plugin_files?node=b`, { kiv_pwd_b: '', kiv_active_pwd: PASSWORD }, null],
    ["another node's password only", `${NODE_B}/plugin_files?node=b`, { kiv_pwd_other: PASSWORD }, null],
    ["node b's password, also as the active one, through the hub for node a", `${HUB}/plugins?plugin=files&node=a`,
      { kiv_pwd_b: PASSWORD, kiv_active_pwd: PASSWORD }, null],
  ];
  for (const [label, url, storage, used] of STORED) {
    test(`with ${label} stored, ${url.replace(/^.*\/\/[^/]+/, '')} is called with ${used === null ? 'no password' : 'that password'}`, async () => {
      const t = await openStored(url, storage);
      await until(t.page, () => document.querySelector('#entries .row') || !document.querySelector('#login').classList.contains('hidden'));
      assert.ok(calls(t).length > 0);
      assert.deepEqual(calls(t).filter((r) => r.pwd !== used), []);
      await t.close();
    });
  }
});

describe('Hub', () => {
  test('through the hub every call names plugin, action, path, hidden, node and id in that order', async () => {
    const t = await openStored(`${HUB}/plugins?plugin=files&node=b&id=s 1`, { kiv_pwd_b: PASSWORD });
    await listed(t.page, 'my vault');
    await t.page.click('#btnHidden');
    await until(t.page, () => document.querySelector('#count').textContent === '5 items');
    // A backslash is an ordinary byte of a name here, but the breadcrumbs split at it.
    await row(t.page, 'back\\slash').click();
    await listed(t.page, 'slash');
    const tail = '&node=b&id=s%201';
    assert.deepEqual(calls(t), [
      { url: `/plugins?plugin=files&action=roots${tail}`, pwd: PASSWORD },
      { url: `/plugins?plugin=files&action=ls&path=${enc(VAULT)}${tail}`, pwd: PASSWORD },
      { url: `/plugins?plugin=files&action=ls&path=${enc(VAULT)}&hidden=1${tail}`, pwd: PASSWORD },
      { url: `/plugins?plugin=files&action=ls&path=${enc(VAULT).replace('my%20vault', 'my%20vault%2Fback%5Cslash')}&hidden=1${tail}`, pwd: PASSWORD }]);
    assert.deepEqual([(await view(t.page)).crumbs, (await view(t.page)).count], ['my vault / back / slash', '0 items']);
    await t.close();
  });

  test('the hub relays each node by its name, and each shows its own roots', async () => {
    for (const [node, roots] of [['a', ['home', 'second']], ['b', ['my vault']]]) {
      const t = await open(`${HUB}/plugins?plugin=files&node=${node}&pwd=${P}`);
      assert.deepEqual([node, (await view(t.page)).roots], [node, roots]);
      await assertClean(t);
      await t.close();
    }
  });

  test('the page opened on the node itself calls the program at /plugin_files, never /plugins', async () => {
    const t = await open(`${NODE_A}/plugin_files?node=a&id=x`);
    await listed(t.page, 'home');
    assert.deepEqual(calls(t).map((r) => r.url.split('&')[0]), ['/plugin_files?action=roots', '/plugin_files?action=ls']);
    await t.close();
  });
});
