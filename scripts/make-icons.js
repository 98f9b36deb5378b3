'use strict';
// Draws the program's two icons and writes them as Windows .ico files:
//   tallyglass.ico  the program icon: a rounded, light-blue pocket calculator with a display and
//                   one orange key;
//   small.ico       the small class icon: a plain application window (blue frame, white client).
// Each image is drawn from geometry at its own size (anti-aliased, small sizes laid out on the
// pixel grid so that edges stay crisp) and then stored in its colour depth: 16 colours with the
// fixed Windows palette, 256 colours with a palette built from the image, 32-bit with alpha, and
// 256x256 as PNG. Previews decoded back from the written .ico bytes go to <outdir>/preview.
//
// Usage: node make-icons.js <outdir>
// Only Node's built-in modules are used.

const fs = require('fs');
const path = require('path');
const { encodePng } = require('./lib/png');

// ---------------------------------------------------------------------------------------------
// Drawing: a premultiplied RGBA canvas filled through signed distance fields (pixels, negative
// inside). Pixel (i, j) covers [i, i+1] x [j, j+1], so shapes with integer edges are crisp.

const SUPERSAMPLE = 4;

class CCanvas {
  constructor(size) {
    this.m_size = size;
    this.m_pixels = new Float64Array(size * size * 4);  // r, g, b in 0..255 premultiplied; a 0..1
  }

  // Paints paint(x, y) -> [r, g, b, a] over the area where sdf(x, y) < 0.
  fill(sdf, paint) {
    const n = this.m_size, sub = SUPERSAMPLE;
    for (let j = 0; j < n; j++) {
      for (let i = 0; i < n; i++) {
        const cx = i + 0.5, cy = j + 0.5;
        const d = sdf(cx, cy);
        let coverage;
        if (d >= 0.75) continue;
        if (d <= -0.75) {
          coverage = 1;
        } else {
          coverage = 0;
          for (let sy = 0; sy < sub; sy++) {
            for (let sx = 0; sx < sub; sx++) {
              const ds = sdf(i + (sx + 0.5) / sub, j + (sy + 0.5) / sub) * sub;
              coverage += Math.min(1, Math.max(0, 0.5 - ds));
            }
          }
          coverage /= sub * sub;
          if (coverage <= 0) continue;
        }
        this.blend(i, j, paint(cx, cy), coverage);
      }
    }
  }

  // Paints where field(x, y) gives a nonzero alpha factor; for soft shapes such as shadows.
  fillField(field, colour) {
    const n = this.m_size;
    for (let j = 0; j < n; j++)
      for (let i = 0; i < n; i++) {
        const f = field(i + 0.5, j + 0.5);
        if (f > 0) this.blend(i, j, colour, f);
      }
  }

  blend(i, j, [r, g, b, a], coverage) {
    const k = (j * this.m_size + i) * 4, p = this.m_pixels;
    const alpha = a * coverage, keep = 1 - alpha;
    p[k] = r * alpha + p[k] * keep;
    p[k + 1] = g * alpha + p[k + 1] * keep;
    p[k + 2] = b * alpha + p[k + 2] * keep;
    p[k + 3] = alpha + p[k + 3] * keep;
  }

  // Straight (not premultiplied) 8-bit RGBA, rows top to bottom.
  toRgba() {
    const n = this.m_size, out = Buffer.alloc(n * n * 4), p = this.m_pixels;
    for (let k = 0; k < n * n * 4; k += 4) {
      const a = p[k + 3];
      const alpha = Math.round(a * 255);
      if (alpha === 0) continue;
      out[k] = clampByte(p[k] / a);
      out[k + 1] = clampByte(p[k + 1] / a);
      out[k + 2] = clampByte(p[k + 2] / a);
      out[k + 3] = alpha;
    }
    return out;
  }
}

function clampByte(v) {
  return Math.max(0, Math.min(255, Math.round(v)));
}

function roundRect(x0, y0, x1, y1, radius) {
  const cx = (x0 + x1) / 2, cy = (y0 + y1) / 2, hx = (x1 - x0) / 2, hy = (y1 - y0) / 2;
  const r = Math.min(radius, hx, hy);
  return (x, y) => {
    const qx = Math.abs(x - cx) - hx + r, qy = Math.abs(y - cy) - hy + r;
    return Math.hypot(Math.max(qx, 0), Math.max(qy, 0)) + Math.min(Math.max(qx, qy), 0) - r;
  };
}

// The band of width w just inside the shape's edge.
function innerRing(sdf, w) {
  return (x, y) => {
    const d = sdf(x, y);
    return Math.max(d, -(d + w));
  };
}

function shifted(sdf, dx, dy) {
  return (x, y) => sdf(x - dx, y - dy);
}

function hex(value, alpha = 1) {
  const v = parseInt(value.slice(1), 16);
  return [(v >> 16) & 255, (v >> 8) & 255, v & 255, alpha];
}

function solid(colour) {
  return () => colour;
}

function verticalGradient(y0, y1, top, bottom) {
  return (x, y) => {
    const t = Math.min(1, Math.max(0, (y - y0) / (y1 - y0)));
    return top.map((c, i) => c + (bottom[i] - c) * t);
  };
}

function smoothstep(e0, e1, x) {
  const t = Math.min(1, Math.max(0, (x - e0) / (e1 - e0)));
  return t * t * (3 - 2 * t);
}

// ---------------------------------------------------------------------------------------------
// The program icon. Sizes up to 48 have their own layout on the pixel grid; 256 is the full
// drawing with digits in the display.

const CALC = {
  bodyTop: hex('#bfe6fd'), bodyBottom: hex('#7fc3ef'), bodyEdge: hex('#2b73b5'),
  gloss: hex('#ffffff', 0.55),
  displayTop: hex('#284a70'), displayBottom: hex('#1b3352'), displayEdge: hex('#0f2a44'),
  digits: hex('#a6ecff'),
  keyTop: hex('#ffffff'), keyBottom: hex('#e2eef8'), keyEdge: hex('#5b93c4'),
  orangeTop: hex('#ffa640'), orangeBottom: hex('#f07a10'), orangeEdge: hex('#b85700'),
  shadow: hex('#0a2a4a', 0.35),
};

// body/display: [x0, y0, x1, y1, radius]; keys: grid origin, count, key size and gaps.
const CALC_LAYOUTS = {
  16: { body: [2, 0, 14, 16, 3.5], edge: 1, display: [4, 2, 12, 6, 0],
        keys: { x: 4, y: 8, cols: 3, rows: 2, w: 2, h: 2, gx: 1, gy: 1, r: 0 } },
  24: { body: [2, 0, 22, 24, 5], edge: 1, display: [5, 3, 19, 8, 1],
        keys: { x: 5, y: 10, cols: 3, rows: 3, w: 4, h: 3, gx: 1, gy: 1, r: 0.5 } },
  32: { body: [4, 0, 28, 32, 6.5], edge: 1, display: [7, 3, 25, 9, 1],
        keys: { x: 7, y: 12, cols: 4, rows: 4, w: 3, h: 3, gx: 2, gy: 2, r: 0.5 } },
  48: { body: [6, 1, 42, 46, 9], edge: 1.5, display: [9, 5, 39, 15, 1.5], digits: true,
        keys: { x: 9, y: 19, cols: 4, rows: 4, w: 6, h: 4, gx: 2, gy: 2, r: 1, edge: 0.75 },
        shadow: 1.5, gloss: 1 },
  256: { body: [32, 6, 224, 246, 48], edge: 7, display: [56, 32, 200, 96, 12], digits: true,
         keys: { x: 56, y: 114, cols: 4, rows: 4, w: 30, h: 24, gx: 8, gy: 9.33, r: 6, edge: 3 },
         shadow: 8, gloss: 5 },
};

// Seven-segment digits: segments a..g as on every pocket calculator.
const SEGMENTS = {
  0: 'abcdef', 1: 'bc', 2: 'abdeg', 3: 'abcdg', 4: 'bcfg',
  5: 'acdfg', 6: 'acdefg', 7: 'abc', 8: 'abcdefg', 9: 'abcdfg',
};

function drawDigit(canvas, digit, x0, y0, w, h, t, colour) {
  const mid = y0 + h / 2, x1 = x0 + w, y1 = y0 + h, gap = t * 0.15;
  const horizontal = (y) => roundRect(x0 + gap, y - t / 2, x1 - gap, y + t / 2, t / 2);
  const vertical = (x, ya, yb) => roundRect(x - t / 2, ya + gap, x + t / 2, yb - gap, t / 2);
  const shapes = {
    a: horizontal(y0 + t / 2), g: horizontal(mid), d: horizontal(y1 - t / 2),
    f: vertical(x0 + t / 2, y0, mid), b: vertical(x1 - t / 2, y0, mid),
    e: vertical(x0 + t / 2, mid, y1), c: vertical(x1 - t / 2, mid, y1),
  };
  for (const s of SEGMENTS[digit]) canvas.fill(shapes[s], solid(colour));
}

function drawCalculator(size) {
  const L = CALC_LAYOUTS[size];
  const canvas = new CCanvas(size);
  const [bx0, by0, bx1, by1, br] = L.body;
  const body = roundRect(bx0, by0, bx1, by1, br);

  if (L.shadow) {
    const blur = L.shadow;
    const s = shifted(roundRect(bx0 + blur * 0.5, by0 + blur, bx1 - blur * 0.5, by1, br), 0, blur * 0.5);
    canvas.fillField((x, y) => 1 - smoothstep(-blur, blur, s(x, y)), CALC.shadow);
  }
  canvas.fill(body, verticalGradient(by0, by1, CALC.bodyTop, CALC.bodyBottom));
  if (L.gloss) {
    // A light line just inside the upper edge, fading downwards: the body reads as rounded.
    const inner = roundRect(bx0 + L.edge, by0 + L.edge, bx1 - L.edge, by1 - L.edge, br - L.edge);
    const [r, g, b, a] = CALC.gloss;
    canvas.fill(innerRing(inner, L.gloss),
      (x, y) => [r, g, b, a * (1 - smoothstep(by0, by0 + (by1 - by0) * 0.6, y))]);
  }
  canvas.fill(innerRing(body, L.edge), solid(CALC.bodyEdge));

  const [dx0, dy0, dx1, dy1, dr] = L.display;
  const display = roundRect(dx0, dy0, dx1, dy1, dr);
  canvas.fill(display, verticalGradient(dy0, dy1, CALC.displayTop, CALC.displayBottom));
  if (L.keys.edge) canvas.fill(innerRing(display, L.keys.edge), solid(CALC.displayEdge));
  if (L.digits) drawDisplayDigits(canvas, L.display, size);

  const k = L.keys;
  for (let row = 0; row < k.rows; row++) {
    for (let col = 0; col < k.cols; col++) {
      const orange = row === k.rows - 1 && col === k.cols - 1;
      const x0 = k.x + col * (k.w + k.gx), y0 = k.y + row * (k.h + k.gy);
      const key = roundRect(x0, y0, x0 + k.w, y0 + k.h, k.r);
      const top = orange ? CALC.orangeTop : CALC.keyTop;
      const bottom = orange ? CALC.orangeBottom : CALC.keyBottom;
      canvas.fill(key, size >= 32 ? verticalGradient(y0, y0 + k.h, top, bottom) : solid(top));
      if (k.edge) canvas.fill(innerRing(key, k.edge), solid(orange ? CALC.orangeEdge : CALC.keyEdge));
    }
  }
  return canvas;
}

// "1024", right-aligned; at 48 pixels the segments are one pixel wide, so only three digits fit.
function drawDisplayDigits(canvas, [dx0, dy0, dx1, dy1], size) {
  const text = size >= 256 ? '1024' : '024';
  const h = (dy1 - dy0) * (size >= 256 ? 0.62 : 0.6);
  const w = h * (size >= 256 ? 0.55 : 0.62);
  const t = Math.max(1, h * 0.16);
  const spacing = size >= 256 ? w * 0.35 : 1.5;
  const pad = (dy1 - dy0 - h) / 2;
  let x = dx1 - pad * (size >= 256 ? 1.2 : 0.9) - text.length * w - (text.length - 1) * spacing;
  for (const ch of text) {
    drawDigit(canvas, Number(ch), x, dy0 + pad, w, h, t, CALC.digits);
    x += w + spacing;
  }
}

// ---------------------------------------------------------------------------------------------
// The small class icon: a window with a blue frame and title bar and a white client area.

const WIN = {
  frameTop: hex('#3f86e4'), frameBottom: hex('#1f58c2'), frameEdge: hex('#173f94'),
  client: hex('#ffffff'), clientEdge: hex('#a9c4e4'),
};

// frame: [x0, y0, x1, y1, radius]; client: [x0, y0, x1, y1].
const WIN_LAYOUTS = {
  16: { frame: [1, 2, 15, 14, 1], client: [2, 5, 14, 13] },
  32: { frame: [2, 4, 30, 28, 2], client: [4, 10, 28, 26], edge: 1 },
  48: { frame: [3, 6, 45, 42, 3], client: [6, 15, 42, 39], edge: 1 },
};

function drawWindow(size) {
  const L = WIN_LAYOUTS[size];
  const canvas = new CCanvas(size);
  const [fx0, fy0, fx1, fy1, fr] = L.frame;
  const frame = roundRect(fx0, fy0, fx1, fy1, fr);
  canvas.fill(frame, verticalGradient(fy0, fy1, WIN.frameTop, WIN.frameBottom));
  if (L.edge) canvas.fill(innerRing(frame, L.edge), solid(WIN.frameEdge));
  const [cx0, cy0, cx1, cy1] = L.client;
  canvas.fill(roundRect(cx0, cy0, cx1, cy1, 0), solid(WIN.client));
  if (L.edge) canvas.fill(innerRing(roundRect(cx0, cy0, cx1, cy1, 0), 1), solid(WIN.clientEdge));
  return canvas;
}

// ---------------------------------------------------------------------------------------------
// Colour: CIE Lab distances for choosing palette entries.

function toLinear(c) {
  const v = c / 255;
  return v <= 0.04045 ? v / 12.92 : Math.pow((v + 0.055) / 1.055, 2.4);
}

function fromLinear(v) {
  const c = v <= 0.0031308 ? v * 12.92 : 1.055 * Math.pow(v, 1 / 2.4) - 0.055;
  return c * 255;
}

function labOfLinear([r, g, b]) {
  const f = (t) => (t > 216 / 24389 ? Math.cbrt(t) : (24389 / 27 * t + 16) / 116);
  const x = f((0.4124 * r + 0.3576 * g + 0.1805 * b) / 0.95047);
  const y = f(0.2126 * r + 0.7152 * g + 0.0722 * b);
  const z = f((0.0193 * r + 0.1192 * g + 0.9505 * b) / 1.08883);
  return [116 * y - 16, 500 * (x - y), 200 * (y - z)];
}

function lab(rgb) {
  return labOfLinear(rgb.slice(0, 3).map(toLinear));
}

function deltaE(p, q) {
  return Math.hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]);
}

// The sixteen colours of the standard Windows palette, in their usual order.
const WINDOWS_16 = [
  '#000000', '#800000', '#008000', '#808000', '#000080', '#800080', '#008080', '#c0c0c0',
  '#808080', '#ff0000', '#00ff00', '#ffff00', '#0000ff', '#ff00ff', '#00ffff', '#ffffff',
].map((h) => hex(h).slice(0, 3));

const ALPHA_THRESHOLD = 128;  // below it a pixel counts as transparent in the AND mask
const CHROMA_BOOST = 2.5;  // enough to keep the icons' pale blues off silver, not so much that greys turn colourful

// Palette indices of an image; transparent pixels keep index 0, black, under a set mask bit.
function indexPixels(rgba, size, indexOf) {
  const indices = new Uint8Array(size * size);
  for (let p = 0; p < size * size; p++) {
    const k = p * 4;
    if (rgba[k + 3] >= ALPHA_THRESHOLD) indices[p] = indexOf(rgba[k], rgba[k + 1], rgba[k + 2]);
  }
  return indices;
}

// 16 colours: nearest palette entry after raising the chroma of the image's colour. The palette's
// chromatic entries are all fully saturated, so a pale colour would otherwise fall onto silver or
// grey and lose its hue (light blue would turn grey); ordered dithering would cure that but is
// noise at these sizes.
function quantiseTo16(rgba, size) {
  const palette = WINDOWS_16;
  const labs = palette.map(lab);
  const nearest = new Map();
  const indexOf = (r, g, b) => {
    const key = (r << 16) | (g << 8) | b;
    if (!nearest.has(key)) {
      const [l, a, bb] = lab([r, g, b]);
      const target = [l, a * CHROMA_BOOST, bb * CHROMA_BOOST];
      let best = 0, bestErr = Infinity;
      labs.forEach((p, i) => {
        const err = deltaE(target, p);
        if (err < bestErr) { bestErr = err; best = i; }
      });
      nearest.set(key, best);
    }
    return nearest.get(key);
  };
  return { palette, indices: indexPixels(rgba, size, indexOf) };
}

// 256 colours: the image's own colours when they fit, otherwise a median cut of them. Entry 0
// stays black for the transparent pixels.
function quantiseTo256(rgba, size) {
  const counts = new Map();
  for (let k = 0; k < rgba.length; k += 4) {
    if (rgba[k + 3] < ALPHA_THRESHOLD) continue;
    const key = (rgba[k] << 16) | (rgba[k + 1] << 8) | rgba[k + 2];
    counts.set(key, (counts.get(key) || 0) + 1);
  }
  const colours = [...counts].map(([key, n]) => ({ rgb: [key >> 16, (key >> 8) & 255, key & 255], n }));
  const chosen = colours.length <= 255 ? colours.map((c) => c.rgb) : medianCut(colours, 255);
  const palette = [[0, 0, 0], ...chosen];
  while (palette.length < 256) palette.push([0, 0, 0]);
  const nearest = new Map();
  const indexOf = (r, g, b) => {
    const key = (r << 16) | (g << 8) | b;
    if (!nearest.has(key)) {
      const target = lab([r, g, b]);
      let best = 1, bestErr = Infinity;
      for (let i = 1; i <= chosen.length; i++) {
        const err = deltaE(target, lab(palette[i]));
        if (err < bestErr) { bestErr = err; best = i; }
      }
      nearest.set(key, best);
    }
    return nearest.get(key);
  };
  return { palette, indices: indexPixels(rgba, size, indexOf) };
}

function medianCut(colours, count) {
  const boxes = [colours];
  while (boxes.length < count) {
    // Split the box with the widest weighted channel range along that channel.
    let pick = -1, pickRange = 0, pickChannel = 0;
    boxes.forEach((box, index) => {
      if (box.length < 2) return;
      for (let c = 0; c < 3; c++) {
        let lo = 255, hi = 0;
        for (const { rgb } of box) { lo = Math.min(lo, rgb[c]); hi = Math.max(hi, rgb[c]); }
        const range = (hi - lo) * Math.sqrt(box.reduce((s, e) => s + e.n, 0));
        if (range > pickRange) { pickRange = range; pick = index; pickChannel = c; }
      }
    });
    if (pick < 0) break;
    const box = boxes[pick].sort((p, q) => p.rgb[pickChannel] - q.rgb[pickChannel]);
    const total = box.reduce((s, e) => s + e.n, 0);
    let acc = 0, cut = 1;
    for (; cut < box.length - 1; cut++) {
      acc += box[cut - 1].n;
      if (acc >= total / 2) break;
    }
    boxes.splice(pick, 1, box.slice(0, cut), box.slice(cut));
  }
  return boxes.map((box) => {
    const total = box.reduce((s, e) => s + e.n, 0);
    return [0, 1, 2].map((c) => Math.round(box.reduce((s, e) => s + e.rgb[c] * e.n, 0) / total));
  });
}

// ---------------------------------------------------------------------------------------------
// ICO writing. Paletted and 32-bit images are DIBs (BITMAPINFOHEADER with doubled height, XOR
// bitmap bottom-up, then the 1-bit AND mask); the 256x256 image is a PNG.

function andMask(rgba, size) {
  const stride = ((size + 31) >> 5) * 4;
  const mask = Buffer.alloc(stride * size);
  for (let y = 0; y < size; y++) {
    const row = (size - 1 - y) * stride;
    for (let x = 0; x < size; x++) {
      if (rgba[(y * size + x) * 4 + 3] < ALPHA_THRESHOLD) mask[row + (x >> 3)] |= 0x80 >> (x & 7);
    }
  }
  return mask;
}

function dibHeader(size, bitCount, imageBytes) {
  const h = Buffer.alloc(40);
  h.writeUInt32LE(40, 0);
  h.writeInt32LE(size, 4);
  h.writeInt32LE(size * 2, 8);  // XOR bitmap and AND mask
  h.writeUInt16LE(1, 12);
  h.writeUInt16LE(bitCount, 14);
  h.writeUInt32LE(0, 16);       // BI_RGB
  h.writeUInt32LE(imageBytes, 20);
  return h;
}

function paletteBytes(palette) {
  const out = Buffer.alloc(palette.length * 4);
  palette.forEach(([r, g, b], i) => { out[i * 4] = b; out[i * 4 + 1] = g; out[i * 4 + 2] = r; });
  return out;
}

function palettedDib(rgba, size, bitCount) {
  const { palette, indices } = bitCount === 4 ? quantiseTo16(rgba, size) : quantiseTo256(rgba, size);
  const stride = ((size * bitCount + 31) >> 5) * 4;
  const xor = Buffer.alloc(stride * size);
  for (let y = 0; y < size; y++) {
    const row = (size - 1 - y) * stride;
    for (let x = 0; x < size; x++) {
      const index = indices[y * size + x];
      if (bitCount === 8) xor[row + x] = index;
      else xor[row + (x >> 1)] |= x & 1 ? index : index << 4;
    }
  }
  const mask = andMask(rgba, size);
  return Buffer.concat([dibHeader(size, bitCount, xor.length + mask.length), paletteBytes(palette), xor, mask]);
}

function trueColourDib(rgba, size) {
  const xor = Buffer.alloc(size * size * 4);
  for (let y = 0; y < size; y++) {
    for (let x = 0; x < size; x++) {
      const s = (y * size + x) * 4, d = ((size - 1 - y) * size + x) * 4;
      xor[d] = rgba[s + 2]; xor[d + 1] = rgba[s + 1]; xor[d + 2] = rgba[s]; xor[d + 3] = rgba[s + 3];
    }
  }
  const mask = andMask(rgba, size);
  return Buffer.concat([dibHeader(size, 32, xor.length + mask.length), xor, mask]);
}

// images: [{ size, bits, png? }] in file order; draw(size) renders one size.
function buildIco(images, draw) {
  const rendered = new Map();
  const rgbaAt = (size) => {
    if (!rendered.has(size)) rendered.set(size, draw(size).toRgba());
    return rendered.get(size);
  };
  const datas = images.map(({ size, bits, png }) => {
    const rgba = rgbaAt(size);
    if (png) return encodePng(size, size, rgba);
    return bits === 32 ? trueColourDib(rgba, size) : palettedDib(rgba, size, bits);
  });
  const dir = Buffer.alloc(6 + 16 * images.length);
  dir.writeUInt16LE(0, 0);
  dir.writeUInt16LE(1, 2);  // icon
  dir.writeUInt16LE(images.length, 4);
  let offset = dir.length;
  images.forEach(({ size, bits }, i) => {
    const e = 6 + 16 * i;
    dir[e] = size >= 256 ? 0 : size;
    dir[e + 1] = size >= 256 ? 0 : size;
    dir[e + 2] = bits === 4 ? 16 : 0;
    dir[e + 3] = 0;
    dir.writeUInt16LE(1, e + 4);
    dir.writeUInt16LE(bits, e + 6);
    dir.writeUInt32LE(datas[i].length, e + 8);
    dir.writeUInt32LE(offset, e + 12);
    offset += datas[i].length;
  });
  return Buffer.concat([dir, ...datas]);
}

// ---------------------------------------------------------------------------------------------
// Previews: every image decoded back from the .ico bytes, and one sheet per icon with all images
// enlarged on a light and on a dark background.

function decodeIcoImages(ico) {
  const count = ico.readUInt16LE(4);
  const images = [];
  for (let i = 0; i < count; i++) {
    const e = 6 + 16 * i;
    const size = ico[e] || 256, bits = ico.readUInt16LE(e + 6);
    const data = ico.subarray(ico.readUInt32LE(e + 12), ico.readUInt32LE(e + 12) + ico.readUInt32LE(e + 8));
    images.push({ size, bits, data, rgba: data.readUInt32BE(0) === 0x89504e47 ? null : decodeDib(data) });
  }
  return images;
}

function decodeDib(data) {
  const size = data.readInt32LE(4), bits = data.readUInt16LE(14);
  const colours = bits <= 8 ? 1 << bits : 0;
  const paletteAt = 40, xorAt = paletteAt + colours * 4;
  const stride = ((size * bits + 31) >> 5) * 4, maskStride = ((size + 31) >> 5) * 4;
  const maskAt = xorAt + stride * size;
  const out = Buffer.alloc(size * size * 4);
  for (let y = 0; y < size; y++) {
    const row = xorAt + (size - 1 - y) * stride;
    for (let x = 0; x < size; x++) {
      const o = (y * size + x) * 4;
      const masked = data[maskAt + (size - 1 - y) * maskStride + (x >> 3)] & (0x80 >> (x & 7));
      if (bits === 32) {
        out[o] = data[row + x * 4 + 2]; out[o + 1] = data[row + x * 4 + 1];
        out[o + 2] = data[row + x * 4]; out[o + 3] = data[row + x * 4 + 3];
      } else {
        const byte = data[row + ((x * bits) >> 3)];
        const index = bits === 8 ? byte : x & 1 ? byte & 15 : byte >> 4;
        const p = paletteAt + index * 4;
        out[o] = data[p + 2]; out[o + 1] = data[p + 1]; out[o + 2] = data[p]; out[o + 3] = masked ? 0 : 255;
      }
    }
  }
  return out;
}

function writePreviews(name, ico, dir) {
  const images = decodeIcoImages(ico);
  for (const { size, bits, data, rgba } of images) {
    const file = path.join(dir, `${name}-${size}x${size}-${bits}bit.png`);
    fs.writeFileSync(file, rgba ? encodePng(size, size, rgba) : data);
  }
  const cell = 136, columns = images.length;
  const width = cell * columns, height = cell * 2;
  const sheet = Buffer.alloc(width * height * 4);
  const backgrounds = [[240, 240, 240], [48, 48, 48]];
  for (let y = 0; y < height; y++)
    for (let x = 0; x < width; x++) {
      const bg = backgrounds[y < cell ? 0 : 1], o = (y * width + x) * 4;
      sheet[o] = bg[0]; sheet[o + 1] = bg[1]; sheet[o + 2] = bg[2]; sheet[o + 3] = 255;
    }
  images.forEach(({ size, rgba }, column) => {
    if (!rgba) return;  // the PNG image has its own preview file
    const scale = Math.max(1, Math.floor(128 / size));
    const left = column * cell + (cell - size * scale) / 2, top = (cell - size * scale) / 2;
    for (let band = 0; band < 2; band++)
      for (let y = 0; y < size * scale; y++)
        for (let x = 0; x < size * scale; x++) {
          const s = (Math.floor(y / scale) * size + Math.floor(x / scale)) * 4;
          const o = ((top + band * cell + y) * width + left + x) * 4;
          const a = rgba[s + 3] / 255;
          for (let c = 0; c < 3; c++) sheet[o + c] = Math.round(rgba[s + c] * a + sheet[o + c] * (1 - a));
        }
  });
  fs.writeFileSync(path.join(dir, `${name}-sheet.png`), encodePng(width, height, sheet));
}

// ---------------------------------------------------------------------------------------------

const PROGRAM_ICON = [
  { size: 16, bits: 4 }, { size: 32, bits: 4 },
  { size: 16, bits: 8 }, { size: 32, bits: 8 }, { size: 48, bits: 8 },
  { size: 16, bits: 32 }, { size: 24, bits: 32 }, { size: 32, bits: 32 }, { size: 48, bits: 32 },
  { size: 256, bits: 32, png: true },
];

const CLASS_ICON = [
  { size: 16, bits: 4 }, { size: 32, bits: 4 },
  { size: 16, bits: 8 }, { size: 32, bits: 8 }, { size: 48, bits: 8 },
  { size: 16, bits: 32 }, { size: 32, bits: 32 }, { size: 48, bits: 32 },
];

function main() {
  const outDir = process.argv[2];
  if (!outDir) {
    console.error('usage: node make-icons.js <outdir>');
    process.exit(2);
  }
  const previewDir = path.join(outDir, 'preview');
  fs.mkdirSync(previewDir, { recursive: true });
  const icons = [
    ['tallyglass', buildIco(PROGRAM_ICON, drawCalculator)],
    ['small', buildIco(CLASS_ICON, drawWindow)],
  ];
  for (const [name, ico] of icons) {
    // Written whole or not at all, so that a failed run never leaves a half icon for the build.
    const file = path.join(outDir, `${name}.ico`);
    fs.writeFileSync(file + '.tmp', ico);
    fs.renameSync(file + '.tmp', file);
    writePreviews(name, ico, previewDir);
  }
}

main();
