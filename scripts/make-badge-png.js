#!/usr/bin/env node
'use strict';
// Draws the calculator badge of the result area: a 16x16 RGBA PNG of a round, glossy, light-blue
// badge with a pale display strip across the top (orange upper rim), a grid of keys below it and
// one orange key at the lower right. Shapes are sampled 8x8 times per pixel for smooth edges.
//
// Usage: make-badge-png.js OUT.png [OUT.base64]
// The second file receives the PNG as Base64 text, for the page's data URI.
const fs = require('fs');
const path = require('path');
const { encodePng } = require('./lib/png');

const SIZE = 16;
const SUBSAMPLES = 8;

// Colours as [r, g, b, a] with a in 0..1.
const RIM = [38, 104, 168, 1];
const BADGE_TOP = [170, 220, 250, 1];
const BADGE_BOTTOM = [62, 145, 212, 1];
const GLOSS = [255, 255, 255, 0.45];
const DISPLAY = [238, 249, 255, 1];
const DISPLAY_RIM = [240, 138, 30, 1];
const KEY = [250, 253, 255, 1];
const KEY_ORANGE = [247, 148, 29, 1];

const CENTER = 8;
const RADIUS = 7.6;
const RIM_WIDTH = 0.9;

function inCircle(x, y, cx, cy, r) {
    const dx = x - cx, dy = y - cy;
    return dx * dx + dy * dy <= r * r;
}

function inEllipse(x, y, cx, cy, rx, ry) {
    const dx = (x - cx) / rx, dy = (y - cy) / ry;
    return dx * dx + dy * dy <= 1;
}

function inRect(x, y, left, top, right, bottom) {
    return x >= left && x < right && y >= top && y < bottom;
}

function mix(a, b, t) {
    return [0, 1, 2, 3].map((i) => a[i] + (b[i] - a[i]) * t);
}

// Layers from the bottom up; each returns the colour it puts at (x, y), or null.
const LAYERS = [
    (x, y) => (inCircle(x, y, CENTER, CENTER, RADIUS) ? RIM : null),
    (x, y) => (inCircle(x, y, CENTER, CENTER, RADIUS - RIM_WIDTH)
        ? mix(BADGE_TOP, BADGE_BOTTOM, Math.min(1, Math.max(0, (y - 1) / 14)))
        : null),
    // The gloss: a soft highlight over the upper half, inside the rim.
    (x, y) => (inEllipse(x, y, CENTER, 4.2, 5.8, 3.6) && inCircle(x, y, CENTER, CENTER, RADIUS - RIM_WIDTH)
        ? GLOSS
        : null),
    (x, y) => (inRect(x, y, 3.5, 3.0, 12.5, 4.0) ? DISPLAY_RIM : null),
    (x, y) => (inRect(x, y, 3.5, 4.0, 12.5, 6.2) ? DISPLAY : null),
    (x, y) => keyAt(x, y),
];

// Three columns and two rows of keys; the lower right one is orange.
function keyAt(x, y) {
    const columns = [4, 7, 10];
    const rows = [7.2, 10];
    for (let row = 0; row < rows.length; row++) {
        for (let column = 0; column < columns.length; column++) {
            if (inRect(x, y, columns[column], rows[row], columns[column] + 2, rows[row] + 1.8))
                return row === 1 && column === 2 ? KEY_ORANGE : KEY;
        }
    }
    return null;
}

// Premultiplied "over" of every layer at one sample point.
function sample(x, y) {
    let r = 0, g = 0, b = 0, a = 0;
    for (const layer of LAYERS) {
        const c = layer(x, y);
        if (!c) continue;
        const alpha = c[3];
        r = c[0] * alpha + r * (1 - alpha);
        g = c[1] * alpha + g * (1 - alpha);
        b = c[2] * alpha + b * (1 - alpha);
        a = alpha + a * (1 - alpha);
    }
    return [r, g, b, a];
}

function drawBadge() {
    const rgba = Buffer.alloc(SIZE * SIZE * 4);
    for (let py = 0; py < SIZE; py++) {
        for (let px = 0; px < SIZE; px++) {
            let r = 0, g = 0, b = 0, a = 0;
            for (let sy = 0; sy < SUBSAMPLES; sy++) {
                for (let sx = 0; sx < SUBSAMPLES; sx++) {
                    const c = sample(px + (sx + 0.5) / SUBSAMPLES, py + (sy + 0.5) / SUBSAMPLES);
                    r += c[0]; g += c[1]; b += c[2]; a += c[3];
                }
            }
            const n = SUBSAMPLES * SUBSAMPLES;
            const offset = (py * SIZE + px) * 4;
            // Back from premultiplied to straight alpha, which PNG stores.
            rgba[offset] = a > 0 ? Math.round(r / a) : 0;
            rgba[offset + 1] = a > 0 ? Math.round(g / a) : 0;
            rgba[offset + 2] = a > 0 ? Math.round(b / a) : 0;
            rgba[offset + 3] = Math.round((a / n) * 255);
        }
    }
    return rgba;
}

function main(args) {
    if (args.length < 1 || args.length > 2) {
        process.stderr.write('usage: make-badge-png.js OUT.png [OUT.base64]\n');
        return 2;
    }
    const png = encodePng(SIZE, SIZE, drawBadge());
    fs.mkdirSync(path.dirname(path.resolve(args[0])), { recursive: true });
    fs.writeFileSync(args[0], png);
    if (args[1]) fs.writeFileSync(args[1], png.toString('base64'));
    return 0;
}

process.exitCode = main(process.argv.slice(2));
