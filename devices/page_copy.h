#pragma once
// One transferred page: the source's DIB (40-byte header, colour table, bottom-up rows) turned into
// the bytes of a complete BMP file. The colour table holds K entries (2 for 1-bit, 16 for 4-bit,
// 256 for 8-bit, none otherwise; biClrUsed is not consulted) and each row S = (B*W+31)/32*4 bytes.
//
// The BMP bytes are built straight from the locked DIB into the page buffer, so the page is copied
// once; the header, colour table and rows stay exactly as the source delivered them. A DIB in a
// transfer's handle (the source manager's copy of the scanner helper's page) is not copied at all:
// the file header is written into the room the handle keeps before the DIB, and the page owns the
// handle from then on.

#include "platform/twain/twain.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace vantrel::devices {

// Frees a page's bytes: delete[] for a copy, free() of the block for an adopted transfer handle
// (whose header the page's file header has overwritten).
struct PageRelease {
    void* block = nullptr;
    void operator()(std::uint8_t* bytes) const;
};

struct PageCopy {
    std::unique_ptr<std::uint8_t[], PageRelease> bytes; // the whole BMP file
    std::size_t size = 0;
    int width = 0;
    int height = 0;

    // Refused (nullopt): a compressed DIB, 15 or more bits per pixel other than 24, a size that
    // does not fit the DIB's bytes or a 32-bit file, and running out of memory.
    std::span<const std::uint8_t> bmp() const { return {bytes.get(), size}; }

    static std::optional<PageCopy> fromDib(const std::uint8_t* dib, std::size_t available);
    // The page of a transfer's handle, which it takes over: adopted in place, or copied (and the
    // handle freed) when the handle only borrows its block. Nullopt as fromDib.
    static std::optional<PageCopy> fromHandle(TW_HANDLE dib);
};

} // namespace vantrel::devices
