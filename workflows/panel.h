#pragma once
// The preview panel 画板1 and the thumbnail 图片框2 as the workflows use them.

#include "imaging/draw_picture.h"
#include "imaging/drawing_surface.h"
#include "imaging/picture_registry.h"

#include <optional>

namespace vantrel::ui {
class Window;
}

namespace vantrel::workflows {

imaging::DrawingSurface& previewSurface(ui::Window& window);

// Sizes the panel to a page and sets the scroll ranges to the part that does not fit the
// viewport; the panel is placed where the scroll bars now stand.
void sizePanelToPage(ui::Window& window, int width, int height);

// Places the panel's top-left corner at (left, top) of the preview frame's client area; an
// omitted coordinate stays as it is.
void movePreviewPanel(ui::Window& window, std::optional<int> left, std::optional<int> top);

// Draws `picture` at (0, 0) stretched to the panel's size.
void drawOnPanel(ui::Window& window, imaging::PictureHandle picture, imaging::DrawMode mode);

// The thumbnail shows the panel's content (or the given page bytes).
void showPanelInThumbnail(ui::Window& window);
void showInThumbnail(ui::Window& window, std::span<const std::uint8_t> page);
void showInThumbnail(ui::Window& window, std::vector<std::uint8_t>&& page);

} // namespace vantrel::workflows
