// Thumbnails: every source format, the three sizes, EXIF orientations and embedded pictures, transparency,
// bad and truncated data, pictures that declare huge sizes, files that are no pictures, and caching by tag
// and by the version named in the address. The pictures are made here with ImageMagick and read back with
// it: pixel sizes and orientation exactly, colours within JPEG's losses.
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import { test } from 'node:test';
import zlib from 'node:zlib';
import { api, build, DIR, errOut, etagOf, posixOnly, PROGRAM, setMtime, tmpBase, WIN } from './lib.mjs';

const R = tmpBase();
const magick = (args, input) => execFileSync('convert', args, { input, maxBuffer: 1 << 26 });

const RED = [255, 0, 0, 255];
const LIME = [0, 255, 0, 255];
const BLUE = [0, 0, 255, 255];
const WHITE = [255, 255, 255, 255];
// A picture of four quarters, red, lime, blue and white, reading order.
const QUARTERS = (w, h) => ['-size', `${w / 2}x${h / 2}`, 'xc:red', 'xc:lime', '+append', '(', '-size', `${w / 2}x${h / 2}`,
  'xc:blue', 'xc:white', '+append', ')', '-append', '-strip'];
// Opaque red on the left, nothing on the right.
const HALF = ['-size', '40x40', 'xc:red', 'xc:none', '+append', '-strip'];

const CHECK = 'Cache-Control: private, no-cache';
const KEEP = 'Cache-Control: private, max-age=31536000, immutable';
const pictureHead = (type, len, tag, keep = CHECK) =>
  `Content-Type: ${type}\r\nX-Content-Type-Options: nosniff\r\n` +
  "Content-Security-Policy: default-src 'none'; style-src 'unsafe-inline'; img-src data:; media-src 'self'\r\n" +
  `X-Frame-Options: SAMEORIGIN\r\n${keep}\r\nContent-Length: ${len}\r\nETag: ${tag}\r\n\r\n`;
const TOO_LARGE = errOut(413, 'picture too large');
const NO_THUMBNAIL = errOut(415, 'no thumbnail for this file');
const CANNOT_DECODE = errOut(422, 'cannot decode image');

const file = (name) => `${R}/${name}`;
const thumb = (name, params = {}, opts = {}) => api({ action: 'thumb', path: file(name), ...params }, { roots: [R], ...opts });
/** Makes a picture with ImageMagick: `spec` is its output, a format prefix allowed ("PNG8:"). */
const make = (name, args, spec = '') => magick([...args, `${spec}${file(name)}`]);

/** A picture as ImageMagick reads it: its size and its pixels as RGBA. */
function decoded(bytes) {
  const pam = magick(['-', 'pam:-'], bytes);
  const end = pam.indexOf('ENDHDR\n') + 7;
  const head = pam.subarray(0, end).toString();
  const field = (k) => Number(head.match(new RegExp(`^${k} (\\d+)$`, 'm'))[1]);
  const [w, h, depth] = [field('WIDTH'), field('HEIGHT'), field('DEPTH')];
  const data = pam.subarray(end);
  const at = (x, y) => {
    const p = [...data.subarray((y * w + x) * depth, (y * w + x + 1) * depth)];
    return depth >= 3 ? [p[0], p[1], p[2], depth === 4 ? p[3] : 255] : [p[0], p[0], p[0], depth === 2 ? p[1] : 255];
  };
  return { w, h, at };
}

/** A thumbnail's answer, its header block checked line by line, its picture decoded. */
function picture(name, params = {}, { type = 'image/jpeg', keep = CHECK, ...opts } = {}) {
  const r = thumb(name, params, opts);
  assert.equal(r.signal, null, 'the program hung or died of a signal');
  assert.equal(r.status, 0);
  assert.equal(r.head, pictureHead(type, r.body.length, etagOf(file(name), `t${params.size || 256}`), keep));
  return decoded(r.body);
}

/** The pixels a fifth of the way in from each corner: top left, top right, bottom left, bottom right. */
function corners(pic) {
  const dx = Math.floor(pic.w / 5), dy = Math.floor(pic.h / 5);
  return [pic.at(dx, dy), pic.at(pic.w - 1 - dx, dy), pic.at(dx, pic.h - 1 - dy), pic.at(pic.w - 1 - dx, pic.h - 1 - dy)];
}

function near(got, want, what) {
  assert.ok(got.every((v, i) => Math.abs(v - want[i]) <= 48), `${what}: ${got} is not near ${want}`);
}

function looksLike(pic, w, h, quarters) {
  assert.deepEqual([pic.w, pic.h], [w, h]);
  corners(pic).forEach((c, i) => near(c, quarters[i], `quarter ${i + 1}`));
}

function mean(pic) {
  const sum = [0, 0, 0, 0];
  for (let y = 0; y < pic.h; y++) for (let x = 0; x < pic.w; x++) pic.at(x, y).forEach((v, i) => { sum[i] += v; });
  return sum.map((v) => Math.round(v / (pic.w * pic.h)));
}

/** The EXIF block of a JPEG (APP1): a little-endian TIFF with the orientation in its first directory and
 * the embedded picture in its second. */
function exifSegment({ orientation, embedded }) {
  const first = orientation === undefined ? [] : [[0x0112, 3, orientation]];
  const second = embedded ? [[0x0201, 4, 0], [0x0202, 4, embedded.length]] : [];
  const firstAt = 8, secondAt = firstAt + 6 + first.length * 12, dataAt = secondAt + 6 + second.length * 12;
  if (embedded) second[0][2] = dataAt;
  const tiff = Buffer.alloc(dataAt + (embedded ? embedded.length : 0));
  tiff.write('II*\0', 0, 'latin1');
  tiff.writeUInt32LE(firstAt, 4);
  const directory = (at, entries, next) => {
    tiff.writeUInt16LE(entries.length, at);
    entries.forEach(([tag, type, value], i) => {
      const e = at + 2 + i * 12;
      tiff.writeUInt16LE(tag, e);
      tiff.writeUInt16LE(type, e + 2);
      tiff.writeUInt32LE(1, e + 4);
      if (type === 3) tiff.writeUInt16LE(value, e + 8);
      else tiff.writeUInt32LE(value, e + 8);
    });
    tiff.writeUInt32LE(next, at + 2 + entries.length * 12);
  };
  directory(firstAt, first, embedded ? secondAt : 0);
  if (embedded) {
    directory(secondAt, second, 0);
    embedded.copy(tiff, dataAt);
  }
  const head = Buffer.from([0xff, 0xe1, 0, 0]);
  head.writeUInt16BE(2 + 6 + tiff.length, 2);
  return Buffer.concat([head, Buffer.from('Exif\0\0', 'latin1'), tiff]);
}

/** A JPEG with an EXIF block after its JFIF segment. */
function withExif(jpeg, exif) {
  const at = jpeg[3] === 0xe0 ? 4 + jpeg.readUInt16BE(4) : 2;
  return Buffer.concat([jpeg.subarray(0, at), exifSegment(exif), jpeg.subarray(at)]);
}

// ---- every format ------------------------------------------------------------------------------------

make('scene.png', QUARTERS(300, 200));
// [file, ImageMagick's options, output prefix, Windows' imaging component decodes it under Wine]
const FORMATS = [
  ['photo.jpg', ['-quality', '92'], '', true],
  ['progressive.jpg', ['-interlace', 'JPEG'], '', true],
  ['cmyk.jpg', ['-colorspace', 'CMYK'], '', true],
  ['photo.png', [], '', true],
  ['interlaced.png', ['-interlace', 'PNG'], '', true],
  ['deep.png', [], 'PNG48:', true],
  ['paletted.png', [], 'PNG8:', true],
  ['photo.gif', [], '', true],
  ['interlaced.gif', ['-interlace', 'GIF'], '', true],
  ['lossy.webp', ['-quality', '90'], '', false],
  ['lossless.webp', ['-define', 'webp:lossless=true'], '', false],
  ['photo.bmp', [], '', true],
  ['old.bmp', [], 'BMP3:', true],
];
for (const [name, args, spec, wic] of FORMATS) {
  make(name, [file('scene.png'), ...args], spec);
  test(`${name}: a 256x171 JPEG of its four quarters`, { skip: WIN && !wic && 'no decoder in Wine' }, () =>
    looksLike(picture(name), 256, 171, [RED, LIME, BLUE, WHITE]));
}

// [size, width, height]: never larger than the picture.
for (const [size, w, h] of [[undefined, 256, 171], ['128', 128, 85], ['256', 256, 171], ['512', 300, 200]]) {
  test(`size ${size ?? 'left out'} gives ${w}x${h}`, () =>
    looksLike(picture('photo.png', size ? { size } : {}), w, h, [RED, LIME, BLUE, WHITE]));
}

for (const size of ['100', '0', '1024', 'abc', '', ' 256', '256 ', '+256', '0256', '256px']) {
  test(`size "${size}" is a bad size`, () => assert.equal(thumb('photo.png', { size }).out.toString(), errOut(400, 'bad size')));
}

// ---- EXIF -------------------------------------------------------------------------------------------

// The stored quarters as each orientation shows them; 0 and 9 are no orientation and show it as stored.
const TURNS = [
  [1, [RED, LIME, BLUE, WHITE]], [2, [LIME, RED, WHITE, BLUE]], [3, [WHITE, BLUE, LIME, RED]],
  [4, [BLUE, WHITE, RED, LIME]], [5, [RED, BLUE, LIME, WHITE]], [6, [BLUE, RED, WHITE, LIME]],
  [7, [WHITE, LIME, BLUE, RED]], [8, [LIME, WHITE, RED, BLUE]], [0, [RED, LIME, BLUE, WHITE]],
  [9, [RED, LIME, BLUE, WHITE]],
];
const STORED = magick([...QUARTERS(60, 40), '-quality', '95', 'jpg:-']);
for (const [orientation, quarters] of TURNS) {
  build(R, { [`turn${orientation}.jpg`]: withExif(STORED, { orientation }) });
  const [w, h] = orientation >= 5 && orientation <= 8 ? [40, 60] : [60, 40];
  test(`EXIF orientation ${orientation} shows the picture ${w}x${h} as its camera saw it`, () =>
    looksLike(picture(`turn${orientation}.jpg`), w, h, quarters));
}

// A red photo whose camera embedded a blue picture of the same aspect (or, boxed, of another).
const PHOTO = magick(['-size', '1024x768', 'xc:red', '-strip', 'jpg:-']);
const EMBEDDED = magick(['-size', '256x192', 'xc:blue', '-strip', 'jpg:-']);
build(R, {
  'camera.jpg': withExif(PHOTO, { embedded: EMBEDDED }),
  'camera-turned.jpg': withExif(PHOTO, { orientation: 6, embedded: EMBEDDED }),
  'camera-boxed.jpg': withExif(PHOTO, { embedded: magick(['-size', '256x256', 'xc:blue', '-strip', 'jpg:-']) }),
});

test('an embedded picture that is already the thumbnail goes out as it is', () => {
  const r = thumb('camera.jpg');
  assert.equal(r.head, pictureHead('image/jpeg', EMBEDDED.length, etagOf(file('camera.jpg'), 't256')));
  assert.ok(r.body.equals(EMBEDDED), 'the body is not the embedded picture');
});

// [file, size, width, height, colour]: blue where the embedded picture was used, red where the photo was.
const EMBEDS = [
  ['camera.jpg', '128', 128, 96, BLUE], ['camera.jpg', '512', 512, 384, RED],
  ['camera-turned.jpg', '256', 192, 256, BLUE], ['camera-boxed.jpg', '128', 128, 96, RED],
];
for (const [name, size, w, h, colour] of EMBEDS) {
  test(`${name} at ${size} is ${w}x${h} from the ${colour === BLUE ? 'embedded picture' : 'photo itself'}`, () => {
    const pic = picture(name, { size });
    assert.deepEqual([pic.w, pic.h], [w, h]);
    near(mean(pic), colour, 'mean colour');
  });
}

// ---- transparency -----------------------------------------------------------------------------------

// [file, ImageMagick's options, output prefix, decoded under Wine]: a PNG, red on the left, clear on the right.
const CLEAR = [
  ['alpha.png', HALF, 'PNG32:', true], ['trns.png', HALF, 'PNG8:', true], ['alpha.gif', HALF, '', true],
  ['alpha.webp', HALF, '', false], ['alpha-lossless.webp', [...HALF, '-define', 'webp:lossless=true'], '', false],
  ['alpha.bmp', HALF, 'BMP:', true],
  ['small-frame.gif', ['-size', '40x40', 'xc:red', '-repage', '80x40+0+0'], '', true],
];
for (const [name, args, spec, wic] of CLEAR) {
  make(name, args, spec);
  test(`${name} with transparency gives a PNG that keeps it`, { skip: WIN && !wic && 'no decoder in Wine' }, () => {
    const pic = picture(name, {}, { type: 'image/png' });
    assert.deepEqual([pic.w, pic.h], [80, 40]);
    near(pic.at(10, 20), RED, 'the opaque half');
    assert.ok(pic.at(70, 20)[3] <= 8, `the clear half has alpha ${pic.at(70, 20)[3]}`);
  });
}

make('opaque.png', [file('scene.png')], 'PNG32:');
test('a picture with an alpha channel but no transparent pixel gives a JPEG', () =>
  looksLike(picture('opaque.png'), 256, 171, [RED, LIME, BLUE, WHITE]));

// ---- what cannot be made into a thumbnail -----------------------------------------------------------

const cut = (name) => fs.readFileSync(file(name)).subarray(0, Math.floor(fs.statSync(file(name)).size * 0.6));
// [file, bytes, decoded under Wine]
const BROKEN = [
  ...['photo.jpg', 'progressive.jpg', 'photo.png', 'interlaced.png', 'photo.gif', 'photo.bmp'].map((n) => [`cut-${n}`, cut(n), true]),
  ...['lossy.webp', 'lossless.webp'].map((n) => [`cut-${n}`, cut(n), false]),
  ['sig.png', Buffer.from('\x89PNG\r\n\x1a\n', 'latin1'), true], ['sig.jpg', Buffer.from([0xff, 0xd8, 0xff]), true],
  ['sig.gif', 'GIF89a', true], ['sig.webp', 'RIFF\x04\0\0\0WEBP', true],
  ['sig.bmp', Buffer.concat([Buffer.from('BM'), Buffer.alloc(12), Buffer.from([40, 0, 0, 0])]), true],
];
build(R, Object.fromEntries(BROKEN.map(([n, bytes]) => [n, bytes])));
for (const [name, , wic] of BROKEN) {
  test(`${name}: bad or truncated data cannot be decoded`, { skip: WIN && !wic && 'no decoder in Wine' }, () =>
    assert.equal(thumb(name).out.toString(), CANNOT_DECODE));
}

build(R, {
  'notes.jpg': 'just some text\n', 'empty.png': '', 'cars.bmp': 'BMW and others\n', 'clip.mp4': '\0\0\0\x18ftypmp42',
  'paper.pdf': '%PDF-1.4\n', 'drawing.svg': '<svg xmlns="http://www.w3.org/2000/svg"/>',
});
for (const name of ['notes.jpg', 'empty.png', 'cars.bmp', 'clip.mp4', 'paper.pdf', 'drawing.svg']) {
  test(`${name} is no picture whatever its name`, () => assert.equal(thumb(name).out.toString(), NO_THUMBNAIL));
}

make('moving.webp', ['-delay', '10', '-size', '30x20', 'xc:red', 'xc:blue', '-loop', '0']);
test('a moving WebP gets no thumbnail', posixOnly, () => assert.equal(thumb('moving.webp').out.toString(), NO_THUMBNAIL));

// A small file whose header declares a size: patched into a small picture of the format.
const patched = (name, patch) => {
  const bytes = Buffer.from(fs.readFileSync(file(name)));
  patch(bytes);
  return bytes;
};
const pngOf = (w, h) => patched('photo.png', (b) => {
  b.writeUInt32BE(w, 16);
  b.writeUInt32BE(h, 20);
  b.writeUInt32BE(zlib.crc32(b.subarray(12, 29)), 29);
});
const jpegOf = (name, w, h) => patched(name, (b) => {
  let at = 2;
  while (b[at + 1] !== 0xc0 && b[at + 1] !== 0xc2) at += 2 + b.readUInt16BE(at + 2);
  b.writeUInt16BE(h, at + 5);
  b.writeUInt16BE(w, at + 7);
});
const bmpOf = (w, h) => patched('photo.bmp', (b) => {
  b.writeUInt32LE(w, 18);
  b.writeUInt32LE(h, 22);
});
// [file, bytes, decoded under Wine]: the first five declare more than 100,000,000 pixels; the others fewer,
// but more than their decoders could hold in the memory the program allows itself.
const BOMBS = [
  ['bomb.png', pngOf(100000, 100000), true],
  ['bomb.jpg', jpegOf('photo.jpg', 60000, 60000), true],
  ['bomb.gif', patched('photo.gif', (b) => b.writeUInt32LE(0xffffffff, 6)), true],
  ['bomb.webp', patched('lossy.webp', (b) => b.writeUInt32LE(0x3fff3fff, 26)), true],
  ['bomb.bmp', bmpOf(30000, 30000), true],
  ['deep-bomb.jpg', jpegOf('progressive.jpg', 9000, 9000), false],
  ['deep-bomb.bmp', bmpOf(8000, 8000), false],
  // A lossless WebP's size: 14 bits each, less one, below its alpha and version bits.
  ['deep-bomb.webp', patched('lossless.webp', (b) => b.writeUInt32LE(((b.readUInt32LE(21) & 0xf0000000) | (5999 << 14) | 15999) >>> 0, 21)), false],
];
build(R, Object.fromEntries(BOMBS.map(([n, bytes]) => [n, bytes])));
for (const [name, , wic] of BOMBS) {
  test(`${name}, a small file declaring a huge picture, is refused before decoding`, { skip: WIN && !wic && 'decoded by the system on Windows' }, () =>
    assert.equal(thumb(name).out.toString(), TOO_LARGE));
}

// [FILES_THUMB_MAX_PIXELS, refused]: photo.png has 60,000 pixels; a setting that is no number is the default.
for (const [limit, refused] of [['59999', true], ['60000', false], ['', false], ['abc', false], ['6e4', false]]) {
  test(`FILES_THUMB_MAX_PIXELS="${limit}" ${refused ? 'refuses' : 'takes'} a picture of 60000 pixels`, () => {
    const r = thumb('photo.png', {}, { env: { FILES_THUMB_MAX_PIXELS: limit } });
    if (refused) assert.equal(r.out.toString(), TOO_LARGE);
    else assert.match(r.head, /^Content-Type: image\/jpeg\r\n/);
  });
}

build(R, { folder: DIR, 'huge.jpg': { size: 67108865 } });
const OUTSIDE = tmpBase();
build(OUTSIDE, { 'secret.png': fs.readFileSync(file('photo.png')) });
// [path, answer]
const PATHS = [
  [file('folder'), errOut(400, 'not a regular file')], [file('missing.png'), errOut(404, 'path not found')],
  [file('huge.jpg'), errOut(413, 'file larger than 64 MiB')], [`${OUTSIDE}/secret.png`, errOut(403, 'path not allowed')],
];
for (const [p, answer] of PATHS) {
  test(`thumb of ${p.slice(p.lastIndexOf('/') + 1)} answers as every action does`, () =>
    assert.equal(api({ action: 'thumb', path: p }, { roots: [R] }).out.toString(), answer));
}

// ---- caching ----------------------------------------------------------------------------------------

setMtime(file('photo.png'), 1709647629);
const VERSION = `${fs.statSync(file('photo.png')).size}-2024-03-05T14:07:09Z`;
// [v=, the keeping]: only the version the file has now makes the address name these bytes for good.
for (const [v, keep] of [[VERSION, KEEP], [`${VERSION}x`, CHECK], ['1-2024-03-05T14:07:09Z', CHECK], ['', CHECK]]) {
  test(`v="${v}" is ${keep === KEEP ? 'kept for a year' : 'asked again each time'}`, () =>
    looksLike(picture('photo.png', { v }, { keep }), 256, 171, [RED, LIME, BLUE, WHITE]));
}

test('If-None-Match with the tag gets a 304 that keeps as the thumbnail does', () => {
  const tag = etagOf(file('photo.png'), 't128');
  for (const [v, keep] of [[VERSION, KEEP], [undefined, CHECK]]) {
    const r = thumb('photo.png', { size: '128', ...(v ? { v } : {}) }, { env: { HTTP_IF_NONE_MATCH: `"x", ${tag}` } });
    assert.equal(r.out.toString(), `Status: 304 Not Modified\r\nX-Content-Type-Options: nosniff\r\n${keep}\r\nETag: ${tag}\r\n\r\n`);
  }
});

build(R, { 'changing.png': fs.readFileSync(file('photo.png')) });
test('a tag of another size or of the file before it changed is no match', () => {
  const before = etagOf(file('changing.png'), 't128');
  setMtime(file('changing.png'), 1709647629);
  for (const tag of [etagOf(file('changing.png'), 't256'), before]) {
    const r = thumb('changing.png', { size: '128' }, { env: { HTTP_IF_NONE_MATCH: tag } });
    assert.match(r.head, /^Content-Type: image\/jpeg\r\n/);
  }
});

test('HEAD gets the same header block and no body', () => {
  const get = thumb('photo.png');
  const head = thumb('photo.png', {}, { env: { REQUEST_METHOD: 'HEAD' } });
  assert.equal(head.out.toString('latin1'), get.head);
});

// A copy of the program has slots of its own, named by FNV-1a of its path: a socket name in Linux's
// abstract namespace for each. Python binds slot 0 (Node cannot bind such a name at its exact length)
// and holds it until its input ends.
function holdSlot(program) {
  let h = 14695981039346656037n;
  for (const byte of Buffer.from(fs.realpathSync(program))) h = ((h ^ BigInt(byte)) * 1099511628211n) & 0xffffffffffffffffn;
  const name = `plugin_files-${h.toString(16).padStart(16, '0')}-0`;
  const script = 'import socket, sys\ns = socket.socket(socket.AF_UNIX)\ns.bind(b"\\0" + sys.argv[1].encode())\n' +
    'print("held", flush=True)\nsys.stdin.read()\n';
  const holder = spawn('python3', ['-c', script, name], { stdio: ['pipe', 'pipe', 'inherit'] });
  return new Promise((resolve, reject) => {
    holder.once('error', reject).once('exit', () => reject(new Error('the slot could not be held')));
    holder.stdout.once('data', () => resolve(holder));
  });
}

test('with every heavy slot taken a 304 still comes at once, and new work is turned away', posixOnly, async () => {
  const copy = `${tmpBase()}/plugin_files`;
  fs.copyFileSync(PROGRAM, copy);
  fs.chmodSync(copy, 0o755);
  const holder = await holdSlot(copy);
  try {
    const tag = etagOf(file('photo.png'), 't256');
    const ask = (env) => api({ action: 'thumb', path: file('photo.png') }, { roots: [R], cmd: [copy], env: { FILES_HEAVY_MAX: '1', ...env } });
    assert.equal(ask({ HTTP_IF_NONE_MATCH: tag }).out.toString(), `Status: 304 Not Modified\r\nX-Content-Type-Options: nosniff\r\n${CHECK}\r\nETag: ${tag}\r\n\r\n`);
    assert.match(ask({}).out.toString(), /^Status: 503 Service Unavailable\r\n[^]*Retry-After: 2\r\n\r\n\{"ok":false,"error":"busy"\}\n$/);
  } finally {
    holder.removeAllListeners('exit');
    const gone = new Promise((resolve) => holder.once('exit', resolve));
    holder.stdin.end();
    await gone;
  }
});
