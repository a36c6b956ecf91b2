#include "workflows/picture_output.h"

#include "imaging/converter.h"
#include "platform/desktop.h"
#include "platform/dialogs.h"
#include "ui/container_controls.h"
#include "ui/list_controls.h"
#include "ui/range_controls.h"
#include "ui/text_controls.h"
#include "ui/window.h"
#include "workflows/control_names.h"
#include "workflows/file_stem.h"
#include "workflows/panel.h"
#include "workflows/save_job.h"
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
std::string conversionProblem(int result, int error, const std::string& folder) {
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

bool PictureOutput::SaveScannedPage() {
    auto& state = workflowState();
    waitWhileSet(state.scanPending);
    if (state.acquisitionEndedWithoutPage) {
        return false;
    }
    return save(Kind::Scanned);
}

bool PictureOutput::SaveCurrentPicture() {
    return save(Kind::Current);
}

bool PictureOutput::save(Kind kind) {
    const std::string stem = MakeFileStem(localNow());
    SaveRequest request;
    // Shared with the thumbnail when it already shows the panel as it is (a scanned page).
    request.content = previewSurface(window_).sharedPicture();
    request.scratch = temporaryPicture_;
    // A scanned page's thumbnail shows the panel once the save has ended.
    const auto thumbnail = kind == Kind::Scanned ? request.content : nullptr;

    const int format = window_.control<ui::DropDownList>(control::kFormatList).selection();
    const std::string folder =
        window_.control<ui::EditBox>(control::kSaveFolderBox).content().toStdString();
    // Nothing is written anywhere else instead: an empty folder is not the current or the root
    // folder.
    const auto problem = folderProblem(folder);
    std::string extension;
    if (format >= 0 && format < static_cast<int>(kExtensions.size())) {
        extension = kExtensions[static_cast<std::size_t>(format)];
        request.format = static_cast<SaveFormat>(format);
        request.quality = window_.control<ui::Slider>(control::kQualitySlider).position() * 10;
        request.convert = !problem;
        // The name is taken only when the file is complete, and only if no file has it by then.
        request.target = imaging::ConvertTarget::newFile([folder, stem, extension](int attempt) {
            return savedPictureName(folder, stem, extension, attempt).string();
        });
    }
    const SaveOutcome outcome = runSave(window_, std::move(request), progressDelay_);

    bool saved = false;
    if (extension.empty()) {
        // No format chosen: only the temporary file is written, and nothing is said.
    } else if (problem) {
        tellFailure(imaging::kTargetNotWritten, *problem);
    } else if (!outcome.written) {
        // A temporary file that could not be written is not converted: it may still hold an
        // earlier page, which would then be saved under the new name and reported as a success.
        tellFailure(imaging::kTargetNotWritten, kScratchNotWritten + temporaryPicture_.string());
    } else if (outcome.result != imaging::kConvertOk) {
        tellFailure(outcome.result, conversionProblem(outcome.result, outcome.error, folder));
    } else {
        const std::filesystem::path path = outcome.path;
        const bool say = !workflowState().continuousMode;
        // A scanned page is reported, then listed; the manual save lists, then reports.
        if (say && kind == Kind::Scanned) {
            tell(kSaved + path.filename().string());
        }
        auto& list = window_.control<ui::ListView>(control::kSavedFilesList);
        list.addRow({QString::number(list.rowCount() + 1), QString::fromStdString(path.string())});
        if (say && kind == Kind::Current) {
            tell(kSaved + path.filename().string());
        }
        saved = true;
    }
    if (thumbnail) {
        window_.control<ui::PictureBox>(control::kThumbnail).setPicture(thumbnail);
    }
    return saved;
}

void OpenSaveFolder(ui::Window& window) {
    platform::desktop().openPath(
        window.control<ui::EditBox>(control::kSaveFolderBox).content().toStdString());
}

} // namespace vantrel::workflows
