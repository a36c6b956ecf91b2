// TIFF reading through libtiff's RGBA interface, over the open source stream, one band of strips
// or tiles at a time, narrowed to 24 bits into the ImageBuffer.
//
// Memory: libtiff 4.5 caps each of its allocations (TIFFOpenOptionsSetMaxSingleMemAlloc) but not
// their sum. The file is first opened with a cap that only the directory needs; once the header's
// size has passed the decode limits, it is opened again with a cap tied to that size. The sum is
// then bounded by the way it is read: one strip or tile decoded at a time (each within the cap),
// its compressed bytes (within the cap and the file's size), one band of RGBA pixels and the
// output. What stays uncapped in total: the working memory of the compression codecs (zlib's
// window, libjpeg's state for JPEG-compressed strips, which libtiff limits itself for
// progressive ones) and the many small allocations of the directory's tags, each of them still
// within the cap.

#include "imaging/codecs.h"

#include <algorithm>
#include <memory>
#include <new>
#include <tiffio.h>

namespace vantrel::imaging {

namespace {

// Largest allocation the directory alone may need: a strip or tile table of the largest picture
// within the default decode limits (2^20 strips of one row, or tiles of 16 x 16, in each of four
// planes, 8 bytes an entry). Larger tags are dropped by libtiff, not fatal.
constexpr tmsize_t kDirectoryAllocation = tmsize_t{32} << 20;

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
using TiffPointer = std::unique_ptr<TIFF, TiffCloser>;

struct RgbaImageEnd {
    void operator()(TIFFRGBAImage* image) const { TIFFRGBAImageEnd(image); }
};

// Opens the stream from its start with every libtiff allocation capped at `cap` bytes.
TiffPointer open(std::FILE* file, tmsize_t cap) {
    if (fseeko(file, 0, SEEK_SET) != 0) {
        return nullptr;
    }
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) {
        return nullptr;
    }
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, cap);
    TIFFOpenOptionsSetErrorHandlerExtR(options, keepQuiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, keepQuiet, nullptr);
    TiffPointer tif(TIFFClientOpenExt("source", "rm", file, readProc, writeProc, seekProc,
                                      closeProc, sizeProc, mapProc, unmapProc, options));
    TIFFOpenOptionsFree(options);
    return tif;
}

// Orientations whose first stored row is the bottom of the picture.
bool storedBottomUp(std::uint16_t orientation) {
    return orientation == ORIENTATION_BOTRIGHT || orientation == ORIENTATION_BOTLEFT ||
           orientation == ORIENTATION_RIGHTBOT || orientation == ORIENTATION_LEFTBOT;
}

// Reads the picture band by band into `out`: a band is one row of strips or of tiles, so each
// strip or tile is decoded once, and only one band of RGBA pixels exists besides the output.
// `cap` is the cap on libtiff's allocations, which a buffer made here for it keeps to as well.
bool readBands(TIFF* tif, std::uint32_t width, std::uint32_t height, std::uint64_t cap,
               ImageBuffer& out, const RowProgress& progress) {
    // libtiff 4.5.0 refuses the first uncompressed tile of every read from a file that is not
    // memory-mapped (ours never is) when the tile's size is not a multiple of 1 KiB: it compares
    // the tile size with its buffer for the stored bytes, which it rounds up to 1 KiB. A buffer of
    // exactly one tile, handed to it beforehand, passes that comparison.
    std::uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    std::unique_ptr<std::uint8_t[]> storedTile;
    if (TIFFIsTiled(tif) && compression == COMPRESSION_NONE) {
        const tmsize_t size = TIFFTileSize(tif);
        if (size <= 0 || std::uint64_t(size) > cap) {
            return false;
        }
        storedTile.reset(new (std::nothrow) std::uint8_t[std::size_t(size)]);
        if (!storedTile || !TIFFReadBufferSetup(tif, storedTile.get(), size)) {
            return false;
        }
    }
    TIFFRGBAImage image{};
    char message[1024];
    // Stop at the first strip or tile that cannot be read: a damaged file fails.
    if (!TIFFRGBAImageBegin(&image, tif, 1, message)) {
        return false;
    }
    const std::unique_ptr<TIFFRGBAImage, RgbaImageEnd> ending(&image);
    // Top-left asks libtiff to flip each band into picture order (and mirror rows for the
    // right-hand orientations); the bands of a bottom-up file then go in from the bottom.
    image.req_orientation = ORIENTATION_TOPLEFT;
    const bool bottomUp = storedBottomUp(image.orientation);
    std::uint32_t band = 0;
    if (TIFFIsTiled(tif)) {
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &band);
    } else {
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &band);
    }
    band = std::clamp<std::uint32_t>(band, 1, height);
    const std::unique_ptr<std::uint32_t[]> rgba(new (std::nothrow)
                                                    std::uint32_t[std::size_t{width} * band]);
    if (!rgba || !out.create(24, width, height)) {
        return false;
    }
    for (std::uint32_t row = 0; row < height; row += band) {
        const std::uint32_t rows = std::min(band, height - row);
        image.row_offset = static_cast<int>(row);
        image.col_offset = 0;
        if (!TIFFRGBAImageGet(&image, rgba.get(), width, rows)) {
            return false;
        }
        const std::uint32_t top = bottomUp ? height - row - rows : row;
        const std::uint32_t* from = rgba.get();
        for (std::uint32_t y = top; y < top + rows; ++y) {
            std::uint8_t* d = out.row(y);
            for (std::uint32_t x = 0; x < width; ++x, ++from, d += 3) {
                d[0] = static_cast<std::uint8_t>(TIFFGetR(*from));
                d[1] = static_cast<std::uint8_t>(TIFFGetG(*from));
                d[2] = static_cast<std::uint8_t>(TIFFGetB(*from));
            }
        }
        progress.update(std::uint64_t{row} + rows, height);
    }
    return true;
}

// X and Y resolution in inches (the default unit) or centimetres; a file that gives no unit
// (RESUNIT_NONE) states only the pixels' aspect ratio.
Resolution resolutionOf(TIFF* tif) {
    float x = 0;
    float y = 0;
    std::uint16_t unit = RESUNIT_INCH;
    if (!TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x) ||
        !TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y)) {
        return {};
    }
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    switch (unit) {
    case RESUNIT_INCH:
        return Resolution::dotsPerInch(x, y);
    case RESUNIT_CENTIMETER:
        return Resolution::dotsPerCentimetre(x, y);
    default:
        return {};
    }
}

DecodeStatus decodeOpened(std::FILE* file, ImageBuffer& out, const RowProgress& progress) {
    TiffPointer tif = open(file, kDirectoryAllocation);
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
    // Now that the size is known, open again with the cap the picture needs: a strip or tile of
    // up to four 16-bit samples per pixel is twice the RGBA raster.
    const std::uint64_t cap = 2 * (std::uint64_t{width} * height * 4) + kDirectoryAllocation;
    tif = open(file, static_cast<tmsize_t>(cap));
    if (!tif || !readBands(tif.get(), width, height, cap, out, progress)) {
        return DecodeStatus::Failed;
    }
    out.setResolution(resolutionOf(tif.get()));
    return DecodeStatus::Decoded;
}

} // namespace

DecodeStatus decodeTiff(std::FILE* file, std::uint64_t, ImageBuffer& out,
                        const RowProgress& progress) {
    std::uint8_t magic[4];
    if (std::fread(magic, 1, 4, file) != 4) {
        return DecodeStatus::NotMine;
    }
    const bool little =
        magic[0] == 'I' && magic[1] == 'I' && magic[3] == 0 && (magic[2] == 42 || magic[2] == 43);
    const bool big =
        magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 && (magic[3] == 42 || magic[3] == 43);
    if (!little && !big) {
        return DecodeStatus::NotMine;
    }
    try {
        return decodeOpened(file, out, progress);
    } catch (const std::bad_alloc&) {
        return DecodeStatus::Failed;
    }
}

} // namespace vantrel::imaging
