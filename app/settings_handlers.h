#pragma once
// The main window's settings: restoring them from the settings file when the window is created,
// and the handlers that write each one the moment the user changes its control.

#include "app/program_paths.h"
#include "app/settings_store.h"

namespace vantrel::ui {
class Window;
}

namespace vantrel::app {

class SettingsHandlers {
public:
    SettingsHandlers(ui::Window& window, const SettingsStore& settings, const ProgramPaths& paths);

    // Binds every handler below to its control's event.
    void bind();

    void OnMainWindowCreated();
    void OnDeviceSelected();
    void OnResolutionChanged();
    void OnColourModeSelected();
    void OnFormatSelected();
    void OnBrowseSaveFolderClicked();
    void OnOverlayToggled();
    void OnTransparentColourChanged();
    void OnQualityChanged();
    void OnToleranceMenu();

private:
    ui::Window& window_;
    const SettingsStore& settings_;
    const ProgramPaths& paths_;
};

// Releases what the workflows still hold when the process ends.
void OnProgramExit();

} // namespace vantrel::app
