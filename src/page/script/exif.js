  /* ---------- EXIF ---------- */

  /* exifOf(bytes) reads what a camera wrote into a JPEG's EXIF block, from the file's first bytes (a
     Uint8Array): { taken, camera, exposure }, each a text, "" where the block lacks it; null when the
     bytes hold no EXIF block. Pure: it needs nothing of the page (tests/page run it on its own). Bytes cut
     short or pointing outside the block read as absent fields, never as an error. */
  function exifOf(bytes) {
    const TAG_MAKE = 0x010f;
    const TAG_MODEL = 0x0110;
    const TAG_EXIF_IFD = 0x8769;
    const TAG_EXPOSURE = 0x829a;
    const TAG_F_NUMBER = 0x829d;
    const TAG_ISO = 0x8827;
    const TAG_TAKEN = 0x9003;
    const TAG_FOCAL = 0x920a;
    // The sizes of TIFF's field types, by number: byte, ASCII, short, long, rational and their signed kin.
    const TYPE_BYTES = [0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8];

    // The TIFF block of the APP1 segment that holds "Exif\0\0", as [start, end], or null.
    function tiffBlock() {
      if (bytes.length < 4 || bytes[0] !== 0xff || bytes[1] !== 0xd8) return null;
      let at = 2;
      while (at + 4 <= bytes.length && bytes[at] === 0xff) {
        const marker = bytes[at + 1];
        const len = (bytes[at + 2] << 8) | bytes[at + 3];
        if (marker === 0xda || len < 2) return null;
        if (marker === 0xe1 && len >= 16 && String.fromCharCode.apply(null, bytes.subarray(at + 4, at + 10)) === "Exif\0\0") {
          return [at + 10, Math.min(bytes.length, at + 2 + len)];
        }
        at += 2 + len;
      }
      return null;
    }

    const block = tiffBlock();
    if (!block) return null;
    const base = block[0];
    const end = block[1];
    const little = bytes[base] === 0x49 && bytes[base + 1] === 0x49;
    if (!little && !(bytes[base] === 0x4d && bytes[base + 1] === 0x4d)) return null;

    // Numbers at offsets from the block's start, or -1 past its end.
    function u16(off) {
      const a = base + off;
      if (off < 0 || a + 2 > end) return -1;
      return little ? bytes[a] | (bytes[a + 1] << 8) : (bytes[a] << 8) | bytes[a + 1];
    }

    function u32(off) {
      const hi = u16(little ? off + 2 : off);
      const lo = u16(little ? off : off + 2);
      return hi < 0 || lo < 0 ? -1 : hi * 65536 + lo;
    }

    // An IFD's fields by tag: { type, count, at }, at being where the value lies.
    function fields(off) {
      const out = new Map();
      const n = u16(off);
      for (let i = 0; i < n; i++) {
        const entry = off + 2 + 12 * i;
        const type = u16(entry + 2);
        const count = u32(entry + 4);
        if (type < 1 || type >= TYPE_BYTES.length || count < 0) continue;
        const size = TYPE_BYTES[type] * count;
        out.set(u16(entry), { type: type, count: count, at: size <= 4 ? entry + 8 : u32(entry + 8) });
      }
      return out;
    }

    function text(f) {
      if (!f || f.type !== 2 || f.at < 0 || base + f.at + f.count > end) return "";
      let s = "";
      for (let i = 0; i < f.count && bytes[base + f.at + i]; i++) s += String.fromCharCode(bytes[base + f.at + i]);
      return s.trim();
    }

    // A rational as [numerator, denominator], null when absent or with no denominator.
    function ratio(f) {
      if (!f || f.type !== 5) return null;
      const num = u32(f.at);
      const den = u32(f.at + 4);
      return num < 0 || den <= 0 ? null : [num, den];
    }

    function whole(f) {
      if (!f || (f.type !== 3 && f.type !== 4)) return -1;
      return f.type === 3 ? u16(f.at) : u32(f.at);
    }

    function round(x, places) {
      const m = Math.pow(10, places);
      return String(Math.round(x * m) / m);
    }

    const ifd0 = fields(u32(4));
    const sub = ifd0.has(TAG_EXIF_IFD) ? fields(whole(ifd0.get(TAG_EXIF_IFD))) : new Map();
    const make = text(ifd0.get(TAG_MAKE));
    const model = text(ifd0.get(TAG_MODEL));
    // A model often repeats its maker's name.
    const camera = model.toLowerCase().indexOf(make.toLowerCase()) === 0 ? model : (make + " " + model).trim();
    const taken = text(sub.get(TAG_TAKEN)).replace(/^(\d{4}):(\d\d):(\d\d)/, "$1-$2-$3");
    const parts = [];
    const t = ratio(sub.get(TAG_EXPOSURE));
    if (t && t[0] > 0) parts.push((t[0] < t[1] ? "1/" + round(t[1] / t[0], 0) : round(t[0] / t[1], 1)) + " s");
    const fn = ratio(sub.get(TAG_F_NUMBER));
    if (fn) parts.push("f/" + round(fn[0] / fn[1], 1));
    const iso = whole(sub.get(TAG_ISO));
    if (iso > 0) parts.push("ISO " + iso);
    const focal = ratio(sub.get(TAG_FOCAL));
    if (focal) parts.push(round(focal[0] / focal[1], 1) + " mm");
    return { taken: taken, camera: camera, exposure: parts.join(" \u00b7 ") };
  }
