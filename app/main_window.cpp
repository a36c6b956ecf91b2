#include "app/main_window.h"

#include "app/main_window_definition.h"
#include "ui/window.h"

namespace vantrel::app {

MainWindow::MainWindow(ProgramPaths paths)
    : paths_(std::move(paths))
    , settings_(paths_.settingsFile())
    , window_(std::make_unique<ui::Window>(mainWindowDefinition()))
    , settingsHandlers_(*window_, settings_, paths_)
    , optionHandlers_(*window_) {
    settingsHandlers_.bind();
    optionHandlers_.bind();
}

MainWindow::~MainWindow() = default;

void MainWindow::create() {
    window_->finishCreation();
}

void MainWindow::start() {
    create();
    window_->showCentred();
}

} // namespace vantrel::app
