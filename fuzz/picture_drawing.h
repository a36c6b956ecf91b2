#pragma once
// How the LoadPicture fuzz targets draw what they loaded: as the panel and the picture box draw
// it, at its own size (small pictures only), stretched, shrunk and with a colour left out, onto a
// small raster.

#include "imaging/draw_picture.h"
#include "imaging/picture.h"
#include "imaging/picture_registry.h"

#include <cstdint>
#include <cstdlib>

namespace vantrel::fuzz {

inline void drawLikeThePanel(const imaging::PictureObject& picture, std::uint32_t key) {
    using imaging::DrawMode;
    platform::Raster target(48, 40, 0xFFFFFFFFu);
    if (std::uint64_t(picture.width) * std::uint64_t(picture.height) <= (1u << 18)) {
        DrawPictureToDC(picture, target, -3, -2, -1, -1, DrawMode::copy());
        DrawPictureToDC(picture, target, 1, 1, -1, -1, DrawMode::transparent(key));
    }
    DrawPictureToDC(picture, target, 2, -1, 45, 37, DrawMode::fromCopyMode(3));
    DrawPictureToDC(picture, target, 0, 0, 7, 5, DrawMode::transparent(key));
}

// Draws the picture `handle` names (if any), unloads it, and stops the run when the registry still
// holds a picture afterwards.
inline void drawAndUnload(imaging::PictureHandle handle, std::uint32_t key) {
    if (const imaging::PictureObject* picture = imaging::pictureRegistry().find(handle)) {
        drawLikeThePanel(*picture, key);
    }
    imaging::UnloadPicture(handle);
    if (imaging::pictureRegistry().size() != 0) {
        std::abort();
    }
}

} // namespace vantrel::fuzz
