#pragma once
// The near-colour pass: transparency is an exact-colour operation, so before a page is drawn with
// a key colour made transparent, every pixel merely close to the key is made exactly the key.
// Closeness is the sum of the absolute differences of the red, green and blue channels.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vantrel::workflows {

using Colour = std::uint32_t; // 0x00BBGGRR
inline constexpr Colour kWhite = 0xFFFFFF;

// True when the colour distance s satisfies 0 < s <= tolerance (so equal colours, and any colour
// at a tolerance of 0 or less, are never near).
constexpr int colourDistance(Colour colour, Colour key) {
    const int dr = static_cast<int>(colour & 0xFFu) - static_cast<int>(key & 0xFFu);
    const int dg = static_cast<int>((colour >> 8) & 0xFFu) - static_cast<int>((key >> 8) & 0xFFu);
    const int db = static_cast<int>((colour >> 16) & 0xFFu) - static_cast<int>((key >> 16) & 0xFFu);
    return (dr < 0 ? -dr : dr) + (dg < 0 ? -dg : dg) + (db < 0 ? -db : db);
}

constexpr bool IsNearColour(Colour colour, Colour key, std::int32_t tolerance) {
    // 0 < d <= tolerance in one unsigned comparison (no branch in the pixel loop).
    return tolerance > 0 && static_cast<unsigned>(colourDistance(colour, key) - 1) <
                                static_cast<unsigned>(tolerance);
}

// The same test against the process-wide colour tolerance.
bool IsNearColour(Colour colour, Colour key);

// Told about the pass as it goes: once before the first column, after every column (with the
// number of columns done and the width), and once at the end.
class PassProgress {
public:
    virtual void begin() = 0;
    virtual void columnDone(std::int32_t done, std::int32_t width) = 0;
    virtual void end() = 0;

protected:
    ~PassProgress() = default;
};

// The percentage shown after `done` of `width` columns: the ratio rounded to two decimal places
// (halves up) times 100, as "33%", "67%", "100%".
std::int64_t progressPercent(std::int32_t done, std::int32_t width);
std::string progressText(std::int32_t done, std::int32_t width);

// Returns the page (BMP file bytes) with every pixel near the key made exactly the key, as BMP
// file bytes. The key is `colour` when `useColour` is true and white otherwise. Pages that cannot
// be loaded visit no pixel and give an empty result.
std::vector<std::uint8_t> SnapNearColour(std::span<const std::uint8_t> page, Colour colour,
                                         bool useColour, std::int32_t tolerance,
                                         PassProgress& progress);

} // namespace vantrel::workflows
