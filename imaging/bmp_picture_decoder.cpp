// BMP pictures for LoadPicture: uncompressed rows of 1, 4, 8, 24 or 32 bits per pixel, read from
// bfOffBits with each row's padding skipped, stored as 24-bit bottom-up rows. Indexed pixels go
// through the colour table (biClrUsed entries, or 2 to the bit count when it is 0; an index past
// the table reads as black). Any compression, 16 bits per pixel, a non-positive width and pixel
// rows that do not all lie inside the buffer give no picture.

#include "imaging/codecs.h"
#include "imaging/picture_decoders.h"

#include <array>
#include <cstring>

namespace vantrel::imaging {

namespace {

// Where the rows of a file with the stored layout may go instead of being copied.
enum class Rows { Copy, Share, Borrow };

// With Rows::Share, `owner` holds the bytes of `b`.
std::unique_ptr<PictureObject> decodeBmp(Bytes b, Rows placement,
                                         const PixelBlock::SharedBytes& owner) {
    if (b.size() < 14 + 12) {
        return nullptr;
    }
    const std::uint64_t size = b.size();
    const std::uint64_t offBits = le32(&b[10]);
    const std::uint32_t infoSize = le32(&b[14]);
    const std::uint8_t* info = &b[14];
    std::int64_t width = 0, height = 0;
    unsigned bits = 0;
    std::uint32_t compression = 0, clrUsed = 0;
    std::uint64_t entrySize = 4;
    if (infoSize == 12) { // OS/2 core header: 16-bit sizes, three-byte colour table entries
        width = le16(info + 4);
        height = le16(info + 6);
        bits = le16(info + 10);
        entrySize = 3;
    } else if (infoSize >= 40 && 14 + std::uint64_t{infoSize} <= size) {
        width = static_cast<std::int32_t>(le32(info + 4));
        height = static_cast<std::int32_t>(le32(info + 8));
        bits = le16(info + 14);
        compression = le32(info + 16);
        clrUsed = le32(info + 32);
    } else {
        return nullptr;
    }
    if (compression != 0 || !(bits == 1 || bits == 4 || bits == 8 || bits == 24 || bits == 32)) {
        return nullptr;
    }
    const bool topDown = height < 0;
    const std::int64_t rows = topDown ? -height : height;
    if (!pictureSizeAllowed(width, rows)) {
        return nullptr;
    }

    // Colour table: BGR(X) entries right after the info header.
    std::array<std::uint8_t, 256 * 3> table{}; // blue, green, red per index; black past the end
    if (bits <= 8) {
        const std::uint64_t most = 1u << bits;
        const std::uint64_t entries = clrUsed == 0 ? most : std::min<std::uint64_t>(clrUsed, most);
        const std::uint64_t at = 14 + std::uint64_t{infoSize};
        if (at + entries * entrySize > size) {
            return nullptr;
        }
        for (std::uint64_t i = 0; i < entries; ++i) {
            std::memcpy(&table[i * 3], &b[at + i * entrySize], 3);
        }
    }

    const std::uint64_t srcStride = (std::uint64_t(width) * bits + 31) / 32 * 4;
    const std::uint64_t rowBytes = (std::uint64_t(width) * bits + 7) / 8;
    if (offBits > size || size - offBits < srcStride * std::uint64_t(rows - 1) + rowBytes) {
        return nullptr;
    }

    auto picture = std::make_unique<PictureObject>();
    picture->kind = PictureKind::Bmp;
    picture->width = static_cast<int>(width);
    picture->height = static_cast<int>(rows);
    picture->stride = (std::size_t(width) * 3 + 3) & ~std::size_t{3};
    const std::size_t stride = picture->stride;
    const std::uint8_t* src = b.data() + offBits;
    if (bits == 24 && !topDown && srcStride == stride && size - offBits >= stride * rows) {
        // The same layout: the file's rows are the block, shared, borrowed or copied once.
        if (placement == Rows::Share) {
            picture->pixels = PixelBlock::share(owner, offBits, stride * rows);
        } else if (placement == Rows::Borrow) {
            picture->pixels = PixelBlock::borrow(src, stride * rows);
        } else {
            picture->pixels = PixelBlock(stride * std::size_t(rows));
            std::memcpy(picture->pixels.data(), src, stride * std::size_t(rows));
        }
        return picture;
    }
    picture->pixels = PixelBlock(stride * std::size_t(rows));
    std::uint8_t* block = picture->pixels.data();
    const auto w = static_cast<std::size_t>(width);
    for (std::int64_t r = 0; r < rows; ++r) {
        const std::uint8_t* in = src + std::uint64_t(r) * srcStride;
        // Stored bottom-up: file row r is storage row r unless the file is top-down.
        std::uint8_t* out = block + std::size_t(topDown ? rows - 1 - r : r) * stride;
        switch (bits) {
        case 24:
            std::memcpy(out, in, w * 3);
            break;
        case 32:
            for (std::size_t x = 0; x < w; ++x) {
                std::memcpy(out + x * 3, in + x * 4, 3);
            }
            break;
        default: {
            const unsigned perByte = 8 / bits;
            const unsigned mask = (1u << bits) - 1;
            for (std::size_t x = 0; x < w; ++x) {
                const unsigned shift = 8 - bits * (1 + unsigned(x % perByte));
                const unsigned index = in[x / perByte] >> shift & mask;
                std::memcpy(out + x * 3, &table[index * 3], 3);
            }
        }
        }
        std::memset(out + w * 3, 0, stride - w * 3);
    }
    return picture;
}

} // namespace

std::unique_ptr<PictureObject> decodeBmpPicture(Bytes bytes) {
    return decodeBmp(bytes, Rows::Copy, nullptr);
}

std::unique_ptr<PictureObject> decodeBmpPicture(PixelBlock::SharedBytes file) {
    return file ? decodeBmp(*file, Rows::Share, file) : nullptr;
}

std::unique_ptr<PictureObject> decodeBmpPictureBorrowing(Bytes file) {
    return decodeBmp(file, Rows::Borrow, nullptr);
}

} // namespace vantrel::imaging
