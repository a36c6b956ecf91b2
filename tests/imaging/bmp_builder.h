#pragma once
// Builds BMP file bytes for tests: any header size (12 core, 40 info, larger versions), bit
// count, colour table, compression and raw pixel rows, with fields that tests can then corrupt.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vantrel::test {

using Bytes = std::vector<std::uint8_t>;

inline void put16(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    put16(b, at, v);
    put16(b, at + 2, v >> 16);
}
inline std::uint32_t get32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t{b[at + 3]} << 24;
}

struct BmpSpec {
    std::int32_t width = 1;
    std::int32_t height = 1; // negative: top-down
    std::uint16_t bitCount = 24;
    std::uint32_t headerSize = 40;
    std::uint32_t compression = 0;
    std::uint32_t clrUsed = 0;
    std::vector<std::uint32_t> table = {}; // colour values 0x00BBGGRR, stored blue, green, red(, 0)
    std::vector<std::uint8_t> pixels = {}; // rows as stored; empty: zero rows of the right size
};

inline std::size_t bmpStride(std::int32_t width, std::uint16_t bitCount) {
    return (static_cast<std::size_t>(bitCount) * static_cast<std::size_t>(width) + 31) / 32 * 4;
}

inline Bytes buildBmp(const BmpSpec& s) {
    const bool core = s.headerSize == 12;
    const std::size_t entry = core ? 3 : 4;
    const std::size_t offBits = 14 + s.headerSize + entry * s.table.size();
    const std::size_t rows = static_cast<std::size_t>(s.height < 0 ? -s.height : s.height);
    Bytes pixels = s.pixels;
    if (pixels.empty()) {
        pixels.assign(bmpStride(s.width, s.bitCount) * rows, 0);
    }
    Bytes b(offBits + pixels.size(), 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, static_cast<std::uint32_t>(b.size()));
    put32(b, 10, static_cast<std::uint32_t>(offBits));
    put32(b, 14, s.headerSize);
    if (core) {
        put16(b, 18, static_cast<std::uint32_t>(s.width));
        put16(b, 20, static_cast<std::uint32_t>(s.height));
        put16(b, 22, 1);
        put16(b, 24, s.bitCount);
    } else {
        put32(b, 18, static_cast<std::uint32_t>(s.width));
        put32(b, 22, static_cast<std::uint32_t>(s.height));
        put16(b, 26, 1);
        put16(b, 28, s.bitCount);
        put32(b, 30, s.compression);
        put32(b, 46, s.clrUsed);
    }
    std::size_t at = 14 + s.headerSize;
    for (std::uint32_t c : s.table) {
        b[at] = static_cast<std::uint8_t>(c >> 16);
        b[at + 1] = static_cast<std::uint8_t>(c >> 8);
        b[at + 2] = static_cast<std::uint8_t>(c);
        at += entry;
    }
    std::memcpy(b.data() + offBits, pixels.data(), pixels.size());
    return b;
}

inline Bytes asBytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

} // namespace vantrel::test
