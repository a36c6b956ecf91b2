// JPEG reading and writing through libjpeg(-turbo). Reading goes through the shared decode of
// jpeg_reader.h into the converter's ImageBuffer. Writing: the library reports errors by calling
// an error exit that must not return; ours jumps back into compress(), which then destroys the
// codec object and holds no C++ object with a destructor.

#include "imaging/codecs.h"
#include "imaging/jpeg_reader.h"

#include <csetjmp>
#include <jpeglib.h>
#include <new>

namespace vantrel::imaging {

namespace {

struct ErrorExit {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void jumpBack(j_common_ptr codec) {
    std::longjmp(reinterpret_cast<ErrorExit*>(codec->err)->jump, 1);
}
void keepQuiet(j_common_ptr) {}

void initErrors(ErrorExit& errors) {
    jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jumpBack;
    errors.manager.output_message = keepQuiet;
}

// Compresses 8-bit grey or 24-bit RGB rows; false after any library error.
bool compress(const ImageBuffer& image, std::FILE* out, const JpegSettings& settings) {
    jpeg_compress_struct codec;
    ErrorExit errors;
    codec.err = &errors.manager;
    initErrors(errors);
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&codec);
        return false;
    }
    jpeg_create_compress(&codec);
    jpeg_stdio_dest(&codec, out);
    codec.image_width = image.width();
    codec.image_height = image.height();
    codec.input_components = image.type() == 8 ? 1 : 3;
    codec.in_color_space = image.type() == 8 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&codec);
    codec.optimize_coding = settings.optimise ? TRUE : FALSE;
    codec.smoothing_factor = settings.smoothing;
    jpeg_set_quality(&codec, settings.quality, TRUE);
    jpeg_start_compress(&codec, TRUE);
    while (codec.next_scanline < codec.image_height) {
        JSAMPROW row = image.row(codec.next_scanline);
        jpeg_write_scanlines(&codec, &row, 1);
    }
    jpeg_finish_compress(&codec);
    jpeg_destroy_compress(&codec);
    return true;
}

// Decoded rows straight into the buffer: 8-bit grey with a grey ramp palette, or 24-bit RGB.
class BufferRows final : public JpegRowSink {
public:
    explicit BufferRows(ImageBuffer& out)
        : out_(out) {}
    bool start(const JpegFrame& frame) noexcept override {
        try {
            if (!out_.create(frame.components == 1 ? 8 : 24, frame.width, frame.height)) {
                return false;
            }
            if (frame.components == 1) {
                out_.palette().resize(256);
                for (unsigned i = 0; i < 256; ++i) {
                    const auto v = static_cast<std::uint8_t>(i);
                    out_.palette()[i] = {v, v, v};
                }
            }
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    std::uint8_t* row(std::uint32_t y) noexcept override { return out_.row(y); }

private:
    ImageBuffer& out_;
};

} // namespace

DecodeStatus decodeJpeg(std::FILE* file, std::uint64_t size, ImageBuffer& out) {
    std::uint8_t magic[2];
    if (std::fread(magic, 1, 2, file) != 2 || magic[0] != 0xFF || magic[1] != 0xD8 ||
        fseeko(file, 0, SEEK_SET) != 0) {
        return DecodeStatus::NotMine;
    }
    BufferRows rows(out);
    switch (readJpeg(file, size, JpegColours::RgbOrGrey, rows)) {
    case JpegResult::NotJpeg:
        return DecodeStatus::NotMine;
    case JpegResult::Failed:
        return DecodeStatus::Failed;
    case JpegResult::Decoded:
        break;
    }
    return DecodeStatus::Decoded;
}

bool encodeJpeg(const ImageBuffer& image, std::FILE* out, const JpegSettings& settings) {
    if (!image.valid()) {
        return false;
    }
    ImageBuffer converted;
    if (settings.grayscale) {
        converted = image.toGrey8();
    } else if (image.type() != 24) {
        converted = image.to24();
    }
    if ((settings.grayscale || image.type() != 24) && !converted.valid()) {
        return false;
    }
    return compress(converted.valid() ? converted : image, out, settings);
}

} // namespace vantrel::imaging
