'use strict';
// The page that the library builds (dump-pages.js) for every case of the table, loaded in
// Debian's Chromium, headless: the two lines' text and colours, the page's structure, and a
// screenshot at the panel's size (350x100) with its header, separator, badge and bold result.
//
// Environment: TALLY_PAGES (the pages), TALLY_PAGE_DIR (the build's badge.png), TALLY_TEST_OUT
// (the browser profile, calculator.png and answers-chromium.txt go there).
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { pathToFileURL } = require('node:url');
const { chromium } = require('playwright-core');
const { cases, shownText, caseName, answerLine } = require('./cases');
const { checkCase } = require('./lib/expect');
const { readPage } = require('./lib/page-file');
const { decodePngPixels } = require('../lib/png-decode');

const LIMITS = { ms: 5, slowMs: 100 };
const CHROMIUM_FLAGS = [
  '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
  '--disable-component-update', '--disable-sync', '--disable-quic',
];

const outDir = process.env.TALLY_TEST_OUT;
const pagesDir = process.env.TALLY_PAGES;
const pageDir = process.env.TALLY_PAGE_DIR;
if (!outDir || !pagesDir || !pageDir) throw new Error('TALLY_TEST_OUT, TALLY_PAGES and TALLY_PAGE_DIR must be set');
const pageFile = (i) => path.join(pagesDir, String(i).padStart(3, '0') + '.html');

// Runs before any script of the page: records what the page does with the document, and sets
// out a canary that injected script would touch.
function instrument() {
  const record = { sets: {}, violations: [] };
  window.__record = record;
  window.__canary = { hits: 0 };
  window.__globalsBefore = Object.getOwnPropertyNames(window);
  const innerText = Object.getOwnPropertyDescriptor(HTMLElement.prototype, 'innerText');
  Object.defineProperty(HTMLElement.prototype, 'innerText', {
    configurable: true,
    get() { return innerText.get.call(this); },
    set(value) {
      if (this.id !== '_result' && this.id !== '_query') record.violations.push(`innerText of ${this.tagName}#${this.id}`);
      record.sets[this.id] = String(value);
      innerText.set.call(this, value);
    },
  });
  for (const [proto, name] of [[Element.prototype, 'innerHTML'], [Element.prototype, 'outerHTML'], [Node.prototype, 'textContent']]) {
    const original = Object.getOwnPropertyDescriptor(proto, name);
    Object.defineProperty(proto, name, {
      configurable: true,
      get() { return original.get.call(this); },
      set(value) { record.violations.push(`${name} set`); original.set.call(this, value); },
    });
  }
  const getElementById = Document.prototype.getElementById;
  Document.prototype.getElementById = function (id) {
    if (id !== '_result' && id !== '_query') record.violations.push(`getElementById(${id})`);
    return getElementById.call(this, id);
  };
}

// Gathers the observation inside the page, after its load handler has run.
function gather(c) {
  const record = window.__record;
  const violations = record.violations.slice();
  const result = document.getElementById('_result');
  const query = document.getElementById('_query');
  // The page as the template made it, and the lines holding text only (a line break of the
  // text becomes a <br>, nothing else may appear).
  const shape = Array.from(document.body.children).map((e) => e.tagName).join(',');
  if (shape !== 'DIV,DIV,DIV,SCRIPT') violations.push(`body holds ${shape}`);
  for (const line of [result, query]) {
    for (const child of line.children) {
      if (child.tagName !== 'BR') violations.push(`${line.id} holds a ${child.tagName}`);
    }
  }
  if (document.title !== 'Tallyglass') violations.push(`title ${document.title}`);
  const parsed = typeof window.update === 'function';
  const obs = {
    parsed,
    resultText: record.sets._result, resultColor: result.style.color,
    queryText: record.sets._query, queryColor: query.style.color,
    violations, canary: window.__canary.hits,
    strayGlobals: Object.getOwnPropertyNames(window).filter((n) => !window.__globalsBefore.includes(n)
      && !n.startsWith('__') && !['_hatToPow', '_timesBeforeName', '_checkArithmetic', 'update'].includes(n)),
    undefinedText: String(undefined), passes: null, reference: null, ms: Infinity,
    resultWeight: getComputedStyle(result).fontWeight,
  };
  if (parsed) {
    for (let run = 0; run < 3; run++) {
      const start = performance.now();
      window.update();
      obs.ms = Math.min(obs.ms, performance.now() - start);
    }
  }
  if (c.passes && parsed) {
    let text = c.start;
    obs.passes = c.passes.map(() => (text = window._hatToPow(text)));
  }
  if (c.engine) {
    // The engine's own answer, evaluated as the page evaluates it (sloppy code, for with).
    obs.reference = window.eval('(function (text) { with (Math) { try { return { value: String(eval(text)) }; }'
      + ' catch (err) { return { error: String(err.message), asString: String(err) }; } } })')(c.shown);
  }
  return obs;
}

let context;
let page;
const pageErrors = [];

before(async () => {
  const profile = path.join(outDir, 'chromium-profile');
  fs.rmSync(profile, { recursive: true, force: true });
  context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    chromiumSandbox: false,
    args: CHROMIUM_FLAGS,
    viewport: { width: 350, height: 100 },
  });
  await context.addInitScript(instrument);
  page = context.pages()[0] || (await context.newPage());
  // A page that hung would otherwise hold the test until ctest's limit.
  page.setDefaultTimeout(15000);
  page.on('pageerror', (err) => pageErrors.push(err.message));
});

after(async () => {
  if (context) await context.close();
});

async function load(i) {
  pageErrors.length = 0;
  const url = pathToFileURL(pageFile(i)).href;
  await page.goto(url, { waitUntil: 'load' });
  return url;
}

const answers = [];
cases.forEach((c, i) => {
  test(caseName(c), async () => {
    assert.equal(readPage(pageFile(i)).problem, null, 'the built page');
    const url = await load(i);
    const obs = await page.evaluate(gather, {
      passes: c.passes, engine: !!c.engine, shown: shownText(c),
      start: c.multiplied !== undefined ? c.multiplied : c.typed,
    });
    obs.updateError = pageErrors.length ? pageErrors.join('; ') : null;
    if (page.url() !== url) obs.violations.push(`navigated to ${page.url()}`);
    answers.push(answerLine(c, obs));
    checkCase(c, obs, LIMITS);
    assert.ok(obs.resultWeight === 'bold' || Number(obs.resultWeight) >= 700, `result weight ${obs.resultWeight}`);
  });
});

test('answers written', () => {
  fs.writeFileSync(path.join(outDir, 'answers-chromium.txt'), answers.join('\n') + '\n');
});

// The panel as a person sees it, for 2^10: header, separator, badge, bold result, grey query.
test('screenshot at the panel size shows header, separator, badge and the two lines', async () => {
  const index = cases.findIndex((c) => c.typed === '2^10');
  await load(index);
  const layout = await page.evaluate(() => {
    const box = (e) => { const r = e.getBoundingClientRect(); return { left: r.left, top: r.top, right: r.right, bottom: r.bottom }; };
    const [header, separator, area] = document.body.children;
    return {
      header: box(header), separator: box(separator), area: box(area),
      result: box(document.getElementById('_result')), query: box(document.getElementById('_query')),
    };
  });
  const file = path.join(outDir, 'calculator.png');
  const shot = decodePngPixels(await page.screenshot({ path: file }));
  assert.equal(shot.width, 350);
  assert.equal(shot.height, 100);
  const near = (p, rgb, tolerance) => rgb.every((v, k) => Math.abs(p[k] - v) <= tolerance);
  const white = [255, 255, 255];

  // The separator's bottom border: 13 px below the top, light grey, right of the header only.
  const rightOfHeader = Math.ceil(layout.header.right) + 5;
  for (let x = rightOfHeader; x < 340; x += 7) {
    assert.ok(near(shot.pixel(x, 13), [0xe5, 0xe5, 0xe5], 2), `separator at ${x},13 is ${shot.pixel(x, 13)}`);
    assert.ok(near(shot.pixel(x, 12), white, 2) && near(shot.pixel(x, 14), white, 2), `only row 13 is the line at x ${x}`);
  }
  let lineUnderHeader = 0;
  for (let x = Math.ceil(layout.header.left); x < Math.floor(layout.header.right); x++) {
    if (near(shot.pixel(x, 13), [0xe5, 0xe5, 0xe5], 2)) lineUnderHeader++;
  }
  assert.ok(lineUnderHeader < (layout.header.right - layout.header.left) / 4,
    `the header's white background covers the line: ${lineUnderHeader} grey pixels under it`);

  // The header text, dark blue.
  let headerInk = 0;
  for (let y = 0; y < 22; y++) {
    for (let x = 7; x < rightOfHeader; x++) {
      const [r, g, b] = shot.pixel(x, y);
      if (b > 100 && b - r > 60 && r < 120) headerInk++;
    }
  }
  assert.ok(headerInk > 40, `dark blue header text: ${headerInk} pixels`);

  // The badge, drawn once at 18,15 of the result area, as the build drew it (over white).
  assert.equal(layout.area.top, 14, 'the result area starts under the separator');
  const badge = decodePngPixels(fs.readFileSync(path.join(pageDir, 'badge.png')));
  let badgeMismatch = 0;
  for (let y = 0; y < 16; y++) {
    for (let x = 0; x < 16; x++) {
      const [r, g, b, a] = badge.pixel(x, y);
      const over = [r, g, b].map((v) => Math.round((v * a + 255 * (255 - a)) / 255));
      if (!near(shot.pixel(18 + x, layout.area.top + 15 + y), over, 4)) badgeMismatch++;
    }
  }
  assert.equal(badgeMismatch, 0, 'badge pixels differ from the drawn badge');
  assert.ok(near(shot.pixel(18 + 8, layout.area.top + 15 + 16 + 2), white, 0), 'the badge is not repeated below');

  // The two lines: 38 px from the left, the result dark and bold, the query grey.
  assert.equal(layout.result.left, 38);
  assert.equal(layout.result.top, layout.area.top + 16);
  // Pixels of one colour in the first 80 px of a line.
  const ink = (image, box, rgb) => {
    let count = 0;
    for (let y = Math.floor(box.top); y < Math.ceil(box.bottom); y++) {
      for (let x = Math.floor(box.left); x < Math.ceil(box.left) + 80; x++) {
        if (near(image.pixel(x, y), rgb, 12)) count++;
      }
    }
    return count;
  };
  assert.ok(ink(shot, layout.result, [0x33, 0x33, 0x33]) > 25, 'dark result text');
  assert.ok(ink(shot, layout.query, [0x77, 0x77, 0x77]) > 10, 'grey query text');

  // An error swaps the colours: the message grey, the rewritten text dark.
  await load(cases.findIndex((c) => c.typed === '2x^2'));
  const errorShot = decodePngPixels(await page.screenshot({ path: path.join(outDir, 'calculator-error.png') }));
  assert.ok(ink(errorShot, layout.result, [0x77, 0x77, 0x77]) > 25, 'grey error message');
  assert.ok(ink(errorShot, layout.query, [0x33, 0x33, 0x33]) > 10, 'dark rewritten text');
});
