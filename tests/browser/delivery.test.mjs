// A video played from the node and sought to its middle: the player asks for a range and the node answers
// 206 with the bytes from there, so seeking needs no download of what lies before. A video opened on its
// own plays in the browser's own player.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import { after, before, describe, test } from 'node:test';
import { enc, HUB, HUB_HTDOCS, NODE_A, SECOND, useBrowser, open } from './lib.mjs';

// Hidden, so the other tests' listings of the root do not see it.
const CLIP = `${SECOND}/.delivery-clip.webm`;
const PAGE = `${HUB_HTDOCS}/delivery.html`;
const SECONDS = 10;
const SRC = `${NODE_A}/plugin_files?action=raw&path=${enc(CLIP)}`;

describe('video from the node', () => {
  useBrowser();
  before(() => {
    // Noise at a high bitrate: 6 MB, far more than a player fetches ahead of where it plays.
    execFileSync('ffmpeg', ['-v', 'error', '-y', '-f', 'lavfi', '-i',
      `nullsrc=size=320x240:rate=10:duration=${SECONDS},geq=lum='random(1)*255':cb=128:cr=128`,
      '-c:v', 'libvpx', '-deadline', 'realtime', '-cpu-used', '8', '-qmin', '4', '-qmax', '10', '-b:v', '20M', '-g', '10', CLIP]);
    fs.writeFileSync(PAGE, `<!doctype html><video id="v" preload="metadata" muted src="${SRC}"></video>`);
  });
  after(() => {
    fs.rmSync(CLIP, { force: true });
    fs.rmSync(PAGE, { force: true });
  });

  test('seeking to the middle plays on from a 206 that starts past the beginning', async () => {
    const t = await open(`${HUB}/delivery.html`, { wait: false });
    const ranged = [];
    // Headers that come after the page has closed are of no interest, and no failure.
    t.page.on('response', (r) => {
      if (r.url().includes('action=raw')) {
        r.allHeaders().then((h) => ranged.push({ status: r.status(), range: h['content-range'] }), () => {});
      }
    });
    await t.page.waitForFunction(() => document.getElementById('v').readyState >= 1);
    const size = fs.statSync(CLIP).size;
    await t.page.evaluate((at) => new Promise((done) => {
      const v = document.getElementById('v');
      v.addEventListener('seeked', done, { once: true });
      v.currentTime = at;
    }), SECONDS / 2);
    await t.page.waitForFunction(() => document.getElementById('v').readyState >= 2);
    // Files are cached and revalidated (private, no-cache): a part the browser's cache gives shows no
    // Content-Range, so only the parts the node sent count.
    const from = ranged.filter((r) => r.status === 206 && r.range)
      .map((r) => Number(r.range.match(/^bytes (\d+)-(\d+)\/(\d+)$/)[1]));
    assert.ok(from.some((first) => first > size / 4), `no 206 from past the start: ${JSON.stringify(ranged)}`);
    assert.equal(await t.page.evaluate(() => document.getElementById('v').currentTime), SECONDS / 2);
    await t.close();
  });

  test('a video opened on its own address plays there', async () => {
    const t = await open(SRC, { wait: false });
    await t.page.waitForFunction(() => document.querySelector('video')?.readyState >= 1);
    assert.equal(await t.page.evaluate(() => document.querySelector('video').duration), SECONDS);
    await t.close();
  });
});
