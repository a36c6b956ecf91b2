// Icons and cursors for LoadPicture. From the directory the first entry 32 pixels wide with more
// than 15 colours is taken, else the last entry (a colour count of 0 in the directory means 256
// or more). An entry is either a PNG file (decoded with its alpha) or a DIB of twice the icon's
// height: the colour (XOR) rows of 1, 4, 8, 16, 24 or 32 bits, then the 1-bit AND mask. A 32-bit
// entry whose alpha bytes are not all zero draws by its alpha; the others by the AND mask.
// Sizes come from the entry's own header, not the directory, and are checked before allocating.

#include "imaging/codecs.h"
#include "imaging/picture_decoders.h"

#include <array>
#include <cstring>

namespace vantrel::imaging {
namespace {

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

std::unique_ptr<PictureObject> decodeIconDib(Bytes d) {
    if (d.size() < 40 || le32(d.data()) < 40 || le32(d.data()) > d.size()) {
        return nullptr;
    }
    const std::uint32_t headerSize = le32(d.data());
    const std::int64_t width = static_cast<std::int32_t>(le32(&d[4]));
    const std::int64_t doubled = static_cast<std::int32_t>(le32(&d[8]));
    const unsigned bits = le16(&d[14]);
    const std::uint32_t compression = le32(&d[16]);
    const std::uint32_t clrUsed = le32(&d[32]);
    const std::int64_t height = doubled / 2;
    if (compression != 0 || !pictureSizeAllowed(width, height) ||
        !(bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32)) {
        return nullptr;
    }
    std::array<std::uint32_t, 256> table{};
    std::uint64_t at = headerSize;
    if (bits <= 8) {
        const std::uint64_t most = 1u << bits;
        const std::uint64_t n = clrUsed == 0 ? most : std::min<std::uint64_t>(clrUsed, most);
        if (at + n * 4 > d.size()) {
            return nullptr;
        }
        for (std::uint64_t i = 0; i < n; ++i) {
            table[i] = le32(&d[at + i * 4]) & 0xFFFFFFu;
        }
        at += n * 4;
    }
    const std::uint64_t xorStride = (std::uint64_t(width) * bits + 31) / 32 * 4;
    const std::uint64_t andStride = (std::uint64_t(width) + 31) / 32 * 4;
    if (at + xorStride * std::uint64_t(height) > d.size()) {
        return nullptr;
    }
    const std::uint8_t* xorRows = d.data() + at;
    // Some 32-bit entries leave the mask out; a missing mask lets nothing through.
    const bool hasMask = at + (xorStride + andStride) * std::uint64_t(height) <= d.size();
    const std::uint8_t* andRows = xorRows + xorStride * std::uint64_t(height);

    auto picture = std::make_unique<PictureObject>();
    picture->width = static_cast<int>(width);
    picture->height = static_cast<int>(height);
    picture->stride = std::size_t(width) * 4;
    picture->pixels = PixelBlock(picture->stride * std::size_t(height));
    picture->andMask.assign(std::size_t(width) * std::size_t(height), 0);
    bool anyAlpha = false;
    for (std::int64_t y = 0; y < height; ++y) {
        const std::uint8_t* in = xorRows + std::uint64_t(height - 1 - y) * xorStride;
        const std::uint8_t* mask = andRows + std::uint64_t(height - 1 - y) * andStride;
        std::uint8_t* out = picture->pixels.data() + std::size_t(y) * picture->stride;
        for (std::int64_t x = 0; x < width; ++x) {
            std::uint32_t pixel; // 0xAARRGGBB
            switch (bits) {
            case 32:
                pixel = le32(in + x * 4);
                anyAlpha |= (pixel >> 24) != 0;
                break;
            case 24:
                pixel = platform::kOpaque | in[x * 3 + 2] << 16 | in[x * 3 + 1] << 8 | in[x * 3];
                break;
            case 16: {
                const unsigned v = le16(in + x * 2);
                auto widen = [](unsigned c) { return (c << 3) | (c >> 2); };
                pixel = platform::kOpaque | widen(v >> 10 & 31) << 16 | widen(v >> 5 & 31) << 8 |
                        widen(v & 31);
                break;
            }
            default: {
                const unsigned perByte = 8 / bits;
                const unsigned shift = 8 - bits * (1 + unsigned(x % perByte));
                pixel = platform::kOpaque | table[in[x / perByte] >> shift & ((1u << bits) - 1)];
            }
            }
            std::memcpy(out + x * 4, &pixel, 4);
            if (hasMask) {
                picture->andMask[std::size_t(y * width + x)] = mask[x >> 3] >> (7 - (x & 7)) & 1;
            }
        }
    }
    picture->alpha = anyAlpha;
    if (bits == 32 && !anyAlpha) {
        for (std::size_t i = 0; i < picture->andMask.size(); ++i) {
            picture->pixels.data()[i * 4 + 3] = 0xFF;
        }
    }
    return picture;
}

} // namespace

std::unique_ptr<PictureObject> decodeIconPicture(Bytes b) {
    const auto kind = detectPictureKind(b);
    if (kind != PictureKind::Icon && kind != PictureKind::Cursor) {
        return nullptr;
    }
    const std::size_t count = le16(&b[4]);
    if (6 + count * 16 > b.size()) {
        return nullptr;
    }
    auto entry = [&](std::size_t i) { return &b[6 + i * 16]; };
    std::size_t chosen = count - 1;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* e = entry(i);
        const unsigned colours = e[2] != 0 ? e[2] : 256;
        if (e[0] == 32 && colours > 15) {
            chosen = i;
            break;
        }
    }
    const std::uint8_t* e = entry(chosen);
    const std::uint64_t length = le32(e + 8);
    const std::uint64_t offset = le32(e + 12);
    if (offset >= b.size() || length == 0) {
        return nullptr;
    }
    const Bytes data = b.subspan(offset, std::min<std::uint64_t>(length, b.size() - offset));

    std::unique_ptr<PictureObject> picture;
    if (data.size() >= 8 && std::memcmp(data.data(), kPngSignature, 8) == 0) {
        picture = decodePngPicture(data);
        if (picture) {
            picture->alpha = true;
            picture->andMask.assign(picture->pixels.size() / 4, 0);
        }
    } else {
        picture = decodeIconDib(data);
    }
    if (picture) {
        picture->kind = *kind;
    }
    return picture;
}

} // namespace vantrel::imaging
