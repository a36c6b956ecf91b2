// JPEG and PNG pictures for LoadPicture, decoded from memory by the libraries: JPEG through the
// shared decode of jpeg_reader.h into 24-bit bottom-up rows (libjpeg-turbo writes blue-green-red
// directly and widens grey), PNG through libpng's simplified interface into 32-bit
// blue-green-red-alpha. The size is checked after the header is read and before any pixel memory
// is allocated; an allocation that fails gives no picture.

#include "imaging/jpeg_reader.h"
#include "imaging/picture_decoders.h"

#include <algorithm>
#include <new>
#include <png.h>

namespace vantrel::imaging {
namespace {

// Rows into the picture's block, bottom-up: output row y goes to storage row height - 1 - y,
// each row padded with zero bytes to a multiple of 4.
class PictureRows final : public JpegRowSink {
public:
    explicit PictureRows(PictureObject& picture)
        : picture_(picture) {}
    bool start(const JpegFrame& frame) noexcept override {
        if (frame.components != 3 || !pictureSizeAllowed(frame.width, frame.height)) {
            return false;
        }
        picture_.width = static_cast<int>(frame.width);
        picture_.height = static_cast<int>(frame.height);
        picture_.stride = (std::size_t{frame.width} * 3 + 3) & ~std::size_t{3};
        try {
            picture_.pixels = PixelBlock(picture_.stride * frame.height);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }
    std::uint8_t* row(std::uint32_t y) noexcept override {
        std::uint8_t* at =
            picture_.pixels.data() + std::size_t(picture_.height - 1 - int(y)) * picture_.stride;
        std::fill(at + std::size_t(picture_.width) * 3, at + picture_.stride, std::uint8_t{0});
        return at;
    }

private:
    PictureObject& picture_;
};

} // namespace

std::unique_ptr<PictureObject> decodeJpegPicture(Bytes b) {
    std::unique_ptr<PictureObject> picture(new (std::nothrow) PictureObject);
    if (b.empty() || !picture) {
        return nullptr;
    }
    picture->kind = PictureKind::Jpeg;
    PictureRows rows(*picture);
    if (readJpeg(b, JpegColours::Bgr, rows) != JpegResult::Decoded) {
        return nullptr;
    }
    return picture;
}

std::unique_ptr<PictureObject> decodePngPicture(Bytes b) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, b.data(), b.size())) {
        return nullptr;
    }
    if (!pictureSizeAllowed(image.width, image.height)) {
        png_image_free(&image);
        return nullptr;
    }
    image.format = PNG_FORMAT_BGRA;
    // Allocated before libpng reads on: no exception may pass through its frames.
    std::unique_ptr<PictureObject> picture(new (std::nothrow) PictureObject);
    try {
        if (picture) {
            picture->pixels = PixelBlock(std::size_t(image.width) * 4 * image.height);
        }
    } catch (const std::bad_alloc&) {
        picture.reset();
    }
    if (!picture) {
        png_image_free(&image);
        return nullptr;
    }
    picture->kind = PictureKind::Png;
    picture->width = static_cast<int>(image.width);
    picture->height = static_cast<int>(image.height);
    picture->stride = std::size_t(image.width) * 4;
    if (!png_image_finish_read(&image, nullptr, picture->pixels.data(),
                               static_cast<png_int_32>(picture->stride), nullptr)) {
        png_image_free(&image);
        return nullptr;
    }
    return picture;
}

} // namespace vantrel::imaging
