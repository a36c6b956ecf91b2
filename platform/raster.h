#pragma once
// The raster layer that stands in for GDI device bitmaps and their blits. A Raster is a 32-bit
// pixel buffer, top row first, one std::uint32_t per pixel holding 0xFFRRGGBB (in memory: blue,
// green, red, 0xFF, the layout of a 32-bit DIB and of Qt's RGB32, so a widget can show it without
// a copy). A PixelSource is a read-only view of picture pixels in the layouts pictures come in
// (24-bit BGR, 32-bit BGRX, 8- and 1-bit through a colour table, rows in either direction).
//
// stretchBlt applies any of the 256 ternary raster operations (bits 16-23 of a GDI raster code),
// transparentBlt leaves the target untouched exactly where the source colour equals the key, and
// both stretch in COLORONCOLOR (nearest pixel) or HALFTONE (area average when shrinking, nearest
// pixel when enlarging) mode. A blit at the source's own size is an exact pixel copy in either
// mode. Everything is clipped to the target; nothing here allocates more than a few rows.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace vantrel::platform {

// Colour value 0x00BBGGRR (red in the low byte), as the program's interfaces pass colours.
using ColourRef = std::uint32_t;

constexpr std::uint32_t kOpaque = 0xFF000000u;

constexpr std::uint32_t toPixel(ColourRef c) {
    return kOpaque | (c & 0xFFu) << 16 | (c & 0xFF00u) | (c >> 16 & 0xFFu);
}
constexpr ColourRef toColourRef(std::uint32_t pixel) {
    return (pixel & 0xFFu) << 16 | (pixel & 0xFF00u) | (pixel >> 16 & 0xFFu);
}

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Raster operation codes as GDI writes them; only bits 16-23 (the operation index) matter.
namespace rop {
inline constexpr std::uint32_t kSrcCopy = 0x00CC0020;
inline constexpr std::uint32_t kNotSrcCopy = 0x00330008;
inline constexpr std::uint32_t kSrcInvert = 0x00660046;
inline constexpr std::uint32_t kSrcPaint = 0x00EE0086;
inline constexpr std::uint32_t kSrcAnd = 0x008800C6;
} // namespace rop

enum class StretchMode { ColorOnColor, Halftone };

struct PixelSource {
    enum class Format { Bgr24, Bgrx32, Indexed8, Indexed1 };
    Format format = Format::Bgrx32;
    int width = 0;
    int height = 0;
    const std::uint8_t* top = nullptr; // first byte of the top row
    std::ptrdiff_t stride = 0;         // bytes from a row to the one below (negative: bottom-up)
    // Indexed formats: pixels 0xFFRRGGBB; an index at or beyond the table's end reads as black.
    std::span<const std::uint32_t> palette;

    const std::uint8_t* row(int y) const { return top + y * stride; }
};

class Raster {
public:
    Raster() = default;
    // A width x height buffer (each at least 1) filled with `fill`.
    Raster(int width, int height, std::uint32_t fill);
    Raster(Raster&&) noexcept = default;
    Raster& operator=(Raster&&) noexcept = default;

    int width() const { return width_; }
    int height() const { return height_; }
    bool empty() const { return width_ == 0; }
    std::size_t strideBytes() const { return std::size_t(width_) * 4; }
    std::uint32_t* row(int y) { return pixels_.get() + std::size_t(y) * std::size_t(width_); }
    const std::uint32_t* row(int y) const {
        return pixels_.get() + std::size_t(y) * std::size_t(width_);
    }
    std::uint32_t pixel(int x, int y) const { return row(y)[x]; }

    void fill(PixelRect rect, std::uint32_t pixel); // clipped to the buffer
    PixelSource source() const;

private:
    int width_ = 0;
    int height_ = 0;
    std::unique_ptr<std::uint32_t[]> pixels_;
};

// Clips `rect` to a width x height area; an empty result has width or height 0.
PixelRect clip(PixelRect rect, int width, int height);

// Stretches the whole source onto `dest` of the target with raster operation `rasterOp`; the
// pattern operand is `brush` (a pixel). A dest or source without area draws nothing.
void stretchBlt(Raster& target, PixelRect dest, const PixelSource& source, std::uint32_t rasterOp,
                StretchMode mode, std::uint32_t brush = 0xFFFFFFFFu);

// Stretches the source onto `dest`, leaving every target pixel whose source pixel has exactly the
// colour `keyPixel` (low 24 bits compared) as it was; all other target pixels take the stretched
// source colour. The mask is decided by the nearest source pixel in both modes, so a pixel is
// left out only for an exact key colour; HALFTONE still averages the colours that are drawn.
void transparentBlt(Raster& target, PixelRect dest, const PixelSource& source,
                    std::uint32_t keyPixel, StretchMode mode);

// The widest vector code the processor has is used for 24-bit rows; tests also run the narrower
// ones (a path the processor lacks falls back to the next narrower one).
enum class VectorPath { Best, Avx2, Ssse3, Plain };
void useVectorPath(VectorPath path);

// Reads `count` source pixels of row `y` from column `x0` as 0xFFRRGGBB.
void fetchRow(const PixelSource& source, int y, int x0, int count, std::uint32_t* out);

} // namespace vantrel::platform
