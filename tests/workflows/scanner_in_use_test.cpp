// One command at a time: a scan or copy command, or a refresh of the device list, pressed while the
// scanner is busy with another command is refused with a short message and never reaches the
// scanner, and the running command goes on to its end. The scanner is a scripted source manager
// whose scans the test starts and ends, so each press lands exactly where the test puts it: after
// Acquire, before the page.

#include "tests/devices/print_test_support.h"
#include "tests/devices/scripted_manager.h"
#include "tests/workflows/bmp_fixture.h"
#include "tests/workflows/workflow_fixture.h"
#include "ui/list_controls.h"
#include "ui/range_controls.h"
#include "ui/text_controls.h"
#include "workflows/control_names.h"
#include "workflows/panel.h"
#include "workflows/scan_workflow.h"
#include "workflows/workflow_state.h"

#include <QObject>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>

using namespace Qt::StringLiterals;

namespace vantrel::test {
namespace {

constexpr const char* kInUse = "正在扫描，请稍候";
constexpr const char* kSecondSide = "准备好复印第二面后请点击【确定】";
constexpr const char* kContinue = "是否继续扫描";
constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kRed = 0x0000FF;
constexpr std::uint32_t kBlue = 0xFF0000;

// Stands for the refresh button 按钮1 where a toolbar index would go.
constexpr int kRefresh = -1;
// The toolbar commands that use the scanner, and the refresh button.
constexpr int kScannerCommands[] = {0, 1, 2, 4, 5, kRefresh};

// An ID card's two sides, laid on different parts of the glass: the front's red square top left,
// the back's blue square bottom right, white around each.
const std::vector<std::uint8_t> kFront = pageWithSquare(60, 80, kWhite, kRed, 0, 0, 30);
const std::vector<std::uint8_t> kBack = pageWithSquare(60, 80, kWhite, kBlue, 30, 50, 30);

// What the scripted source does with one enable.
struct Scan {
    enum class Ends { WithPage, Cancelled, ClosedBySource, DriverLost, Jammed, EnableRefused };
    Ends ends = Ends::WithPage;
    std::vector<std::uint8_t> page = kFront; // BMP file bytes
    // Runs once the enable has returned, while the scan is under way.
    std::function<void()> whileScanning;
};

class ScannerInUseTest : public ::testing::Test, public WorkflowFixture {
protected:
    // The window (and its scanner component) goes before the scripted manager it talks to.
    void TearDown() override { main_.reset(); }

    void startScripted() {
        manager_.enabling = [this] { sourceEnabled(); };
        main_ = std::make_unique<app::MainWindow>(
            app::ProgramPaths(sandbox_.path()),
            devices::ManagerLibrary::fromEntry(&ScriptedManager::entry));
        main_->create();
        main_->deviceList().OnRefreshClicked();
        control<ui::DropDownList>(control::kDeviceList).setSelection(0);
        control<ui::EditBox>(control::kResolutionBox).setContent(u"30"_s);
    }

    void press(int command) {
        if (command == kRefresh) {
            main_->deviceList().OnRefreshClicked();
        } else {
            main_->scanWorkflow().OnToolbarClick(command);
        }
    }

    // Presses every command that uses the scanner; true when none of them called the scanner.
    bool pressAllReachesNothing() {
        const std::size_t before = manager_.calls.size();
        for (int command : kScannerCommands) {
            press(command);
        }
        return manager_.calls.size() == before;
    }

    // The next planned scan starts; it ends through the window's event queue, as a real source's
    // does, after its `whileScanning`.
    void sourceEnabled() {
        if (scans_.empty()) {
            ADD_FAILURE() << "an acquisition the test did not plan";
            manager_.enableRc = TWRC_FAILURE;
            return;
        }
        Scan scan = std::move(scans_.front());
        scans_.pop_front();
        manager_.enableRc = scan.ends == Scan::Ends::EnableRefused ? TWRC_FAILURE : TWRC_SUCCESS;
        if (scan.ends == Scan::Ends::EnableRefused) {
            return;
        }
        QTimer::singleShot(0, &context_, [this, scan] {
            if (scan.whileScanning) {
                scan.whileScanning();
            }
            switch (scan.ends) {
            case Scan::Ends::WithPage: // the source hands over a DIB: no BMP file header
                manager_.pages.push_back({{scan.page.begin() + 14, scan.page.end()}});
                manager_.post(MSG_XFERREADY);
                break;
            case Scan::Ends::Cancelled:
                manager_.pages.push_back({{}, TWRC_CANCEL});
                manager_.post(MSG_XFERREADY);
                break;
            case Scan::Ends::ClosedBySource:
                manager_.post(MSG_CLOSEDSREQ);
                break;
            case Scan::Ends::DriverLost: // the scanner helper crashed or stopped answering
                manager_.condition = TWCC_DRIVERLOST;
                manager_.post(MSG_CLOSEDSREQ);
                break;
            case Scan::Ends::Jammed:
                manager_.condition = TWCC_PAPERJAM;
                manager_.post(MSG_CLOSEDSREQ);
                break;
            case Scan::Ends::EnableRefused:
                break;
            }
        });
    }

    // Every planned scan has run and the scanner is free again.
    bool waitUntilIdle() {
        return QTest::qWaitFor(
            [this] { return scans_.empty() && !workflows::workflowState().scannerInUse(); }, 20000);
    }

    std::size_t enables() const { return manager_.count(DAT_USERINTERFACE, MSG_ENABLEDS); }

    std::vector<std::string> messageTexts() const {
        std::vector<std::string> texts;
        for (const auto& m : dialogs_.messages()) {
            texts.push_back(m.text);
        }
        return texts;
    }

    ScriptedManager manager_;
    ScriptedPrintDialogs printDialogs_;
    std::deque<Scan> scans_;
    QObject context_; // pending scan ends die with the test
};

// Near `want` (0x00BBGGRR) on each channel: the printed page went through the PDF renderer.
bool looksLike(QRgb pixel, std::uint32_t want) {
    const int r = static_cast<int>(want & 0xFF);
    const int g = static_cast<int>(want >> 8 & 0xFF);
    const int b = static_cast<int>(want >> 16 & 0xFF);
    return std::abs(qRed(pixel) - r) < 48 && std::abs(qGreen(pixel) - g) < 48 &&
           std::abs(qBlue(pixel) - b) < 48;
}

struct PressCase {
    const char* name;
    int command;
};
void PrintTo(const PressCase& c, std::ostream* os) {
    *os << c.name;
}

class PressedWhileACopyScans : public ScannerInUseTest,
                               public ::testing::WithParamInterface<PressCase> {};

TEST_P(PressedWhileACopyScans, IsRefusedWithoutTouchingTheScannerAndTheCopyStillPrints) {
    startScripted();
    printDialogs_.cancel(); // the print dialog's record shows the copy reached the printer
    std::size_t callsBefore = 0;
    std::size_t callsAfter = 0;
    scans_.push_back({.whileScanning = [&] {
        callsBefore = manager_.calls.size();
        press(GetParam().command);
        callsAfter = manager_.calls.size();
    }});
    press(1);
    ASSERT_TRUE(waitUntilIdle());

    const auto messages = dialogs_.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, kInUse);
    EXPECT_EQ(messages[0].icon, platform::MessageIcon::Information);
    EXPECT_EQ(messages[0].buttons, platform::MessageButtons::Ok);
    EXPECT_EQ(messages[0].caption, "信息：");
    EXPECT_EQ(callsAfter, callsBefore); // no setting written, no enable, no lookup
    EXPECT_EQ(enables(), 1u);
    EXPECT_EQ(dialogs_.beeps(), 1); // the copy's own
    EXPECT_EQ(printDialogs_.records.size(), 1u);
    EXPECT_EQ(workflows::previewSurface(window()).width(), 60); // the copy's page is shown
    EXPECT_EQ(control<ui::DropDownList>(control::kDeviceList).count(), 2);
    const auto& state = workflows::workflowState();
    EXPECT_FALSE(state.copyPending);
    EXPECT_FALSE(state.idCopyFirstSide);
    EXPECT_FALSE(state.continuousMode);
}

const PressCase kPressCases[] = {
    {"NormalScan", 0},     {"NormalCopy", 1},         {"IdCardCopy", 2},
    {"ContinuousScan", 4}, {"ContinuousTwoSided", 5}, {"Refresh", kRefresh},
};
INSTANTIATE_TEST_SUITE_P(Commands, PressedWhileACopyScans, ::testing::ValuesIn(kPressCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(ScannerInUseTest, IdCardCopyRefusesCommandsWhileItsSecondSideScansAndPrintsBothSides) {
    startScripted();
    printDialogs_.accept();
    const auto pdf = sandbox_ / "card.pdf";
    dialogs_.answerSaveFile(pdf.string());
    dialogs_.answerMessage(platform::DialogAnswer::Ok); // the second side is on the glass
    bool reachedNothing = false;
    scans_.push_back({.page = kFront});
    scans_.push_back(
        {.page = kBack, .whileScanning = [&] { reachedNothing = pressAllReachesNothing(); }});
    press(2);
    ASSERT_TRUE(waitUntilIdle());
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(pdf); }, 20000));

    std::vector<std::string> expected{kSecondSide};
    expected.insert(expected.end(), std::size(kScannerCommands), kInUse);
    EXPECT_EQ(messageTexts(), expected);
    EXPECT_TRUE(reachedNothing);
    EXPECT_EQ(enables(), 2u);
    EXPECT_EQ(dialogs_.beeps(), 2); // the command's and the second side's
    ASSERT_EQ(printDialogs_.records.size(), 1u);
    const QImage printed = renderPage(pdf, 20);
    ASSERT_FALSE(printed.isNull());
    EXPECT_TRUE(looksLike(printed.pixel(printed.width() / 5, printed.height() / 7), kRed));
    EXPECT_TRUE(looksLike(printed.pixel(printed.width() * 4 / 5, printed.height() * 6 / 7), kBlue));
    const auto& state = workflows::workflowState();
    EXPECT_FALSE(state.idCopyFirstSide);
    EXPECT_FALSE(state.idCopySecondSide);
}

TEST_F(ScannerInUseTest, ALostDriverIsReportedOnceAndAnOrdinaryCloseSilently) {
    startScripted();
    dialogs_.answerMessage(platform::DialogAnswer::Ok);
    scans_.push_back({.ends = Scan::Ends::DriverLost});
    press(0);
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(messageTexts(), std::vector<std::string>{"扫描仪驱动程序没有响应，请重试"});
    ASSERT_EQ(dialogs_.messages().size(), 1u);
    EXPECT_EQ(dialogs_.messages()[0].icon, platform::MessageIcon::Error);

    scans_.push_back({.ends = Scan::Ends::ClosedBySource});
    press(0);
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(dialogs_.messages().size(), 1u);
}

TEST_F(ScannerInUseTest, ContinuousCycleRefusesACommandAndStillSavesItsPage) {
    startScripted();
    dialogs_.answerMessage(platform::DialogAnswer::Ok); // 是否继续扫描
    dialogs_.answerMessage(platform::DialogAnswer::Ok); // the refusal
    dialogs_.answerMessage(platform::DialogAnswer::Cancel);
    scans_.push_back({.whileScanning = [&] { press(1); }});
    press(4);
    EXPECT_EQ(messageTexts(), (std::vector<std::string>{kContinue, kInUse, kContinue}));
    EXPECT_EQ(enables(), 1u);
    EXPECT_TRUE(printDialogs_.records.empty());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(sandbox_ / "扫描图片"),
                            std::filesystem::directory_iterator()),
              1);
    EXPECT_FALSE(workflows::workflowState().scannerInUse());
}

// During a continuous cycle the commands are disabled and what the cycle shows is not: the
// progress panel, the preview and the thumbnail stay readable. A control that was disabled on its
// own before the cycle is still disabled after it.
TEST_F(ScannerInUseTest, ContinuousCycleDisablesTheCommandsOnly) {
    startScripted();
    control<ui::Slider>(control::kQualitySlider).setEnabled(false); // as for BMP and PNG
    dialogs_.answerMessage(platform::DialogAnswer::Ok);
    dialogs_.answerMessage(platform::DialogAnswer::Cancel);
    std::map<std::string_view, bool> enabled;
    scans_.push_back({.whileScanning = [&] {
        for (std::string_view name :
             {control::kToolbar, control::kDeviceList, control::kResolutionBox,
              control::kOverlayCheckBox, control::kProgressPanel, control::kProgressPercent,
              control::kThumbnail, control::kSavedFilesList}) {
            enabled[name] = dynamic_cast<QWidget*>(window().find(name))->isEnabled();
        }
    }});
    press(4);
    EXPECT_TRUE(window().isEnabled());
    for (std::string_view command : {control::kToolbar, control::kDeviceList,
                                     control::kResolutionBox, control::kOverlayCheckBox}) {
        EXPECT_FALSE(enabled[command]) << command;
        EXPECT_TRUE(dynamic_cast<QWidget*>(window().find(command))->isEnabled()) << command;
    }
    for (std::string_view shown : {control::kProgressPanel, control::kProgressPercent,
                                   control::kThumbnail, control::kSavedFilesList}) {
        EXPECT_TRUE(enabled[shown]) << shown;
    }
    EXPECT_FALSE(control<ui::Slider>(control::kQualitySlider).isEnabled());
}

// Cancel at the first "是否继续扫描": neither loop touches the scanner, saves or says more, and
// the next command runs.
TEST_F(ScannerInUseTest, CancelAtTheFirstQuestionEndsEitherLoopWithoutScanning) {
    startScripted();
    for (int loop : {4, 5}) {
        dialogs_.answerMessage(platform::DialogAnswer::Cancel);
        press(loop);
        EXPECT_FALSE(workflows::workflowState().continuousMode) << loop;
        EXPECT_FALSE(workflows::workflowState().continuousTwoSided) << loop;
    }
    EXPECT_EQ(messageTexts(), (std::vector<std::string>{kContinue, kContinue}));
    EXPECT_EQ(enables(), 0u);
    EXPECT_TRUE(std::filesystem::is_empty(sandbox_ / "扫描图片"));
    scans_.push_back({});
    press(0);
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(enables(), 1u);
}

// A continuous run that a scan ends says why and how many files the run saved; a lost driver is
// said once, in that message.
struct StopCase {
    const char* name;
    std::vector<Scan::Ends> scans;
    const char* message;
    platform::MessageIcon icon;
};
void PrintTo(const StopCase& c, std::ostream* os) {
    *os << c.name;
}

class ContinuousRunStopped : public ScannerInUseTest,
                             public ::testing::WithParamInterface<StopCase> {};

TEST_P(ContinuousRunStopped, SaysWhyAndHowManyFilesItSaved) {
    const StopCase& c = GetParam();
    startScripted();
    for (Scan::Ends ends : c.scans) {
        dialogs_.answerMessage(platform::DialogAnswer::Ok); // 是否继续扫描
        scans_.push_back({.ends = ends});
    }
    dialogs_.answerMessage(platform::DialogAnswer::Ok); // the closing message
    press(4);
    ASSERT_TRUE(waitUntilIdle());
    const auto messages = dialogs_.messages();
    ASSERT_EQ(messages.size(), c.scans.size() + 1);
    EXPECT_EQ(messages.back().text, c.message);
    EXPECT_EQ(messages.back().icon, c.icon);
    const std::size_t pages = std::count(c.scans.begin(), c.scans.end(), Scan::Ends::WithPage);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(sandbox_ / "扫描图片"),
                            std::filesystem::directory_iterator()),
              static_cast<std::ptrdiff_t>(pages));
    EXPECT_FALSE(workflows::workflowState().continuousMode);
}

const StopCase kStopCases[] = {
    {"Jammed",
     {Scan::Ends::WithPage, Scan::Ends::WithPage, Scan::Ends::Jammed},
     "连续扫描已停止：扫描仪卡纸\n本次已保存 2 个文件。",
     platform::MessageIcon::Warning},
    {"Cancelled",
     {Scan::Ends::WithPage, Scan::Ends::Cancelled},
     "连续扫描已停止：扫描已取消\n本次已保存 1 个文件。",
     platform::MessageIcon::Information},
    {"DriverLost",
     {Scan::Ends::DriverLost},
     "连续扫描已停止：扫描仪驱动程序没有响应\n本次已保存 0 个文件。",
     platform::MessageIcon::Warning},
};
INSTANTIATE_TEST_SUITE_P(Ends, ContinuousRunStopped, ::testing::ValuesIn(kStopCases),
                         [](const auto& row) { return std::string(row.param.name); });

// A command whose acquisition never started or ended without a page; the next command must then
// start as usual, not be refused as if the scanner were still busy.
struct FailureCase {
    const char* name;
    int command;
    std::vector<Scan::Ends> scans;
    int okAnswers; // the command's own questions
};
void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class AfterAnAcquisitionWithoutPage : public ScannerInUseTest,
                                      public ::testing::WithParamInterface<FailureCase> {};

TEST_P(AfterAnAcquisitionWithoutPage, TheNextCommandStartsNormally) {
    const FailureCase& c = GetParam();
    startScripted();
    for (int i = 0; i < c.okAnswers; ++i) {
        dialogs_.answerMessage(platform::DialogAnswer::Ok);
    }
    for (Scan::Ends ends : c.scans) {
        scans_.push_back({.ends = ends});
    }
    press(c.command);
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(enables(), c.scans.size());
    EXPECT_TRUE(printDialogs_.records.empty());

    printDialogs_.cancel();
    scans_.push_back({.page = kBack});
    press(1);
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(enables(), c.scans.size() + 1);
    EXPECT_EQ(printDialogs_.records.size(), 1u);
    for (const auto& text : messageTexts()) {
        EXPECT_NE(text, kInUse);
    }
    EXPECT_EQ(workflows::workflowState().acquisitionsRunning, 0);
}

using Ends = Scan::Ends;
const FailureCase kFailureCases[] = {
    {"CopyNotEnabled", 1, {Ends::EnableRefused}, 0},
    {"CopyCancelled", 1, {Ends::Cancelled}, 0},
    {"ScanClosedBySource", 0, {Ends::ClosedBySource}, 0},
    {"IdCardSecondSideNotEnabled", 2, {Ends::WithPage, Ends::EnableRefused}, 1},
    {"IdCardSecondSideClosedBySource", 2, {Ends::WithPage, Ends::ClosedBySource}, 1},
    {"ContinuousScanCancelled", 4, {Ends::Cancelled}, 1},
    {"CopyDriverLost", 1, {Ends::DriverLost}, 1},
};
INSTANTIATE_TEST_SUITE_P(Failures, AfterAnAcquisitionWithoutPage,
                         ::testing::ValuesIn(kFailureCases),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace vantrel::test
