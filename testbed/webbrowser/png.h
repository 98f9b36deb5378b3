#pragma once
#include <windows.h>

#include <string>
#include <vector>

// The page's icon arrives as a data URI holding a PNG. The stand-in decodes it itself, so the
// test bed does not depend on an image codec being present in the prefix.

// Pixels as straight (not premultiplied) RGBA, rows top-down.
struct CRgbaImage {
    int width = 0;
    int height = 0;
    std::vector<BYTE> rgba;  // width * height * 4
};

// Base64 text to bytes; characters outside the alphabet (white space) are skipped. False when
// the text is not Base64.
bool DecodeBase64(const std::wstring& text, std::vector<BYTE>& bytes);

// zlib stream (RFC 1950 header, RFC 1951 blocks) to bytes. False on any malformed input.
bool InflateZlib(const BYTE* data, size_t size, std::vector<BYTE>& out);

// Non-interlaced PNG of 8 bits per channel: grey, grey+alpha, RGB or RGBA. False otherwise.
bool DecodePng(const std::vector<BYTE>& file, CRgbaImage& image);

// "data:image/png;base64,..." to pixels.
bool DecodePngDataUri(const std::wstring& uri, CRgbaImage& image);
