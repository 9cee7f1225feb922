// Makes the trees of bench/search: `names DIR` a tree of 200,000 entries (folders one to eight levels deep,
// names shaped like those of a home directory, a project and a photo library), `text DIR SOURCES...` 200 MB
// of source files cut from SOURCES and of log files. The same tree every time: a fixed seed.
import fs from 'node:fs';
import path from 'node:path';

let seed = 0x2545f491;
const rand = (n) => {
  seed ^= seed << 13; seed >>>= 0; seed ^= seed >>> 17; seed ^= seed << 5; seed >>>= 0;
  return seed % n;
};
const pick = (xs) => xs[rand(xs.length)];

const WORDS = ['src', 'lib', 'test', 'docs', 'build', 'assets', 'images', 'config', 'scripts', 'vendor', 'util',
  'core', 'api', 'models', 'views', 'static', 'data', 'backup', 'archive', 'notes', 'projects', 'music', 'photos',
  'Invoices', 'Reports', 'Downloads', 'Desktop', 'old', 'tmp', 'cache', 'release', 'v2', 'internal', 'common'];
const STEMS = ['main', 'index', 'utils', 'helpers', 'parser', 'server', 'client', 'README', 'LICENSE', 'Makefile',
  'config', 'settings', 'notes', 'todo', 'budget', 'invoice', 'letter', 'draft', 'summary', 'schema', 'handler',
  'router', 'widget', 'theme', 'styles', 'app', 'module', 'test_main', 'setup', 'CHANGELOG', 'report'];
const EXTS = ['.c', '.h', '.cpp', '.js', '.ts', '.py', '.go', '.rs', '.md', '.txt', '.json', '.yaml', '.html',
  '.css', '.png', '.jpg', '.pdf', '.docx', '.xlsx', '.log', '.csv', '.sh', ''];

function fileName() {
  switch (rand(10)) {
    case 0: return `IMG_20${10 + rand(15)}${String(1 + rand(12)).padStart(2, '0')}${String(1 + rand(28)).padStart(2, '0')}_${rand(1000000)}.jpg`;
    case 1: return `${pick(STEMS)}-${2015 + rand(10)}-Q${1 + rand(4)}${pick(EXTS)}`;
    case 2: return `${pick(STEMS)}_${rand(500)}${pick(EXTS)}`;
    case 3: return `${pick(STEMS)} (${1 + rand(5)})${pick(EXTS)}`;
    case 4: return `.${pick(['gitignore', 'env', 'bashrc', 'editorconfig', 'DS_Store'])}`;
    default: return `${pick(STEMS)}${pick(EXTS)}`;
  }
}

function names(top, total) {
  let made = 0;
  const queue = [[top, 0]];
  fs.mkdirSync(top, { recursive: true });
  while (queue.length && made < total) {
    const [dir, depth] = queue.shift();
    const taken = new Set();
    const files = 3 + rand(14);
    for (let i = 0; i < files && made < total; i++) {
      const n = fileName();
      if (taken.has(n)) continue;
      taken.add(n);
      fs.writeFileSync(path.join(dir, n), '');
      made++;
    }
    const dirs = depth >= 8 ? 0 : depth < 2 ? 5 + rand(6) : rand(6);
    for (let i = 0; i < dirs && made < total; i++) {
      const n = rand(6) ? pick(WORDS) + (rand(3) ? '' : `_${rand(100)}`) : `.${pick(['git', 'cache', 'config'])}`;
      if (taken.has(n)) continue;
      taken.add(n);
      fs.mkdirSync(path.join(dir, n));
      made++;
      queue.push([path.join(dir, n), depth + 1]);
    }
    if (!queue.length && made < total) {
      const more = fs.mkdtempSync(path.join(top, 'more-'));
      made++;
      queue.push([more, 1]);
    }
  }
  return made;
}

const LEVELS = ['INFO', 'INFO', 'INFO', 'DEBUG', 'WARN', 'ERROR'];
const EVENTS = ['request served', 'cache miss for key', 'connection accepted from', 'worker started',
  'query took', 'retrying upload of', 'session opened for user', 'flushed buffers in', 'health check ok'];
function logText(bytes, n) {
  const lines = [];
  let size = 0;
  for (let i = 0; size < bytes; i++) {
    const t = new Date(Date.UTC(2024, 0, 1) + (n * 1e7 + i) * 997).toISOString();
    const rare = rand(4000) === 0 ? ' deadline exceeded while waiting' : '';
    const line = `${t} ${pick(LEVELS)} [worker-${rand(16)}] ${pick(EVENTS)} ${rand(100000)} ms=${rand(900)}${rare}\n`;
    lines.push(line);
    size += line.length;
  }
  return lines.join('');
}

function text(top, sources) {
  const source = Buffer.concat(sources.map((f) => fs.readFileSync(f)));
  let made = 0;
  for (let d = 0; made < 100e6; d++) {
    const dir = path.join(top, 'src', `module${d % 40}`, `part${d}`);
    fs.mkdirSync(dir, { recursive: true });
    for (let f = 0; f < 25 && made < 100e6; f++) {
      const len = 2000 + rand(22000);
      const at = rand(source.length - len);
      fs.writeFileSync(path.join(dir, `${pick(STEMS)}_${f}${pick(['.c', '.h', '.js', '.py', '.cpp'])}`), source.subarray(at, at + len));
      made += len;
    }
  }
  fs.mkdirSync(path.join(top, 'logs'), { recursive: true });
  for (let n = 0; made < 200e6; n++) {
    const t = logText(4e6 + rand(4e6), n);
    fs.writeFileSync(path.join(top, 'logs', `app-${n}.log`), t);
    made += t.length;
  }
  return made;
}

const [what, top, ...rest] = process.argv.slice(2);
console.log(what === 'names' ? names(top, 200000) : text(top, rest));
