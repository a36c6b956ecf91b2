#pragma once
// Reader and writer modules of the picture format converter. Every decoder takes an open source
// file positioned at its start plus the file's size; it first tests whether the file is its
// format (NotMine lets the next decoder try) and, once it has accepted the file, either fills
// the buffer or fails; a source that is damaged or ends early fails rather than giving a picture
// with made-up rows. Encoders write a whole buffer to an open stream and report success.
// libjpeg's and libpng's setjmp/longjmp error exits stay inside one small function each.
// Decoders put the resolution the file carries, when they can read it, into the buffer; encoders
// write the buffer's resolution (see converter.h for the fields). Both report their rows to an
// optional RowProgress.

#include "imaging/converter.h"
#include "imaging/image_buffer.h"
#include "imaging/resolution.h"

#include <cstdint>
#include <cstdio>

namespace vantrel::imaging {

// One codec's share of a ConversionProgress: done / total of its work maps onto from .. to
// thousandths. The default reports nowhere. Each update is at most one relaxed store, made only
// when the figure rises, so the figure never goes back even when a codec's estimate of its total
// work changes; it must be used on one thread at a time (the conversion's).
class RowProgress {
public:
    RowProgress() = default;
    RowProgress(ConversionProgress* sink, int from, int to)
        : sink_(sink)
        , from_(from)
        , to_(to) {}

    void update(std::uint64_t done, std::uint64_t total) const noexcept {
        if (!sink_ || total == 0) {
            return;
        }
        done = done < total ? done : total;
        // Every total (rows x 64, a file's bytes, passes x 1000) is far below 2^54, so the
        // product with at most 1000 cannot overflow.
        const int value =
            from_ + static_cast<int>(static_cast<std::uint64_t>(to_ - from_) * done / total);
        if (value > sink_->permille.load(std::memory_order_relaxed)) {
            sink_->permille.store(value, std::memory_order_relaxed);
        }
    }
    // Adam7 pass `pass` (0..6) at image row `row` of `height`, weighting each pass by its share of
    // the pixels (1/64, 1/64, 1/32, 1/16, 1/8, 1/4, 1/2); with one pass, simply row / height.
    void updateInterlaced(int passes, int pass, std::uint32_t row,
                          std::uint32_t height) const noexcept {
        if (passes != 7) {
            update(row, height);
            return;
        }
        static constexpr std::uint64_t kStart[8] = {0, 1, 2, 4, 8, 16, 32, 64};
        const auto p = static_cast<std::size_t>(pass);
        update(kStart[p] * height + (kStart[p + 1] - kStart[p]) * row, kStart[7] * height);
    }

private:
    ConversionProgress* sink_ = nullptr;
    int from_ = 0;
    int to_ = 0;
};

enum class DecodeStatus { NotMine, Failed, Decoded };

DecodeStatus decodeJpeg(std::FILE* file, std::uint64_t size, ImageBuffer& out,
                        const RowProgress& progress = {});
DecodeStatus decodeBmp(std::FILE* file, std::uint64_t size, ImageBuffer& out,
                       const RowProgress& progress = {});
DecodeStatus decodeTiff(std::FILE* file, std::uint64_t size, ImageBuffer& out,
                        const RowProgress& progress = {});
DecodeStatus decodePng(std::FILE* file, std::uint64_t size, ImageBuffer& out,
                       const RowProgress& progress = {});
DecodeStatus decodePcx(std::FILE* file, std::uint64_t size, ImageBuffer& out,
                       const RowProgress& progress = {});
DecodeStatus decodePhotoCd(std::FILE* file, std::uint64_t size, ImageBuffer& out,
                           const RowProgress& progress = {});

// Offers the file to the decoders in the order above; the first that accepts it decides. True
// when a picture was decoded; false when no decoder accepted the file or the accepting one failed.
bool decodePicture(std::FILE* file, std::uint64_t size, ImageBuffer& out,
                   const RowProgress& progress = {});

// Where the rows of a 24-bit uncompressed BMP lie, after every check decodeBmp makes. Returns
// NotMine or Failed as decodeBmp would; Decoded means `where` is filled.
struct BmpRows {
    std::uint32_t width, rows;
    bool topDown;
    std::uint64_t stride, offset;
    Resolution resolution;
};
DecodeStatus locateBmpRows(std::FILE* file, std::uint64_t size, BmpRows& where);
// The 54-byte file and info headers of a 24-bit bottom-up BMP, with `resolution` in the pixels
// per metre fields (0 when unknown); false when it cannot be written.
bool writeBmpHeader(std::FILE* out, std::uint32_t width, std::uint32_t height,
                    Resolution resolution = {});

struct JpegSettings {
    bool grayscale = false;
    int quality = 100; // 1..100, baseline-compatible tables
    bool optimise = true;
    int smoothing = 0; // 0..100
};

// Baseline JPEG: RGB (the buffer widened to 24 bits) or grey (converted to 8 bits). A known
// resolution becomes the JFIF density in dots per inch when it fits the 16-bit fields.
bool encodeJpeg(const ImageBuffer& image, std::FILE* out, const JpegSettings& settings,
                const RowProgress& progress = {});
// A 24-bit bottom-up BMP with a 40-byte info header; rows padded with zero bytes.
bool encodeBmp(const ImageBuffer& image, std::FILE* out, const RowProgress& progress = {});
// An Adam7-interlaced 8-bit RGB PNG, with a pHYs chunk when the resolution is known.
bool encodePng(const ImageBuffer& image, std::FILE* out, const RowProgress& progress = {});

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
