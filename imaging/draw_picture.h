#pragma once
// Drawing a decoded picture onto a raster (the device context of the drawing panel, the picture
// box and the printer page): DrawPictureToDC. The picture is first made into device pixels (PNG
// pixels blended over white, indexed pixels through their colour table, 1-bit PCX as black and
// white), then stretched onto the rectangle with a raster operation, or with one colour left out.
// Icons and cursors draw through their AND mask or alpha and ignore the mode.

#include "imaging/picture.h"
#include "platform/raster.h"

#include <cstdint>
#include <optional>

namespace vantrel::imaging {

// How a picture combines with the target. The copy-mode argument of DrawPicture overloads one
// integer with two meanings (a raster operation, or a negated transparent colour), which cannot
// express black as the transparent colour: callers that want transparency say so with
// transparent(), which takes any colour, black included.
class DrawMode {
public:
    static DrawMode copy() { return rasterOp(platform::rop::kSrcCopy); }
    static DrawMode rasterOp(std::uint32_t rop) { return DrawMode(false, rop); }
    static DrawMode transparent(std::uint32_t colour) { return DrawMode(true, colour & 0xFFFFFFu); }
    // The copy-mode argument: none gives SRCCOPY; 1 to 5 give SRCCOPY, NOTSRCCOPY, SRCINVERT,
    // SRCPAINT and SRCAND; a negative value -c draws with colour c (low 24 bits) transparent; any
    // other value is the raster operation itself (so 0 is not a copy: it paints black).
    static DrawMode fromCopyMode(std::optional<std::int32_t> mode);

    bool isTransparent() const { return transparent_; }
    std::uint32_t rasterOperation() const { return transparent_ ? 0 : value_; }
    std::uint32_t transparentColour() const { return transparent_ ? value_ : 0; } // 0x00BBGGRR
    bool operator==(const DrawMode&) const = default;

private:
    DrawMode(bool transparent, std::uint32_t value)
        : transparent_(transparent)
        , value_(value) {}
    bool transparent_;
    std::uint32_t value_;
};

// Draws `picture` onto `target` at (x, y) with the size width x height; -1 for either means the
// picture's own. A draw at the picture's own size copies pixels exactly; other sizes stretch in
// `stretch` mode (HALFTONE, as on a display of more than 16 bits per pixel).
void DrawPictureToDC(const PictureObject& picture, platform::Raster& target, int x, int y,
                     int width, int height, DrawMode mode,
                     platform::StretchMode stretch = platform::StretchMode::Halftone);

// A PNG pixel channel c with alpha a blended over white: a*k*c + (1 - a*k)*255 truncated, with
// k = 1/255 rounded to single precision; a = 255 leaves c as it is.
std::uint8_t blendOverWhite(std::uint8_t channel, std::uint8_t alpha);

} // namespace vantrel::imaging
