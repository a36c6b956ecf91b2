#include "imaging/drawing_surface.h"

#include "platform/huge_pages.h"

#include "imaging/picture_decoders.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace vantrel::imaging {
namespace {

using platform::PixelRect;
using platform::Raster;

// round(value * numerator / denominator) with halves away from zero, as MulDiv rounds.
std::int64_t mulDiv(std::int64_t value, std::int64_t numerator, std::int64_t denominator) {
    const std::int64_t product = value * numerator;
    const std::int64_t half = denominator / 2;
    return product >= 0 ? (product + half) / denominator : (product - half) / denominator;
}

int clampToInt(std::int64_t v) {
    return static_cast<int>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

void put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

} // namespace

DrawingSurface::DrawingSurface(int width, int height, Colour background)
    : background_(background & 0xFFFFFFu) {
    bitmap_ = Raster(std::max(width, 1), std::max(height, 1), platform::toPixel(background_));
}

DrawingSurface::~DrawingSurface() = default;

int DrawingSurface::toPixels(int value) const {
    static constexpr int kUnitsPerInch[] = {kPixelsPerInch, 254, 2540, 100, 1000, 1440};
    return clampToInt(mulDiv(value, kPixelsPerInch, kUnitsPerInch[static_cast<int>(unit_)]));
}

void DrawingSurface::resize(int width, int height) {
    width = std::max(width, 1);
    height = std::max(height, 1);
    if (width == bitmap_.width() && height == bitmap_.height()) {
        return;
    }
    Raster next;
    try {
        next = Raster(width, height, platform::toPixel(background_));
        paintBackground(next, {0, 0, width, height});
    } catch (const std::bad_alloc&) {
        return; // no memory for the new size: the panel keeps its size and content
    }
    if (!(backgroundPicture_ && backgroundMode_ == BackgroundMode::CentredShrunk)) {
        const int w = std::min(width, bitmap_.width());
        const int h = std::min(height, bitmap_.height());
        for (int y = 0; y < h; ++y) {
            std::memcpy(next.row(y), bitmap_.row(y), std::size_t(w) * 4);
        }
    }
    bitmap_ = std::move(next);
    changed({0, 0, width, height});
}

void DrawingSurface::setResolution(Resolution resolution) {
    if (!resolution.known()) {
        resolution = {};
    }
    if (resolution != resolution_) {
        resolution_ = resolution;
        ++changes_; // the pixels stay, but the picture's bytes differ: sharedPicture makes anew
    }
}

void DrawingSurface::setBackgroundPicture(std::span<const std::uint8_t> bytes,
                                          BackgroundMode mode) {
    try {
        backgroundPicture_ = bytes.empty() ? nullptr : decodePictureBytes(bytes);
    } catch (const std::bad_alloc&) {
        backgroundPicture_ = nullptr;
    }
    backgroundMode_ = mode;
}

void DrawingSurface::paintBackground(Raster& into, PixelRect area) const {
    into.fill(area, platform::toPixel(background_));
    if (!backgroundPicture_) {
        return;
    }
    const PictureObject& p = *backgroundPicture_;
    // The picture is drawn onto a copy of the area so that it stays inside the area.
    Raster part(area.width, area.height, platform::toPixel(background_));
    auto draw = [&](int x, int y, int w, int h) {
        DrawPictureToDC(p, part, x - area.x, y - area.y, w, h, DrawMode::copy());
    };
    switch (backgroundMode_) {
    case BackgroundMode::TopLeft:
        draw(0, 0, -1, -1);
        break;
    case BackgroundMode::Tiled:
        for (int y = area.y / p.height * p.height; y < area.y + area.height; y += p.height) {
            for (int x = area.x / p.width * p.width; x < area.x + area.width; x += p.width) {
                draw(x, y, -1, -1);
            }
        }
        break;
    case BackgroundMode::CentredShrunk: {
        std::int64_t w = p.width, h = p.height;
        if (w > into.width() || h > into.height()) {
            // Shrink to fit the tighter side, keeping the proportions.
            if (w * into.height() > h * into.width()) {
                h = std::max<std::int64_t>(1, h * into.width() / w);
                w = into.width();
            } else {
                w = std::max<std::int64_t>(1, w * into.height() / h);
                h = into.height();
            }
        }
        draw(int((into.width() - w) / 2), int((into.height() - h) / 2), int(w), int(h));
        break;
    }
    }
    for (int y = 0; y < area.height; ++y) {
        std::memcpy(into.row(area.y + y) + area.x, part.row(y), std::size_t(area.width) * 4);
    }
}

void DrawingSurface::drawPicture(PictureHandle handle, int x, int y, std::optional<int> width,
                                 std::optional<int> height, DrawMode mode) {
    const PictureObject* picture = pictureRegistry().find(handle);
    if (!picture) {
        return;
    }
    const int px = toPixels(x);
    const int py = toPixels(y);
    const int w = width ? toPixels(*width) : -1;
    const int h = height ? toPixels(*height) : -1;
    try {
        DrawPictureToDC(*picture, bitmap_, px, py, w, h, mode);
    } catch (const std::bad_alloc&) {
        // A stretch or a colour conversion ran out of memory part of the way: what it drew
        // stays, and the panel is repainted below.
    }
    changed({px, py, w == -1 ? picture->width : w, h == -1 ? picture->height : h});
}

void DrawingSurface::clear(std::optional<int> x, std::optional<int> y, std::optional<int> width,
                           std::optional<int> height) {
    std::int64_t left = 0, top = 0, right = bitmap_.width(), bottom = bitmap_.height();
    if (x) {
        left = toPixels(*x);
    }
    if (y) {
        top = toPixels(*y);
    }
    if (width) {
        right = left + toPixels(*width);
    }
    if (height) {
        bottom = top + toPixels(*height);
    }
    position_ = {int(left), int(top)};
    const PixelRect area =
        platform::clip({int(left), int(top), clampToInt(right - left), clampToInt(bottom - top)},
                       bitmap_.width(), bitmap_.height());
    if (area.width > 0) {
        try {
            paintBackground(bitmap_, area);
        } catch (const std::bad_alloc&) {
            bitmap_.fill(area, platform::toPixel(background_)); // the colour needs no memory
        }
        changed(area);
    }
}

std::vector<std::uint8_t> DrawingSurface::getPicture(int width, int height) const {
    auto size = [](int argument, int source) -> std::int64_t {
        if (argument == 0) {
            return source;
        }
        if (argument < 0) {
            const std::int64_t percent = std::max<std::int64_t>(-std::int64_t{argument}, 10);
            return mulDiv(source, percent, 100);
        }
        return argument;
    };
    const std::int64_t w = size(width, bitmap_.width());
    const std::int64_t h = size(height, bitmap_.height());
    if (!pictureSizeAllowed(w, h)) {
        return {};
    }
    try {
        if (w == bitmap_.width() && h == bitmap_.height()) {
            return rasterToBmp(bitmap_, resolution_);
        }
        Raster scaled(int(w), int(h), platform::toPixel(background_));
        platform::stretchBlt(scaled, {0, 0, int(w), int(h)}, bitmap_.source(),
                             platform::rop::kSrcCopy, platform::StretchMode::Halftone);
        const Resolution stretched =
            resolution_.known()
                ? Resolution::perMetre(double(resolution_.xPerMetre) * double(w) / bitmap_.width(),
                                       double(resolution_.yPerMetre) * double(h) / bitmap_.height())
                : Resolution{};
        return rasterToBmp(scaled, stretched);
    } catch (const std::bad_alloc&) {
        return {};
    }
}

std::shared_ptr<const std::vector<std::uint8_t>> DrawingSurface::sharedPicture() const {
    if (auto last = lastPicture_.lock(); last && lastPictureChanges_ == changes_) {
        return last;
    }
    std::shared_ptr<const std::vector<std::uint8_t>> picture;
    try {
        picture = std::make_shared<const std::vector<std::uint8_t>>(getPicture());
    } catch (const std::bad_alloc&) {
        static const auto none = std::make_shared<const std::vector<std::uint8_t>>();
        return none; // empty, as getPicture gives when it fails
    }
    lastPicture_ = picture;
    lastPictureChanges_ = changes_;
    return picture;
}

void DrawingSurface::changed(PixelRect rect) const {
    ++changes_;
    if (listener_) {
        listener_(rect);
    }
}

std::vector<std::uint8_t> rasterToBmp(const Raster& raster, Resolution resolution) {
    const std::size_t width = std::size_t(raster.width());
    const std::size_t height = std::size_t(raster.height());
    const std::size_t stride = (width * 3 + 3) & ~std::size_t{3};
    const std::size_t imageSize = stride * height;
    std::vector<std::uint8_t> file = platform::hugePageBytes(54 + imageSize);
    std::uint8_t* h = file.data();
    h[0] = 'B';
    h[1] = 'M';
    put32(h + 2, std::uint32_t(file.size()));
    put32(h + 10, 54);
    put32(h + 14, 40);
    put32(h + 18, std::uint32_t(width));
    put32(h + 22, std::uint32_t(height));
    put16(h + 26, 1);
    put16(h + 28, 24);
    put32(h + 34, std::uint32_t(imageSize));
    if (resolution.known()) {
        put32(h + 38, resolution.xPerMetre);
        put32(h + 42, resolution.yPerMetre);
    }
    for (std::size_t i = 0; i < height; ++i) {
        const std::uint32_t* in = raster.row(int(height - 1 - i)); // rows bottom-up
        std::uint8_t* out = h + 54 + i * stride;
        // Four-byte stores one pixel apart: each store's fourth byte is overwritten by the next
        // pixel, and the last pixel is written bytewise so nothing spills past the row.
        std::size_t x = 0;
        for (; x + 1 < width; ++x) {
            std::memcpy(out + x * 3, &in[x], 4);
        }
        out[x * 3] = std::uint8_t(in[x]);
        out[x * 3 + 1] = std::uint8_t(in[x] >> 8);
        out[x * 3 + 2] = std::uint8_t(in[x] >> 16);
    }
    return file;
}

} // namespace vantrel::imaging
