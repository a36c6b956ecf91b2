#pragma once
// Turning what the preview panel shows into a picture file in the save folder: the panel's content
// is written to the temporary picture file and converted into the chosen format under a
// date-time name; the outcome is reported, and each saved file is listed.

#include <chrono>
#include <filesystem>

namespace vantrel::ui {
class Window;
}

namespace vantrel::workflows {

class PictureOutput {
public:
    PictureOutput(ui::Window& window, std::filesystem::path temporaryPicture)
        : window_(window)
        , temporaryPicture_(std::move(temporaryPicture)) {}

    // After a scan of a continuous loop: waits for the pending scan, saves, and shows the panel in
    // the thumbnail. Saves nothing when the scan ended without a page. True when a file was saved.
    bool SaveScannedPage();
    // The manual save: at once, without touching the thumbnail.
    bool SaveCurrentPicture();

    const std::filesystem::path& temporaryPicture() const { return temporaryPicture_; }
    // How long a save runs before its progress is shown and the commands are blocked.
    void setProgressDelay(std::chrono::milliseconds delay) { progressDelay_ = delay; }

private:
    enum class Kind { Scanned, Current };
    bool save(Kind kind);

    ui::Window& window_;
    std::filesystem::path temporaryPicture_;
    std::chrono::milliseconds progressDelay_{500};
};

// Opens the save folder (the text of 编辑框2) in the desktop's file browser.
void OpenSaveFolder(ui::Window& window);

} // namespace vantrel::workflows
