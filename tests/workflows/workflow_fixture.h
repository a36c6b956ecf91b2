#pragma once
// The real main window for workflow tests: with our source manager over SANE's test scanner (or
// with no scanner at all), the shared workflow state cleared before and after each test.

#include "devices/manager_library.h"
#include "tests/app/main_window_fixture.h"
#include "tests/support/sane_config.h"
#include "ui/button_controls.h"
#include "ui/list_controls.h"
#include "ui/text_controls.h"
#include "workflows/control_names.h"
#include "workflows/workflow_state.h"

#include <QTest>

namespace vantrel::test {

class WorkflowFixture : public MainWindowFixture {
public:
    WorkflowFixture() { workflows::workflowState() = {}; }
    ~WorkflowFixture() {
        main_.reset();
        workflows::workflowState() = {};
    }

    // `testConf` changes lines of the project's test.conf (for example to make every scan fail).
    void startWithSane(const std::vector<SaneSetting>& testConf = {}) {
        useSaneTestConfig(testConf);
        main_ = std::make_unique<app::MainWindow>(
            app::ProgramPaths(sandbox_.path()),
            devices::ManagerLibrary::fromFile(VANTREL_TWAIN_DSM_PATH));
        main_->create();
    }

    void startWithoutScanner() {
        main_ = std::make_unique<app::MainWindow>(
            app::ProgramPaths(sandbox_.path()),
            devices::ManagerLibrary::fromFile(sandbox_ / "no-manager.so"));
        main_->create();
    }

    // Refreshes the device list and picks the first test scanner, colour at `dpi`.
    void chooseTestScanner(int dpi) {
        QTest::mouseClick(&control<ui::Button>(control::kRefreshButton), Qt::LeftButton);
        auto& devices = control<ui::DropDownList>(control::kDeviceList);
        ASSERT_TRUE(QTest::qWaitFor([&] { return devices.count() > 0; }, 10000));
        devices.setSelection(0);
        control<ui::EditBox>(control::kResolutionBox).setContent(QString::number(dpi));
    }
};

} // namespace vantrel::test
