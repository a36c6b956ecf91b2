#pragma once
// Where the program keeps its files. Normally everything lives in the program directory (the
// folder of the executable): the settings file "boot.ini", the temporary picture "photo.tem" and
// the default save folder "扫描图片". When that folder is not writable (an installed copy under
// /usr), the user's XDG folders take their place.

#include <filesystem>

namespace vantrel::app {

class ProgramPaths {
public:
    // Everything beside the program in `programDirectory`.
    explicit ProgramPaths(std::filesystem::path programDirectory);
    ProgramPaths(std::filesystem::path settingsFile, std::filesystem::path temporaryPicture,
                 std::filesystem::path defaultSaveFolder);

    // The paths for the running executable, with the XDG fallback; creates the XDG folders the
    // settings file and the temporary picture need.
    static ProgramPaths forRunningProgram();

    const std::filesystem::path& settingsFile() const { return settingsFile_; }
    const std::filesystem::path& temporaryPicture() const { return temporaryPicture_; }
    const std::filesystem::path& defaultSaveFolder() const { return defaultSaveFolder_; }

private:
    std::filesystem::path settingsFile_;
    std::filesystem::path temporaryPicture_;
    std::filesystem::path defaultSaveFolder_;
};

} // namespace vantrel::app
