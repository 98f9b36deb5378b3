'use strict';
// Decodes the PNG files the tests look at (the icons' 256-pixel image, the page's badge,
// screenshots). Written apart from the project's PNG encoder on purpose, so that no test reads
// an image with the code that wrote it. Only 8-bit RGB or RGBA without interlace is decoded.

const zlib = require('zlib');

const PNG_SIGNATURE = Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]);

function isPng(data) {
  return data.length >= 8 && data.subarray(0, 8).equals(PNG_SIGNATURE);
}

function fail(message) {
  throw new Error(message);
}

// { width, height, bitDepth, colourType, rgba }: only what icons use (8-bit RGBA or RGB, no
// interlace) is decoded; anything else fails with a message.
function decodePng(data) {
  if (!isPng(data)) fail('no PNG signature');
  let offset = 8, header = null;
  const idat = [];
  while (offset + 8 <= data.length) {
    const length = data.readUInt32BE(offset), type = data.toString('latin1', offset + 4, offset + 8);
    if (offset + 12 + length > data.length) fail(`PNG chunk ${type} runs past the end`);
    const body = data.subarray(offset + 8, offset + 8 + length);
    if (type === 'IHDR') {
      header = { width: body.readUInt32BE(0), height: body.readUInt32BE(4), bitDepth: body[8],
                 colourType: body[9], interlace: body[12] };
    } else if (type === 'IDAT') {
      idat.push(body);
    } else if (type === 'IEND') {
      break;
    }
    offset += 12 + length;
  }
  if (!header) fail('PNG without IHDR');
  const { width, height, bitDepth, colourType, interlace } = header;
  const channels = { 2: 3, 6: 4 }[colourType];
  if (bitDepth !== 8 || !channels || interlace) {
    return { ...header, rgba: null };
  }
  const raw = zlib.inflateSync(Buffer.concat(idat));
  const stride = width * channels;
  if (raw.length !== (stride + 1) * height) fail(`PNG data holds ${raw.length} bytes, expected ${(stride + 1) * height}`);
  const pixels = Buffer.alloc(stride * height);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)];
    for (let x = 0; x < stride; x++) {
      const v = raw[y * (stride + 1) + 1 + x];
      const a = x >= channels ? pixels[y * stride + x - channels] : 0;
      const b = y > 0 ? pixels[(y - 1) * stride + x] : 0;
      const c = y > 0 && x >= channels ? pixels[(y - 1) * stride + x - channels] : 0;
      let predicted;
      switch (filter) {
        case 0: predicted = 0; break;
        case 1: predicted = a; break;
        case 2: predicted = b; break;
        case 3: predicted = (a + b) >> 1; break;
        case 4: {
          const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
          predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
          break;
        }
        default: fail(`PNG row ${y} has filter type ${filter}`);
      }
      pixels[y * stride + x] = (v + predicted) & 0xff;
    }
  }
  const rgba = Buffer.alloc(width * height * 4);
  for (let p = 0; p < width * height; p++) {
    for (let c = 0; c < 3; c++) rgba[p * 4 + c] = pixels[p * channels + c];
    rgba[p * 4 + 3] = channels === 4 ? pixels[p * channels + 3] : 255;
  }
  return { ...header, rgba };
}

// The pixel at (x, y) as [r, g, b, a] of a decoded image.
function pixelOf(image, x, y) {
  const at = (y * image.width + x) * 4;
  return Array.from(image.rgba.subarray(at, at + 4));
}

// A PNG that must be decodable, with a pixel accessor.
function decodePngPixels(data) {
  const image = decodePng(data);
  if (!image.rgba) fail(`PNG format not decoded: bit depth ${image.bitDepth}, colour type ${image.colourType}`);
  return { ...image, pixel: (x, y) => pixelOf(image, x, y) };
}

module.exports = { isPng, decodePng, decodePngPixels };
