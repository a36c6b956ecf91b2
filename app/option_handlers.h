#pragma once
// The main window's small handlers that are neither settings nor workflows: the background
// picture, scrolling the preview, opening a saved file and opening the save folder.

namespace vantrel::ui {
class Window;
}
namespace vantrel::workflows {
class PictureOutput;
}

namespace vantrel::app {

class OptionHandlers {
public:
    OptionHandlers(ui::Window& window, workflows::PictureOutput& output)
        : window_(window)
        , output_(output) {}

    // Binds every handler below to its control's event.
    void bind();

    void OnChooseBackgroundClicked();
    void OnClearBackgroundClicked();
    void OnPreviewHScroll();
    void OnPreviewVScroll();
    void OnSavedFileDoubleClicked();
    // The manual save (按钮6) and the save that opens the folder afterwards (按钮7).
    void OnSaveClicked();
    void OnSaveAndOpenFolderClicked();

private:
    ui::Window& window_;
    workflows::PictureOutput& output_;
};

} // namespace vantrel::app
