#pragma once
// A real main window on the offscreen platform, with its program directory in a sandbox and the
// scripted dialog seam installed.

#include "app/main_window.h"
#include "platform/profile.h"
#include "tests/support/sandbox.h"
#include "tests/support/scripted_dialogs.h"
#include "ui/runtime.h"
#include "ui/window.h"

#include <QApplication>

#include <QString>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vantrel::test {

using Setting = std::pair<std::string, std::string>;

class MainWindowFixture {
public:
    MainWindowFixture() {
        // The program's own style, font and translations, as at start-up.
        static const bool initialised = [] {
            ui::initialiseRuntime(*qApp);
            return true;
        }();
        (void)initialised;
    }

    std::filesystem::path iniPath() const { return sandbox_ / "boot.ini"; }

    void writeSettings(const std::vector<Setting>& settings) const {
        for (const auto& [key, value] : settings) {
            ASSERT_TRUE(platform::writeProfileString(iniPath(), "设置", key, value));
        }
    }

    std::string setting(const std::string& key) const {
        return platform::readProfileString(iniPath(), "设置", key, "<absent>");
    }

    // Builds the window and runs its creation event, as start-up does.
    app::MainWindow& start() {
        main_ = std::make_unique<app::MainWindow>(app::ProgramPaths(sandbox_.path()));
        main_->create();
        return *main_;
    }

    ui::Window& window() const { return main_->window(); }

    template <typename T>
    T& control(std::string_view name) const {
        return main_->window().control<T>(name);
    }

    Sandbox sandbox_;
    ScriptedDialogs dialogs_;
    std::unique_ptr<app::MainWindow> main_;
};

} // namespace vantrel::test
