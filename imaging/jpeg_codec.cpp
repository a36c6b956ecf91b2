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

// The library's progress monitor, called per row while rows are written and per row of blocks
// in the passes of jpeg_finish_compress (with optimised Huffman tables the whole entropy-coded
// output is written there).
struct Monitor {
    jpeg_progress_mgr manager;
    const RowProgress* rows;
};

void onProgress(j_common_ptr codec) {
    const jpeg_progress_mgr& p = *codec->progress;
    if (p.pass_limit <= 0 || p.total_passes <= 0) {
        return;
    }
    // Thousandths of each pass; the total may grow as the library learns its passes, which the
    // RowProgress absorbs by never lowering the figure.
    const auto done = static_cast<std::uint64_t>(p.completed_passes) * 1000 +
                      static_cast<std::uint64_t>(p.pass_counter) * 1000 /
                          static_cast<std::uint64_t>(p.pass_limit);
    reinterpret_cast<const Monitor*>(codec->progress)
        ->rows->update(done, static_cast<std::uint64_t>(p.total_passes) * 1000);
}

// The JFIF density for a known resolution that fits its 16-bit fields; otherwise the library's
// default (aspect ratio 1:1, no unit) stays.
void setDensity(jpeg_compress_struct& codec, Resolution resolution) {
    if (!resolution.known()) {
        return;
    }
    const long x = Resolution::toDotsPerInch(resolution.xPerMetre);
    const long y = Resolution::toDotsPerInch(resolution.yPerMetre);
    if (x < 1 || y < 1 || x > 0xFFFF || y > 0xFFFF) {
        return;
    }
    codec.density_unit = 1; // dots per inch
    codec.X_density = static_cast<UINT16>(x);
    codec.Y_density = static_cast<UINT16>(y);
}

// Compresses 8-bit grey or 24-bit RGB rows; false after any library error.
bool compress(const ImageBuffer& image, std::FILE* out, const JpegSettings& settings,
              const RowProgress& progress) {
    jpeg_compress_struct codec;
    ErrorExit errors;
    Monitor monitor{{}, &progress};
    monitor.manager.progress_monitor = onProgress;
    codec.err = &errors.manager;
    initErrors(errors);
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&codec);
        return false;
    }
    jpeg_create_compress(&codec);
    codec.progress = &monitor.manager;
    jpeg_stdio_dest(&codec, out);
    codec.image_width = image.width();
    codec.image_height = image.height();
    codec.input_components = image.type() == 8 ? 1 : 3;
    codec.in_color_space = image.type() == 8 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&codec);
    setDensity(codec, image.resolution());
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
    BufferRows(ImageBuffer& out, const RowProgress& progress)
        : out_(out)
        , progress_(progress) {}
    bool start(const JpegFrame& frame) noexcept override {
        try {
            if (!out_.create(frame.components == 1 ? 8 : 24, frame.width, frame.height)) {
                return false;
            }
            out_.setResolution(frame.resolution);
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
    std::uint8_t* row(std::uint32_t y) noexcept override {
        progress_.update(y, out_.height());
        return out_.row(y);
    }

private:
    ImageBuffer& out_;
    const RowProgress& progress_;
};

} // namespace

DecodeStatus decodeJpeg(std::FILE* file, std::uint64_t size, ImageBuffer& out,
                        const RowProgress& progress) {
    std::uint8_t magic[2];
    if (std::fread(magic, 1, 2, file) != 2 || magic[0] != 0xFF || magic[1] != 0xD8 ||
        fseeko(file, 0, SEEK_SET) != 0) {
        return DecodeStatus::NotMine;
    }
    BufferRows rows(out, progress);
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

bool encodeJpeg(const ImageBuffer& image, std::FILE* out, const JpegSettings& settings,
                const RowProgress& progress) {
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
    return compress(converted.valid() ? converted : image, out, settings, progress);
}

} // namespace vantrel::imaging
