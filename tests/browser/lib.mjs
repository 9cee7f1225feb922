// Shared by the browser tests: the servers that tests/browser/run started, Debian's Chromium driven by
// playwright-core, and small readers that turn what a person sees into plain values to compare.
import assert from 'node:assert/strict';
import { after, before } from 'node:test';
import { chromium } from 'playwright-core';

function need(name) {
  const v = process.env[name];
  if (!v) throw new Error(`${name} is not set: run the browser tests through tests/browser/run`);
  return v;
}

/** Base URLs of node a (roots home, second), node b (root "my vault", password) and the hub. */
export const NODE_A = need('BROWSER_NODE_A');
export const NODE_B = need('BROWSER_NODE_B');
export const HUB = need('BROWSER_HUB');
/** Where the hub serves its static files from, and the directory of the test trees. */
export const HUB_HTDOCS = need('BROWSER_HUB_HTDOCS');
export const TREE = need('BROWSER_TREE');
export const HOME = `${TREE}/a/home`;
export const SECOND = `${TREE}/a/second`;
export const VAULT = `${TREE}/b/my vault`;

const ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

let browser;

/** One Chromium per test file, each run with a fresh profile that playwright-core makes and removes. */
export function useBrowser() {
  before(async () => {
    browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ARGS });
  });
  after(async () => {
    await browser?.close();
  });
}

/**
 * Opens url in a new context. Options: width (default 1280), height (default 760), colorScheme, reducedMotion, storage (items put
 * into the origin's localStorage first), init (a function run in every document before its scripts), wait
 * (for the root list; default true). Records every request the page sends and every script error.
 */
export async function open(url, { width = 1280, height = 760, colorScheme = 'dark', reducedMotion, storage, init, wait = true } = {}) {
  const context = await browser.newContext({ viewport: { width, height }, colorScheme, reducedMotion });
  const page = await context.newPage();
  // Only a bound for a state that never comes: a machine busy with other work may take long to reach it.
  page.setDefaultTimeout(30000);
  if (init) await page.addInitScript(init);
  if (storage) {
    await page.goto(new URL('/storage-seed', url).href);
    await page.evaluate((items) => Object.entries(items).forEach(([k, v]) => localStorage.setItem(k, v)), storage);
  }
  const requests = [];
  const errors = [];
  page.on('request', (r) => requests.push({ url: r.url().replace(/^https?:\/\/[^/]+/, ''), pwd: r.headers()['x-kiv-password'] ?? null,
    ...(r.method() === 'GET' ? {} : { method: r.method() }) }));
  page.on('pageerror', (e) => errors.push(e.message));
  page.on('dialog', (d) => { errors.push(`dialog: ${d.message()}`); d.dismiss(); });
  await page.goto(url);
  if (wait) await page.waitForSelector('#roots .root');
  return { page, context, requests, errors, close: () => context.close() };
}

/** What the page shows, as plain values. */
export function view(page) {
  return page.evaluate(() => {
    const $ = (s) => document.querySelector(s);
    const texts = (s) => [...document.querySelectorAll(s)].map((e) => e.textContent);
    const shown = (e) => !!e && getComputedStyle(e).display !== 'none';
    return {
      roots: texts('#roots .root .n'),
      selRoot: texts('#roots .root.sel .n')[0] ?? null,
      crumbs: texts('#crumbs .crumb').join(' / '),
      rows: texts('#entries .row:not(.hidden) .nm'),
      sel: texts('#entries .row.sel .nm')[0] ?? null,
      count: $('#count').textContent,
      empty: shown($('#empty')),
      view: $('#app').dataset.view,
      prevName: shown($('#prevHd')) ? $('#prevName').textContent : null,
      prevMeta: shown($('#prevHd')) ? $('#prevMeta').textContent : null,
      download: shown($('#btnDownload')) && !$('#btnDownload').disabled,
      welcome: !!$('#prevBody .welcome'),
    };
  });
}

/** Resolves once fn(arg), run in the page, returns something truthy. */
export function until(page, fn, arg) {
  return page.waitForFunction(fn, arg);
}

/** Waits for the listing of the directory whose last crumb is name. */
export function listed(page, name) {
  return until(page, (n) => {
    const drawn = document.querySelector('#entries .row') || !document.querySelector('#empty').classList.contains('hidden');
    return document.querySelector('#crumbs .crumb.last')?.textContent === n && drawn;
  }, name);
}

/** The row of the listing whose name is exactly name. */
export function row(page, name) {
  return page.locator('#entries .row').filter({ has: page.locator('.nm').getByText(name, { exact: true }) });
}

/** Opens the directories named in steps, one after the other, by clicking their rows. */
export async function walk(page, ...steps) {
  for (const step of steps) {
    await row(page, step).click();
    await listed(page, step);
  }
}

/** Clicks a file row and waits until the preview has its content. */
export async function preview(page, name) {
  await row(page, name).click();
  await until(page, (n) => document.querySelector('#prevName').textContent === n
    && document.querySelector('#prevBody').firstElementChild !== null, name);
}

/** The toast's text once it shows. */
export async function toastText(page) {
  await page.waitForSelector('#toast.show');
  return page.textContent('#toast');
}

/** Fails the test when a script error, a dialog or a hostile marker showed up. */
export async function assertClean(t) {
  assert.deepEqual(t.errors, []);
  assert.equal(await t.page.evaluate(() => window.__pwned), undefined);
}

/** The query of a page URL carrying the password, as the page itself would encode it. */
export const enc = encodeURIComponent;
