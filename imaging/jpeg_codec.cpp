// JPEG reading and writing through libjpeg(-turbo). The library reports errors by calling an
// error exit that must not return; ours jumps back into the one function that set it up, which
// then destroys the codec object. Those functions hold no C++ object with a destructor.

#include "imaging/codecs.h"

#include <csetjmp>
#include <cstring>
#include <jpeglib.h>

namespace vantrel::imaging {

namespace {

// Limits on what one source may cost: libjpeg-turbo 2.1 has none of its own.
constexpr long kMaxJpegMemory = 1024L * 1024 * 1024;
constexpr int kMaxScans = 256; // a progressive file needs about a dozen

struct ErrorExit {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void jumpBack(j_common_ptr codec) {
    std::longjmp(reinterpret_cast<ErrorExit*>(codec->err)->jump, 1);
}
void keepQuiet(j_common_ptr) {}

void capScans(j_common_ptr codec) {
    if (codec->is_decompressor) {
        auto* d = reinterpret_cast<j_decompress_ptr>(codec);
        if (d->input_scan_number > kMaxScans) {
            jumpBack(codec);
        }
    }
}

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

} // namespace

DecodeStatus decodeJpeg(std::FILE* file, std::uint64_t, ImageBuffer& out) {
    std::uint8_t magic[2];
    if (std::fread(magic, 1, 2, file) != 2 || magic[0] != 0xFF || magic[1] != 0xD8 ||
        fseeko(file, 0, SEEK_SET) != 0) {
        return DecodeStatus::NotMine;
    }
    jpeg_decompress_struct codec;
    ErrorExit errors;
    jpeg_progress_mgr progress{};
    progress.progress_monitor = capScans;
    codec.err = &errors.manager;
    initErrors(errors);
    volatile bool accepted = false;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&codec);
        return accepted ? DecodeStatus::Failed : DecodeStatus::NotMine;
    }
    jpeg_create_decompress(&codec);
    codec.mem->max_memory_to_use = kMaxJpegMemory;
    codec.progress = &progress;
    jpeg_stdio_src(&codec, file);
    jpeg_read_header(&codec, TRUE);
    if (codec.num_components == 1) {
        codec.out_color_space = JCS_GRAYSCALE;
    } else if (codec.jpeg_color_space == JCS_YCbCr || codec.jpeg_color_space == JCS_RGB) {
        codec.out_color_space = JCS_RGB;
    }
    jpeg_calc_output_dimensions(&codec);
    if (codec.output_components != 1 && codec.output_components != 3) {
        jpeg_destroy_decompress(&codec);
        return DecodeStatus::NotMine;
    }
    accepted = true;
    const int type = codec.output_components == 1 ? 8 : 24;
    if (!out.create(type, codec.output_width, codec.output_height)) {
        jpeg_destroy_decompress(&codec);
        return DecodeStatus::Failed;
    }
    jpeg_start_decompress(&codec);
    while (codec.output_scanline < codec.output_height) {
        JSAMPROW row = out.row(codec.output_scanline);
        jpeg_read_scanlines(&codec, &row, 1);
    }
    jpeg_finish_decompress(&codec);
    jpeg_destroy_decompress(&codec);
    if (type == 8) {
        out.palette().resize(256);
        for (unsigned i = 0; i < 256; ++i) {
            const auto v = static_cast<std::uint8_t>(i);
            out.palette()[i] = {v, v, v};
        }
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
