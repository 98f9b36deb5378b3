'use strict';
// A minimal PNG encoder: 8-bit RGBA, no interlace, filter chosen per row.
// Only Node's built-in modules, so the build needs nothing from a package registry.
const zlib = require('zlib');

const CRC_TABLE = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; n++) {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c >>> 0;
  }
  return table;
})();

function crc32(buffers) {
  let c = 0xffffffff;
  for (const buf of buffers) {
    for (let i = 0; i < buf.length; i++) c = CRC_TABLE[(c ^ buf[i]) & 0xff] ^ (c >>> 8);
  }
  return (c ^ 0xffffffff) >>> 0;
}

function chunk(type, data) {
  const head = Buffer.alloc(8);
  head.writeUInt32BE(data.length, 0);
  head.write(type, 4, 'ascii');
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32([head.subarray(4), data]), 0);
  return Buffer.concat([head, data, crc]);
}

function paeth(a, b, c) {
  const p = a + b - c;
  const pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

// One filtered row: tries the five filters and keeps the one with the smallest sum of
// absolute values, the usual heuristic.
function filterRow(cur, prev, out, offset) {
  const bpp = 4, n = cur.length;
  let best = null, bestSum = Infinity;
  const trial = Buffer.alloc(n);
  for (let type = 0; type < 5; type++) {
    let sum = 0;
    for (let i = 0; i < n; i++) {
      const a = i >= bpp ? cur[i - bpp] : 0;
      const b = prev ? prev[i] : 0;
      const c = prev && i >= bpp ? prev[i - bpp] : 0;
      let v;
      switch (type) {
        case 0: v = cur[i]; break;
        case 1: v = cur[i] - a; break;
        case 2: v = cur[i] - b; break;
        case 3: v = cur[i] - ((a + b) >> 1); break;
        default: v = cur[i] - paeth(a, b, c); break;
      }
      v &= 0xff;
      trial[i] = v;
      sum += v < 128 ? v : 256 - v;
    }
    if (sum < bestSum) { bestSum = sum; best = { type, data: Buffer.from(trial) }; }
  }
  out[offset] = best.type;
  best.data.copy(out, offset + 1);
}

// rgba: width*height*4 bytes, rows top to bottom, straight (not premultiplied) alpha.
function encodePng(width, height, rgba) {
  if (!Number.isInteger(width) || !Number.isInteger(height) || width <= 0 || height <= 0)
    throw new RangeError('encodePng: bad size ' + width + 'x' + height);
  if (!rgba || rgba.length !== width * height * 4)
    throw new RangeError('encodePng: expected ' + width * height * 4 + ' bytes of RGBA');
  const src = Buffer.from(rgba.buffer, rgba.byteOffset, rgba.length);
  const stride = width * 4;
  const raw = Buffer.alloc((stride + 1) * height);
  for (let y = 0; y < height; y++) {
    const cur = src.subarray(y * stride, (y + 1) * stride);
    const prev = y > 0 ? src.subarray((y - 1) * stride, y * stride) : null;
    filterRow(cur, prev, raw, y * (stride + 1));
  }
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(width, 0);
  ihdr.writeUInt32BE(height, 4);
  ihdr[8] = 8;   // bit depth
  ihdr[9] = 6;   // colour type: RGBA
  ihdr[10] = 0;  // deflate
  ihdr[11] = 0;  // adaptive filtering
  ihdr[12] = 0;  // no interlace
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', ihdr),
    chunk('IDAT', zlib.deflateSync(raw, { level: 9 })),
    chunk('IEND', Buffer.alloc(0)),
  ]);
}

module.exports = { encodePng, crc32 };
