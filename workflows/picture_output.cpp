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
#include <cerrno>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel::workflows {
namespace {

constexpr std::array<const char*, 3> kExtensions = {".jpg", ".bmp", ".png"};

constexpr const char* kSaved = "文件保存成功,文件名为 ";
constexpr const char* kFailed = "文件保存是失败,错误代码：";
// Second lines of a failure message, saying what the user can change.
constexpr const char* kNoFolder = "没有选择保存位置，请先选择保存目录";
constexpr const char* kFolderMissing = "保存位置不存在：";
constexpr const char* kNotAFolder = "保存位置不是文件夹：";
constexpr const char* kFolderReadOnly = "保存位置不能写入：";
constexpr const char* kDiskFull = "磁盘空间不足：";
constexpr const char* kTemporaryFull = "临时文件夹空间不足，无法处理图片";
constexpr const char* kScratchNotWritten = "无法写入临时图片文件：";
constexpr const char* kOutOfMemory = "内存不足，无法处理图片";

void tell(const std::string& text) {
    platform::dialogs().showMessage({.text = text});
}

// What stops a save into `folder` before anything is written, as the second line of the
// failure message; nothing when the folder can take files.
std::optional<std::string> folderProblem(const std::string& folder) {
    if (folder.empty()) {
        return kNoFolder;
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        return (errno == ENOENT ? kFolderMissing : kFolderReadOnly) + folder;
    }
    if (!S_ISDIR(info.st_mode)) {
        return kNotAFolder + folder;
    }
    if ((info.st_mode & 0222) == 0 || ::access(folder.c_str(), W_OK | X_OK) != 0) {
        return kFolderReadOnly + folder;
    }
    return std::nullopt;
}

// Why a conversion into `folder` failed, from the system error behind it, when it says more
// than the code.
std::string conversionProblem(int result, const std::string& folder) {
    const int error = imaging::lastConversionErrno();
    if (error == ENOSPC || error == EDQUOT || error == EFBIG) {
        return result == imaging::kSourceUnreadable ? kTemporaryFull : kDiskFull + folder;
    }
    if (error == ENOMEM) {
        return kOutOfMemory;
    }
    if (error == EACCES || error == EPERM || error == EROFS) {
        return kFolderReadOnly + folder;
    }
    return {};
}

void tellFailure(int code, const std::string& reason) {
    tell(kFailed + std::to_string(code) + (reason.empty() ? "" : "\n" + reason));
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
    if (format < 0 || format >= static_cast<int>(kExtensions.size())) {
        return;
    }
    const std::string folder =
        window_.control<ui::EditBox>(control::kSaveFolderBox).content().toStdString();
    // Nothing is written anywhere else instead: an empty folder is not the current or the root
    // folder.
    if (const auto problem = folderProblem(folder)) {
        tellFailure(imaging::kTargetNotWritten, *problem);
        return;
    }
    if (!written) {
        tellFailure(imaging::kTargetNotWritten, kScratchNotWritten + temporaryPicture_.string());
        return;
    }
    const std::string extension = kExtensions[static_cast<std::size_t>(format)];
    // The name is taken only when the file is complete, and only if no file has it by then.
    auto target = imaging::ConvertTarget::newFile(
        [&](int attempt) { return savedPictureName(folder, stem, extension, attempt).string(); });
    const std::string source = temporaryPicture_.string();
    int result = imaging::kTargetNotWritten;
    switch (format) {
    case 0:
        result = imaging::toJpeg(
            source, target, false,
            window_.control<ui::Slider>(control::kQualitySlider).position() * 10, true, 0);
        break;
    case 1:
        result = imaging::toBmp(source, target);
        break;
    default:
        result = imaging::toPng(source, target, 24);
        break;
    }
    if (result != imaging::kConvertOk) {
        tellFailure(result, conversionProblem(result, folder));
        return;
    }
    const std::filesystem::path saved = target.path();
    auto& list = window_.control<ui::ListView>(control::kSavedFilesList);
    list.addRow({QString::number(list.rowCount() + 1), QString::fromStdString(saved.string())});
    if (!workflowState().continuousMode) {
        tell(kSaved + saved.filename().string());
    }
}

void OpenSaveFolder(ui::Window& window) {
    platform::desktop().openPath(
        window.control<ui::EditBox>(control::kSaveFolderBox).content().toStdString());
}

} // namespace vantrel::workflows
