'use strict';
// The program file as Windows sees it: a GUI program whose resources are exactly the strings,
// menu, accelerators, icons and manifest it loads by id, all in English (United States).
//
// Usage: node tallyglass_test.js <Tallyglass.exe>

const { CPeFile } = require('./pe');
const { isPng, decodePng, decodeIconDib } = require('./images');
const { test, finish, show } = require('./check');

const RT = { ICON: 3, MENU: 4, STRING: 6, ACCELERATOR: 9, GROUP_ICON: 14, MANIFEST: 24 };
const EN_US = 0x0409;

const STRINGS = { 103: 'Tallyglass', 109: 'TALLYKEEPER' };

const MENU = [
  { popup: 'POPUP', items: [{ text: 'About', id: 104 }, { separator: true }, { text: 'E&xit', id: 105 }] },
];

const FVIRTKEY = 0x01, FALT = 0x10, LAST_ENTRY = 0x80;
const ACCELERATORS = [
  { flags: FALT, key: '?'.charCodeAt(0), id: 104 },
  { flags: FALT, key: '/'.charCodeAt(0), id: 104 },
];

// Size and colour depth of every image; "png" marks the one stored PNG-compressed.
const ICON_GROUPS = {
  107: ['16x16 4', '32x32 4', '16x16 8', '32x32 8', '48x48 8',
        '16x16 32', '24x24 32', '32x32 32', '48x48 32', '256x256 32 png'],
  108: ['16x16 4', '32x32 4', '16x16 8', '32x32 8', '48x48 8', '16x16 32', '32x32 32', '48x48 32'],
};

// The sixteen colours of the standard Windows palette, in their usual order.
const WINDOWS_16 = [
  0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xc0c0c0,
  0x808080, 0xff0000, 0x00ff00, 0xffff00, 0x0000ff, 0xff00ff, 0x00ffff, 0xffffff,
].map((v) => [v >> 16, (v >> 8) & 255, v & 255]);

const ASM_V1 = 'urn:schemas-microsoft-com:asm.v1';
const TRUST_NAMESPACES = ['urn:schemas-microsoft-com:asm.v2', 'urn:schemas-microsoft-com:asm.v3'];

// ---------------------------------------------------------------------------------------------
// Resource formats

function utf16z(data, offset) {
  let end = offset;
  while (end + 1 < data.length && data.readUInt16LE(end) !== 0) end += 2;
  if (end + 1 >= data.length) throw new Error(`unterminated string at ${offset}`);
  return { text: data.toString('utf16le', offset, end), next: end + 2 };
}

// Both menu template forms, reduced to { popup, items } / { text, id, flags } / { separator }.
function parseMenu(data) {
  const version = data.readUInt16LE(0);
  if (version === 0) {
    let offset = 4 + data.readUInt16LE(2);
    const level = () => {
      const items = [];
      for (;;) {
        const flags = data.readUInt16LE(offset);
        offset += 2;
        let id = null;
        if (!(flags & 0x10)) { id = data.readUInt16LE(offset); offset += 2; }
        const { text, next } = utf16z(data, offset);
        offset = next;
        const other = flags & ~(0x80 | 0x10 | 0x800);
        if (flags & 0x10) items.push({ popup: text, items: level(), ...(other ? { flags: other } : {}) });
        else if (!text && !id) items.push({ separator: true });
        else items.push({ text, id, ...(other ? { flags: other } : {}) });
        if (flags & 0x80) return items;
      }
    };
    return level();
  }
  if (version === 1) {
    let offset = 4 + data.readUInt16LE(2);
    const level = () => {
      const items = [];
      for (;;) {
        const type = data.readUInt32LE(offset), state = data.readUInt32LE(offset + 4);
        const id = data.readUInt32LE(offset + 8), resInfo = data.readUInt16LE(offset + 12);
        const { text, next } = utf16z(data, offset + 14);
        offset = (next + 3) & ~3;
        const extra = {};
        if (type & ~0x800) extra.type = type;
        if (state) extra.flags = state;
        if (resInfo & 1) {
          offset += 4;  // help id
          items.push({ popup: text, items: level(), ...extra });
        } else if (type & 0x800) {
          items.push({ separator: true });
        } else {
          items.push({ text, id, ...extra });
        }
        if (resInfo & 0x80) return items;
      }
    };
    return level();
  }
  throw new Error(`menu template version ${version}`);
}

function parseAccelerators(data) {
  const entries = [];
  for (let offset = 0; offset + 8 <= data.length; offset += 8) {
    const flags = data.readUInt16LE(offset);
    entries.push({ flags: flags & ~LAST_ENTRY, key: data.readUInt16LE(offset + 2), id: data.readUInt16LE(offset + 4) });
    if (flags & LAST_ENTRY) return { entries, terminated: offset + 8 === data.length };
  }
  return { entries, terminated: false };
}

// A minimal XML reader: elements with attributes and namespaces, text, comments; enough for a
// manifest and strict about what it does not understand.
function parseXml(text) {
  text = text.replace(/^\uFEFF/, '');
  const root = { children: [] };
  const stack = [root];
  const re = /<\?[\s\S]*?\?>|<!--[\s\S]*?-->|<!\[CDATA\[([\s\S]*?)\]\]>|<\/\s*([\w.:-]+)\s*>|<([\w.:-]+)((?:\s+[\w.:-]+\s*=\s*(?:"[^"]*"|'[^']*'))*)\s*(\/?)>|([^<]+)|(<)/g;
  let m;
  while ((m = re.exec(text))) {
    const top = stack[stack.length - 1];
    if (m[1] !== undefined || m[6] !== undefined) {
      const content = m[1] !== undefined ? m[1] : m[6];
      if (content.trim()) top.children.push({ text: content.trim() });
    } else if (m[2]) {
      if (stack.length < 2 || top.name !== m[2]) throw new Error(`unbalanced </${m[2]}>`);
      stack.pop();
    } else if (m[3]) {
      const attributes = {};
      const attrRe = /([\w.:-]+)\s*=\s*(?:"([^"]*)"|'([^']*)')/g;
      let a;
      while ((a = attrRe.exec(m[4]))) attributes[a[1]] = a[2] !== undefined ? a[2] : a[3];
      const element = { name: m[3], attributes, children: [], parent: top };
      top.children.push(element);
      if (!m[5]) stack.push(element);
    } else if (m[7]) {
      throw new Error(`malformed markup at ${m.index}`);
    }
  }
  if (stack.length !== 1) throw new Error(`<${stack[stack.length - 1].name}> is not closed`);
  return root;
}

function namespaceOf(element) {
  const [prefix, local] = element.name.includes(':') ? element.name.split(':') : [null, element.name];
  const key = prefix ? `xmlns:${prefix}` : 'xmlns';
  for (let e = element; e && e.attributes; e = e.parent)
    if (key in e.attributes) return { ns: e.attributes[key], local };
  return { ns: null, local };
}

// ---------------------------------------------------------------------------------------------
// Looking at the pictures: colour classes, blobs and outlines of the opaque pixels.

function hsv([r, g, b]) {
  const max = Math.max(r, g, b), min = Math.min(r, g, b), d = max - min;
  let h = 0;
  if (d) {
    if (max === r) h = ((g - b) / d + 6) % 6;
    else if (max === g) h = (b - r) / d + 2;
    else h = (r - g) / d + 4;
  }
  return { h: h * 60, s: max ? d / max : 0, v: max / 255 };
}

const CLASSES = {
  lightBlue: (c) => { const { h, s, v } = hsv(c); return h >= 175 && h <= 225 && s >= 0.15 && v >= 0.7; },
  blue: (c) => { const { h, s, v } = hsv(c); return h >= 195 && h <= 245 && s >= 0.45 && v >= 0.35; },
  warm: (c) => { const { h, s, v } = hsv(c); return (h <= 45 || h >= 345) && s >= 0.6 && v >= 0.6; },
  dark: (c) => hsv(c).v < 0.55,
  white: (c) => c[0] >= 235 && c[1] >= 235 && c[2] >= 235,
};

// opaque[p] is 1 where the image covers the screen.
function analyse(width, height, rgba, opaque) {
  const classes = {};
  for (const name of Object.keys(CLASSES)) classes[name] = new Uint8Array(width * height);
  let count = 0, x0 = width, y0 = height, x1 = -1, y1 = -1;
  for (let y = 0; y < height; y++)
    for (let x = 0; x < width; x++) {
      const p = y * width + x;
      if (!opaque[p]) continue;
      count++;
      x0 = Math.min(x0, x); y0 = Math.min(y0, y); x1 = Math.max(x1, x); y1 = Math.max(y1, y);
      const c = [rgba[p * 4], rgba[p * 4 + 1], rgba[p * 4 + 2]];
      for (const [name, is] of Object.entries(CLASSES)) if (is(c)) classes[name][p] = 1;
    }
  const share = (name) => classes[name].reduce((s, v) => s + v, 0) / Math.max(1, count);
  return { width, height, count, box: { x0, y0, x1, y1 }, classes, share, opaque };
}

// Blobs of one class, 4-connected (so that a display does not merge with an outline it only
// touches at a corner): [{ size, cx, cy, box }].
function blobs(a, name) {
  const { width, height } = a, mask = a.classes[name], seen = new Uint8Array(width * height);
  const out = [];
  for (let start = 0; start < width * height; start++) {
    if (!mask[start] || seen[start]) continue;
    const queue = [start];
    seen[start] = 1;
    let size = 0, sx = 0, sy = 0, bx0 = width, by0 = height, bx1 = -1, by1 = -1;
    while (queue.length) {
      const p = queue.pop(), x = p % width, y = (p - x) / width;
      size++; sx += x; sy += y;
      bx0 = Math.min(bx0, x); by0 = Math.min(by0, y); bx1 = Math.max(bx1, x); by1 = Math.max(by1, y);
      for (const [dx, dy] of [[1, 0], [-1, 0], [0, 1], [0, -1]]) {
        const nx = x + dx, ny = y + dy, q = ny * width + nx;
        if (nx >= 0 && ny >= 0 && nx < width && ny < height && mask[q] && !seen[q]) { seen[q] = 1; queue.push(q); }
      }
    }
    out.push({ size, cx: sx / size, cy: sy / size, box: { x0: bx0, y0: by0, x1: bx1, y1: by1 } });
  }
  return out.sort((p, q) => q.size - p.size);
}

// The program icon: an upright light-blue body with rounded corners, a dark display in its upper
// part and exactly one orange key in its lower part; white keys.
function checkCalculatorPicture(t, label, a) {
  const { box } = a;
  const w = box.x1 - box.x0 + 1, h = box.y1 - box.y0 + 1;
  t.expect(h > w, `${label}: the calculator is not upright (${w}x${h})`);
  for (const [x, y] of [[box.x0, box.y0], [box.x1, box.y0], [box.x0, box.y1], [box.x1, box.y1]])
    t.expect(!a.opaque[y * a.width + x], `${label}: corner ${x},${y} of the body is not rounded off`);
  t.expect(a.share('lightBlue') >= 0.3, `${label}: only ${(a.share('lightBlue') * 100).toFixed(0)}% of the body is light blue`);
  t.expect(a.share('white') >= 0.03, `${label}: no white keys`);
  const warm = blobs(a, 'warm');
  t.expect(warm.length === 1, `${label}: ${warm.length} orange areas, expected one key`);
  if (warm.length) {
    t.expect(warm[0].size / a.count <= 0.1, `${label}: the orange key covers ${(warm[0].size / a.count * 100).toFixed(0)}%`);
    t.expect(warm[0].cy > box.y0 + h / 2, `${label}: the orange key is not in the lower half`);
  }
  // Inside the body, not its outline.
  const inside = (b) => b.box.x0 > box.x0 && b.box.x1 < box.x1 && b.box.y0 > box.y0 && b.box.y1 < box.y1;
  const display = blobs(a, 'dark').find((b) => inside(b) && b.box.x1 - b.box.x0 + 1 >= w / 2);
  t.expect(display, `${label}: no dark display inside the body, at least half as wide as it`);
  if (display) t.expect(display.cy < box.y0 + h * 0.4, `${label}: the display is not at the top`);
}

// The class icon: a landscape window, white client area framed in blue on every side, with a
// title bar (the frame is thickest at the top); nothing orange.
function checkWindowPicture(t, label, a) {
  const { box } = a;
  const w = box.x1 - box.x0 + 1, h = box.y1 - box.y0 + 1;
  t.expect(w > h, `${label}: the window is not wider than high (${w}x${h})`);
  t.expect(a.share('blue') >= 0.15, `${label}: only ${(a.share('blue') * 100).toFixed(0)}% blue frame`);
  t.expect(a.share('warm') === 0, `${label}: orange pixels in a window picture`);
  const client = blobs(a, 'white')[0];
  if (!t.expect(client && client.size / a.count >= 0.35, `${label}: no white client area covering a third of the window`)) return;
  const c = client.box;
  t.expect(c.x0 > box.x0 && c.x1 < box.x1 && c.y0 > box.y0 && c.y1 < box.y1, `${label}: the client area is not framed on every side`);
  t.expect(c.y0 - box.y0 > box.y1 - c.y1, `${label}: no title bar above the client area`);
}

// ---------------------------------------------------------------------------------------------

function main() {
  const [exeFile] = process.argv.slice(2);
  if (!exeFile) {
    console.error('usage: node tallyglass_test.js <Tallyglass.exe>');
    process.exit(2);
  }
  let pe = null, resources = [];

  test('is a 32-bit Windows GUI program', (t) => {
    pe = new CPeFile(exeFile);
    t.expect(!pe.isDll, 'the file is a DLL');
    t.equal(pe.machine, 0x14c, 'machine');
    t.equal(pe.subsystem, 2, 'subsystem (2 = Windows GUI; 3 would open a console)');
  });
  if (!pe) return finish();
  const find = (type, name) => resources.filter((r) => r.type === type && r.name === name);
  const one = (t, type, name, what) => {
    const found = find(type, name);
    t.equal(found.length, 1, `number of ${what} resources`);
    return found[0];
  };

  test('holds exactly the listed resources, all in English (United States)', (t) => {
    resources = pe.resources();
    const listed = resources.map((r) => `${r.type}/${r.name}/${r.lang.toString(16)}`);
    const groups = Object.keys(ICON_GROUPS).map(Number);
    const wanted = [
      `${RT.MENU}/109`, `${RT.STRING}/${(103 >> 4) + 1}`, `${RT.ACCELERATOR}/109`,
      ...groups.map((g) => `${RT.GROUP_ICON}/${g}`), `${RT.MANIFEST}/1`,
    ];
    const named = resources.filter((r) => r.type !== RT.ICON).map((r) => `${r.type}/${r.name}`).sort();
    t.equal(named, wanted.sort(), 'resources other than icon images (type/name)');
    for (const r of resources) t.equal(r.lang, EN_US, `language of ${r.type}/${r.name}`);
    // Images no group lists are dead weight, and a sign that the groups are not what they seem.
    const used = new Set();
    for (const g of resources.filter((r) => r.type === RT.GROUP_ICON))
      for (let i = 0; i < g.data.readUInt16LE(4); i++) used.add(g.data.readUInt16LE(6 + i * 14 + 12));
    const images = resources.filter((r) => r.type === RT.ICON).map((r) => r.name);
    t.equal(images.filter((n) => !used.has(n)), [], 'icon images listed by no group');
    t.expect(listed.length > 0, 'no resources at all');
  });

  test('string table: 103 "Tallyglass", 109 "TALLYKEEPER", nothing else', (t) => {
    const block = (103 >> 4) + 1;
    t.equal(block, (109 >> 4) + 1, 'both strings share one block');
    const r = one(t, RT.STRING, block, 'string block');
    if (!r) return;
    const strings = {};
    let offset = 0;
    for (let i = 0; i < 16; i++) {
      const length = r.data.readUInt16LE(offset);
      const text = r.data.toString('utf16le', offset + 2, offset + 2 + length * 2);
      offset += 2 + length * 2;
      if (length) strings[(block - 1) * 16 + i] = text;
    }
    t.equal(strings, STRINGS, 'strings of the block');
  });

  test('menu 109: popup "POPUP" with About (104), a separator, E&xit (105)', (t) => {
    const r = one(t, RT.MENU, 109, 'menu 109');
    if (r) t.equal(parseMenu(r.data), MENU, 'menu structure');
  });

  test('accelerators 109: Alt+"?" and Alt+"/" give 104, as character codes', (t) => {
    const r = one(t, RT.ACCELERATOR, 109, 'accelerator table 109');
    if (!r) return;
    const { entries, terminated } = parseAccelerators(r.data);
    t.expect(terminated, 'the table does not end with its last-entry flag');
    const byKey = (p, q) => p.key - q.key;
    t.equal(entries.slice().sort(byKey), ACCELERATORS.slice().sort(byKey), 'entries');
    for (const e of entries) t.expect(!(e.flags & FVIRTKEY), `entry ${e.key} is a virtual key, not a character code`);
  });

  const iconImages = new Map();  // group -> [{ label, analysis }]
  for (const [group, expected] of Object.entries(ICON_GROUPS)) {
    test(`icon group ${group}: ${expected.length} images of the listed sizes and depths`, (t) => {
      const r = one(t, RT.GROUP_ICON, Number(group), `icon group ${group}`);
      if (!r) return;
      const d = r.data;
      t.equal([d.readUInt16LE(0), d.readUInt16LE(2)], [0, 1], 'group header (reserved, type icon)');
      const count = d.readUInt16LE(4);
      t.equal(d.length, 6 + count * 14, 'group size for its entry count');
      const found = [];
      iconImages.set(group, []);
      for (let i = 0; i < count; i++) {
        const e = 6 + i * 14;
        const entry = {
          width: d[e] || 256, height: d[e + 1] || 256, colours: d[e + 2], reserved: d[e + 3],
          planes: d.readUInt16LE(e + 4), bitCount: d.readUInt16LE(e + 6), bytes: d.readUInt32LE(e + 8), id: d.readUInt16LE(e + 12),
        };
        const label = `group ${group} image ${entry.id} (${entry.width}x${entry.height}, ${entry.bitCount} bits)`;
        const image = one(t, RT.ICON, entry.id, `icon image ${entry.id}`);
        if (!image) continue;
        t.equal(entry.bytes, image.data.length, `${label}: dwBytesInRes`);
        t.equal(entry.planes, 1, `${label}: wPlanes`);
        t.equal(entry.reserved, 0, `${label}: bReserved`);
        t.equal(entry.colours, entry.bitCount === 4 ? 16 : 0, `${label}: bColorCount`);
        if (isPng(image.data)) {
          const png = decodePng(image.data);
          t.equal([png.width, png.height, png.bitDepth, png.colourType], [entry.width, entry.height, 8, 6],
            `${label}: PNG width, height, bit depth, colour type (6 = RGBA)`);
          found.push(`${png.width}x${png.height} 32 png`);
          if (png.rgba) {
            const opaque = png.rgba.filter((_, k) => k % 4 === 3).map((alpha) => (alpha >= 128 ? 1 : 0));
            iconImages.get(group).push({ label, a: analyse(png.width, png.height, png.rgba, opaque) });
          }
          continue;
        }
        const dib = decodeIconDib(image.data);
        t.equal([dib.width, dib.height], [entry.width, entry.height], `${label}: size in the bitmap header`);
        t.equal(dib.headerFields.planes, 1, `${label}: biPlanes`);
        t.equal(dib.bitCount, entry.bitCount, `${label}: biBitCount against the group entry`);
        found.push(`${dib.width}x${dib.height} ${dib.bitCount}`);
        checkMasks(t, label, dib);
        const opaque = dib.bitCount === 32
          ? Uint8Array.from(dib.masked, (m, p) => (!m && dib.rgba[p * 4 + 3] >= 128 ? 1 : 0))
          : Uint8Array.from(dib.masked, (m) => 1 - m);
        iconImages.get(group).push({ label, a: analyse(dib.width, dib.height, dib.rgba, opaque) });
      }
      t.equal(found.slice().sort(), expected.slice().sort(), 'images (size, bits per pixel, PNG)');
    });
  }

  test('icon group 107 shows a light-blue calculator with a display and one orange key', (t) => {
    const images = iconImages.get('107') || [];
    t.expect(images.length === ICON_GROUPS[107].length, 'not every image could be read');
    for (const { label, a } of images) checkCalculatorPicture(t, label, a);
  });

  test('icon group 108 shows a window with a blue frame and a white client area', (t) => {
    const images = iconImages.get('108') || [];
    t.expect(images.length === ICON_GROUPS[108].length, 'not every image could be read');
    for (const { label, a } of images) checkWindowPicture(t, label, a);
  });

  test('manifest 1: asInvoker, uiAccess false, nothing else', (t) => {
    const r = one(t, RT.MANIFEST, 1, 'manifest 1');
    if (!r) return;
    const root = parseXml(r.data.toString('utf8'));
    const chain = [['assembly', [ASM_V1]], ['trustInfo', TRUST_NAMESPACES], ['security', TRUST_NAMESPACES],
                   ['requestedPrivileges', TRUST_NAMESPACES], ['requestedExecutionLevel', TRUST_NAMESPACES]];
    let level = root;
    for (const [name, namespaces] of chain) {
      const children = level.children;
      const shown = children.map((c) => c.name || JSON.stringify(c.text)).join(', ');
      if (!t.expect(children.length === 1 && children[0].name, `<${level.name || 'document'}> holds [${shown}], expected only <${name}>`)) return;
      const { ns, local } = namespaceOf(children[0]);
      t.equal(local, name, `element under <${level.name || 'document'}>`);
      t.expect(namespaces.includes(ns), `<${children[0].name}> in namespace ${show(ns)}`);
      level = children[0];
    }
    t.equal(level.children, [], 'content of <requestedExecutionLevel>');
    const attributes = Object.fromEntries(Object.entries(level.attributes).filter(([k]) => !k.startsWith('xmlns')));
    t.equal(attributes, { level: 'asInvoker', uiAccess: 'false' }, 'attributes of <requestedExecutionLevel>');
    t.equal(root.children[0].attributes.manifestVersion, '1.0', 'manifestVersion');
  });
  finish();
}

// Where the AND mask lets the screen through, a paletted image must be black, or the screen is
// XORed with a colour; a 32-bit image must agree with its alpha.
function checkMasks(t, label, dib) {
  const { width, height, rgba, masked, bitCount } = dib;
  let opaque = 0, wrong = [];
  for (let p = 0; p < width * height; p++) {
    const alpha = rgba[p * 4 + 3];
    if (!masked[p]) opaque++;
    if (bitCount === 32) {
      if ((alpha === 0 && !masked[p]) || (alpha === 255 && masked[p])) wrong.push(p);
    } else if (masked[p] && (rgba[p * 4] || rgba[p * 4 + 1] || rgba[p * 4 + 2])) {
      wrong.push(p);
    }
  }
  t.expect(opaque > 0 && opaque < width * height, `${label}: the AND mask shows ${opaque} of ${width * height} pixels, so it is empty or full`);
  t.expect(!wrong.length, `${label}: ${wrong.length} pixels where the AND mask disagrees with the image, first at ${wrong[0] % width},${Math.floor(wrong[0] / width)}`);
  if (bitCount === 4) t.equal(dib.palette, WINDOWS_16, `${label}: the standard Windows 16-colour palette`);
  if (bitCount === 8) t.equal(dib.palette.length, 256, `${label}: palette entries`);
  if (bitCount === 32) {
    const partial = rgba.filter((v, k) => k % 4 === 3 && v > 0 && v < 255).length;
    t.expect(partial > 0, `${label}: no partly transparent pixel: the edges are not anti-aliased`);
  }
}

main();
