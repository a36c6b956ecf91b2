#pragma once
// Reader and writer modules of the picture format converter. Every decoder takes an open source
// file positioned at its start plus the file's size; it first tests whether the file is its
// format (NotMine lets the next decoder try) and, once it has accepted the file, either fills
// the buffer or fails; a source that is damaged or ends early fails rather than giving a picture
// with made-up rows. Encoders write a whole buffer to an open stream and report success.
// libjpeg's and libpng's setjmp/longjmp error exits stay inside one small function each.

#include "imaging/image_buffer.h"

#include <cstdint>
#include <cstdio>

namespace vantrel::imaging {

enum class DecodeStatus { NotMine, Failed, Decoded };

DecodeStatus decodeJpeg(std::FILE* file, std::uint64_t size, ImageBuffer& out);
DecodeStatus decodeBmp(std::FILE* file, std::uint64_t size, ImageBuffer& out);
DecodeStatus decodeTiff(std::FILE* file, std::uint64_t size, ImageBuffer& out);
DecodeStatus decodePng(std::FILE* file, std::uint64_t size, ImageBuffer& out);
DecodeStatus decodePcx(std::FILE* file, std::uint64_t size, ImageBuffer& out);
DecodeStatus decodePhotoCd(std::FILE* file, std::uint64_t size, ImageBuffer& out);

// Offers the file to the decoders in the order above; the first that accepts it decides. True
// when a picture was decoded; false when no decoder accepted the file or the accepting one failed.
bool decodePicture(std::FILE* file, std::uint64_t size, ImageBuffer& out);

// Where the rows of a 24-bit uncompressed BMP lie, after every check decodeBmp makes. Returns
// NotMine or Failed as decodeBmp would; Decoded means `where` is filled.
struct BmpRows {
    std::uint32_t width, rows;
    bool topDown;
    std::uint64_t stride, offset;
};
DecodeStatus locateBmpRows(std::FILE* file, std::uint64_t size, BmpRows& where);
// The 54-byte file and info headers of a 24-bit bottom-up BMP; false when it cannot be written.
bool writeBmpHeader(std::FILE* out, std::uint32_t width, std::uint32_t height);

struct JpegSettings {
    bool grayscale = false;
    int quality = 100; // 1..100, baseline-compatible tables
    bool optimise = true;
    int smoothing = 0; // 0..100
};

// Baseline JPEG: RGB (the buffer widened to 24 bits) or grey (converted to 8 bits).
bool encodeJpeg(const ImageBuffer& image, std::FILE* out, const JpegSettings& settings);
// A 24-bit bottom-up BMP with a 40-byte info header; rows padded with zero bytes.
bool encodeBmp(const ImageBuffer& image, std::FILE* out);
// An Adam7-interlaced 8-bit RGB PNG.
bool encodePng(const ImageBuffer& image, std::FILE* out);

// Little-endian field readers shared by the modules.
inline std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}
// Reads exactly n bytes at `offset`; false on a short read or a failed seek.
bool readAt(std::FILE* file, std::uint64_t offset, void* into, std::size_t n);

} // namespace vantrel::imaging
