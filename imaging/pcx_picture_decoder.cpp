// PCX pictures for LoadPicture: run-length encoded, one plane of 8 bits (through the 256-colour
// table that follows the 0x0C marker at the end of the file; a grey ramp when there is none) or
// of 1 bit (0 black, 1 white, as a monochrome bitmap draws). Runs may cross the end of a scan
// line. Other plane counts, a scan line shorter than the width and data that ends before the
// last row give no picture.

#include "imaging/codecs.h"
#include "imaging/picture_decoders.h"

#include <cstring>
#include <vector>

namespace vantrel::imaging {

std::unique_ptr<PictureObject> decodePcxPicture(Bytes b) {
    const auto kind = detectPictureKind(b);
    if ((kind != PictureKind::Pcx8 && kind != PictureKind::Pcx1) || b.size() < 128) {
        return nullptr;
    }
    const unsigned bits = b[3];
    const std::int64_t width = std::int64_t{le16(&b[8])} - le16(&b[4]) + 1;
    const std::int64_t height = std::int64_t{le16(&b[10])} - le16(&b[6]) + 1;
    const unsigned planes = b[65];
    const std::size_t bytesPerLine = le16(&b[66]);
    const std::size_t rowBytes = (std::size_t(width > 0 ? width : 0) * bits + 7) / 8;
    if (planes != 1 || !pictureSizeAllowed(width, height) || bytesPerLine < rowBytes) {
        return nullptr;
    }

    auto picture = std::make_unique<PictureObject>();
    picture->kind = *kind;
    picture->width = static_cast<int>(width);
    picture->height = static_cast<int>(height);
    picture->stride = rowBytes;
    picture->pixels = PixelBlock(rowBytes * std::size_t(height));

    std::vector<std::uint8_t> line(bytesPerLine);
    std::size_t at = 128;
    std::size_t run = 0;
    std::uint8_t value = 0;
    for (std::int64_t y = 0; y < height; ++y) {
        std::size_t x = 0;
        while (x < bytesPerLine) {
            if (run == 0) {
                if (at >= b.size()) {
                    return nullptr; // truncated
                }
                const std::uint8_t c = b[at++];
                if ((c & 0xC0) == 0xC0) {
                    if (at >= b.size()) {
                        return nullptr;
                    }
                    run = c & 0x3F; // an empty run adds nothing
                    value = b[at++];
                } else {
                    run = 1;
                    value = c;
                }
                continue;
            }
            line[x++] = value;
            --run;
        }
        std::memcpy(picture->pixels.data() + std::size_t(y) * rowBytes, line.data(), rowBytes);
    }

    if (*kind == PictureKind::Pcx1) {
        picture->palette = {platform::kOpaque, 0xFFFFFFFFu};
        return picture;
    }
    picture->palette.resize(256);
    const bool table = b.size() >= 128 + 769 && b[b.size() - 769] == 0x0C;
    for (std::size_t i = 0; i < 256; ++i) {
        std::uint32_t r = std::uint32_t(i), g = r, bl = r;
        if (table) {
            const std::uint8_t* p = &b[b.size() - 768 + i * 3];
            r = p[0];
            g = p[1];
            bl = p[2];
        }
        picture->palette[i] = platform::kOpaque | r << 16 | g << 8 | bl;
    }
    return picture;
}

} // namespace vantrel::imaging
