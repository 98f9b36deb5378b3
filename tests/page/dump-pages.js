'use strict';
// Writes, with pagedump under Wine, the page that the library builds for every case of the
// table: TALLY_PAGES/NNN.html for case NNN (UTF-16LE), beside NNN.query (the query, UTF-16LE
// after a byte order mark, so that a query may itself start with U+FEFF).
// Usage: dump-pages.js PAGEDUMP_EXE   (with TALLY_PAGES and TALLY_WINE_RUN set)
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { cases } = require('./cases');

const outDir = process.env.TALLY_PAGES;
const wineRun = process.env.TALLY_WINE_RUN;
const pagedump = process.argv[2];
if (!outDir || !wineRun || !pagedump) {
  console.error('usage: dump-pages.js PAGEDUMP_EXE, with TALLY_PAGES and TALLY_WINE_RUN set');
  process.exit(2);
}

fs.rmSync(outDir, { recursive: true, force: true });
fs.mkdirSync(outDir, { recursive: true });
const args = [];
cases.forEach((c, i) => {
  const name = String(i).padStart(3, '0');
  fs.writeFileSync(path.join(outDir, name + '.query'), Buffer.from('\ufeff' + c.typed, 'utf16le'));
  args.push(name + '.query', name + '.html');
});
execFileSync(wineRun, [pagedump, ...args], { cwd: outDir, stdio: 'inherit', timeout: 100000 });
const written = cases.filter((c, i) => fs.existsSync(path.join(outDir, String(i).padStart(3, '0') + '.html')));
if (written.length !== cases.length) {
  console.error(`pagedump wrote ${written.length} of ${cases.length} pages`);
  process.exit(1);
}
console.log(`pagedump wrote ${written.length} pages into ${outDir}`);
