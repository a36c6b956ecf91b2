#include "devices/page_copy.h"

#include "platform/twain/twain.h"

#include <cstring>
#include <new>

namespace vantrel::devices {

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;

void put16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint64_t colourTableEntries(int bitCount) {
    switch (bitCount) {
    case 1:
        return 2;
    case 4:
        return 16;
    case 8:
        return 256;
    default:
        return 0;
    }
}

} // namespace

std::optional<PageCopy> PageCopy::fromDib(const std::uint8_t* dib, std::size_t available) {
    if (!dib || available < kInfoHeaderSize) {
        return std::nullopt;
    }
    TW_BITMAPINFOHEADER header;
    std::memcpy(&header, dib, sizeof header);
    const int w = header.biWidth;
    const int h = header.biHeight;
    const int bits = header.biBitCount;
    if (header.biCompression != 0 || (bits >= 15 && bits != 24) || bits <= 0 || w <= 0 || h <= 0) {
        return std::nullopt;
    }
    const std::uint64_t k = colourTableEntries(bits);
    const std::uint64_t stride = (static_cast<std::uint64_t>(bits) * w + 31) / 32 * 4;
    const std::uint64_t block = kInfoHeaderSize + 4 * k + stride * static_cast<std::uint64_t>(h);
    const std::uint64_t fileSize = kFileHeaderSize + block;
    if (block > available || fileSize > 0xFFFFFFFFu) {
        return std::nullopt;
    }
    PageCopy page;
    try {
        // Not zero-filled: every byte is written below.
        page.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(fileSize);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    page.size = static_cast<std::size_t>(fileSize);
    std::uint8_t* out = page.bytes.get();
    out[0] = 'B';
    out[1] = 'M';
    put32(out + 2, static_cast<std::uint32_t>(fileSize));
    put16(out + 6, 0);
    put16(out + 8, 0);
    put32(out + 10, static_cast<std::uint32_t>(kFileHeaderSize + kInfoHeaderSize + 4 * k));
    std::memcpy(out + kFileHeaderSize, dib, static_cast<std::size_t>(block));
    page.width = w;
    page.height = h;
    return page;
}

} // namespace vantrel::devices
