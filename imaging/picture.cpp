#include "imaging/picture.h"

#include "imaging/image_buffer.h"
#include "imaging/picture_decoders.h"

#include <cstring>

namespace vantrel::imaging {

platform::PixelSource PictureObject::source() const {
    using Format = platform::PixelSource::Format;
    platform::PixelSource s{.width = width,
                            .height = height,
                            .top = pixels.data(),
                            .stride = static_cast<std::ptrdiff_t>(stride),
                            .palette = palette};
    switch (kind) {
    case PictureKind::Jpeg:
    case PictureKind::Bmp:
        s.format = Format::Bgr24;
        if (height > 0) {
            s.top = pixels.data() + stride * std::size_t(height - 1);
        }
        s.stride = -s.stride;
        break;
    case PictureKind::Gif:
    case PictureKind::Pcx8:
        s.format = Format::Indexed8;
        break;
    case PictureKind::Pcx1:
        s.format = Format::Indexed1;
        break;
    case PictureKind::Png:
    case PictureKind::Icon:
    case PictureKind::Cursor:
        s.format = Format::Bgrx32;
        break;
    }
    return s;
}

std::size_t PictureObject::dataSize() const {
    const std::size_t n = std::size_t(width) * std::size_t(height);
    switch (kind) {
    case PictureKind::Jpeg:
    case PictureKind::Bmp:
        return n * 3;
    case PictureKind::Png:
        return n * 4;
    default:
        return pixels.size();
    }
}

bool pictureSizeAllowed(std::int64_t width, std::int64_t height) {
    // The raster layer indexes with int, so a side must stay well inside its range too.
    return width > 0 && height > 0 && width < (1 << 24) && height < (1 << 24) &&
           ImageBuffer::sizeAllowed(std::uint64_t(width), std::uint64_t(height));
}

std::optional<PictureKind> detectPictureKind(Bytes b) {
    if (b.size() < 6) {
        return std::nullopt;
    }
    auto word = [&](std::size_t i) { return b[i] | b[i + 1] << 8; };
    if (b[0] == 'B' && b[1] == 'M') {
        return PictureKind::Bmp;
    }
    if (b[0] == 0xFF && b[1] == 0xD8) {
        return PictureKind::Jpeg;
    }
    if (b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G') {
        return PictureKind::Png;
    }
    if (word(0) == 0 && (word(2) == 1 || word(2) == 2) && word(4) != 0) {
        return word(2) == 1 ? PictureKind::Icon : PictureKind::Cursor;
    }
    if (std::memcmp(b.data(), "GIF8", 4) == 0 && (b[4] == '7' || b[4] == '9') && b[5] == 'a') {
        return PictureKind::Gif;
    }
    if (b[0] == 0x0A && b[2] == 1) {
        if (b[1] <= 5 && b[3] == 8) {
            return PictureKind::Pcx8;
        }
        if (b[1] == 3 && b[3] == 1) {
            return PictureKind::Pcx1;
        }
    }
    return std::nullopt;
}

std::unique_ptr<PictureObject> decodePictureBytes(Bytes bytes) {
    const auto kind = detectPictureKind(bytes);
    if (!kind) {
        return nullptr;
    }
    switch (*kind) {
    case PictureKind::Bmp:
        return decodeBmpPicture(bytes);
    case PictureKind::Jpeg:
        return decodeJpegPicture(bytes);
    case PictureKind::Png:
        return decodePngPicture(bytes);
    case PictureKind::Icon:
    case PictureKind::Cursor:
        return decodeIconPicture(bytes);
    case PictureKind::Gif:
        return decodeGifPicture(bytes);
    case PictureKind::Pcx8:
    case PictureKind::Pcx1:
        return decodePcxPicture(bytes);
    }
    return nullptr;
}

std::unique_ptr<PictureObject> decodePictureBytes(std::vector<std::uint8_t>&& bytes) {
    // Moving the vector into shared ownership keeps its buffer where it is.
    return decodePictureBytes(std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes)));
}

std::unique_ptr<PictureObject> decodePictureBytes(PixelBlock::SharedBytes bytes) {
    if (!bytes) {
        return nullptr;
    }
    if (detectPictureKind(*bytes) == PictureKind::Bmp) {
        return decodeBmpPicture(std::move(bytes));
    }
    return decodePictureBytes(Bytes(*bytes));
}

} // namespace vantrel::imaging
