#include "imaging/resolution.h"

#include <cmath>

namespace vantrel::imaging {

namespace {

constexpr double kMetresPerInch = 0.0254;
constexpr std::size_t kFileHeaderSize = 14;

// A value that rounds to 1 .. kMaxPerMetre, rounded; 0 otherwise (NaN fails both comparisons).
std::uint32_t rounded(double value) {
    if (!(value >= 0.5 && value < Resolution::kMaxPerMetre + 0.5)) {
        return 0;
    }
    return static_cast<std::uint32_t>(std::lround(value));
}

std::int32_t le32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                                     std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24);
}

} // namespace

Resolution Resolution::perMetre(double x, double y) {
    const Resolution r{rounded(x), rounded(y)};
    return r.known() ? r : Resolution{};
}

Resolution Resolution::dotsPerInch(double x, double y) {
    return perMetre(x / kMetresPerInch, y / kMetresPerInch);
}

Resolution Resolution::dotsPerCentimetre(double x, double y) {
    return perMetre(x * 100, y * 100);
}

long Resolution::toDotsPerInch(std::uint32_t perMetre) {
    return std::lround(perMetre * kMetresPerInch);
}

Resolution bmpInfoResolution(std::span<const std::uint8_t> info) {
    // biXPelsPerMeter and biYPelsPerMeter at 24 and 28; OS/2 2.x headers keep them there too.
    constexpr std::size_t kFieldsEnd = 32;
    if (info.size() < kFieldsEnd) {
        return {};
    }
    const std::uint32_t headerSize = static_cast<std::uint32_t>(le32(info.data()));
    if (headerSize < kFieldsEnd) {
        return {};
    }
    const std::int32_t x = le32(info.data() + 24);
    const std::int32_t y = le32(info.data() + 28);
    return Resolution::perMetre(x, y);
}

Resolution bmpResolution(std::span<const std::uint8_t> file) {
    if (file.size() < kFileHeaderSize || file[0] != 'B' || file[1] != 'M') {
        return {};
    }
    return bmpInfoResolution(file.subspan(kFileHeaderSize));
}

} // namespace vantrel::imaging
