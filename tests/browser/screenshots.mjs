// Takes the README's screenshots from the running page: run by scripts/screenshots, which builds, serves
// a demo tree and passes its URL.
//   node tests/browser/screenshots.mjs demo DIR        writes the demo tree under DIR
//   node tests/browser/screenshots.mjs shoot URL OUT   saves screenshot-{dark,light,narrow}.png in OUT
import path from 'node:path';
import { chromium } from 'playwright-core';
import { png, put } from './fixtures.mjs';

// Hills under an evening sky with a low sun.
function hills() {
  return png(640, 400, (x, y) => {
    const t = y / 400;
    const d = Math.hypot(x - 450, y - 150);
    if (d < 56) return [255, 214, 10];
    const glow = Math.max(0, 1 - d / 300) * 70;
    if (y > 300 + 34 * Math.sin(x / 90) + 12 * Math.sin(x / 23)) return [38, 96 + 50 * t, 72];
    if (y > 270 + 40 * Math.sin(x / 130 + 2)) return [70, 128 + 30 * t, 96];
    return [Math.min(255, 60 + 150 * t + glow), Math.min(255, 90 + 90 * t + glow), Math.min(255, 200 + 30 * t)];
  });
}

const README = `# Field notes

A small tree to show how **files** previews what it finds.

## What is here

- \`photos/\` holds pictures of the hills
- \`src/\` has a little program in C
- *Everything* is read-only: nothing is ever written

## Getting started

1. Pick a root on the left
2. Move with the arrow keys, open with Enter
3. Press Backspace to go up

\`\`\`sh
scripts/serve ~/projects ~/notes
\`\`\`

> Add theme=light to the address for the light theme.

More on the [project page](https://example.com/files).
`;

function demoTree(dir) {
  const root = path.join(dir, 'projects');
  put(path.join(root, 'README.md'), README);
  put(path.join(root, 'photos', 'hills.png'), hills());
  put(path.join(root, 'photos', 'dusk.png'), png(64, 40, (x, y) => [250, 120 + 2 * y, 60 + x]));
  put(path.join(root, 'src', 'main.c'), '#include <stdio.h>\n\nint main(void)\n{\n    puts("hello");\n    return 0;\n}\n');
  put(path.join(root, 'src', 'util.h'), '#pragma once\nint add(int a, int b);\n');
  put(path.join(root, 'notes', 'todo.txt'), 'water the plants\nbuy coffee\n');
  put(path.join(root, 'notes', 'ideas.md'), '# Ideas\n\n- a garden planner\n- a recipe box\n');
  put(path.join(root, 'archive', '2023.log'), 'nothing to see\n'.repeat(300));
  put(path.join(root, 'budget.csv'), 'month,amount\njan,120\nfeb,95\n'.repeat(40));
  put(path.join(root, 'config.json'), '{ "theme": "dark", "roots": 2 }\n');
  put(path.join(root, 'LICENSE'), 'Permission is granted to read these notes.\n'.repeat(25));
  put(path.join(dir, 'notes', 'journal.md'), '# Journal\n\nA quiet day.\n');
}

async function shoot(base, out) {
  const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--headless', '--no-sandbox', '--disable-gpu'] });
  const take = async (name, { query = '', width = 1280, height = 760, scale = 1, steps }) => {
    const context = await browser.newContext({ viewport: { width, height }, deviceScaleFactor: scale, colorScheme: 'dark' });
    const page = await context.newPage();
    await page.goto(`${base}/plugin_files${query}`);
    await page.waitForSelector('#roots .root');
    for (const step of steps) {
      if (step.startsWith('#')) await page.click(step);
      else await page.locator('#entries .row').filter({ has: page.getByText(step, { exact: true }) }).click();
      await page.waitForLoadState('networkidle');
      // A listing drawn after the network went quiet still belongs in the picture.
      await page.waitForSelector('#entries .row');
    }
    // No hover highlight on whatever was clicked last.
    await page.mouse.move(width - 1, height - 1);
    await page.evaluate(() => document.fonts.ready);
    await page.screenshot({ path: path.join(out, `screenshot-${name}.png`) });
    await context.close();
  };
  await take('dark', { query: '#sort=size&desc=1', steps: ['README.md'] });
  await take('light', { query: '?theme=light', steps: ['photos', 'hills.png'] });
  await take('narrow', { width: 390, height: 720, scale: 2, steps: ['#roots .root'] });
  await browser.close();
}

const [command, a, b] = process.argv.slice(2);
if (command === 'demo' && a) demoTree(a);
else if (command === 'shoot' && a && b) await shoot(a, b);
else {
  console.error('usage: screenshots.mjs demo DIR | shoot URL OUT');
  process.exit(2);
}
