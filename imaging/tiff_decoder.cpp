// TIFF reading through libtiff's RGBA interface, over the open source stream. The whole picture
// is read as 32-bit RGBA into a mapped scratch store and narrowed to 24 bits.

#include "imaging/codecs.h"

#include <cstring>
#include <memory>
#include <tiffio.h>

namespace vantrel::imaging {

namespace {

constexpr tmsize_t kMaxSingleAllocation = 256 << 20;

std::FILE* streamOf(thandle_t handle) {
    return static_cast<std::FILE*>(handle);
}

tmsize_t readProc(thandle_t handle, void* into, tmsize_t n) {
    return n < 0 ? -1
                 : static_cast<tmsize_t>(
                       std::fread(into, 1, static_cast<std::size_t>(n), streamOf(handle)));
}
tmsize_t writeProc(thandle_t, void*, tmsize_t) {
    return -1;
}
toff_t seekProc(thandle_t handle, toff_t offset, int whence) {
    if (offset > static_cast<toff_t>(INT64_MAX) ||
        fseeko(streamOf(handle), static_cast<off_t>(offset), whence) != 0) {
        return static_cast<toff_t>(-1);
    }
    return static_cast<toff_t>(ftello(streamOf(handle)));
}
int closeProc(thandle_t) {
    return 0;
} // the converter closes the stream
toff_t sizeProc(thandle_t handle) {
    std::FILE* f = streamOf(handle);
    const off_t here = ftello(f);
    fseeko(f, 0, SEEK_END);
    const off_t end = ftello(f);
    fseeko(f, here, SEEK_SET);
    return static_cast<toff_t>(end);
}
int mapProc(thandle_t, void**, toff_t*) {
    return 0;
}
void unmapProc(thandle_t, void*, toff_t) {}
int keepQuiet(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};

} // namespace

DecodeStatus decodeTiff(std::FILE* file, std::uint64_t, ImageBuffer& out) {
    std::uint8_t magic[4];
    if (std::fread(magic, 1, 4, file) != 4 || fseeko(file, 0, SEEK_SET) != 0) {
        return DecodeStatus::NotMine;
    }
    const bool little =
        magic[0] == 'I' && magic[1] == 'I' && magic[3] == 0 && (magic[2] == 42 || magic[2] == 43);
    const bool big =
        magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 && (magic[3] == 42 || magic[3] == 43);
    if (!little && !big) {
        return DecodeStatus::NotMine;
    }
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxSingleAllocation);
    TIFFOpenOptionsSetErrorHandlerExtR(options, keepQuiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, keepQuiet, nullptr);
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFClientOpenExt("source", "rm", file, readProc,
                                                            writeProc, seekProc, closeProc,
                                                            sizeProc, mapProc, unmapProc, options));
    TIFFOpenOptionsFree(options);
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if (!tif || !TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height)) {
        return DecodeStatus::NotMine;
    }
    char message[1024];
    if (!ImageBuffer::sizeAllowed(width, height) || !TIFFRGBAImageOK(tif.get(), message)) {
        return DecodeStatus::Failed;
    }
    const std::size_t pixels = std::size_t{width} * height;
    auto raster = MappedStorage::create(pixels * 4);
    if (!raster || !TIFFReadRGBAImageOriented(tif.get(), width, height,
                                              reinterpret_cast<std::uint32_t*>(raster->data()),
                                              ORIENTATION_TOPLEFT, 0)) {
        return DecodeStatus::Failed;
    }
    if (!out.create(24, width, height)) {
        return DecodeStatus::Failed;
    }
    const auto* rgba = reinterpret_cast<const std::uint32_t*>(raster->data());
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint8_t* d = out.row(y);
        for (std::uint32_t x = 0; x < width; ++x, ++rgba, d += 3) {
            d[0] = static_cast<std::uint8_t>(TIFFGetR(*rgba));
            d[1] = static_cast<std::uint8_t>(TIFFGetG(*rgba));
            d[2] = static_cast<std::uint8_t>(TIFFGetB(*rgba));
        }
    }
    return DecodeStatus::Decoded;
}

} // namespace vantrel::imaging
