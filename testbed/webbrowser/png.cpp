#include "png.h"

#include <cstring>

namespace {

// ---- inflate (RFC 1951), small and strict: every read is bounds-checked ----

class CBitReader {
public:
    CBitReader(const BYTE* data, size_t size) : m_data(data), m_size(size) {}

    bool Bits(int count, unsigned& value)
    {
        value = 0;
        for (int i = 0; i < count; ++i) {
            if (m_pos >= m_size)
                return false;
            const unsigned bit = (m_data[m_pos] >> m_bit) & 1u;
            value |= bit << i;
            if (++m_bit == 8) {
                m_bit = 0;
                ++m_pos;
            }
        }
        return true;
    }

    void AlignToByte()
    {
        if (m_bit) {
            m_bit = 0;
            ++m_pos;
        }
    }

    bool Byte(BYTE& value)
    {
        if (m_bit || m_pos >= m_size)
            return false;
        value = m_data[m_pos++];
        return true;
    }

private:
    const BYTE* m_data;
    size_t m_size;
    size_t m_pos = 0;
    int m_bit = 0;
};

// Canonical Huffman code: symbol counts per length and symbols in code order.
struct CHuffman {
    unsigned short counts[16] = {};
    unsigned short symbols[320] = {};
};

bool BuildHuffman(CHuffman& h, const unsigned char* lengths, int count)
{
    std::memset(h.counts, 0, sizeof h.counts);
    for (int i = 0; i < count; ++i)
        h.counts[lengths[i]]++;
    h.counts[0] = 0;
    int left = 1;
    for (int len = 1; len < 16; ++len) {
        left <<= 1;
        left -= h.counts[len];
        if (left < 0)
            return false;  // over-subscribed
    }
    unsigned short offsets[16] = {};
    for (int len = 1; len < 15; ++len)
        offsets[len + 1] = offsets[len] + h.counts[len];
    for (int i = 0; i < count; ++i)
        if (lengths[i])
            h.symbols[offsets[lengths[i]]++] = static_cast<unsigned short>(i);
    return true;
}

bool DecodeSymbol(CBitReader& in, const CHuffman& h, int& symbol)
{
    int code = 0, first = 0, index = 0;
    for (int len = 1; len < 16; ++len) {
        unsigned bit;
        if (!in.Bits(1, bit))
            return false;
        code |= static_cast<int>(bit);
        const int count = h.counts[len];
        if (code - count < first) {
            symbol = h.symbols[index + (code - first)];
            return true;
        }
        index += count;
        first += count;
        first <<= 1;
        code <<= 1;
    }
    return false;
}

const unsigned short kLengthBase[29] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27,
                                        31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const unsigned char kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                        2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const unsigned short kDistBase[30] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129,
                                      193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097,
                                      6145, 8193, 12289, 16385, 24577};
const unsigned char kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                      6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

bool InflateCodes(CBitReader& in, const CHuffman& lit, const CHuffman& dist, std::vector<BYTE>& out)
{
    for (;;) {
        int symbol;
        if (!DecodeSymbol(in, lit, symbol))
            return false;
        if (symbol < 256) {
            out.push_back(static_cast<BYTE>(symbol));
        } else if (symbol == 256) {
            return true;
        } else {
            symbol -= 257;
            if (symbol >= 29)
                return false;
            unsigned extra;
            if (!in.Bits(kLengthExtra[symbol], extra))
                return false;
            const size_t length = kLengthBase[symbol] + extra;
            int distSymbol;
            if (!DecodeSymbol(in, dist, distSymbol) || distSymbol >= 30)
                return false;
            if (!in.Bits(kDistExtra[distSymbol], extra))
                return false;
            const size_t distance = kDistBase[distSymbol] + extra;
            if (distance > out.size())
                return false;
            for (size_t i = 0; i < length; ++i)
                out.push_back(out[out.size() - distance]);
        }
    }
}

bool InflateStored(CBitReader& in, std::vector<BYTE>& out)
{
    in.AlignToByte();
    BYTE b[4];
    for (BYTE& v : b)
        if (!in.Byte(v))
            return false;
    const unsigned len = b[0] | (b[1] << 8);
    const unsigned nlen = b[2] | (b[3] << 8);
    if (len != (~nlen & 0xFFFFu))
        return false;
    for (unsigned i = 0; i < len; ++i) {
        BYTE v;
        if (!in.Byte(v))
            return false;
        out.push_back(v);
    }
    return true;
}

bool InflateFixed(CBitReader& in, std::vector<BYTE>& out)
{
    unsigned char lengths[288];
    int i = 0;
    for (; i < 144; ++i) lengths[i] = 8;
    for (; i < 256; ++i) lengths[i] = 9;
    for (; i < 280; ++i) lengths[i] = 7;
    for (; i < 288; ++i) lengths[i] = 8;
    CHuffman lit, dist;
    BuildHuffman(lit, lengths, 288);
    unsigned char distLengths[30];
    std::memset(distLengths, 5, sizeof distLengths);
    BuildHuffman(dist, distLengths, 30);
    return InflateCodes(in, lit, dist, out);
}

bool InflateDynamic(CBitReader& in, std::vector<BYTE>& out)
{
    unsigned nlen, ndist, ncode;
    if (!in.Bits(5, nlen) || !in.Bits(5, ndist) || !in.Bits(4, ncode))
        return false;
    nlen += 257;
    ndist += 1;
    ncode += 4;
    if (nlen > 286 || ndist > 30)
        return false;
    static const unsigned char kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    unsigned char lengths[320] = {};
    for (unsigned i = 0; i < ncode; ++i) {
        unsigned v;
        if (!in.Bits(3, v))
            return false;
        lengths[kOrder[i]] = static_cast<unsigned char>(v);
    }
    CHuffman lencode;
    if (!BuildHuffman(lencode, lengths, 19))
        return false;
    unsigned index = 0;
    while (index < nlen + ndist) {
        int symbol;
        if (!DecodeSymbol(in, lencode, symbol))
            return false;
        if (symbol < 16) {
            lengths[index++] = static_cast<unsigned char>(symbol);
            continue;
        }
        unsigned char value = 0;
        unsigned repeat;
        if (symbol == 16) {
            if (index == 0)
                return false;
            value = lengths[index - 1];
            if (!in.Bits(2, repeat))
                return false;
            repeat += 3;
        } else if (symbol == 17) {
            if (!in.Bits(3, repeat))
                return false;
            repeat += 3;
        } else {
            if (!in.Bits(7, repeat))
                return false;
            repeat += 11;
        }
        if (index + repeat > nlen + ndist)
            return false;
        while (repeat--)
            lengths[index++] = value;
    }
    if (lengths[256] == 0)
        return false;  // no end-of-block code
    CHuffman lit, dist;
    if (!BuildHuffman(lit, lengths, static_cast<int>(nlen)) ||
        !BuildHuffman(dist, lengths + nlen, static_cast<int>(ndist)))
        return false;
    return InflateCodes(in, lit, dist, out);
}

// ---- PNG ----

DWORD ReadBig32(const BYTE* p)
{
    return (DWORD(p[0]) << 24) | (DWORD(p[1]) << 16) | (DWORD(p[2]) << 8) | DWORD(p[3]);
}

int Paeth(int a, int b, int c)
{
    const int p = a + b - c;
    const int pa = p > a ? p - a : a - p;
    const int pb = p > b ? p - b : b - p;
    const int pc = p > c ? p - c : c - p;
    if (pa <= pb && pa <= pc)
        return a;
    return pb <= pc ? b : c;
}

int Base64Value(wchar_t c)
{
    if (c >= L'A' && c <= L'Z') return c - L'A';
    if (c >= L'a' && c <= L'z') return c - L'a' + 26;
    if (c >= L'0' && c <= L'9') return c - L'0' + 52;
    if (c == L'+') return 62;
    if (c == L'/') return 63;
    return -1;
}

}  // namespace

bool DecodeBase64(const std::wstring& text, std::vector<BYTE>& bytes)
{
    bytes.clear();
    unsigned accumulator = 0;
    int bits = 0;
    bool padding = false;
    for (wchar_t c : text) {
        if (c == L'=') {
            padding = true;
            continue;
        }
        if (c == L' ' || c == L'\t' || c == L'\r' || c == L'\n')
            continue;
        const int value = Base64Value(c);
        if (value < 0 || padding)
            return false;
        accumulator = (accumulator << 6) | static_cast<unsigned>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<BYTE>((accumulator >> bits) & 0xFF));
        }
    }
    return true;
}

bool InflateZlib(const BYTE* data, size_t size, std::vector<BYTE>& out)
{
    out.clear();
    if (size < 2)
        return false;
    const unsigned cmf = data[0], flg = data[1];
    if ((cmf & 0x0F) != 8 || ((cmf << 8) | flg) % 31 != 0 || (flg & 0x20))
        return false;  // not deflate, bad check bits, or a preset dictionary
    CBitReader in(data + 2, size - 2);
    for (;;) {
        unsigned last, type;
        if (!in.Bits(1, last) || !in.Bits(2, type))
            return false;
        bool ok = false;
        switch (type) {
        case 0: ok = InflateStored(in, out); break;
        case 1: ok = InflateFixed(in, out); break;
        case 2: ok = InflateDynamic(in, out); break;
        default: ok = false; break;
        }
        if (!ok)
            return false;
        if (last)
            return true;
    }
}

bool DecodePng(const std::vector<BYTE>& file, CRgbaImage& image)
{
    static const BYTE kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (file.size() < 8 || std::memcmp(file.data(), kSignature, 8) != 0)
        return false;
    DWORD width = 0, height = 0;
    int colorType = -1;
    std::vector<BYTE> compressed;
    bool sawHeader = false, sawEnd = false;
    size_t pos = 8;
    while (pos + 12 <= file.size()) {
        const DWORD length = ReadBig32(&file[pos]);
        if (length > file.size() - pos - 12)
            return false;
        const BYTE* type = &file[pos + 4];
        const BYTE* body = &file[pos + 8];
        if (std::memcmp(type, "IHDR", 4) == 0) {
            if (length != 13)
                return false;
            width = ReadBig32(body);
            height = ReadBig32(body + 4);
            const int bitDepth = body[8];
            colorType = body[9];
            const int interlace = body[12];
            if (bitDepth != 8 || interlace != 0 || body[10] != 0 || body[11] != 0)
                return false;
            sawHeader = true;
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            compressed.insert(compressed.end(), body, body + length);
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            sawEnd = true;
            break;
        }
        pos += 12 + length;
    }
    if (!sawHeader || !sawEnd || width == 0 || height == 0 || width > 4096 || height > 4096)
        return false;
    int channels;
    switch (colorType) {
    case 0: channels = 1; break;
    case 2: channels = 3; break;
    case 4: channels = 2; break;
    case 6: channels = 4; break;
    default: return false;  // palette images are not needed here
    }
    std::vector<BYTE> raw;
    if (!InflateZlib(compressed.data(), compressed.size(), raw))
        return false;
    const size_t stride = size_t(width) * channels;
    if (raw.size() < (stride + 1) * height)
        return false;

    std::vector<BYTE> previous(stride, 0), current(stride);
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);
    image.rgba.assign(size_t(width) * height * 4, 0);
    for (DWORD y = 0; y < height; ++y) {
        const BYTE* line = &raw[y * (stride + 1)];
        const int filter = line[0];
        for (size_t x = 0; x < stride; ++x) {
            const int a = x >= size_t(channels) ? current[x - channels] : 0;
            const int b = previous[x];
            const int c = x >= size_t(channels) ? previous[x - channels] : 0;
            int predictor;
            switch (filter) {
            case 0: predictor = 0; break;
            case 1: predictor = a; break;
            case 2: predictor = b; break;
            case 3: predictor = (a + b) / 2; break;
            case 4: predictor = Paeth(a, b, c); break;
            default: return false;
            }
            current[x] = static_cast<BYTE>(line[1 + x] + predictor);
        }
        for (DWORD x = 0; x < width; ++x) {
            const BYTE* px = &current[x * channels];
            BYTE* outPx = &image.rgba[(size_t(y) * width + x) * 4];
            switch (channels) {
            case 1: outPx[0] = outPx[1] = outPx[2] = px[0]; outPx[3] = 255; break;
            case 2: outPx[0] = outPx[1] = outPx[2] = px[0]; outPx[3] = px[1]; break;
            case 3: outPx[0] = px[0]; outPx[1] = px[1]; outPx[2] = px[2]; outPx[3] = 255; break;
            default: std::memcpy(outPx, px, 4); break;
            }
        }
        previous.swap(current);
    }
    return true;
}

bool DecodePngDataUri(const std::wstring& uri, CRgbaImage& image)
{
    // Media type and parameters are matched without case, as URI schemes and MIME types are.
    const size_t comma = uri.find(L',');
    if (comma == std::wstring::npos)
        return false;
    std::wstring header = uri.substr(0, comma);
    for (wchar_t& c : header)
        c = static_cast<wchar_t>(towlower(c));
    size_t start = 0;
    while (start < header.size() && iswspace(header[start]))
        ++start;
    header = header.substr(start);
    if (header.compare(0, 5, L"data:") != 0 || header.find(L"image/png") == std::wstring::npos ||
        header.size() < 7 || header.compare(header.size() - 7, 7, L";base64") != 0)
        return false;
    std::vector<BYTE> bytes;
    return DecodeBase64(uri.substr(comma + 1), bytes) && DecodePng(bytes, image);
}
