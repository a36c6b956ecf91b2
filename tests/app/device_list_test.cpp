// The device list: refresh lists the scanner component's sources with their item values, selects
// the saved "默认机器" (the last match wins), never writes it, and keeps the window responsive
// while the scanners are looked up. End to end with our source manager and SANE's test scanners.

#include "app/device_list.h"
#include "app/main_window_definition.h"
#include "devices/manager_library.h"
#include "tests/app/main_window_fixture.h"
#include "tests/devices/scripted_manager.h"
#include "ui/button_controls.h"
#include "ui/list_controls.h"

#include <QTest>
#include <QTimer>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace Qt::StringLiterals;

namespace vantrel::test {
namespace {

namespace control = vantrel::control;

class DeviceListTest : public ::testing::Test, public MainWindowFixture {
protected:
    // The window (and its scanner component) goes before the scripted manager it talks to.
    void TearDown() override { main_.reset(); }

    // The main window with the given source manager, created as at start-up.
    void startWith(std::unique_ptr<devices::ManagerLibrary> manager) {
        main_ = std::make_unique<app::MainWindow>(app::ProgramPaths(sandbox_.path()),
                                                  std::move(manager));
        main_->create();
    }
    void startScripted() { startWith(devices::ManagerLibrary::fromEntry(&ScriptedManager::entry)); }
    void startWithSane() {
        setenv("SANE_CONFIG_DIR", VANTREL_SANE_CONFIG_DIR, 1);
        startWith(devices::ManagerLibrary::fromFile(VANTREL_TWAIN_DSM_PATH));
    }

    ui::DropDownList& list() const { return control<ui::DropDownList>(control::kDeviceList); }
    void refresh() const {
        QTest::mouseClick(&control<ui::Button>(control::kRefreshButton), Qt::LeftButton);
    }

    std::vector<std::pair<QString, int>> items() const {
        std::vector<std::pair<QString, int>> out;
        for (int i = 0; i < list().count(); ++i) {
            out.emplace_back(list().itemTextAt(i), list().itemValueAt(i));
        }
        return out;
    }

    ScriptedManager manager_;

    // Picks an item the way a user does, so that OnDeviceSelected runs.
    void userSelects(int index) const {
        list().setFocus();
        while (list().selection() < index) {
            QTest::keyClick(&list(), Qt::Key_Down);
        }
    }
};

struct SelectionCase {
    const char* name;
    std::vector<std::string> sources;
    const char* saved; // nullptr: no setting
    int selection;
};

void PrintTo(const SelectionCase& row, std::ostream* os) {
    *os << row.name;
}

const SelectionCase kSelectionCases[] = {
    {"NothingSaved", {"Alpha", "Beta"}, nullptr, -1},
    {"SavedNameSelected", {"Alpha", "Beta"}, "Beta", 1},
    {"LastOfTheSameNameWins", {"Twin", "Other", "Twin"}, "Twin", 2},
    {"SavedNameGone", {"Alpha"}, "Beta", -1},
    {"ComparedByteForByte", {"alpha"}, "Alpha", -1},
};

class DeviceListSelection : public DeviceListTest,
                            public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(DeviceListSelection, ListsEverySourceAndSelectsTheSavedOneWithoutWritingIt) {
    const SelectionCase& c = GetParam();
    manager_.sources = c.sources;
    if (c.saved) {
        writeSettings({{"默认机器", c.saved}});
    }
    startScripted();
    refresh();
    ASSERT_EQ(list().count(), static_cast<int>(c.sources.size()));
    for (int i = 0; i < list().count(); ++i) {
        EXPECT_EQ(items()[i], std::make_pair(QString::fromStdString(c.sources[i]), i));
    }
    EXPECT_EQ(list().selection(), c.selection);
    EXPECT_EQ(setting("默认机器"), c.saved ? c.saved : "<absent>");
}

INSTANTIATE_TEST_SUITE_P(Cases, DeviceListSelection, ::testing::ValuesIn(kSelectionCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(DeviceListTest, SecondRefreshKeepsTheFirstTable) {
    startScripted();
    refresh();
    manager_.sources.push_back("Gamma"); // plugged in later: the component does not look again
    refresh();
    EXPECT_EQ(items(), (std::vector<std::pair<QString, int>>{{u"Alpha"_s, 0}, {u"Beta"_s, 1}}));
}

TEST_F(DeviceListTest, WindowStaysResponsiveWhileTheScannersAreLookedUp) {
    manager_.lookupTime = std::chrono::milliseconds(400);
    startScripted();
    bool timerRan = false;
    bool controlsDisabled = false;
    QTimer::singleShot(50, [&] {
        timerRan = true;
        controlsDisabled = !control<ui::Button>(control::kRefreshButton).isEnabledTo(nullptr) ||
                           !window().clientArea()->isEnabled();
        // A second click while the lookup runs changes nothing.
        main_->deviceList().OnRefreshClicked();
    });
    refresh();
    EXPECT_TRUE(timerRan) << "the event loop was blocked during the lookup";
    EXPECT_TRUE(controlsDisabled);
    EXPECT_TRUE(window().clientArea()->isEnabled());
    EXPECT_EQ(list().count(), 2);
    EXPECT_EQ(manager_.count(DAT_IDENTITY, MSG_GETFIRST), 1u);
}

// A source lookup that stops after listing its first source until the test lets it go on, and
// notes every call the GUI thread makes meanwhile. Calls go on to the scripted manager.
class HeldLookup {
public:
    HeldLookup() { current() = this; }
    ~HeldLookup() { current() = nullptr; }
    HeldLookup(const HeldLookup&) = delete;
    HeldLookup& operator=(const HeldLookup&) = delete;

    static TW_UINT16 entry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                           TW_UINT16 msg, TW_MEMREF data) {
        if (HeldLookup* self = current()) {
            self->before(Call{dg, dat, msg, dest ? dest->Id : 0});
        }
        return ScriptedManager::entry(origin, dest, dg, dat, msg, data);
    }

    bool held() {
        const std::lock_guard lock(mutex_);
        return held_;
    }
    void release() {
        {
            const std::lock_guard lock(mutex_);
            released_ = true;
        }
        wake_.notify_all();
    }
    std::vector<Call> guiCallsWhileHeld() {
        const std::lock_guard lock(mutex_);
        return guiCalls_;
    }

private:
    static HeldLookup*& current() {
        static HeldLookup* active = nullptr;
        return active;
    }

    void before(const Call& call) {
        std::unique_lock lock(mutex_);
        if (std::this_thread::get_id() == guiThread_) {
            if (held_ && !released_) {
                guiCalls_.push_back(call);
            }
            return;
        }
        if (call.dat == DAT_IDENTITY && call.message == MSG_GETNEXT && !released_) {
            held_ = true;
            wake_.wait(lock, [this] { return released_; });
        }
    }

    const std::thread::id guiThread_ = std::this_thread::get_id();
    std::mutex mutex_;
    std::condition_variable wake_;
    bool held_ = false;
    bool released_ = false;
    std::vector<Call> guiCalls_;
};

TEST_F(DeviceListTest, RefreshPressedDuringTheLookupLeavesTheScannerComponentAlone) {
    HeldLookup lookup;
    startWith(devices::ManagerLibrary::fromEntry(&HeldLookup::entry));
    // A second press arrives while the first refresh waits for the worker, which is inside
    // Initialize with one source listed so far.
    bool pressedAgain = false;
    QTimer presser;
    QObject::connect(&presser, &QTimer::timeout, [&] {
        if (!pressedAgain && lookup.held()) {
            pressedAgain = true;
            window().deliverEvent(control::kRefreshButton, ui::EventKind::Click, {});
            lookup.release();
        }
    });
    presser.start(5);
    refresh();
    presser.stop();
    lookup.release(); // in case the press never came

    ASSERT_TRUE(pressedAgain);
    EXPECT_EQ(lookup.guiCallsWhileHeld(), std::vector<Call>{})
        << "the second refresh reached the source manager during the lookup";
    EXPECT_EQ(items(), (std::vector<std::pair<QString, int>>{{u"Alpha"_s, 0}, {u"Beta"_s, 1}}));
    EXPECT_EQ(manager_.count(DAT_IDENTITY, MSG_GETFIRST), 1u);
    EXPECT_FALSE(main_->deviceList().refreshRunning());

    refresh(); // and refreshing works again afterwards
    EXPECT_EQ(list().count(), 2);
}

TEST_F(DeviceListTest, SaneTestScannersChosenOnceArePreselectedAfterARestart) {
    startWithSane();
    window().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
    refresh();
    ASSERT_EQ(items(), (std::vector<std::pair<QString, int>>{{u"frontend-tester (test:0)"_s, 0},
                                                             {u"frontend-tester (test:1)"_s, 1}}));
    EXPECT_EQ(list().selection(), -1);
    userSelects(1);
    EXPECT_EQ(setting("默认机器"), "frontend-tester (test:1)");

    main_.reset(); // restart
    startWithSane();
    EXPECT_EQ(list().count(), 0); // empty until the user refreshes
    refresh();
    EXPECT_EQ(list().selection(), 1);
}

} // namespace
} // namespace vantrel::test
