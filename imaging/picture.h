#pragma once
// A decoded picture (PictureObject) as LoadPicture makes it and the drawing operations take it.
// The pixel block's layout depends on the kind:
//   JPEG, BMP     24-bit blue-green-red rows, bottom-up, each row padded to 4 bytes
//   GIF, PCX 8    8-bit indices into `palette`, top-down, rows of `stride` bytes
//   PCX 1         1-bit rows, top-down, most significant bit first (0 black, 1 white)
//   PNG           32-bit blue-green-red-alpha, top-down, not premultiplied
//   icon, cursor  32-bit blue-green-red-alpha, top-down, plus a byte per pixel AND mask
// The picture owns its block; source() views it for the raster layer without copying.

#include "platform/raster.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace vantrel::imaging {

enum class PictureKind {
    Jpeg = 1,
    Bmp = 2,
    Icon = 3,
    Cursor = 4,
    Gif = 5,
    Pcx8 = 6,
    Pcx1 = 7,
    Png = 8,
};

// A heap block whose bytes start undefined (the decoders write every byte they use), or a part of
// a file's buffer that the picture shares (a BMP whose rows already have the block's layout), or
// bytes only borrowed from the caller, who keeps them alive and unchanged meanwhile. Shared and
// borrowed bytes are only ever read: the decoders that write a block make their own.
class PixelBlock {
public:
    using SharedBytes = std::shared_ptr<const std::vector<std::uint8_t>>;

    PixelBlock() = default;
    explicit PixelBlock(std::size_t size)
        : owned_(std::make_unique_for_overwrite<std::uint8_t[]>(size))
        , data_(owned_.get())
        , size_(size) {}
    // The `size` bytes at `offset` of `buffer`, kept alive by the block without copying.
    static PixelBlock share(SharedBytes buffer, std::size_t offset, std::size_t size) {
        PixelBlock block;
        block.data_ = const_cast<std::uint8_t*>(buffer->data() + offset);
        block.size_ = size;
        block.shared_ = std::move(buffer);
        return block;
    }
    static PixelBlock borrow(const std::uint8_t* data, std::size_t size) {
        PixelBlock block;
        block.data_ = const_cast<std::uint8_t*>(data);
        block.size_ = size;
        return block;
    }
    std::uint8_t* data() { return data_; }
    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    // Moving either owner keeps its heap buffer, so data_ stays valid across moves.
    std::unique_ptr<std::uint8_t[]> owned_;
    SharedBytes shared_;
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

struct PictureObject {
    PictureKind kind = PictureKind::Bmp;
    int width = 0;
    int height = 0;
    std::size_t stride = 0; // bytes per row of `pixels`
    PixelBlock pixels;
    std::vector<std::uint32_t> palette; // 0xFFRRGGBB, for the indexed kinds
    // Icons and cursors: 1 where the AND mask lets the target show through. `alpha` tells
    // whether the colour pixels carry their own alpha (32-bit and PNG entries), which then
    // decides instead of the mask.
    std::vector<std::uint8_t> andMask;
    bool alpha = false;

    // The pixels as the raster layer reads them (PNG and icon pixels are read as BGRX; their
    // alpha is applied by the drawing code).
    platform::PixelSource source() const;
    // Bytes of the pixel block (width x height x 3 for JPEG and BMP, x 4 for PNG).
    std::size_t dataSize() const;
};

// True when a picture of width x height may be decoded (within the decode limits shared with
// the converter); checked by every decoder before it allocates.
bool pictureSizeAllowed(std::int64_t width, std::int64_t height);

} // namespace vantrel::imaging
