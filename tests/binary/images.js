'use strict';
// Decoders for the two forms an icon image takes inside a resource: a DIB (BITMAPINFOHEADER,
// palette, XOR bitmap, AND mask) and a PNG (../lib/png-decode.js). Written apart from the icon
// generator on purpose, so that the test does not read the icons with the code that wrote them.

const { isPng, decodePng } = require('../lib/png-decode');

function fail(message) {
  throw new Error(message);
}

// { width, height, bitCount, palette: [[r, g, b]], rgba, masked: Uint8Array, headerFields }
// rgba carries the XOR colours (alpha from the bitmap for 32 bits, else 255); masked[p] is 1
// where the AND mask lets the screen through. Rows top to bottom.
function decodeIconDib(data) {
  if (data.length < 40) fail('icon image shorter than a BITMAPINFOHEADER');
  const h = {
    size: data.readUInt32LE(0), width: data.readInt32LE(4), height: data.readInt32LE(8),
    planes: data.readUInt16LE(12), bitCount: data.readUInt16LE(14), compression: data.readUInt32LE(16),
    clrUsed: data.readUInt32LE(32),
  };
  if (h.size !== 40) fail(`BITMAPINFOHEADER size ${h.size}`);
  if (h.compression !== 0) fail(`DIB compression ${h.compression}, expected BI_RGB`);
  const width = h.width, height = h.height / 2, bits = h.bitCount;
  if (!(width > 0 && Number.isInteger(height) && height > 0)) fail(`DIB size ${h.width}x${h.height}`);
  if (![1, 4, 8, 24, 32].includes(bits)) fail(`DIB bit count ${bits}`);
  const colours = bits <= 8 ? h.clrUsed || 1 << bits : 0;
  const paletteAt = 40, xorAt = paletteAt + colours * 4;
  const stride = ((width * bits + 31) >> 5) * 4, maskStride = ((width + 31) >> 5) * 4;
  const maskAt = xorAt + stride * height;
  if (maskAt + maskStride * height > data.length)
    fail(`icon image of ${data.length} bytes too short for ${width}x${height}x${bits} with its AND mask`);
  const palette = [];
  for (let i = 0; i < colours; i++) {
    const p = paletteAt + i * 4;
    palette.push([data[p + 2], data[p + 1], data[p]]);
  }
  const rgba = Buffer.alloc(width * height * 4);
  const masked = new Uint8Array(width * height);
  for (let y = 0; y < height; y++) {
    const row = xorAt + (height - 1 - y) * stride, maskRow = maskAt + (height - 1 - y) * maskStride;
    for (let x = 0; x < width; x++) {
      const o = (y * width + x) * 4;
      masked[y * width + x] = data[maskRow + (x >> 3)] & (0x80 >> (x & 7)) ? 1 : 0;
      if (bits >= 24) {
        const p = row + x * (bits / 8);
        rgba[o] = data[p + 2]; rgba[o + 1] = data[p + 1]; rgba[o + 2] = data[p];
        rgba[o + 3] = bits === 32 ? data[p + 3] : 255;
      } else {
        const byte = data[row + ((x * bits) >> 3)];
        const shift = 8 - bits - ((x * bits) & 7);
        const index = (byte >> shift) & ((1 << bits) - 1);
        if (index >= palette.length) fail(`pixel ${x},${y} uses palette entry ${index} of ${palette.length}`);
        [rgba[o], rgba[o + 1], rgba[o + 2]] = palette[index];
        rgba[o + 3] = 255;
      }
    }
  }
  return { width, height, bitCount: bits, palette, rgba, masked, headerFields: h };
}

module.exports = { isPng, decodePng, decodeIconDib };
