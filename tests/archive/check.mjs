// Compares one archive file with the tree it was made of (directories and regular files only, no links):
// every reader accepts it and every entry matches by name and SHA-256; with names, the tree is only those
// entries of TREE, each with what lies beneath it. Usage: check.mjs ARCHIVE TREE [NAME...]
import assert from 'node:assert/strict';
import { createHash } from 'node:crypto';
import fs from 'node:fs';
import { readArchiveFile } from '../cgi/archive.mjs';

const [archive, tree, ...names] = process.argv.slice(2);

async function digest(file) {
  const h = createHash('sha256');
  for await (const piece of fs.createReadStream(file, { highWaterMark: 1 << 20 })) h.update(piece);
  return h.digest('hex');
}

async function expected(dir, prefix, out, only = null) {
  for (const e of fs.readdirSync(dir, { withFileTypes: true }).filter((e) => !only || only.includes(e.name))) {
    const name = `${prefix}${e.name}`;
    if (e.isDirectory()) {
      out.push([`${name}/`, 'dir']);
      await expected(`${dir}/${e.name}`, `${name}/`, out);
    } else {
      out.push([name, await digest(`${dir}/${e.name}`)]);
    }
  }
  return out;
}

const got = readArchiveFile(archive).map((e) => [e.name.toString('latin1'), e.dir ? 'dir' : e.sha]).sort();
assert.deepEqual(got, (await expected(tree, '', [], names.length ? names : null)).sort());
console.log(`archive: ${got.length} entries, all four readers agree with the tree`);
