#include "app/settings_handlers.h"

#include "app/main_window_definition.h"
#include "platform/dialogs.h"
#include "platform/text_number.h"
#include "ui/button_controls.h"
#include "ui/list_controls.h"
#include "ui/range_controls.h"
#include "ui/text_controls.h"
#include "ui/window.h"
#include "workflows/workflow_state.h"

using namespace Qt::StringLiterals;

namespace vantrel::app {

namespace key = settings_key;

SettingsHandlers::SettingsHandlers(ui::Window& window, const SettingsStore& settings,
                                   const ProgramPaths& paths)
    : window_(window)
    , settings_(settings)
    , paths_(paths) {}

void SettingsHandlers::bind() {
    using ui::EventKind;
    auto on = [this](std::string_view name, EventKind kind, void (SettingsHandlers::*handler)()) {
        window_.bind(name, kind, [this, handler](const ui::EventArgs&) { (this->*handler)(); });
    };
    on(control::kMainWindow, EventKind::Created, &SettingsHandlers::OnMainWindowCreated);
    on(control::kDeviceList, EventKind::SelectionChanged, &SettingsHandlers::OnDeviceSelected);
    on(control::kResolutionBox, EventKind::TextChanged, &SettingsHandlers::OnResolutionChanged);
    on(control::kColourModeList, EventKind::SelectionChanged,
       &SettingsHandlers::OnColourModeSelected);
    on(control::kFormatList, EventKind::SelectionChanged, &SettingsHandlers::OnFormatSelected);
    on(control::kBrowseFolderButton, EventKind::Click,
       &SettingsHandlers::OnBrowseSaveFolderClicked);
    on(control::kOverlayCheckBox, EventKind::Click, &SettingsHandlers::OnOverlayToggled);
    on(control::kTransparentColourPicker, EventKind::ColourChanged,
       &SettingsHandlers::OnTransparentColourChanged);
    on(control::kQualitySlider, EventKind::PositionChanged, &SettingsHandlers::OnQualityChanged);
    on(control::kToleranceMenuItem, EventKind::MenuItemChosen, &SettingsHandlers::OnToleranceMenu);
}

void SettingsHandlers::OnDeviceSelected() {
    settings_.write(key::kDefaultDevice,
                    window_.control<ui::DropDownList>(control::kDeviceList).selectedText());
}

void SettingsHandlers::OnResolutionChanged() {
    settings_.write(key::kResolution,
                    window_.control<ui::EditBox>(control::kResolutionBox).content());
}

void SettingsHandlers::OnColourModeSelected() {
    auto& modes = window_.control<ui::DropDownList>(control::kColourModeList);
    auto& resolution = window_.control<ui::EditBox>(control::kResolutionBox);
    settings_.write(key::kColourMode, QString::number(modes.selection()));
    resolution.setEnabled(true);
    const int pixelType = modes.itemValueAt(modes.selection());
    if (pixelType == 0 || pixelType == 1) {
        // Grey and black-and-white scan at the source's own resolution.
        resolution.setContent(u"0"_s);
        resolution.setEnabled(false);
    }
}

void SettingsHandlers::OnFormatSelected() {
    auto& formats = window_.control<ui::DropDownList>(control::kFormatList);
    settings_.write(key::kPictureFormat, QString::number(formats.selection()));
    const bool jpeg = formats.itemValueAt(formats.selection()) == 0;
    window_.control<ui::Slider>(control::kQualitySlider).setEnabled(jpeg);
}

void SettingsHandlers::OnBrowseSaveFolderClicked() {
    const auto folder = platform::dialogs().browseFolder({.title = "选择保存目录"});
    if (!folder || folder->empty()) {
        return;
    }
    const QString path = QString::fromStdString(*folder);
    window_.control<ui::EditBox>(control::kSaveFolderBox).setContent(path);
    settings_.write(key::kSaveFolder, path);
}

void SettingsHandlers::OnOverlayToggled() {
    const bool on = window_.control<ui::CheckBox>(control::kOverlayCheckBox).isChecked();
    window_.control<ui::ColourPicker>(control::kTransparentColourPicker).setEnabled(on);
    settings_.write(key::kOverlay, on ? u"1"_s : u"0"_s);
}

void SettingsHandlers::OnTransparentColourChanged() {
    const auto colour =
        window_.control<ui::ColourPicker>(control::kTransparentColourPicker).colour();
    settings_.write(key::kTransparentColour, QString::number(colour));
}

void SettingsHandlers::OnQualityChanged() {
    auto& label = window_.control<ui::Label>(control::kQualityLabel);
    label.setCaption(
        QString::number(window_.control<ui::Slider>(control::kQualitySlider).position()));
    settings_.write(key::kJpegQuality, label.caption());
}

void SettingsHandlers::OnToleranceMenu() {
    const QString current = settings_.read(key::kColourTolerance);
    const auto entered = platform::dialogs().askText({
        .title = "设置色差值",
        .prompt = "请输入图像处理的允许色差值",
        .initialText = current.toStdString(),
        .okCaption = "确认输入(&O)",
        .cancelCaption = "取消(&C)",
        .allowedCharacters = "-0123456789",
    });
    if (!entered) {
        return;
    }
    settings_.write(key::kColourTolerance, QString::fromStdString(*entered));
    workflows::workflowState().colourTolerance = platform::textToInteger(*entered);
}

void OnProgramExit() {
    auto& captured = workflows::workflowState().capturedSide;
    captured.clear();
    captured.shrink_to_fit();
}

} // namespace vantrel::app
