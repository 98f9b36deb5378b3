'use strict';
// A tiny harness: named cases, each collecting failed expectations; a case that throws fails
// with its message. The process exits nonzero when anything failed.

const util = require('util');

let failures = 0;
let cases = 0;

function show(value) {
  return util.inspect(value, { depth: 6, breakLength: 120 });
}

class CCase {
  constructor(name) {
    this.m_name = name;
    this.m_failed = [];
  }

  expect(condition, message) {
    if (!condition) this.m_failed.push(message);
    return !!condition;
  }

  equal(actual, expected, what) {
    const same = util.isDeepStrictEqual(actual, expected);
    if (!same) this.m_failed.push(`${what}: expected ${show(expected)}, got ${show(actual)}`);
    return same;
  }
}

function test(name, body) {
  cases++;
  const c = new CCase(name);
  try {
    body(c);
  } catch (error) {
    c.m_failed.push(`threw: ${error && error.stack ? error.stack : error}`);
  }
  if (c.m_failed.length) {
    failures++;
    console.log(`FAIL ${name}`);
    for (const f of c.m_failed) console.log(`     ${f}`);
  } else {
    console.log(`ok   ${name}`);
  }
}

function finish() {
  console.log(`${cases - failures}/${cases} cases passed`);
  process.exitCode = failures || !cases ? 1 : 0;
}

module.exports = { test, finish, show };
