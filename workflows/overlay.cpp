#include "workflows/overlay.h"

#include "imaging/draw_picture.h"
#include "ui/button_controls.h"
#include "ui/container_controls.h"
#include "ui/text_controls.h"
#include "ui/window.h"
#include "workflows/control_names.h"
#include "workflows/near_colour.h"
#include "workflows/panel.h"
#include "workflows/progress_panel.h"
#include "workflows/workflow_state.h"

namespace vantrel::workflows {

imaging::PictureHandle OverlayMode(ui::Window& window, std::span<const std::uint8_t> page,
                                   imaging::PictureHandle current) {
    imaging::UnloadPicture(current);
    auto& picker = window.control<ui::ColourPicker>(control::kTransparentColourPicker);
    ProgressPanel progress(window);
    auto snapped =
        SnapNearColour(page, picker.colour(), true, workflowState().colourTolerance, progress);
    const imaging::PictureHandle composed = imaging::LoadPicture(std::move(snapped));
    // The key is asked for as transparent explicitly, so a black key works as any other.
    drawOnPanel(window, composed, imaging::DrawMode::transparent(picker.colour()));
    showPanelInThumbnail(window);
    return composed;
}

imaging::PictureHandle BackgroundMode(ui::Window& window, std::span<const std::uint8_t> page,
                                      imaging::PictureHandle current) {
    auto& surface = previewSurface(window);
    surface.clear();
    const std::string path =
        window.control<ui::EditBox>(control::kBackgroundPathBox).content().toStdString();
    const imaging::PictureHandle background = imaging::LoadPicture(std::filesystem::path(path));
    drawOnPanel(window, background, imaging::DrawMode::copy());
    imaging::UnloadPicture(background);

    ProgressPanel progress(window);
    auto snapped = SnapNearColour(page, 0, false, workflowState().colourTolerance, progress);
    const imaging::PictureHandle drawn = imaging::LoadPicture(std::move(snapped));
    drawOnPanel(window, drawn, imaging::DrawMode::transparent(kWhite));
    imaging::UnloadPicture(drawn);
    imaging::UnloadPicture(current);
    return imaging::LoadPicture(surface.getPicture());
}

} // namespace vantrel::workflows
