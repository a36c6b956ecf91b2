#include "devices/print_image.h"

#include "platform/raster.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace vantrel::devices {

namespace {

QImage copyOf(const platform::Raster& raster) {
    // The raster's pixels are 0xFFRRGGBB rows, which is Qt's RGB32; copy so the image owns them.
    const QImage view(reinterpret_cast<const uchar*>(raster.row(0)), raster.width(),
                      raster.height(), qsizetype(raster.strideBytes()), QImage::Format_RGB32);
    return view.copy();
}

bool drawsThroughMask(const imaging::PictureObject& picture, imaging::DrawMode mode) {
    return mode.isTransparent() || picture.kind == imaging::PictureKind::Icon ||
           picture.kind == imaging::PictureKind::Cursor;
}

// The picture drawn once on white and once on black: where the two differ the target showed
// through, by the amount of the difference. The draw on black is the premultiplied colour.
QImage withSeeThrough(const imaging::PictureObject& picture, imaging::DrawMode mode) {
    const int w = picture.width;
    const int h = picture.height;
    platform::Raster onWhite(w, h, 0xFFFFFFFFu);
    platform::Raster onBlack(w, h, 0xFF000000u);
    imaging::DrawPictureToDC(picture, onWhite, 0, 0, w, h, mode);
    imaging::DrawPictureToDC(picture, onBlack, 0, 0, w, h, mode);
    QImage out(w, h, QImage::Format_ARGB32_Premultiplied);
    bool anySeeThrough = false;
    for (int y = 0; y < h; ++y) {
        const std::uint32_t* white = onWhite.row(y);
        const std::uint32_t* black = onBlack.row(y);
        auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int shown = 255 - std::max({qRed(white[x]) - qRed(black[x]),
                                              qGreen(white[x]) - qGreen(black[x]),
                                              qBlue(white[x]) - qBlue(black[x]), 0});
            anySeeThrough |= shown < 255;
            dst[x] = qRgba(std::min(qRed(black[x]), shown), std::min(qGreen(black[x]), shown),
                           std::min(qBlue(black[x]), shown), shown);
        }
    }
    return anySeeThrough ? out : copyOf(onWhite);
}

// Index 0 black, 1 white: the table Qt's PDF engine writes as a 1-bit image.
QImage toMono(const QImage& blackWhite) {
    QImage mono(blackWhite.size(), QImage::Format_Mono);
    mono.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    for (int y = 0; y < blackWhite.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(blackWhite.constScanLine(y));
        uchar* bits = mono.scanLine(y);
        std::memset(bits, 0, std::size_t(mono.bytesPerLine()));
        for (int x = 0; x < blackWhite.width(); ++x) {
            if (qRed(row[x]) != 0) {
                bits[x >> 3] = uchar(bits[x >> 3] | (0x80 >> (x & 7)));
            }
        }
    }
    return mono;
}

} // namespace

PageTone toneOf(const QImage& rgb32) {
    bool blackWhite = true;
    for (int y = 0; y < rgb32.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(rgb32.constScanLine(y));
        for (int x = 0; x < rgb32.width(); ++x) {
            const int r = qRed(row[x]);
            if (r != qGreen(row[x]) || r != qBlue(row[x])) {
                return PageTone::Colour;
            }
            blackWhite = blackWhite && (r == 0 || r == 255);
        }
    }
    return blackWhite ? PageTone::BlackWhite : PageTone::Grey;
}

PrintImage makePrintImage(const imaging::PictureObject& picture, imaging::DrawMode mode) {
    if (picture.width <= 0 || picture.height <= 0) {
        return {};
    }
    QImage image;
    try {
        if (drawsThroughMask(picture, mode)) {
            image = withSeeThrough(picture, mode);
        } else {
            platform::Raster raster(picture.width, picture.height, 0xFFFFFFFFu);
            imaging::DrawPictureToDC(picture, raster, 0, 0, picture.width, picture.height, mode);
            image = copyOf(raster);
        }
    } catch (const std::bad_alloc&) {
        return {}; // no memory for the page's pixels: nothing is drawn
    }
    if (image.format() != QImage::Format_RGB32) {
        return {std::move(image), PageTone::Colour};
    }
    switch (toneOf(image)) {
    case PageTone::Colour:
        return {std::move(image), PageTone::Colour};
    case PageTone::Grey:
        return {image.convertToFormat(QImage::Format_Grayscale8), PageTone::Grey};
    case PageTone::BlackWhite:
        return {toMono(image), PageTone::BlackWhite};
    }
    return {};
}

} // namespace vantrel::devices
