'use strict';
// The case table against the page script in Node.js: the script file as it is in the repo, and
// the one line that the build puts into the page. Each case gets a fresh context whose document
// allows exactly what the page may use.
//
// Environment: TALLY_PAGE_DIR  the build's hooklib/page folder (calculator.oneline.js)
//              TALLY_TEST_OUT  where to write answers-node.txt (optional)
const { test, after } = require('node:test');
const fs = require('node:fs');
const path = require('node:path');
const vm = require('node:vm');
const { cases, shownText, caseName, answerLine } = require('./cases');
const { checkCase } = require('./lib/expect');
const { spliceQuery } = require('./lib/splice');

const PAGE_FUNCTIONS = ['_hatToPow', '_timesBeforeName', '_checkArithmetic', 'update'];
const LIMITS = { ms: 5, slowMs: 100 };

const forms = { file: fs.readFileSync(path.join(__dirname, '../../hooklib/page/calculator.js'), 'utf8') };
if (process.env.TALLY_PAGE_DIR)
  forms['page line'] = fs.readFileSync(path.join(process.env.TALLY_PAGE_DIR, 'calculator.oneline.js'), 'utf8');
else
  test('the one-line script of the build', { skip: 'TALLY_PAGE_DIR is not set' }, () => {});

// An element whose only uses may be: setting innerText, and setting color on its style.
function makeElement(id, violations) {
  const state = { innerText: undefined, color: undefined };
  const style = new Proxy({}, {
    get(target, key) { violations.push(`read ${id}.style.${String(key)}`); return undefined; },
    set(target, key, value) {
      if (key === 'color') state.color = value;
      else violations.push(`set ${id}.style.${String(key)}`);
      return true;
    },
  });
  const element = new Proxy({}, {
    get(target, key) {
      if (key === 'style') return style;
      violations.push(`read ${id}.${String(key)}`);
      return undefined;
    },
    set(target, key, value) {
      if (key === 'innerText') state.innerText = value;
      else violations.push(`set ${id}.${String(key)}`);
      return true;
    },
  });
  return { element, state };
}

function observe(source, c) {
  const violations = [];
  const result = makeElement('_result', violations);
  const query = makeElement('_query', violations);
  const elements = { _result: result.element, _query: query.element };
  const document = new Proxy({}, {
    get(target, key) {
      if (key === 'getElementById') {
        return (id) => {
          if (!Object.prototype.hasOwnProperty.call(elements, id)) violations.push(`getElementById(${id})`);
          return elements[id] || null;
        };
      }
      violations.push(`read document.${String(key)}`);
      return undefined;
    },
    set(target, key) { violations.push(`set document.${String(key)}`); return true; },
  });
  const canary = { hits: 0 };
  const context = vm.createContext({ document, __canary: canary });
  const globalsBefore = new Set(Object.getOwnPropertyNames(context));

  let parsed = true;
  try {
    vm.runInContext(source, context, { timeout: 2000 });
  } catch (err) {
    parsed = false;
  }
  parsed = parsed && typeof context.update === 'function';
  let updateError = null;
  try {
    vm.runInContext('update()', context, { timeout: 2000 });
  } catch (err) {
    updateError = String(err);
  }
  // The case's cost without the one-off compiling of a fresh context, and without the noise of
  // a busy machine: the best of three more runs (update() only sets the same two lines again).
  let ms = Infinity;
  for (let run = 0; parsed && updateError === null && run < 3; run++) {
    const start = performance.now();
    context.update();
    ms = Math.min(ms, performance.now() - start);
  }

  const obs = {
    parsed, updateError, ms, violations, canary: canary.hits,
    resultText: result.state.innerText, resultColor: result.state.color,
    queryText: query.state.innerText, queryColor: query.state.color,
    strayGlobals: Object.getOwnPropertyNames(context).filter((name) => !globalsBefore.has(name) && !PAGE_FUNCTIONS.includes(name)),
    undefinedText: vm.runInContext('String(void 0)', context),
    passes: null, reference: null,
  };
  if (c.passes && parsed) {
    let text = c.multiplied !== undefined ? c.multiplied : c.typed;
    obs.passes = c.passes.map(() => (text = context._hatToPow(text)));
  }
  if (c.engine) {
    const evaluate = vm.runInContext(
      '(function (text) { with (Math) { try { return { value: String(eval(text)) }; } catch (err) { return { error: String(err.message), asString: String(err) }; } } })',
      context);
    obs.reference = { ...evaluate(shownText(c)) };
  }
  return obs;
}

const answers = [];
for (const [form, source] of Object.entries(forms)) {
  for (const c of cases) {
    test(`${form}: ${caseName(c)}`, () => {
      const obs = observe(spliceQuery(source, c.typed), c);
      if (form === 'file') answers.push(answerLine(c, obs));
      checkCase(c, obs, LIMITS);
    });
  }
}

after(() => {
  if (process.env.TALLY_TEST_OUT) {
    fs.mkdirSync(process.env.TALLY_TEST_OUT, { recursive: true });
    fs.writeFileSync(path.join(process.env.TALLY_TEST_OUT, 'answers-node.txt'), answers.join('\n') + '\n');
  }
});
