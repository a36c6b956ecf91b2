#pragma once
// Turns a registered picture into the image the printer page receives: the picture's device
// pixels as DrawPictureToDC makes them on white paper (PNG alpha blended over white, indexed and
// 1-bit pictures through their colours), with the raster operation of the copy mode applied, at
// the picture's own size (the printer stretches it to the target rectangle, so no pixel is lost
// to a resampling of ours). Pixels left out by a transparent colour, and the mask of icons, become
// alpha so that whatever is already on the page shows through. Pages whose pixels are all grey
// come back as 8-bit grey, pages of pure black and white as 1-bit, so they print as such.

#include "imaging/draw_picture.h"
#include "imaging/picture.h"

#include <QImage>

namespace vantrel::devices {

enum class PageTone { Colour, Grey, BlackWhite };

struct PrintImage {
    QImage image; // RGB32, ARGB32_Premultiplied (with transparency), Grayscale8 or Mono
    PageTone tone = PageTone::Colour;
};

PrintImage makePrintImage(const imaging::PictureObject& picture, imaging::DrawMode mode);

// The tone of an opaque RGB32 image: all channels equal, and all of them 0 or 255.
PageTone toneOf(const QImage& rgb32);

} // namespace vantrel::devices
