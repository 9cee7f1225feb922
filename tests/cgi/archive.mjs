// Reads a ZIP archive the program wrote with four independent readers: Python's zipfile lists every
// entry (name bytes, kind, flags, method, times, SHA-256 of the contents) and the other three only have
// to accept the archive whole, CRCs included. Shared with the slow stage (tests/archive), whose single
// archive is too large to hold in memory, hence the digests instead of the bytes.
import assert from 'node:assert/strict';
import { createHash } from 'node:crypto';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

const LIST = `
import hashlib, json, struct, sys, zipfile
def unix_time(extra):
    while len(extra) >= 4:
        tag, size = struct.unpack('<HH', extra[:4])
        if tag == 0x5455:
            return struct.unpack('<i', extra[5:9])[0]
        extra = extra[4 + size:]
    return None
out = []
with zipfile.ZipFile(sys.argv[1]) as z:
    for i in z.infolist():
        raw = i.orig_filename.encode('utf-8' if i.flag_bits & 0x800 else 'cp437')
        h = hashlib.sha256()
        with z.open(i) as f:
            for piece in iter(lambda: f.read(1 << 20), b''):
                h.update(piece)
        out.append({'name': raw.hex(), 'dir': i.is_dir(), 'utf8': bool(i.flag_bits & 0x800), 'method': i.compress_type,
                    'size': i.file_size, 'sha': h.hexdigest(), 'dos': list(i.date_time), 'unix': unix_time(i.extra)})
json.dump(out, sys.stdout)
`;

function tool(cmd, args) {
  const r = spawnSync(cmd, args, { maxBuffer: 1 << 28 });
  return { status: r.status, text: `${r.stdout}${r.stderr}` };
}

export const sha = (bytes) => createHash('sha256').update(bytes).digest('hex');

/**
 * Checks the archive in `file` with every reader and returns Python's list of its entries, each with its
 * name as a Buffer. An archive without entries is valid, but Info-ZIP's unzip calls that a warning
 * (status 1, "zipfile is empty").
 */
export function readArchiveFile(file) {
  const py = tool('python3', ['-c', LIST, file]);
  assert.equal(py.status, 0, `zipfile: ${py.text}`);
  const entries = JSON.parse(py.text).map((e) => ({ ...e, name: Buffer.from(e.name, 'hex') }));
  const unzip = tool('unzip', ['-tq', file]);
  if (entries.length === 0) assert.match(unzip.text, /zipfile is empty/);
  else assert.equal(unzip.status, 0, `unzip -t: ${unzip.text}`);
  const bsdtar = tool('sh', ['-c', 'bsdtar -xOf "$1" >/dev/null', 'sh', file]);
  assert.equal(bsdtar.status, 0, `bsdtar: ${bsdtar.text}`);
  const sevenz = tool('7z', ['t', '-bd', file]);
  assert.equal(sevenz.status, 0, `7z t: ${sevenz.text}`);
  return entries;
}

/** The same for an archive in memory. */
export function readArchive(bytes) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'pf-zip-'));
  try {
    fs.writeFileSync(`${dir}/a.zip`, bytes);
    return readArchiveFile(`${dir}/a.zip`);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

// Each extractor writes into the last of these folders, three levels down in a scratch tree of its own,
// so that a name that climbs out of it lands where the tree still shows it.
export const SCRATCH = ['one/', 'one/two/', 'one/two/three/', 'one/two/three/out/'];
const EXTRACT = {
  zipfile: (file, out) => ['python3', ['-c', 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])', file, out]],
  unzip: (file, out) => ['unzip', ['-qo', file, '-d', out]],
  'bsdtar -xP': (file, out) => ['bsdtar', ['-xPf', file, '-C', out]],
  '7z x': (file, out) => ['7z', ['x', '-y', '-bd', `-o${out}`, file]],
};

/**
 * Extracts the archive with every extractor, absolute and climbing names allowed where the tool has such
 * a switch, and returns for each the sorted paths its scratch tree then holds ("/" after a directory).
 */
export function extractEverywhere(bytes) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'pf-unzip-'));
  try {
    fs.writeFileSync(`${dir}/a.zip`, bytes);
    const found = {};
    for (const [name, command] of Object.entries(EXTRACT)) {
      const top = `${dir}/${name.replace(/\W/g, '')}`;
      fs.mkdirSync(`${top}/${SCRATCH.at(-1)}`, { recursive: true });
      const r = tool(...command(`${dir}/a.zip`, `${top}/${SCRATCH.at(-1)}`));
      assert.equal(r.status, 0, `${name}: ${r.text}`);
      found[name] = fs.readdirSync(top, { recursive: true, withFileTypes: true })
        .map((e) => path.relative(top, path.join(e.parentPath ?? e.path, e.name)) + (e.isDirectory() ? '/' : '')).sort();
    }
    return found;
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}
