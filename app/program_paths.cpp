#include "app/program_paths.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <unistd.h>

namespace vantrel::app {
namespace {

constexpr const char* kSettingsFileName = "boot.ini";
constexpr const char* kTemporaryPictureName = "photo.tem";
constexpr const char* kDefaultSaveFolderName = "扫描图片";
constexpr const char* kXdgFolderName = "vantrel";

std::filesystem::path toPath(const QString& path) {
    return std::filesystem::path(path.toStdString());
}

} // namespace

ProgramPaths::ProgramPaths(std::filesystem::path programDirectory)
    : ProgramPaths(programDirectory / kSettingsFileName, programDirectory / kTemporaryPictureName,
                   programDirectory / kDefaultSaveFolderName) {}

ProgramPaths::ProgramPaths(std::filesystem::path settingsFile,
                           std::filesystem::path temporaryPicture,
                           std::filesystem::path defaultSaveFolder)
    : settingsFile_(std::move(settingsFile))
    , temporaryPicture_(std::move(temporaryPicture))
    , defaultSaveFolder_(std::move(defaultSaveFolder)) {}

ProgramPaths ProgramPaths::forRunningProgram() {
    const std::filesystem::path programDirectory = toPath(QCoreApplication::applicationDirPath());
    if (access(programDirectory.c_str(), W_OK) == 0) {
        return ProgramPaths(programDirectory);
    }
    const auto config =
        toPath(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)) /
        kXdgFolderName;
    const auto cache =
        toPath(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)) /
        kXdgFolderName;
    auto pictures = toPath(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation));
    if (pictures.empty()) {
        pictures = toPath(QStandardPaths::writableLocation(QStandardPaths::HomeLocation));
    }
    std::error_code ignored;
    std::filesystem::create_directories(config, ignored);
    std::filesystem::create_directories(cache, ignored);
    return ProgramPaths(config / kSettingsFileName, cache / kTemporaryPictureName,
                        pictures / kDefaultSaveFolderName);
}

} // namespace vantrel::app
