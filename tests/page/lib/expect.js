'use strict';
// The checks of one case against what an engine showed. Every runner (Node.js, JScript, Chromium)
// gathers the same observation in its engine and hands it here:
//   parsed        the page's script defined update()
//   updateError   what update() itself threw, if anything (it must catch everything)
//   resultText, resultColor, queryText, queryColor   the two lines as the script set them
//   passes        _hatToPow applied, in the engine, to the case's multiplied text, as many times
//                 as the case lists passes
//   reference     for `engine` cases: the engine's own answer for the query line's text,
//                 { value } or { error } (the error's message)
//   undefinedText the undefined value as the engine writes it
//   violations    uses of the document beyond the contract (getElementById of the two ids,
//                 innerText and style.color of those elements)
//   canary        how often injected script touched the canary (must stay 0)
//   strayGlobals  globals the page left beyond its own functions
//   ms            how long update() ran
const assert = require('node:assert/strict');
const { shownText } = require('../cases');

const DARK = ['#333333', 'rgb(51, 51, 51)'];
const LIGHT = ['#777777', 'rgb(119, 119, 119)'];
const OWN_MESSAGE = /( is not defined$|^Syntax error: |^Too many \^ in one expression$)/;

function assertColour(actual, allowed, what) {
  assert.ok(allowed.includes(actual), `${what} colour is ${JSON.stringify(actual)}, expected ${allowed[0]}`);
}

function assertSuccess(obs) {
  assertColour(obs.resultColor, DARK, 'result line');
  assertColour(obs.queryColor, LIGHT, 'query line');
}

function assertError(obs) {
  assertColour(obs.resultColor, LIGHT, 'result line (error)');
  assertColour(obs.queryColor, DARK, 'query line (error)');
  assert.notEqual(obs.resultText, '[object Error]', 'the error shows its message, not toString()');
  assert.ok(obs.resultText.length > 0, 'the error message is empty');
}

// limits: { ms } for ordinary cases and { slowMs } for the long ones.
function checkCase(c, obs, limits) {
  assert.equal(obs.parsed, true, 'the page script does not parse');
  assert.equal(obs.updateError, null, `update() threw: ${obs.updateError}`);
  assert.deepEqual(obs.violations, [], 'the script used the document beyond its contract');
  assert.equal(obs.canary, 0, 'injected script ran: the canary was touched');
  assert.deepEqual(obs.strayGlobals || [], [], 'injected script ran: it left globals');

  if (c.passes) assert.deepEqual(obs.passes, c.passes, 'the caret passes');
  const shown = shownText(c);
  // For the typed text to come back unchanged, the query line must show exactly it; the inject
  // cases are texts that the rewriting leaves alone, so this is _search itself.
  if (c.shownMatches) assert.match(obs.queryText, new RegExp(c.shownMatches), 'the query line');
  else assert.equal(obs.queryText, shown + ' ', 'the query line');
  if (c.inject) assert.equal(shown, c.typed, 'an inject case must be one the rewriting leaves alone');

  const n = Number(obs.resultText);
  if ('value' in c) {
    assertSuccess(obs);
    assert.equal(n, c.value, `result ${JSON.stringify(obs.resultText)}`);
  } else if ('near' in c) {
    assertSuccess(obs);
    assert.ok(Math.abs(n - c.near) <= 1e-9 * Math.abs(c.near), `result ${JSON.stringify(obs.resultText)}, expected about ${c.near}`);
  } else if (c.nan) {
    assertSuccess(obs);
    assert.equal(obs.resultText, 'NaN');
  } else if ('text' in c) {
    assertSuccess(obs);
    assert.equal(obs.resultText, c.text);
  } else if ('error' in c) {
    assertError(obs);
    assert.equal(obs.resultText, c.error);
  } else if (c.undefinedValue) {
    assertSuccess(obs);
    assert.equal(obs.resultText, obs.undefinedText);
  } else if (c.engine) {
    assert.ok(obs.reference, 'no reference answer from the engine');
    if ('error' in obs.reference) {
      assertError(obs);
      assert.equal(obs.resultText, obs.reference.error, "the engine's own message");
      assert.ok(!OWN_MESSAGE.test(obs.resultText), 'the message must come from the engine, not the check');
    } else {
      assert.ok(!c.engineError, `expected an error, the engine answered ${obs.reference.value}`);
      assertSuccess(obs);
      assert.equal(obs.resultText, obs.reference.value);
    }
  } else {
    throw new Error('case without an outcome');
  }

  const limit = c.slow ? limits.slowMs : limits.ms;
  assert.ok(obs.ms <= limit, `update() took ${obs.ms.toFixed(2)} ms, more than ${limit} ms`);
}

module.exports = { checkCase };
