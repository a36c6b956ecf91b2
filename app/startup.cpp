// Restoring every setting into the main window's controls when the window is created.

#include "app/main_window_definition.h"
#include "app/settings_handlers.h"
#include "platform/text_number.h"
#include "ui/button_controls.h"
#include "ui/list_controls.h"
#include "ui/range_controls.h"
#include "ui/runtime.h"
#include "ui/text_controls.h"
#include "ui/window.h"
#include "workflows/workflow_state.h"

#include <filesystem>

using namespace Qt::StringLiterals;

namespace vantrel::app {
namespace {

std::int32_t toInteger(const QString& text) {
    return platform::textToInteger(text.toStdString());
}

constexpr int kBlueGreyScheme = 1;

} // namespace

void SettingsHandlers::OnMainWindowCreated() {
    namespace key = settings_key;
    ui::applyThemedDrawing(kBlueGreyScheme);

    window_.control<ui::EditBox>(control::kResolutionBox)
        .setContent(settings_.read(key::kResolution));

    workflows::workflowState().colourTolerance = toInteger(settings_.read(key::kColourTolerance));

    auto& colourModes = window_.control<ui::DropDownList>(control::kColourModeList);
    colourModes.addItemWithValue(u"彩色"_s, 2);
    colourModes.addItemWithValue(u"灰度"_s, 1);
    colourModes.addItemWithValue(u"黑白"_s, 0);
    colourModes.setSelection(toInteger(settings_.read(key::kColourMode)));

    auto& formats = window_.control<ui::DropDownList>(control::kFormatList);
    formats.addItemWithValue(u"JPG"_s, 0);
    formats.addItemWithValue(u"BMP"_s, 1);
    formats.addItemWithValue(u"PNG"_s, 2);
    formats.setSelection(toInteger(settings_.read(key::kPictureFormat)));

    auto& saveFolder = window_.control<ui::EditBox>(control::kSaveFolderBox);
    saveFolder.setContent(settings_.read(key::kSaveFolder));
    if (saveFolder.content().isEmpty()) {
        // The default folder is created when nothing of that name exists; it is not written to
        // the settings file, and a failure to create it is not reported.
        const std::filesystem::path folder = paths_.defaultSaveFolder();
        std::error_code ignored;
        if (!std::filesystem::exists(std::filesystem::symlink_status(folder, ignored))) {
            std::filesystem::create_directory(folder, ignored);
        }
        saveFolder.setContent(QString::fromStdString(folder.string()));
    }

    const bool overlay = settings_.read(key::kOverlay) == u"1"_s;
    window_.control<ui::CheckBox>(control::kOverlayCheckBox).setCheckedQuietly(overlay);
    auto& picker = window_.control<ui::ColourPicker>(control::kTransparentColourPicker);
    picker.setEnabled(overlay);

    // Any number is taken; only the colour's 24 bits matter.
    picker.setColour(
        static_cast<std::uint32_t>(toInteger(settings_.read(key::kTransparentColour))));

    auto& qualityLabel = window_.control<ui::Label>(control::kQualityLabel);
    qualityLabel.setCaption(settings_.read(key::kJpegQuality, qualityLabel.caption()));
    window_.control<ui::Slider>(control::kQualitySlider)
        .setPosition(toInteger(qualityLabel.caption()));
}

} // namespace vantrel::app
