// JPEG and PNG pictures for LoadPicture, decoded from memory by the libraries: JPEG into 24-bit
// bottom-up rows (libjpeg-turbo writes blue-green-red directly), PNG through libpng's simplified
// interface into 32-bit blue-green-red-alpha. The size is checked after the header is read and
// before any pixel memory is allocated. libjpeg's longjmp error exit stays inside runJpeg().

// clang-format off
#include <cstdio> // jpeglib.h needs FILE and size_t first
#include <jpeglib.h>
// clang-format on
#include <png.h>

#include "imaging/picture_decoders.h"

#include <csetjmp>
#include <vector>

namespace vantrel::imaging {
namespace {

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void jpegErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}
void jpegSilence(j_common_ptr, int) {}
void jpegNoOutput(j_common_ptr) {}

// Fills `picture` (owned by the caller, which frees it on failure); errors leave by longjmp.
bool decodeJpeg(Bytes b, jpeg_decompress_struct& cinfo, PictureObject* picture) {
    jpeg_mem_src(&cinfo, b.data(), static_cast<unsigned long>(b.size()));
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
        return false;
    }
    if (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK ||
        !pictureSizeAllowed(cinfo.image_width, cinfo.image_height)) {
        return false;
    }
    cinfo.out_color_space = JCS_EXT_BGR;
    picture->width = static_cast<int>(cinfo.image_width);
    picture->height = static_cast<int>(cinfo.image_height);
    picture->stride = (std::size_t(picture->width) * 3 + 3) & ~std::size_t{3};
    picture->pixels = PixelBlock(picture->stride * std::size_t(picture->height));
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != 3 || int(cinfo.output_width) != picture->width ||
        int(cinfo.output_height) != picture->height) {
        return false;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        // Bottom-up storage: scan line y goes to storage row height - 1 - y.
        JSAMPROW row =
            picture->pixels.data() +
            std::size_t(picture->height - 1 - int(cinfo.output_scanline)) * picture->stride;
        std::fill(row + std::size_t(picture->width) * 3, row + picture->stride, 0);
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) {
            return false;
        }
    }
    jpeg_finish_decompress(&cinfo);
    return true;
}

// The one place with a setjmp: nothing here changes after it, so nothing can be clobbered.
bool runJpeg(Bytes b, jpeg_decompress_struct& cinfo, JpegError& error, PictureObject* picture) {
    if (setjmp(error.jump) != 0) {
        return false;
    }
    jpeg_create_decompress(&cinfo);
    return decodeJpeg(b, cinfo, picture);
}

} // namespace

std::unique_ptr<PictureObject> decodeJpegPicture(Bytes b) {
    if (b.empty()) {
        return nullptr;
    }
    auto picture = std::make_unique<PictureObject>();
    picture->kind = PictureKind::Jpeg;
    jpeg_decompress_struct cinfo{};
    JpegError error{};
    cinfo.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = jpegErrorExit;
    error.manager.emit_message = jpegSilence; // corrupt-data warnings: keep what was decoded
    error.manager.output_message = jpegNoOutput;
    const bool ok = runJpeg(b, cinfo, error, picture.get());
    jpeg_destroy_decompress(&cinfo); // also after a failure: frees what libjpeg allocated
    return ok ? std::move(picture) : nullptr;
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
    auto picture = std::make_unique<PictureObject>();
    picture->kind = PictureKind::Png;
    picture->width = static_cast<int>(image.width);
    picture->height = static_cast<int>(image.height);
    picture->stride = std::size_t(image.width) * 4;
    picture->pixels = PixelBlock(picture->stride * image.height);
    if (!png_image_finish_read(&image, nullptr, picture->pixels.data(),
                               static_cast<png_int_32>(picture->stride), nullptr)) {
        png_image_free(&image);
        return nullptr;
    }
    return picture;
}

} // namespace vantrel::imaging
