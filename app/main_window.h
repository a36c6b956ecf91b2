#pragma once
// The program's main window: the UI runtime's window built from the main window definition, with
// every handler of the program bound to its control's events.

#include "app/option_handlers.h"
#include "app/program_paths.h"
#include "app/settings_handlers.h"
#include "app/settings_store.h"

#include <memory>

namespace vantrel::ui {
class Window;
}

namespace vantrel::app {

class MainWindow {
public:
    explicit MainWindow(ProgramPaths paths);
    ~MainWindow();

    ui::Window& window() const { return *window_; }
    const SettingsStore& settings() const { return settings_; }
    const ProgramPaths& paths() const { return paths_; }

    // Runs the creation event (restoring every setting); then events flow to the handlers.
    void create();
    // create() and then shows the window centred on the screen.
    void start();

private:
    ProgramPaths paths_;
    SettingsStore settings_;
    std::unique_ptr<ui::Window> window_;
    SettingsHandlers settingsHandlers_;
    OptionHandlers optionHandlers_;
};

} // namespace vantrel::app
