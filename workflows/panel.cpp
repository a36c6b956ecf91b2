#include "workflows/panel.h"

#include "ui/container_controls.h"
#include "ui/range_controls.h"
#include "ui/window.h"
#include "workflows/control_names.h"

namespace vantrel::workflows {

imaging::DrawingSurface& previewSurface(ui::Window& window) {
    return window.control<ui::DrawingSurfaceWidget>(control::kPreviewSurface).surface();
}

void sizePanelToPage(ui::Window& window, int width, int height) {
    auto& panel = window.control<ui::DrawingSurfaceWidget>(control::kPreviewSurface);
    auto& horizontal = window.control<ui::ScrollBar>(control::kPreviewHScroll);
    auto& vertical = window.control<ui::ScrollBar>(control::kPreviewVScroll);
    panel.resize(width, height);
    vertical.setMaximumPosition(panel.height() - vertical.height());
    horizontal.setMaximumPosition(panel.width() - horizontal.width());
    // Setting a range clamps the bar's position silently; the panel follows it, so that a smaller
    // page is never left scrolled out of sight.
    movePreviewPanel(window, -horizontal.position(), -vertical.position());
}

void movePreviewPanel(ui::Window& window, std::optional<int> left, std::optional<int> top) {
    auto& panel = window.control<ui::DrawingSurfaceWidget>(control::kPreviewSurface);
    const QPoint origin = window.control<ui::PictureBox>(control::kPreviewFrame).clientOrigin();
    const QPoint now = panel.pos() - origin;
    panel.move(origin + QPoint(left.value_or(now.x()), top.value_or(now.y())));
}

void drawOnPanel(ui::Window& window, imaging::PictureHandle picture, imaging::DrawMode mode) {
    auto& surface = previewSurface(window);
    surface.drawPicture(picture, 0, 0, surface.width(), surface.height(), mode);
}

void showInThumbnail(ui::Window& window, std::span<const std::uint8_t> page) {
    showInThumbnail(window, std::vector<std::uint8_t>(page.begin(), page.end()));
}

void showInThumbnail(ui::Window& window, std::vector<std::uint8_t>&& page) {
    window.control<ui::PictureBox>(control::kThumbnail).setPicture(std::move(page));
}

void showPanelInThumbnail(ui::Window& window) {
    auto& thumbnail = window.control<ui::PictureBox>(control::kThumbnail);
    // The earlier picture goes first, so that a page-sized thumbnail is never held twice.
    thumbnail.clearPicture();
    thumbnail.setPicture(previewSurface(window).sharedPicture());
}

} // namespace vantrel::workflows
