#include "app/main_window.h"

#include "app/main_window_definition.h"
#include "devices/twain_control.h"
#include "platform/page_memory.h"
#include "ui/window.h"

namespace vantrel::app {

namespace {

std::unique_ptr<devices::TwainControl>
makeScanner(ui::Window& window, std::unique_ptr<devices::ManagerLibrary> manager) {
    if (!manager) {
        manager = devices::ManagerLibrary::fromFile(devices::defaultManagerPath());
    }
    return std::make_unique<devices::TwainControl>(
        &window.control<ui::Component>(control::kScanner), std::move(manager));
}

} // namespace

MainWindow::MainWindow(ProgramPaths paths)
    : MainWindow(std::move(paths), nullptr) {}

MainWindow::MainWindow(ProgramPaths paths, std::unique_ptr<devices::ManagerLibrary> scannerManager)
    : paths_(std::move(paths))
    , settings_(paths_.settingsFile())
    , window_(std::make_unique<ui::Window>(mainWindowDefinition()))
    , scanner_(makeScanner(*window_, std::move(scannerManager)))
    , settingsHandlers_(*window_, settings_, paths_)
    , pictureOutput_(*window_, paths_.temporaryPicture())
    , optionHandlers_(*window_, pictureOutput_)
    , deviceList_(*window_, settings_, *scanner_)
    , scanWorkflow_(*window_, *scanner_, pictureOutput_, &copyPrinter_) {
    platform::keepPageMemory(); // main() has set it already; tests and benchmarks may not have
    settingsHandlers_.bind();
    optionHandlers_.bind();
    deviceList_.bind();
    scanWorkflow_.bind();
}

MainWindow::~MainWindow() {
    if (memoryWarmer_.joinable()) {
        memoryWarmer_.join();
    }
}

void MainWindow::create() {
    window_->finishCreation();
}

void MainWindow::start() {
    create();
    window_->showCentred();
    if (!memoryWarmer_.joinable()) {
        memoryWarmer_ = std::thread([] { platform::warmPageMemory(platform::kFirstPageMemory); });
    }
}

} // namespace vantrel::app
