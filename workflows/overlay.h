#pragma once
// The two ways a scanned page is laid over something else on the preview panel: over the earlier
// scans with the chosen colour transparent (overlay mode), or over the user's background picture
// with white transparent (background mode). Both first pull near-key pixels onto the key.

#include "imaging/picture_registry.h"

#include <cstdint>
#include <span>

namespace vantrel::ui {
class Window;
}

namespace vantrel::workflows {

// Overlay mode: unloads `current`, draws the snapped page over the panel and shows the panel in
// the thumbnail. Returns the snapped page as the new current picture.
imaging::PictureHandle OverlayMode(ui::Window& window, std::span<const std::uint8_t> page,
                                   imaging::PictureHandle current);

// Background mode: the background picture stretched over the panel, the page drawn over it with
// white transparent; the thumbnail is left alone. Unloads `current` and returns the panel's
// content as the new current picture.
imaging::PictureHandle BackgroundMode(ui::Window& window, std::span<const std::uint8_t> page,
                                      imaging::PictureHandle current);

} // namespace vantrel::workflows
