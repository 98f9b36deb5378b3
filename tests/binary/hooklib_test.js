'use strict';
// The library's face to the host and to Windows, read from the built file: its three exports by
// their plain names, and the shared section that every process loading it sees as one.
//
// Usage: node hooklib_test.js <objdump> <Tallyhook.dll> <Tallyhook.map>

const { execFileSync } = require('child_process');
const fs = require('fs');
const { CPeFile, SCN } = require('./pe');
const { test, finish } = require('./check');

const EXPORTS = ['CheckHook', 'InstallHook', 'MyHookProc'];
// In this order, with these sizes: the host and the shell agree on the layout only through them.
const SHARED_VARIABLES = [['g_hookInstalled', 1], ['g_hookHandle', 4]];

// The output section ".SHARED" of a GNU ld map: its address, size and the symbols placed in it.
function sharedSectionInMap(mapText) {
  const lines = mapText.split('\n');
  const start = lines.findIndex((l) => /^\.SHARED\s/.test(l));
  if (start < 0) return null;
  const [, address, size] = /^\.SHARED\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)/.exec(lines[start]) || [];
  const symbols = [];
  for (let i = start + 1; i < lines.length && !/^\S/.test(lines[i]); i++) {
    const sym = /^\s+0x([0-9a-f]+)\s+_?([A-Za-z_][\w@?$]*)\s*$/.exec(lines[i]);
    if (sym) symbols.push({ name: sym[2], address: parseInt(sym[1], 16) });
  }
  return { address: parseInt(address, 16), size: parseInt(size, 16), symbols };
}

// Width in bytes of each memory access at `address` in the disassembly, e.g. "movzbl 0x...,%eax"
// reads one byte, "mov %eax,0x..." writes four. Unknown widths come back as null.
const REG8 = /%(al|bl|cl|dl|ah|bh|ch|dh)\b/;
const REG16 = /%(ax|bx|cx|dx|si|di|bp|sp)\b/;
const REG32 = /%e(ax|bx|cx|dx|si|di|bp|sp)\b/;
function accessWidths(disassembly, address) {
  const hexAddress = '0x' + address.toString(16);
  const widths = [];
  for (const line of disassembly.split('\n')) {
    const m = /^\s*[0-9a-f]+:\s+(\S+)\s*(.*)$/.exec(line);
    if (!m) continue;
    const [, mnemonic, operands] = m;
    const memory = new RegExp(`(^|[,\\s*])${hexAddress}(?![0-9a-f])(?!\\()`);
    if (!memory.test(operands) || operands.includes('$' + hexAddress)) continue;
    let width = null;
    if (/^set[a-z]+$/.test(mnemonic)) width = 1;
    else if (/^(push|pop|call|jmp)l?$/.test(mnemonic)) width = 4;
    else if (/^mov[sz]b/.test(mnemonic)) width = 1;
    else if (/^mov[sz]w/.test(mnemonic)) width = 2;
    else if (REG8.test(operands)) width = 1;
    else if (REG16.test(operands)) width = 2;
    else if (REG32.test(operands)) width = 4;
    else if (/b$/.test(mnemonic)) width = 1;
    else if (/w$/.test(mnemonic)) width = 2;
    else if (/l$/.test(mnemonic)) width = 4;
    widths.push({ instruction: line.trim(), width });
  }
  return widths;
}

function main() {
  const [objdump, dllFile, mapFile] = process.argv.slice(2);
  if (!mapFile) {
    console.error('usage: node hooklib_test.js <objdump> <Tallyhook.dll> <Tallyhook.map>');
    process.exit(2);
  }
  const pe = new CPeFile(dllFile);

  test('is a DLL that exports exactly InstallHook, CheckHook and MyHookProc, undecorated', (t) => {
    t.expect(pe.isDll, 'the file is not marked as a DLL');
    const exp = pe.exports();
    if (!t.expect(exp, 'no export table')) return;
    t.equal(exp.dllName, 'Tallyhook.dll', 'library name in the export table');
    const names = exp.functions.flatMap((f) => f.names).sort();
    t.equal(names, EXPORTS, 'exported names');
    t.equal(exp.functions.length, EXPORTS.length, 'number of exported functions (none by ordinal only)');
    for (const f of exp.functions) {
      t.expect(!f.forwarder, `${f.names.join('/')} is forwarded to ${f.forwarder}`);
      const section = pe.sectionOf(f.rva);
      t.expect(section && section.characteristics & SCN.EXECUTE,
        `${f.names.join('/') || '#' + f.ordinal} does not point into code (RVA 0x${f.rva.toString(16)})`);
    }
  });

  const shared = pe.sections.filter((s) => s.name === '.SHARED');

  test('has one section .SHARED: readable, writable, shared, not code', (t) => {
    if (!t.equal(shared.length, 1, 'number of sections named .SHARED')) return;
    const c = shared[0].characteristics;
    t.expect(c & SCN.READ, '.SHARED is not readable');
    t.expect(c & SCN.WRITE, '.SHARED is not writable');
    t.expect(c & SCN.SHARED, '.SHARED is not shared: every process would get its own copy');
    t.expect(!(c & (SCN.EXECUTE | SCN.CODE)), '.SHARED is executable');
  });

  test('.SHARED holds g_hookInstalled (1 byte) then g_hookHandle (4 bytes), zero in the image', (t) => {
    if (shared.length !== 1) return t.expect(false, 'no single .SHARED section to look into');
    const section = shared[0];
    const map = sharedSectionInMap(fs.readFileSync(mapFile, 'utf8'));
    if (!t.expect(map, `${mapFile} has no .SHARED output section`)) return;
    if (!t.equal(map.address - pe.imageBase, section.rva, '.SHARED address in the map against the DLL (stale map?)')) return;
    t.equal(map.symbols.map((s) => s.name), SHARED_VARIABLES.map(([name]) => name), 'symbols in .SHARED, in address order');
    const end = section.rva + section.virtualSize;
    const disassembly = execFileSync(objdump, ['-d', '--no-show-raw-insn', dllFile], { encoding: 'utf8', maxBuffer: 256 << 20 });
    SHARED_VARIABLES.forEach(([name, size], index) => {
      const symbol = map.symbols.find((s) => s.name === name);
      if (!t.expect(symbol, `${name} is not in .SHARED`)) return;
      const rva = symbol.address - pe.imageBase;
      const next = index + 1 < SHARED_VARIABLES.length && map.symbols.find((s) => s.name === SHARED_VARIABLES[index + 1][0]);
      t.expect(rva + size <= (next ? next.address - pe.imageBase : end), `${name} (${size} byte${size > 1 ? 's' : ''}) overlaps what follows it`);
      t.expect(pe.bytesAt(rva, size).every((b) => b === 0), `${name} is not zero in the image`);
      // The code is the only witness of the variable's type: every access must have its width.
      const accesses = accessWidths(disassembly, symbol.address);
      t.expect(accesses.length > 0, `no instruction accesses ${name}`);
      for (const a of accesses)
        t.expect(a.width === size, `${name} accessed with width ${a.width}: ${a.instruction}`);
    });
    // Nothing else may be read or written inside the section, e.g. the padding after the flag.
    for (let offset = 0; offset < section.virtualSize; offset++) {
      const va = pe.imageBase + section.rva + offset;
      if (map.symbols.some((s) => s.address === va)) continue;
      const stray = accessWidths(disassembly, va);
      t.expect(!stray.length, `unexpected access inside .SHARED: ${stray.map((a) => a.instruction).join('; ')}`);
    }
  });
  finish();
}

main();
