// The EXIF reader (src/page/script/exif.js) run on its own: the first bytes of a JPEG in, the lightbox's
// date taken, camera and exposure out. The blocks are written by the browser tests' own writer, which
// ImageMagick reads back the same (tests/browser/fixtures.mjs makes the grid's photo with it).
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { test } from 'node:test';
import vm from 'node:vm';
import { PHOTO_EXIF, exifSegment, withSegment } from '../browser/fixtures.mjs';

const source = fs.readFileSync(new URL('../../src/page/script/exif.js', import.meta.url), 'utf8');
const exifOf = vm.runInNewContext(`${source}\nexifOf;`, {});

// A JPEG's start, a comment segment and its end: the reader must walk past segments that are not EXIF.
const JPEG = Buffer.from([0xff, 0xd8, 0xff, 0xfe, 0x00, 0x04, 0x68, 0x69, 0xff, 0xd9]);
const jpeg = (fields, little) => withSegment(JPEG, exifSegment(fields, little));
const FULL = { taken: '2024-05-01 18:30:00', camera: 'Acme Zoom 3', exposure: '1/250 s \u00b7 f/2.8 \u00b7 ISO 200 \u00b7 35 mm' };
const whole = jpeg(PHOTO_EXIF);

const CASES = [
  ['big-endian, every field', whole, FULL],
  ['little-endian, every field', jpeg(PHOTO_EXIF, true), FULL],
  ['a model without its maker\'s name', jpeg({ make: 'Acme', model: 'Z3' }), { taken: '', camera: 'Acme Z3', exposure: '' }],
  ['a long exposure and whole numbers', jpeg({ exposure: [5, 2], fnumber: [8, 1], iso: 6400 }),
    { taken: '', camera: '', exposure: '2.5 s \u00b7 f/8 \u00b7 ISO 6400' }],
  ['a rational with no denominator, and none with no numerator', jpeg({ exposure: [0, 100], fnumber: [4, 0] }),
    { taken: '', camera: '', exposure: '' }],
  ['the block cut short: the fields it still holds', whole.subarray(0, 70), { taken: '', camera: 'Acme', exposure: '' }],
  ['no EXIF segment', JPEG, null],
  ['not a JPEG', Buffer.from('GIF89a...'), null],
  ['nothing', Buffer.alloc(0), null],
];

test('the EXIF reader gives the date taken, the camera and the exposure, or what the bytes still hold', () => {
  for (const [name, bytes, want] of CASES) {
    const got = exifOf(new Uint8Array(bytes));
    assert.deepEqual(got === null ? null : { ...got }, want, name);
  }
});
