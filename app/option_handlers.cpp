#include "app/option_handlers.h"

#include "platform/desktop.h"
#include "platform/dialogs.h"
#include "ui/container_controls.h"
#include "ui/list_controls.h"
#include "ui/range_controls.h"
#include "ui/text_controls.h"
#include "ui/window.h"
#include "workflows/control_names.h"
#include "workflows/panel.h"
#include "workflows/picture_output.h"

#include <filesystem>

namespace vantrel::app {
void OptionHandlers::bind() {
    using ui::EventKind;
    auto on = [this](std::string_view name, EventKind kind, void (OptionHandlers::*handler)()) {
        window_.bind(name, kind, [this, handler](const ui::EventArgs&) { (this->*handler)(); });
    };
    on(control::kChooseBackgroundButton, EventKind::Click,
       &OptionHandlers::OnChooseBackgroundClicked);
    on(control::kClearBackgroundButton, EventKind::Click,
       &OptionHandlers::OnClearBackgroundClicked);
    on(control::kPreviewHScroll, EventKind::PositionChanged, &OptionHandlers::OnPreviewHScroll);
    on(control::kPreviewVScroll, EventKind::PositionChanged, &OptionHandlers::OnPreviewVScroll);
    on(control::kSavedFilesList, EventKind::LeftDoubleClick,
       &OptionHandlers::OnSavedFileDoubleClicked);
    on(control::kSaveButton, EventKind::Click, &OptionHandlers::OnSaveClicked);
    on(control::kSaveAndOpenButton, EventKind::Click, &OptionHandlers::OnSaveAndOpenFolderClicked);
}

void OptionHandlers::OnChooseBackgroundClicked() {
    const auto& dialog = window_.control<ui::Component>(control::kFileDialog);
    const auto chosen = platform::dialogs().chooseOpenFile({.filter = dialog.text()});
    if (chosen && !chosen->empty()) {
        window_.control<ui::EditBox>(control::kBackgroundPathBox)
            .setContent(QString::fromStdString(*chosen));
    }
}

void OptionHandlers::OnClearBackgroundClicked() {
    window_.control<ui::EditBox>(control::kBackgroundPathBox).setContent(QString());
}

void OptionHandlers::OnPreviewHScroll() {
    workflows::movePreviewPanel(
        window_, -window_.control<ui::ScrollBar>(control::kPreviewHScroll).position(),
        std::nullopt);
}

void OptionHandlers::OnPreviewVScroll() {
    workflows::movePreviewPanel(
        window_, std::nullopt,
        -window_.control<ui::ScrollBar>(control::kPreviewVScroll).position());
}

void OptionHandlers::OnSavedFileDoubleClicked() {
    auto& list = window_.control<ui::ListView>(control::kSavedFilesList);
    const int row = list.selectedRow();
    if (row < 0) {
        return;
    }
    const std::string path = list.cellText(row, 1).toStdString();
    std::error_code ignored;
    if (!path.empty() && std::filesystem::exists(std::filesystem::symlink_status(path, ignored))) {
        // The path goes to the desktop as one argument, blanks and all; a failure to start the
        // handler is not reported.
        platform::desktop().openPath(path);
        return;
    }
    platform::dialogs().showMessage({.text = "文件不存在", .icon = platform::MessageIcon::Error});
}

void OptionHandlers::OnSaveClicked() {
    output_.SaveCurrentPicture();
}

void OptionHandlers::OnSaveAndOpenFolderClicked() {
    output_.SaveCurrentPicture();
    workflows::OpenSaveFolder(window_);
}

} // namespace vantrel::app
