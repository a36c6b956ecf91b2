#pragma once
// The program's main window: the UI runtime's window built from the main window definition, with
// every handler of the program bound to its control's events.

#include "app/copy_printer.h"
#include "app/device_list.h"
#include "app/option_handlers.h"
#include "app/program_paths.h"
#include "app/settings_handlers.h"
#include "app/settings_store.h"
#include "workflows/picture_output.h"
#include "workflows/scan_workflow.h"

#include <memory>
#include <thread>

namespace vantrel::ui {
class Window;
}
namespace vantrel::devices {
class ManagerLibrary;
class TwainControl;
} // namespace vantrel::devices

namespace vantrel::app {

class MainWindow {
public:
    // The scanner component finds the TWAIN source manager beside the program (or at
    // $VANTREL_TWAIN_DSM); the second form names it (tests).
    explicit MainWindow(ProgramPaths paths);
    MainWindow(ProgramPaths paths, std::unique_ptr<devices::ManagerLibrary> scannerManager);
    ~MainWindow();

    ui::Window& window() const { return *window_; }
    const SettingsStore& settings() const { return settings_; }
    const ProgramPaths& paths() const { return paths_; }
    // The scanner component 数码设备1; its pages arrive as PictureAcquired of the window.
    devices::TwainControl& scanner() const { return *scanner_; }
    DeviceList& deviceList() { return deviceList_; }
    workflows::ScanWorkflow& scanWorkflow() { return scanWorkflow_; }
    workflows::PictureOutput& pictureOutput() { return pictureOutput_; }
    // The printer component 打印机1.
    devices::PrinterJob& printer() { return copyPrinter_.job(); }

    // Runs the creation event (restoring every setting); then events flow to the handlers.
    void create();
    // create() and then shows the window centred on the screen; while it waits for the user, the
    // memory of a first page is made ready in the background (platform::warmPageMemory).
    void start();

private:
    ProgramPaths paths_;
    SettingsStore settings_;
    std::unique_ptr<ui::Window> window_;
    // After the window (it raises its events through the window's component), before the
    // handlers; destroyed before the window, so the source manager stops while it exists.
    std::unique_ptr<devices::TwainControl> scanner_;
    SettingsHandlers settingsHandlers_;
    workflows::PictureOutput pictureOutput_;
    OptionHandlers optionHandlers_;
    DeviceList deviceList_;
    JobCopyPrinter copyPrinter_;
    workflows::ScanWorkflow scanWorkflow_;
    std::thread memoryWarmer_;
};

} // namespace vantrel::app
