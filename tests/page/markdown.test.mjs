// The Markdown renderer (src/page/script/markdown.js) run on its own against a DOM of linkedom's: the
// script part is evaluated as it stands and must need nothing of the page.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { test } from 'node:test';
import vm from 'node:vm';
import { parseHTML } from 'linkedom';

const source = fs.readFileSync(new URL('../../src/page/script/markdown.js', import.meta.url), 'utf8');
const markdown = vm.runInNewContext(`${source}\nmarkdown;`, {});
const { document } = parseHTML('<!DOCTYPE html><html><body></body></html>');

// Markup as a browser writes it out, but attributes in the order of their names.
const ESCAPES = { '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', '\u00a0': '&nbsp;' };
const esc = (s, re) => s.replace(re, (c) => ESCAPES[c]);
function html(n) {
  if (n.nodeType === 3) return esc(n.data, /[&<>\u00a0]/g);
  const attrs = [...n.attributes].map((a) => ` ${a.name}="${esc(a.value, /[&"\u00a0]/g)}"`).sort().join('');
  const end = ['hr', 'img', 'input'].includes(n.localName) ? '' : `${[...n.childNodes].map(html).join('')}</${n.localName}>`;
  return `<${n.localName}${attrs}>${end}`;
}

// Cases: a name, the source, and the exact markup the renderer builds inside its box, with images beside
// the document taken from /r/docs/.
const A = ' rel="noopener noreferrer" target="_blank"';
// What the page does with local links, fenced code and drawings, written as attributes to compare.
const HOOKS = {
  rawUrl: (p) => `raw:${p}`,
  link: (a, p) => a.setAttribute('href', `local:${p}`),
  code: (c, lang) => c.setAttribute('class', `lang-${lang}`),
  drawing: (img, p) => img.setAttribute('data-drawing', p),
};
const CASES = [
  ['fence.md', '```js\nconst a = 1 < 2;\n**not bold**\n``` closing info\nafter',
    '<pre><code class="lang-js">const a = 1 &lt; 2;\n**not bold**</code></pre><p>after</p>'],
  ['fence-open.md', 'text\n```\ncode\n# no heading', '<p>text</p><pre><code>code\n# no heading</code></pre>'],
  ['fence-indented.md', '  ```\nx', '<p>  <code></code>` x</p>'],
  ['headings.md', '# One\n## Two\n### Three\n#### Four\n##### Five\n#NoSpace\n# Kept #\n## A `b` *c*',
    '<h1>One</h1><h2>Two</h2><h3>Three</h3><h4>Four</h4><p>##### Five #NoSpace</p><h1>Kept #</h1>' +
    '<h2>A <code>b</code> <em>c</em></h2>'],
  ['unicode-space.md', '#\u00a0Title\n-\u3000item\n\u2003\u00a0\n# a\u2028b',
    '<h1>Title</h1><ul><li>item</li></ul><p># a\u2028b</p>'],
  ['lists.md', '- a\n* b\n1. c\n22. d\n  + e\n\n3. x\n7. **y**',
    '<ul><li>a</li><li>b</li></ul><ol><li>c</li><li>d</li></ol><ul><li>e</li></ul><ol><li>x</li><li><strong>y</strong></li></ol>'],
  ['list-continued.md', '- item\ncontinued *here*\n- next\n\npara',
    '<ul><li>item continued <em>here</em></li><li>next</li></ul><p>para</p>'],
  ['quotes.md', '> one\n> two `c`\n>> nested\n>tight\n\n> - item\n\nafter', '<blockquote><p>one two <code>c</code></p>' +
    '<blockquote><p>nested</p></blockquote><p>tight</p></blockquote><blockquote><ul><li>item</li></ul></blockquote><p>after</p>'],
  ['comments.md', 'a <!-- hidden --> b\n<!-- a comment\nover lines -->\nc\n\n<!-- only -->\n```\n<!-- kept in code -->\n```',
    '<p>a  b c</p><pre><code>&lt;!-- kept in code --&gt;</code></pre>'],
  ['footnotes.md', 'A claim[^1] and another[^note], again[^1], unknown[^x].\n\n[^note]: The *second*.\n[^1]: The first.',
    '<p>A claim<sup class="fnref"><a href="#fn-1">1</a></sup> and another<sup class="fnref"><a href="#fn-note">2</a></sup>, ' +
    'again<sup class="fnref"><a href="#fn-1">1</a></sup>, unknown[^x].</p><section class="footnotes"><ol>' +
    '<li>The first. <a href="#fnref-1">\u21a9</a></li><li>The <em>second</em>. <a href="#fnref-note">\u21a9</a></li></ol></section>'],
  ['front-matter.md', '---\ntitle: A "page"\ntags:\n  - one\n  - two\nempty:\n---\n# Body',
    '<table class="fm"><tbody><tr><th>title</th><td>A "page"</td></tr><tr><th>tags</th><td>- one - two</td></tr>' +
    '<tr><th>empty</th><td></td></tr></tbody></table><h1>Body</h1>'],
  ['fence-language.md', '```c\nint x;\n```\n```\nplain\n```', '<pre><code class="lang-c">int x;</code></pre><pre><code>plain</code></pre>'],
  ['rules.md', '---\n***\n___\n  -----  \n* * *\n\npara\n---', '<hr><hr><hr><hr><ul><li><em> </em></li></ul><p>para</p><hr>'],
  ['paragraphs.md', 'one\ntwo\n\nthree\n \t \nfour', '<p>one two</p><p>three</p><p>four</p>'],
  ['inline.md', '`code *x*` **bold [x](y)** *em `c`* [site](https://example.com/a) 2 * 3 * 4 ``',
    '<p><code>code *x*</code> <strong>bold [x](y)</strong> <em>em `c`</em> ' +
    `<a href="https://example.com/a"${A}>site</a> 2 <em> 3 </em> 4 <code></code></p>`],
  ['links.md', '[a](http://x.org) [b](HTTPS://X.ORG) [c](/abs) [d](#top) [e](MailTo:a@b.c) [f](notes.md) ' +
    '[g](javascript:alert(1)) [h](JavaScript:x) [i](data:text/html,hi) [j](vbscript:x) [k]( http://x.org) ' +
    '[l](//elsewhere.org/x) [m](../up/) [n](sub%20dir/a.md#part) [o](\\\\host\\share)',
  `<p><a href="http://x.org"${A}>a</a> <a href="HTTPS://X.ORG"${A}>b</a> <a href="local:/abs">c</a> ` +
    '<a href="#top">d</a> ' + `<a href="MailTo:a@b.c"${A}>e</a> <a href="local:/r/docs/notes.md">f</a> g) h i j k ` +
    `<a href="//elsewhere.org/x"${A}>l</a> <a href="local:/r/up">m</a> <a href="local:/r/docs/sub dir/a.md">n</a> o</p>`],
  ['nested.md', '- a\n  - b\n    1. c\n  - d\n- e\n1. f\n   - g\n- [ ] open\n- [x] done *now*\n- [X]no space\n\n1. [ ] not a task',
    '<ul><li>a<ul><li>b<ol><li>c</li></ol></li><li>d</li></ul></li><li>e</li></ul><ol><li>f<ul><li>g</li></ul></li></ol>' +
    '<ul><li class="task"><input disabled="" type="checkbox">open</li><li class="task"><input checked="" disabled="" type="checkbox">' +
    'done <em>now</em></li><li>[X]no space</li></ul><ol><li>[ ] not a task</li></ol>'],
  ['tables.md', '| Left | Mid | Right | None |\n|:-----|:---:|------:|---|\n| `a\\|b` | **b** | c \\| d |\n' +
    '| <b>x</b> | [l](javascript:alert(1)) | <img src=x onerror=window.__pwned=10> | 4 | 5 |\nno pipes here\n\na | b\n-|-\n\n' +
    'x | y\n--|--|--\n\n| only |\n| ---- |',
  '<table><thead><tr><th style="text-align: left;">Left</th><th style="text-align: center;">Mid</th>' +
    '<th style="text-align: right;">Right</th><th>None</th></tr></thead><tbody><tr><td style="text-align: left;"><code>a|b</code></td>' +
    '<td style="text-align: center;"><strong>b</strong></td><td style="text-align: right;">c | d</td><td></td></tr>' +
    '<tr><td style="text-align: left;">&lt;b&gt;x&lt;/b&gt;</td><td style="text-align: center;">l)</td>' +
    '<td style="text-align: right;">&lt;img src=x onerror=window.__pwned=10&gt;</td><td>4</td></tr>' +
    '<tr><td style="text-align: left;">no pipes here</td><td style="text-align: center;"></td><td style="text-align: right;"></td><td></td></tr>' +
    '</tbody></table><table><thead><tr><th>a</th><th>b</th></tr></thead></table><p>x | y --|--|--</p>' +
    '<table><thead><tr><th>only</th></tr></thead></table>'],
  ['strike-autolinks.md', '~~gone~~ ~~a ~ b~~ <https://x.org/a?b=1> see https://x.org/p_(1). (or http://y.org/z), ' +
    '<javascript:alert(1)> javascript:alert(2) `https://in.code` [t](https://t.org) https://',
  `<p><del>gone</del> ~~a ~ b~~ <a href="https://x.org/a?b=1"${A}>https://x.org/a?b=1</a> see ` +
    `<a href="https://x.org/p_(1)"${A}>https://x.org/p_(1)</a>. (or <a href="http://y.org/z"${A}>http://y.org/z</a>), ` +
    '&lt;javascript:alert(1)&gt; javascript:alert(2) <code>https://in.code</code> ' + `<a href="https://t.org"${A}>t</a> https://</p>`],
  ['images.md', '![far](https://example.com/a.png "far away") ![](/abs.png) ![run](javascript:alert(1)) ![data](data:image/png;base64,AA) ' +
    '![x](vbscript:x "title") ![t](p.png "A title") ![svg](d.svg) ![svg](//host/d.svg)',
  `<p><a href="https://example.com/a.png"${A} title="far away">far</a> <img alt="" loading="lazy" src="raw:/abs.png"> run) data x ` +
    '<img alt="t" loading="lazy" src="raw:/r/docs/p.png" title="A title"> <img alt="svg" data-drawing="/r/docs/d.svg" loading="lazy"> ' +
    `<a href="//host/d.svg"${A}>svg</a></p>`],
  ['images-beside.md', '![a](../media/p.png) ![b](./sub%20dir/q.png?v=1#x) ![c](../../../up.png) ![d](a\\b.png)',
    '<p><img alt="a" loading="lazy" src="raw:/r/media/p.png"> <img alt="b" loading="lazy" src="raw:/r/docs/sub dir/q.png"> ' +
    '<img alt="c" loading="lazy" src="raw:/up.png"> <img alt="d" loading="lazy" src="raw:/r/docs/a/b.png"></p>'],
  ['no-escapes.md', '_not em_ \\*x\\* ![alt](/img.png) [x](a(b)c)',
    '<p>_not em_ \\<em>x\\</em> <img alt="alt" loading="lazy" src="raw:/img.png"> <a href="local:/r/docs/a(b">x</a>c)</p>'],
  ['markup.md', '<script>window.__pwned = 1</script> &amp; <b>b</b>',
    '<p>&lt;script&gt;window.__pwned = 1&lt;/script&gt; &amp;amp; &lt;b&gt;b&lt;/b&gt;</p>'],
  ['crlf.md', '# Title\r\n- a\r\n> q\r\n```\r\ncode\r\n```\r\n---\r\ntext\r\n',
    '<p># Title\r</p><ul><li>a\r</li></ul><blockquote><p>q\r</p></blockquote><pre><code>code\r</code></pre><hr><p>text\r</p>'],
  ['empty.md', '', ''],
];

test('every block and inline rule builds exactly its elements, with unsafe links and markup left as text', () => {
  for (const [name, text, expected] of CASES) {
    const md = markdown(text, { document, dir: '/r/docs/', ...HOOKS });
    assert.equal(md.step(() => false), true);
    assert.deepEqual([name, html(md.box)], [name, `<div class="md"><div class="mdp">${expected}</div></div>`]);
  }
});

// The bare-link trimming may look at each character a bounded number of times: it is handed a text that
// offers nothing but its length and its characters one by one, which are counted.
test('a bare link followed by any number of closing parentheses is trimmed in linear time', () => {
  for (const n of [10, 1000, 40000]) {
    const s = `http://x.org/a_(b)${')'.repeat(n)}`;
    let reads = 0;
    const counted = { length: s.length, charCodeAt: (i) => { reads++; return s.charCodeAt(i); } };
    assert.deepEqual([n, markdown.urlEnd(counted), reads <= 2 * s.length + 1], [n, 18, true]);
  }
  const text = 'see http://'.repeat(3) + ')'.repeat(5) + '\n\n[[[[x]]]] **a**b**c [a]([b]([c](';
  const md = markdown(text, { document, dir: '/r/docs/', ...HOOKS });
  md.step(() => false);
  assert.equal(html(md.box), `<div class="md"><div class="mdp"><p>see <a href="http://see"${A}>http://see</a> ` +
    `<a href="http://see"${A}>http://see</a> <a href="http://"${A}>http://</a>)))))</p>` +
    '<p>[[[[x]]]] <strong>a</strong>b**c [a]([b]([c](</p></div></div>');
});
