#pragma once
// The drawing panel as pixels: a persistent bitmap of the panel's client size (at least 1 x 1)
// that keeps everything drawn, with the panel's background colour, optional background picture,
// coordinate unit and current drawing position. DrawPicture draws registered pictures on it
// (DrawPictureToDC), Clear fills it with the background, GetPicture reads it back as the bytes of
// a 24-bit BMP file, and a resize keeps the old content at the top-left. The panel's widget
// (ui/drawing_surface_widget.h) shows the bitmap and repaints what the change listener reports.
// Not thread-safe: the GUI thread owns it.

#include "imaging/draw_picture.h"
#include "imaging/picture_registry.h"
#include "imaging/resolution.h"
#include "platform/raster.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace vantrel::imaging {

// Units of the coordinates and sizes given to DrawPicture and Clear. The y axis grows downwards
// in every unit. Physical units map to pixels at DrawingSurface::kPixelsPerInch.
enum class CoordinateUnit {
    Pixels = 0,
    TenthMillimetres = 1,
    HundredthMillimetres = 2,
    HundredthInches = 3,
    ThousandthInches = 4,
    Twips = 5,
};

enum class BackgroundMode {
    TopLeft = 0,       // natural size at the top-left corner
    Tiled = 1,         // repeated from the top-left corner
    CentredShrunk = 2, // centred, shrunk proportionally when larger, never enlarged
};

class DrawingSurface {
public:
    static constexpr int kPixelsPerInch = 96;
    using Colour = std::uint32_t; // 0x00BBGGRR
    using ChangeListener = std::function<void(platform::PixelRect)>;

    DrawingSurface(int width, int height, Colour background = 0xFFFFFF);
    ~DrawingSurface();

    int width() const { return bitmap_.width(); }
    int height() const { return bitmap_.height(); }
    // New client size (each at least 1): the old content stays at the top-left (clipped), the
    // new area shows the background. With a centred background picture the whole bitmap is
    // repainted with the background instead, since the picture's place moves.
    void resize(int width, int height);

    Colour backgroundColour() const { return background_; }
    void setBackgroundColour(Colour colour) { background_ = colour & 0xFFFFFFu; }
    // Picture bytes shown as the background from the next Clear or resize; empty removes it.
    void setBackgroundPicture(std::span<const std::uint8_t> bytes, BackgroundMode mode);

    CoordinateUnit unit() const { return unit_; }
    void setUnit(CoordinateUnit unit) { unit_ = unit; }

    // The resolution of what the panel shows (a scanned page's, say), written into the BMP header
    // of getPicture and sharedPicture; unknown (0, the initial value) writes zeros. It stays until
    // set again: drawing, clearing and resizing leave it as it is. A resolution known on one axis
    // only counts as unknown.
    Resolution resolution() const { return resolution_; }
    void setResolution(Resolution resolution);

    // Draws the registered picture `handle` at (x, y), with the given size or its own. Nothing
    // happens for 0 or a handle that is not registered.
    void drawPicture(PictureHandle handle, int x, int y, std::optional<int> width = {},
                     std::optional<int> height = {}, DrawMode mode = DrawMode::copy());
    // Fills the client area, or the part of it given by the arguments present, with the
    // background, and moves the current position to the rectangle's top-left corner.
    void clear(std::optional<int> x = {}, std::optional<int> y = {}, std::optional<int> width = {},
               std::optional<int> height = {});
    // The content as a 24-bit bottom-up BMP file. Per axis: 0 for the bitmap's size, -p for p
    // percent of it (at least 10, rounded to the nearest pixel), a positive value as it is; the
    // content is stretched (HALFTONE) when the size differs, and the resolution with it, so the
    // picture keeps its physical size. Empty when a size is not positive or too large to make.
    std::vector<std::uint8_t> getPicture(int width = 0, int height = 0) const;
    // getPicture() at the bitmap's size, made once per state of the panel: while nothing has
    // been drawn since, asking again gives the same bytes as long as anyone still holds them (a
    // page shown in the thumbnail and then saved is read back once).
    std::shared_ptr<const std::vector<std::uint8_t>> sharedPicture() const;

    // The persistent bitmap and the current drawing position, in pixels.
    const platform::Raster& bitmap() const { return bitmap_; }
    std::pair<int, int> currentPosition() const { return position_; }

    // Called after every change with the changed pixel rectangle (the widget repaints it).
    void setChangeListener(ChangeListener listener) { listener_ = std::move(listener); }

    // A coordinate (or a size) in the current unit as pixels, rounded to the nearest.
    int toPixels(int value) const;

private:
    void paintBackground(platform::Raster& into, platform::PixelRect area) const;
    void changed(platform::PixelRect rect) const;

    platform::Raster bitmap_;
    Colour background_;
    std::unique_ptr<PictureObject> backgroundPicture_;
    BackgroundMode backgroundMode_ = BackgroundMode::TopLeft;
    CoordinateUnit unit_ = CoordinateUnit::Pixels;
    Resolution resolution_;
    std::pair<int, int> position_{0, 0};
    ChangeListener listener_;
    mutable std::uint64_t changes_ = 0; // counts every change, to tell when sharedPicture is stale
    mutable std::weak_ptr<const std::vector<std::uint8_t>> lastPicture_;
    mutable std::uint64_t lastPictureChanges_ = 0;
};

// Writes `raster` as a 24-bit bottom-up BMP file (54-byte header, no colour table), with
// `resolution` in its pixels per metre fields (0 when unknown).
std::vector<std::uint8_t> rasterToBmp(const platform::Raster& raster, Resolution resolution = {});

} // namespace vantrel::imaging
