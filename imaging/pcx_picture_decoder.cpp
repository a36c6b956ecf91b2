// PCX pictures for LoadPicture: run-length encoded, one plane of 8 bits (through the 256-colour
// table that follows the 0x0C marker at the end of the file; a grey ramp when there is none) or
// of 1 bit (0 black, 1 white, as a monochrome bitmap draws). The header check and the line reader
// (runs carried across line ends, truncated data failing) are shared with the converter's decoder
// (pcx_reader.h). Other plane counts give no picture.

#include "imaging/pcx_reader.h"
#include "imaging/picture_decoders.h"

#include <cstring>
#include <new>
#include <vector>

namespace vantrel::imaging {

namespace {

std::unique_ptr<PictureObject> decodePcx(Bytes b, PictureKind kind) {
    const PcxHeader h = readPcxHeader(b.data());
    if (h.planes != 1 || !pcxGeometryUsable(h, b.size() - kPcxHeaderSize) ||
        !pictureSizeAllowed(h.width, h.height)) {
        return nullptr;
    }
    const std::size_t rowBytes = (std::size_t(h.width) * h.bitsPerPixel + 7) / 8;
    auto picture = std::make_unique<PictureObject>();
    picture->kind = kind;
    picture->width = static_cast<int>(h.width);
    picture->height = static_cast<int>(h.height);
    picture->stride = rowBytes;
    picture->pixels = PixelBlock(rowBytes * std::size_t(h.height));

    PcxLineReader reader(b.subspan(kPcxHeaderSize), h.runLength());
    std::vector<std::uint8_t> line(h.bytesPerLine);
    for (std::int64_t y = 0; y < h.height; ++y) {
        if (!reader.readLine(line)) {
            return nullptr;
        }
        std::memcpy(picture->pixels.data() + std::size_t(y) * rowBytes, line.data(), rowBytes);
    }

    if (kind == PictureKind::Pcx1) {
        picture->palette = {platform::kOpaque, 0xFFFFFFFFu};
        return picture;
    }
    picture->palette.resize(256);
    const bool table = b.size() >= kPcxHeaderSize + kPcxPaletteSize &&
                       b[b.size() - kPcxPaletteSize] == kPcxPaletteMarker;
    for (std::size_t i = 0; i < 256; ++i) {
        std::uint32_t r = std::uint32_t(i), g = r, bl = r;
        if (table) {
            const std::uint8_t* p = &b[b.size() - kPcxPaletteSize + 1 + i * 3];
            r = p[0];
            g = p[1];
            bl = p[2];
        }
        picture->palette[i] = platform::kOpaque | r << 16 | g << 8 | bl;
    }
    return picture;
}

} // namespace

std::unique_ptr<PictureObject> decodePcxPicture(Bytes b) {
    const auto kind = detectPictureKind(b);
    if ((kind != PictureKind::Pcx8 && kind != PictureKind::Pcx1) || b.size() < kPcxHeaderSize) {
        return nullptr;
    }
    try {
        return decodePcx(b, *kind);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

} // namespace vantrel::imaging
