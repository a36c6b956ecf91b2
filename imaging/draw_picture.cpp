#include "imaging/draw_picture.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace vantrel::imaging {
namespace {

using platform::kOpaque;
using platform::PixelRect;
using platform::Raster;

// blendOverWhite for every alpha below 255 and every channel value.
const std::array<std::array<std::uint8_t, 256>, 255>& blendTable() {
    static const auto table = [] {
        std::array<std::array<std::uint8_t, 256>, 255> t{};
        constexpr double k = 0.003921568859368563;
        for (int a = 0; a < 255; ++a) {
            for (int c = 0; c < 256; ++c) {
                const double v = a * k * c + (1 - a * k) * 255;
                t[std::size_t(a)][std::size_t(c)] =
                    static_cast<std::uint8_t>(std::clamp(static_cast<int>(v), 0, 255));
            }
        }
        return t;
    }();
    return table;
}

// PNG pixels as a device bitmap: blended over white, alpha dropped.
std::vector<std::uint32_t> blendedPng(const PictureObject& picture) {
    const auto& table = blendTable();
    std::vector<std::uint32_t> out(std::size_t(picture.width) * std::size_t(picture.height));
    for (int y = 0; y < picture.height; ++y) {
        const std::uint8_t* in = picture.pixels.data() + std::size_t(y) * picture.stride;
        std::uint32_t* o = out.data() + std::size_t(y) * std::size_t(picture.width);
        for (int x = 0; x < picture.width; ++x, in += 4) {
            const std::uint8_t a = in[3];
            std::uint32_t b = in[0], g = in[1], r = in[2];
            if (a != 255) {
                b = table[a][b];
                g = table[a][g];
                r = table[a][r];
            }
            o[x] = kOpaque | r << 16 | g << 8 | b;
        }
    }
    return out;
}

// DrawIconEx with normal drawing: alpha entries blend; the others AND the mask and XOR the
// colour, so masked pixels with black colour leave the target as it was.
void drawIcon(const PictureObject& icon, Raster& target, PixelRect dest) {
    const PixelRect vis = platform::clip(dest, target.width(), target.height());
    for (int y = vis.y; y < vis.y + vis.height; ++y) {
        const int sy = int((std::int64_t(y - dest.y) * 2 + 1) * icon.height / (2 * dest.height));
        std::uint32_t* out = target.row(y);
        for (int x = vis.x; x < vis.x + vis.width; ++x) {
            const int sx = int((std::int64_t(x - dest.x) * 2 + 1) * icon.width / (2 * dest.width));
            const std::size_t i = std::size_t(sy) * std::size_t(icon.width) + std::size_t(sx);
            std::uint32_t p;
            std::memcpy(&p, icon.pixels.data() + i * 4, 4);
            if (icon.alpha) {
                const std::uint32_t a = p >> 24;
                const std::uint32_t d = out[x];
                std::uint32_t result = kOpaque;
                for (int shift = 0; shift < 24; shift += 8) {
                    const std::uint32_t s = p >> shift & 0xFF;
                    const std::uint32_t t = d >> shift & 0xFF;
                    result |= ((s * a + t * (255 - a) + 127) / 255) << shift;
                }
                out[x] = result;
            } else {
                const std::uint32_t keep = icon.andMask[i] ? out[x] : kOpaque;
                out[x] = (keep ^ (p & 0xFFFFFFu)) | kOpaque;
            }
        }
    }
}

} // namespace

DrawMode DrawMode::fromCopyMode(std::optional<std::int32_t> mode) {
    if (!mode) {
        return copy();
    }
    switch (*mode) {
    case 1:
        return rasterOp(platform::rop::kSrcCopy);
    case 2:
        return rasterOp(platform::rop::kNotSrcCopy);
    case 3:
        return rasterOp(platform::rop::kSrcInvert);
    case 4:
        return rasterOp(platform::rop::kSrcPaint);
    case 5:
        return rasterOp(platform::rop::kSrcAnd);
    default:
        break;
    }
    if (*mode < 0) {
        return transparent(static_cast<std::uint32_t>(-std::int64_t{*mode}));
    }
    return rasterOp(static_cast<std::uint32_t>(*mode));
}

std::uint8_t blendOverWhite(std::uint8_t channel, std::uint8_t alpha) {
    return alpha == 255 ? channel : blendTable()[alpha][channel];
}

void DrawPictureToDC(const PictureObject& picture, Raster& target, int x, int y, int width,
                     int height, DrawMode mode, platform::StretchMode stretch) {
    const PixelRect dest{x, y, width == -1 ? picture.width : width,
                         height == -1 ? picture.height : height};
    if (dest.width <= 0 || dest.height <= 0 || picture.width <= 0 || picture.height <= 0) {
        return;
    }
    if (picture.kind == PictureKind::Icon || picture.kind == PictureKind::Cursor) {
        drawIcon(picture, target, dest);
        return;
    }
    platform::PixelSource source = picture.source();
    std::vector<std::uint32_t> blended;
    if (picture.kind == PictureKind::Png) {
        blended = blendedPng(picture);
        source.top = reinterpret_cast<const std::uint8_t*>(blended.data());
        source.stride = std::ptrdiff_t(picture.width) * 4;
    }
    if (mode.isTransparent()) {
        platform::transparentBlt(target, dest, source, platform::toPixel(mode.transparentColour()),
                                 stretch);
    } else {
        platform::stretchBlt(target, dest, source, mode.rasterOperation(), stretch);
    }
}

} // namespace vantrel::imaging
