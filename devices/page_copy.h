#pragma once
// One transferred page: the source's DIB (40-byte header, colour table, bottom-up rows) turned into
// the bytes of a complete BMP file. The colour table holds K entries (2 for 1-bit, 16 for 4-bit,
// 256 for 8-bit, none otherwise; biClrUsed is not consulted) and each row S = (B*W+31)/32*4 bytes.
//
// The BMP bytes are built straight from the locked DIB into the page buffer, so the page is copied
// once; the header, colour table and rows stay exactly as the source delivered them.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace vantrel::devices {

struct PageCopy {
    std::unique_ptr<std::uint8_t[]> bytes; // the whole BMP file
    std::size_t size = 0;
    int width = 0;
    int height = 0;

    // Refused (nullopt): a compressed DIB, 15 or more bits per pixel other than 24, a size that
    // does not fit the DIB's bytes or a 32-bit file, and running out of memory.
    std::span<const std::uint8_t> bmp() const { return {bytes.get(), size}; }

    static std::optional<PageCopy> fromDib(const std::uint8_t* dib, std::size_t available);
};

} // namespace vantrel::devices
