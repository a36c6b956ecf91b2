// PNG reading and writing through libpng. Errors jump back (png_jmpbuf) into the one function
// that set the codec up; those functions hold no C++ object with a destructor.

#include "imaging/codecs.h"

#include <png.h>

namespace vantrel::imaging {

namespace {

// Compression of the written PNG, chosen by measurement on A4 pages (bench/): zlib level 4 with
// libpng's adaptive choice among the sub, up and Paeth filters takes about 0.4 of the time of
// ImageMagick's default (level 7, adaptive filtering) for files about 2 per cent larger.
constexpr int kPngCompressionLevel = 4;
constexpr int kPngFilters = PNG_FILTER_SUB | PNG_FILTER_UP | PNG_FILTER_PAETH;

[[noreturn]] void jumpBack(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void keepQuiet(png_structp, png_const_charp) {}

void readFromFile(png_structp png, png_bytep into, png_size_t length) {
    auto* file = static_cast<std::FILE*>(png_get_io_ptr(png));
    if (std::fread(into, 1, length, file) != length) {
        png_error(png, "reading png image error");
    }
}
void writeToFile(png_structp png, png_bytep data, png_size_t length) {
    auto* file = static_cast<std::FILE*>(png_get_io_ptr(png));
    if (std::fwrite(data, 1, length, file) != length) {
        png_error(png, "write png image error");
    }
}
void flushFile(png_structp png) {
    if (std::fflush(static_cast<std::FILE*>(png_get_io_ptr(png))) != 0) {
        png_error(png, "fulsh file error");
    }
}

bool writeRgb(const ImageBuffer& image, std::FILE* out, const RowProgress& progress) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, jumpBack, keepQuiet);
    if (!png) {
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, writeToFile, flushFile);
    png_set_IHDR(png, info, image.width(), image.height(), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_ADAM7, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (const Resolution r = image.resolution(); r.known()) {
        png_set_pHYs(png, info, r.xPerMetre, r.yPerMetre, PNG_RESOLUTION_METER);
    }
    png_set_compression_level(png, kPngCompressionLevel);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, kPngFilters);
    png_write_info(png, info);
    const int passes = png_set_interlace_handling(png);
    for (int pass = 0; pass < passes; ++pass) {
        for (std::uint32_t y = 0; y < image.height(); ++y) {
            png_write_row(png, image.row(y));
            progress.updateInterlaced(passes, pass, y + 1, image.height());
        }
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

DecodeStatus decodePng(std::FILE* file, std::uint64_t, ImageBuffer& out,
                       const RowProgress& progress) {
    png_byte signature[8];
    if (std::fread(signature, 1, 8, file) != 8 || png_sig_cmp(signature, 0, 8) != 0) {
        return DecodeStatus::NotMine;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, jumpBack, keepQuiet);
    if (!png) {
        return DecodeStatus::Failed;
    }
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return DecodeStatus::Failed;
    }
    const DecodeLimits limits = decodeLimits();
    png_set_user_limits(png, limits.maxDimension, limits.maxDimension);
    png_set_chunk_malloc_max(png, 16u << 20);
    // Ancillary chunks that the converter never uses are skipped unread: libpng allocates some of
    // them whole before checking their length (a 2 GiB text chunk would be a 2 GiB allocation).
    // pHYs, the resolution, is read: libpng takes exactly its nine bytes.
    static constexpr png_byte kSkipped[] = "tEXt\0zTXt\0iTXt\0eXIf\0pCAL\0sCAL\0sPLT\0iCCP\0tIME\0"
                                           "hIST\0oFFs\0sTER\0bKGD\0cHRM\0gAMA\0sRGB\0sBIT";
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kSkipped, 17);
    png_set_read_fn(png, file, readFromFile);
    png_set_sig_bytes(png, 8);
    png_read_info(png, info);
    // Every PNG becomes 8-bit RGB, or RGBA when it carries transparency.
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const png_byte channels = png_get_channels(png, info);
    if ((channels != 3 && channels != 4) ||
        !out.create(channels * 8, png_get_image_width(png, info),
                    png_get_image_height(png, info))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return DecodeStatus::Failed;
    }
    png_uint_32 xPerUnit = 0;
    png_uint_32 yPerUnit = 0;
    int unit = PNG_RESOLUTION_UNKNOWN;
    if (png_get_pHYs(png, info, &xPerUnit, &yPerUnit, &unit) && unit == PNG_RESOLUTION_METER) {
        out.setResolution(Resolution::perMetre(xPerUnit, yPerUnit));
    }
    // Interlaced passes fill the same full rows, so no second copy of the picture is needed.
    for (int pass = 0; pass < passes; ++pass) {
        for (std::uint32_t y = 0; y < out.height(); ++y) {
            png_read_row(png, out.row(y), nullptr);
            progress.updateInterlaced(passes, pass, y + 1, out.height());
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return DecodeStatus::Decoded;
}

bool encodePng(const ImageBuffer& image, std::FILE* out, const RowProgress& progress) {
    if (!image.valid()) {
        return false;
    }
    if (image.type() == 24) {
        return writeRgb(image, out, progress);
    }
    const ImageBuffer rgb = image.to24();
    return rgb.valid() && writeRgb(rgb, out, progress);
}

} // namespace vantrel::imaging
