'use strict';
// The case table in Wine's JScript, the legacy engine family that the real panel's browser
// control runs: against the script file, and against the script of the page that the library's
// own builder wrote for each case (dump-pages.js). One cscript run does every case; its
// observations are checked here, with the same checks as in Node.js and Chromium.
//
// Environment: TALLY_WINE_RUN (the build's wine-run.sh), TALLY_PAGES (the pages), TALLY_TEST_OUT
// (where the harness, cscript's output and answers-jscript.txt go).
const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { cases, shownText, caseName, answerLine } = require('./cases');
const { checkCase } = require('./lib/expect');
const { splitScript, escapeForLiteral } = require('./lib/splice');
const { readPage } = require('./lib/page-file');

// Wine's interpreter is slower than a browser's engine; the limits still catch a case that
// loops or backtracks (the long cases took seconds before the rewriting was bounded).
const LIMITS = { ms: 10, slowMs: 500 };

const outDir = process.env.TALLY_TEST_OUT;
const wineRun = process.env.TALLY_WINE_RUN;
const pagesDir = process.env.TALLY_PAGES;
if (!outDir || !wineRun || !pagesDir) throw new Error('TALLY_TEST_OUT, TALLY_WINE_RUN and TALLY_PAGES must be set');

// A literal for the legacy engine: JSON, with everything outside printable ASCII escaped.
function es3Literal(value) {
  return JSON.stringify(value).replace(/[^\x20-\x7e]/g, (c) => '\\u' + c.charCodeAt(0).toString(16).padStart(4, '0'));
}

const script = splitScript(fs.readFileSync(path.join(__dirname, '../../hooklib/page/calculator.js'), 'utf8'));
const pages = cases.map((c, i) => readPage(path.join(pagesDir, String(i).padStart(3, '0') + '.html')));
const prelude = [
  '// Written by tests/page/jscript.test.js; the probe follows.',
  'var CASES = ' + es3Literal(cases.map((c) => ({
    typed: c.typed,
    literal: escapeForLiteral(c.typed),
    start: c.multiplied !== undefined ? c.multiplied : c.typed,
    passCount: c.passes ? c.passes.length : 0,
    engine: !!c.engine,
    shown: shownText(c),
  }))) + ';',
  'var SCRIPT_HEAD = ' + es3Literal(script.head) + ';',
  'var SCRIPT_TAIL = ' + es3Literal(script.tail) + ';',
  'var PAGE_SCRIPTS = ' + es3Literal(pages.map((page) => (page.script === undefined ? null : page.script))) + ';',
  '',
].join('\n');
fs.mkdirSync(outDir, { recursive: true });
const harness = path.join(outDir, 'jscript-harness.js');
fs.writeFileSync(harness, prelude + fs.readFileSync(path.join(__dirname, 'jscript/probe.js'), 'utf8'));

const output = execFileSync(wineRun, ['cscript', '//nologo', path.basename(harness)], {
  cwd: outDir, encoding: 'latin1', timeout: 150000, maxBuffer: 64 * 1024 * 1024,
});
fs.writeFileSync(path.join(outDir, 'jscript-output.txt'), output);
const observations = { file: new Map(), page: new Map() };
let done = false;
for (const line of output.split(/\r?\n/)) {
  const m = /^OBS (file|page) (\d+) (.*)$/.exec(line);
  if (m) observations[m[1]].set(Number(m[2]), JSON.parse(m[3]));
  if (line === 'DONE') done = true;
}

test('cscript ran the whole harness', () => {
  assert.ok(done, 'cscript did not finish; see jscript-output.txt');
});

const answers = [];
for (const form of ['file', 'page']) {
  cases.forEach((c, i) => {
    test(`${form}: ${caseName(c)}`, () => {
      if (form === 'page') assert.equal(pages[i].problem, null, `the built page: ${pages[i].problem}`);
      const obs = observations[form].get(i);
      assert.ok(obs, 'no observation from cscript');
      assert.equal(obs.harnessError, undefined, `the harness failed: ${obs.harnessError}`);
      if (form === 'file') answers.push(answerLine(c, obs));
      checkCase(c, obs, LIMITS);
    });
  });
}

test('answers written', () => {
  fs.writeFileSync(path.join(outDir, 'answers-jscript.txt'), answers.join('\n') + '\n');
});
