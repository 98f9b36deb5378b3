'use strict';
// The release folder is what ships: the two deliverables and nothing else (no runtime DLLs, no
// stand-ins, no test programs, no import libraries or maps).
//
// Usage: node release_test.js <folder> <file>...

const fs = require('fs');
const path = require('path');
const { test, finish } = require('./check');

const [folder, ...wanted] = process.argv.slice(2);
if (!folder || !wanted.length) {
  console.error('usage: node release_test.js <folder> <file>...');
  process.exit(2);
}

test(`${folder} holds exactly ${wanted.join(' and ')}`, (t) => {
  const entries = fs.readdirSync(folder, { withFileTypes: true });
  t.equal(entries.map((e) => e.name).sort(), wanted.slice().sort(), 'entries');
  for (const e of entries) {
    t.expect(e.isFile(), `${e.name} is not a plain file`);
    if (e.isFile()) t.expect(fs.statSync(path.join(folder, e.name)).size > 0, `${e.name} is empty`);
  }
});
finish();
