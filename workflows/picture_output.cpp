#include "workflows/picture_output.h"

#include "imaging/converter.h"
#include "platform/desktop.h"
#include "platform/dialogs.h"
#include "platform/scratch_file.h"
#include "ui/container_controls.h"
#include "ui/list_controls.h"
#include "ui/range_controls.h"
#include "ui/text_controls.h"
#include "ui/window.h"
#include "workflows/control_names.h"
#include "workflows/file_stem.h"
#include "workflows/panel.h"
#include "workflows/waits.h"
#include "workflows/workflow_state.h"

#include <array>

namespace vantrel::workflows {
namespace {

constexpr std::array<const char*, 3> kExtensions = {".jpg", ".bmp", ".png"};

void tell(const std::string& text) {
    platform::dialogs().showMessage({.text = text});
}

} // namespace

void PictureOutput::SaveScannedPage() {
    auto& state = workflowState();
    waitWhileSet(state.scanPending);
    if (state.acquisitionEndedWithoutPage) {
        return;
    }
    save(Kind::Scanned);
}

void PictureOutput::SaveCurrentPicture() {
    save(Kind::Current);
}

void PictureOutput::save(Kind kind) {
    const std::string stem = MakeFileStem(localNow());
    // Shared with the thumbnail when it already shows the panel as it is (a scanned page).
    auto content = previewSurface(window_).sharedPicture();

    // A temporary file that could not be written must not be converted: it may still hold an
    // earlier page, which would then be saved under the new name and reported as a success.
    const bool written = platform::rewriteScratchFile(
        temporaryPicture_,
        std::string_view(reinterpret_cast<const char*>(content->data()), content->size()));
    // The conversion reads the temporary file, not these bytes: a scanned page's thumbnail takes
    // them now, and this function lets them go, so a large page is not held twice while it is
    // encoded.
    if (kind == Kind::Scanned) {
        window_.control<ui::PictureBox>(control::kThumbnail).setPicture(content);
    }
    content.reset();

    const int format = window_.control<ui::DropDownList>(control::kFormatList).selection();
    if (format >= 0 && format < static_cast<int>(kExtensions.size())) {
        const std::string folder =
            window_.control<ui::EditBox>(control::kSaveFolderBox).content().toStdString();
        const std::filesystem::path target =
            freeTargetPath(std::filesystem::path(folder.empty() ? "/" : folder), stem,
                           kExtensions[static_cast<std::size_t>(format)]);
        const std::string source = temporaryPicture_.string();
        int result = imaging::kTargetNotWritten;
        if (written) {
            switch (format) {
            case 0:
                result = imaging::toJpeg(
                    source, target.string(), false,
                    window_.control<ui::Slider>(control::kQualitySlider).position() * 10, true, 0);
                break;
            case 1:
                result = imaging::toBmp(source, target.string());
                break;
            default:
                result = imaging::toPng(source, target.string(), 24);
                break;
            }
        }
        if (result == imaging::kConvertOk) {
            auto& list = window_.control<ui::ListView>(control::kSavedFilesList);
            list.addRow(
                {QString::number(list.rowCount() + 1), QString::fromStdString(target.string())});
            if (!workflowState().continuousMode) {
                tell("文件保存成功,文件名为 " + target.filename().string());
            }
        } else {
            tell("文件保存是失败,错误代码：" + std::to_string(result));
        }
    }
}

void OpenSaveFolder(ui::Window& window) {
    platform::desktop().openPath(
        window.control<ui::EditBox>(control::kSaveFolderBox).content().toStdString());
}

} // namespace vantrel::workflows
