#pragma once
// A scanner whose scans the test plans, behind a scripted source manager: each enable takes the
// next planned scan, which ends through the window's event queue as a real source's does, with
// its page or without one. Pages of any content reach the workflows through the real scanner
// component. The window talks to the manager until it is destroyed, so a test destroys the window
// before this object.

#include "devices/manager_library.h"
#include "tests/devices/scripted_manager.h"
#include "workflows/workflow_state.h"

#include <QObject>
#include <QTest>
#include <QTimer>
#include <deque>
#include <gtest/gtest.h>
#include <memory>
#include <utility>
#include <vector>

namespace vantrel::test {

struct PlannedScan {
    enum class Ends { WithPage, Cancelled, Jammed };
    std::vector<std::uint8_t> page; // BMP file bytes
    Ends ends = Ends::WithPage;
};

class PlannedScanner {
public:
    PlannedScanner() {
        manager_.enabling = [this] { sourceEnabled(); };
    }

    static std::unique_ptr<devices::ManagerLibrary> library() {
        return devices::ManagerLibrary::fromEntry(&ScriptedManager::entry);
    }

    void plan(PlannedScan scan) { planned_.push_back(std::move(scan)); }

    // Every planned scan has run and the scanner is free again.
    bool waitUntilIdle() {
        return QTest::qWaitFor(
            [this] { return planned_.empty() && !workflows::workflowState().scannerInUse(); },
            20000);
    }

private:
    void sourceEnabled() {
        if (planned_.empty()) {
            ADD_FAILURE() << "an acquisition the test did not plan";
            manager_.enableRc = TWRC_FAILURE;
            return;
        }
        manager_.enableRc = TWRC_SUCCESS;
        QTimer::singleShot(0, &context_, [this, scan = std::move(planned_.front())] {
            switch (scan.ends) {
            case PlannedScan::Ends::WithPage: // a source hands over a DIB: no BMP file header
                manager_.pages.push_back({{scan.page.begin() + 14, scan.page.end()}});
                manager_.post(MSG_XFERREADY);
                break;
            case PlannedScan::Ends::Cancelled:
                manager_.pages.push_back({{}, TWRC_CANCEL});
                manager_.post(MSG_XFERREADY);
                break;
            case PlannedScan::Ends::Jammed:
                manager_.condition = TWCC_PAPERJAM;
                manager_.post(MSG_CLOSEDSREQ);
                break;
            }
        });
        planned_.pop_front();
    }

    ScriptedManager manager_;
    std::deque<PlannedScan> planned_;
    QObject context_; // scan ends still queued die with the test
};

} // namespace vantrel::test
