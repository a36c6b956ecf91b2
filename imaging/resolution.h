#pragma once
// A picture's resolution, so that a page scanned at 300 dpi keeps its physical size in the files
// made from it. Kept in pixels per metre, the unit of the BMP and PNG fields; JPEG's JFIF density
// is written in dots per inch. A resolution is known on both axes or on neither: every way of
// making one gives {0, 0} (unknown) unless both values are within 1 .. kMaxPerMetre.

#include <cstdint>
#include <span>

namespace vantrel::imaging {

struct Resolution {
    // The largest value both BMP (a signed 32-bit field) and PNG (31 bits) can hold.
    static constexpr std::uint32_t kMaxPerMetre = 0x7FFFFFFF;

    std::uint32_t xPerMetre = 0; // pixels per metre; 0 unknown
    std::uint32_t yPerMetre = 0;

    bool known() const { return xPerMetre > 0 && yPerMetre > 0; }
    bool operator==(const Resolution&) const = default;

    // Rounded to whole pixels per metre; unknown when either value is out of range (or NaN).
    static Resolution perMetre(double x, double y);
    static Resolution dotsPerInch(double x, double y);
    static Resolution dotsPerCentimetre(double x, double y);

    // Dots per inch of one axis, rounded to the nearest whole number (0 when unknown).
    static long toDotsPerInch(std::uint32_t perMetre);
};

// The resolution in a BMP info header (the bytes after the 14-byte file header): the pixels per
// metre of a 40-byte or later header, or of an OS/2 header of at least 32 bytes. Unknown for a
// core header, a header cut short, and values of 0 or below.
Resolution bmpInfoResolution(std::span<const std::uint8_t> info);

// The resolution in the header of a BMP file ("BM"), as a scanned page or the panel's content
// carries it; unknown when the bytes are no BMP file or carry none.
Resolution bmpResolution(std::span<const std::uint8_t> file);

} // namespace vantrel::imaging
