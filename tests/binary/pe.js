'use strict';
// A small reader for 32-bit PE files: headers, sections, data directories, the import tables
// (ordinary and delay-load), the export table and the resource tree. It trusts nothing in the
// file: every offset is bounds-checked, so a damaged file fails with a message, not a garbage read.

const fs = require('fs');

const DIR = { EXPORT: 0, IMPORT: 1, RESOURCE: 2, DELAY_IMPORT: 13 };

const SCN = {
  CODE: 0x00000020, INITIALIZED_DATA: 0x00000040, UNINITIALIZED_DATA: 0x00000080,
  SHARED: 0x10000000, EXECUTE: 0x20000000, READ: 0x40000000, WRITE: 0x80000000,
};

class CPeFile {
  constructor(file) {
    this.m_file = file;
    this.m_data = fs.readFileSync(file);
    this.parseHeaders();
  }

  fail(message) {
    throw new Error(`${this.m_file}: ${message}`);
  }

  need(offset, length) {
    if (!(offset >= 0 && length >= 0 && offset + length <= this.m_data.length))
      this.fail(`read of ${length} bytes at 0x${offset.toString(16)} lies outside the file`);
  }

  u8(o) { this.need(o, 1); return this.m_data[o]; }
  u16(o) { this.need(o, 2); return this.m_data.readUInt16LE(o); }
  u32(o) { this.need(o, 4); return this.m_data.readUInt32LE(o); }

  parseHeaders() {
    if (this.u16(0) !== 0x5a4d) this.fail('no MZ header');
    const pe = this.u32(0x3c);
    if (this.u32(pe) !== 0x00004550) this.fail('no PE signature');
    const coff = pe + 4;
    this.machine = this.u16(coff);
    const sectionCount = this.u16(coff + 2);
    const optionalSize = this.u16(coff + 16);
    this.characteristics = this.u16(coff + 18);
    const opt = coff + 20;
    this.magic = this.u16(opt);
    if (this.magic !== 0x10b) this.fail(`not a PE32 image (optional header magic 0x${this.magic.toString(16)})`);
    this.imageBase = this.u32(opt + 28);
    this.osVersion = [this.u16(opt + 40), this.u16(opt + 42)];
    this.subsystemVersion = [this.u16(opt + 48), this.u16(opt + 50)];
    this.subsystem = this.u16(opt + 68);
    this.dllCharacteristics = this.u16(opt + 70);
    const dirCount = this.u32(opt + 92);
    this.directories = [];
    for (let i = 0; i < Math.min(dirCount, 16); i++)
      this.directories.push({ rva: this.u32(opt + 96 + i * 8), size: this.u32(opt + 100 + i * 8) });
    this.sections = [];
    const table = opt + optionalSize;
    for (let i = 0; i < sectionCount; i++) {
      const s = table + i * 40;
      this.need(s, 40);
      const rawName = this.m_data.subarray(s, s + 8);
      const nul = rawName.indexOf(0);
      this.sections.push({
        name: rawName.subarray(0, nul < 0 ? 8 : nul).toString('latin1'),
        virtualSize: this.u32(s + 8), rva: this.u32(s + 12),
        rawSize: this.u32(s + 16), rawOffset: this.u32(s + 20),
        characteristics: this.u32(s + 36),
      });
    }
  }

  get isDll() { return (this.characteristics & 0x2000) !== 0; }

  directory(index) {
    const d = this.directories[index];
    return d && d.rva && d.size ? d : null;
  }

  sectionOf(rva) {
    return this.sections.find((s) => rva >= s.rva && rva < s.rva + Math.max(s.virtualSize, s.rawSize)) || null;
  }

  // File offset of an RVA that lies in a section's raw data.
  offsetOf(rva) {
    const s = this.sectionOf(rva);
    if (!s || rva - s.rva >= s.rawSize) this.fail(`RVA 0x${rva.toString(16)} has no file data`);
    return s.rawOffset + (rva - s.rva);
  }

  // Bytes at an RVA as the loader maps them: past a section's raw data they are zero.
  bytesAt(rva, length) {
    const s = this.sectionOf(rva);
    if (!s || rva + length > s.rva + Math.max(s.virtualSize, s.rawSize))
      this.fail(`RVA range 0x${rva.toString(16)}+${length} is not inside one section`);
    const out = Buffer.alloc(length);
    const inRaw = Math.max(0, Math.min(length, s.rawSize - (rva - s.rva)));
    if (inRaw > 0) {
      this.need(this.offsetOf(rva), inRaw);
      this.m_data.copy(out, 0, this.offsetOf(rva), this.offsetOf(rva) + inRaw);
    }
    return out;
  }

  asciiz(rva) {
    const o = this.offsetOf(rva);
    const end = this.m_data.indexOf(0, o);
    if (end < 0) this.fail(`unterminated string at RVA 0x${rva.toString(16)}`);
    return this.m_data.subarray(o, end).toString('latin1');
  }

  // Names (or "#ordinal") imported through a thunk table at `rva`.
  thunkNames(rva) {
    const names = [];
    for (let o = this.offsetOf(rva); ; o += 4) {
      const thunk = this.u32(o);
      if (thunk === 0) break;
      names.push(thunk & 0x80000000 ? `#${thunk & 0xffff}` : this.asciiz(thunk + 2));
    }
    return names;
  }

  // [{ dll, functions: [name | "#ordinal"], delayed }]
  imports() {
    const out = [];
    const imp = this.directory(DIR.IMPORT);
    if (imp) {
      for (let o = this.offsetOf(imp.rva); ; o += 20) {
        const lookup = this.u32(o), nameRva = this.u32(o + 12), iat = this.u32(o + 16);
        if (!lookup && !nameRva && !iat) break;
        out.push({ dll: this.asciiz(nameRva), functions: this.thunkNames(lookup || iat), delayed: false });
      }
    }
    const delay = this.directory(DIR.DELAY_IMPORT);
    if (delay) {
      for (let o = this.offsetOf(delay.rva); ; o += 32) {
        const attrs = this.u32(o), nameRva = this.u32(o + 4), intRva = this.u32(o + 16);
        if (!nameRva) break;
        // Version 1 descriptors hold RVAs; the old form held virtual addresses.
        const base = attrs & 1 ? 0 : this.imageBase;
        out.push({ dll: this.asciiz(nameRva - base), functions: this.thunkNamesDelay(intRva - base, base), delayed: true });
      }
    }
    return out;
  }

  thunkNamesDelay(rva, base) {
    const names = [];
    for (let o = this.offsetOf(rva); ; o += 4) {
      const thunk = this.u32(o);
      if (thunk === 0) break;
      names.push(thunk & 0x80000000 ? `#${thunk & 0xffff}` : this.asciiz(thunk - base + 2));
    }
    return names;
  }

  // { dllName, functions: [{ ordinal, rva, names: [], forwarder }] }
  exports() {
    const exp = this.directory(DIR.EXPORT);
    if (!exp) return null;
    const o = this.offsetOf(exp.rva);
    const base = this.u32(o + 16), functionCount = this.u32(o + 20), nameCount = this.u32(o + 24);
    const functionsAt = this.offsetOf(this.u32(o + 28));
    const namesAt = nameCount ? this.offsetOf(this.u32(o + 32)) : 0;
    const ordinalsAt = nameCount ? this.offsetOf(this.u32(o + 36)) : 0;
    const functions = [];
    for (let i = 0; i < functionCount; i++) {
      const rva = this.u32(functionsAt + i * 4);
      const forwarded = rva >= exp.rva && rva < exp.rva + exp.size;
      functions.push({ ordinal: base + i, rva, names: [], forwarder: forwarded ? this.asciiz(rva) : null });
    }
    for (let i = 0; i < nameCount; i++) {
      const index = this.u16(ordinalsAt + i * 2);
      if (index >= functionCount) this.fail(`export name ${i} points past the function table`);
      functions[index].names.push(this.asciiz(this.u32(namesAt + i * 4)));
    }
    return { dllName: this.asciiz(this.u32(o + 12)), functions };
  }

  // [{ type, name, lang, data: Buffer, codePage }]; type and name are numbers or strings.
  resources() {
    const res = this.directory(DIR.RESOURCE);
    if (!res) return [];
    const root = this.offsetOf(res.rva);
    const seen = new Set();
    const entries = (dirOffset) => {
      if (seen.has(dirOffset)) this.fail('resource directory loops');
      seen.add(dirOffset);
      const named = this.u16(dirOffset + 12), ids = this.u16(dirOffset + 14);
      const list = [];
      for (let i = 0; i < named + ids; i++) {
        const e = dirOffset + 16 + i * 8;
        const nameField = this.u32(e), target = this.u32(e + 4);
        let key;
        if (nameField & 0x80000000) {
          const s = root + (nameField & 0x7fffffff);
          const length = this.u16(s);
          this.need(s + 2, length * 2);
          key = this.m_data.subarray(s + 2, s + 2 + length * 2).toString('utf16le');
        } else {
          key = nameField & 0xffff;
        }
        list.push({ key, isDir: (target & 0x80000000) !== 0, offset: root + (target & 0x7fffffff) });
      }
      return list;
    };
    const out = [];
    for (const type of entries(root)) {
      if (!type.isDir) this.fail('resource type entry is not a directory');
      for (const name of entries(type.offset)) {
        if (!name.isDir) this.fail('resource name entry is not a directory');
        for (const lang of entries(name.offset)) {
          if (lang.isDir) this.fail('resource language entry is a directory');
          const rva = this.u32(lang.offset), size = this.u32(lang.offset + 4);
          const at = this.offsetOf(rva);
          this.need(at, size);
          out.push({ type: type.key, name: name.key, lang: lang.key, data: this.m_data.subarray(at, at + size),
                     codePage: this.u32(lang.offset + 8) });
        }
      }
    }
    return out;
  }
}

module.exports = { CPeFile, SCN, DIR };
