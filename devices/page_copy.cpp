#include "devices/page_copy.h"

#include "platform/twain/twain_handle.h"

#include <cstdlib>
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

void PageRelease::operator()(std::uint8_t* bytes) const {
    if (!block) {
        delete[] bytes;
    } else {
        std::free(block); // a transfer handle's block is one C heap block, header first
    }
}

namespace {

// What a page's DIB holds, from its header; nullopt for what a page cannot be.
struct DibLayout {
    int width = 0;
    int height = 0;
    std::uint64_t tableEntries = 0;
    std::uint64_t block = 0; // header, colour table and rows
};

std::optional<DibLayout> layoutOf(const std::uint8_t* dib, std::size_t available) {
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
    DibLayout layout{w, h, colourTableEntries(bits), 0};
    const std::uint64_t stride = (static_cast<std::uint64_t>(bits) * w + 31) / 32 * 4;
    layout.block =
        kInfoHeaderSize + 4 * layout.tableEntries + stride * static_cast<std::uint64_t>(h);
    if (layout.block > available || kFileHeaderSize + layout.block > 0xFFFFFFFFu) {
        return std::nullopt;
    }
    return layout;
}

void writeFileHeader(std::uint8_t* out, const DibLayout& layout) {
    const std::uint64_t fileSize = kFileHeaderSize + layout.block;
    out[0] = 'B';
    out[1] = 'M';
    put32(out + 2, static_cast<std::uint32_t>(fileSize));
    put16(out + 6, 0);
    put16(out + 8, 0);
    put32(out + 10,
          static_cast<std::uint32_t>(kFileHeaderSize + kInfoHeaderSize + 4 * layout.tableEntries));
}

} // namespace

std::optional<PageCopy> PageCopy::fromDib(const std::uint8_t* dib, std::size_t available) {
    const auto layout = layoutOf(dib, available);
    if (!layout) {
        return std::nullopt;
    }
    const std::uint64_t fileSize = kFileHeaderSize + layout->block;
    PageCopy page;
    try {
        // Not zero-filled: every byte is written below.
        page.bytes.reset(std::make_unique_for_overwrite<std::uint8_t[]>(fileSize).release());
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    page.size = static_cast<std::size_t>(fileSize);
    writeFileHeader(page.bytes.get(), *layout);
    std::memcpy(page.bytes.get() + kFileHeaderSize, dib, static_cast<std::size_t>(layout->block));
    page.width = layout->width;
    page.height = layout->height;
    return page;
}

std::optional<PageCopy> PageCopy::fromHandle(TW_HANDLE dib) {
    static_assert(TW_HANDLE_HEADER_SIZE >= kFileHeaderSize);
    if (!dib) {
        return std::nullopt;
    }
    auto* block = static_cast<std::uint8_t*>(twHandleLock(dib));
    const auto layout = layoutOf(block, twHandleSize(dib));
    twHandleUnlock(dib);
    if (!layout || dib->kept) {
        std::optional<PageCopy> copy = layout ? fromDib(block, twHandleSize(dib)) : std::nullopt;
        twHandleFree(dib);
        return copy;
    }
    // The handle's header is not needed any more: its last 14 bytes become the file header,
    // right before the DIB, and the handle is freed with the page.
    PageCopy page;
    const PageRelease release{.block = dib};
    std::uint8_t* file = block - kFileHeaderSize;
    writeFileHeader(file, *layout);
    page.bytes = std::unique_ptr<std::uint8_t[], PageRelease>(file, release);
    page.size = static_cast<std::size_t>(kFileHeaderSize + layout->block);
    page.width = layout->width;
    page.height = layout->height;
    return page;
}

} // namespace vantrel::devices
