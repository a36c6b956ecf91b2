#pragma once
// The main window's small handlers that are neither settings nor workflows: the background
// picture, scrolling the preview, opening a saved file and opening the save folder.

namespace vantrel::ui {
class Window;
}

namespace vantrel::app {

class OptionHandlers {
public:
    explicit OptionHandlers(ui::Window& window)
        : window_(window) {}

    // Binds every handler below to its control's event.
    void bind();

    void OnChooseBackgroundClicked();
    void OnClearBackgroundClicked();
    void OnPreviewHScroll();
    void OnPreviewVScroll();
    void OnSavedFileDoubleClicked();
    void OpenSaveFolder();

private:
    ui::Window& window_;
};

} // namespace vantrel::app
