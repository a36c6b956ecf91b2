// Printing through a real CUPS queue: scripts/cups.sh starts the scheduler (never a second one)
// and makes a queue whose device is a PDF file and whose driver is the Generic PDF printer; the
// printer component prints a copy to it as the copy workflow does, and the PDF that CUPS writes is
// checked: one page of the queue's paper, the picture on it the right way round, stored lossless.
// CUPS turns a landscape job onto a portrait sheet (90° counter-clockwise).
// Runs as root only (cupsd and /etc/cups); elsewhere it is skipped.

#include "app/main_window.h"
#include "devices/manager_library.h"
#include "devices/printer_job.h"
#include "tests/devices/print_test_support.h"
#include "tests/support/sandbox.h"
#include "tests/support/sane_config.h"
#include "tests/support/scripted_dialogs.h"
#include "ui/button_controls.h"
#include "ui/list_controls.h"
#include "ui/text_controls.h"
#include "ui/window.h"
#include "workflows/control_names.h"
#include "workflows/scan_workflow.h"
#include "workflows/workflow_state.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <chrono>
#include <gtest/gtest.h>
#include <unistd.h>

namespace vantrel::test {
namespace {

using namespace Qt::StringLiterals;

const QString kScript = QStringLiteral(VANTREL_TEST_SOURCE_DIR "/scripts/cups.sh");

int runScript(const QStringList& arguments, QString* errors = nullptr) {
    QProcess process;
    process.start(u"bash"_s, QStringList{kScript} + arguments);
    process.waitForFinished(60000);
    if (errors) {
        *errors = QString::fromUtf8(process.readAllStandardError());
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

class CupsPrintTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (geteuid() != 0 ||
            QStandardPaths::findExecutable(u"cupsd"_s, {u"/usr/sbin"_s}).isEmpty()) {
            return;
        }
        QString errors;
        started_ = runScript({u"start"_s}, &errors) == 0;
        startErrors_ = errors.toStdString();
    }
    static void TearDownTestSuite() {
        if (started_) {
            runScript({u"stop"_s});
        }
    }

    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "needs root to run cupsd";
        }
        ASSERT_TRUE(started_) << startErrors_;
        std::filesystem::permissions(sandbox.path(), std::filesystem::perms::all);
        output_ = sandbox / "queue.pdf";
        ASSERT_EQ(runScript({u"queue"_s, queue_, QString::fromStdString(output_.string())}), 0);
    }
    void TearDown() override {
        if (started_) {
            runScript({u"unqueue"_s, queue_});
        }
    }

    // Waits until the queue has no job left and its file is a complete PDF.
    bool waitForOutput() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            const bool idle = runTool(u"lpstat"_s, {u"-o"_s, queue_}).trimmed().isEmpty();
            if (idle && std::filesystem::exists(output_) &&
                std::filesystem::file_size(output_) > 0 &&
                !pdfInfo(output_)[u"Pages"_s].isEmpty()) {
                return true;
            }
            QThread::msleep(50);
        }
        return false;
    }

    static inline bool started_ = false;
    static inline std::string startErrors_;
    Sandbox sandbox;
    ScriptedDialogs dialogs;
    ScriptedPrintDialogs printDialogs;
    QString queue_ = u"vantrel_test_%1"_s.arg(getpid());
    std::filesystem::path output_;
};

struct CopyRow {
    const char* name;
    int width, height;
    // The colours at the centres of the sheet's quadrants: top-left, top-right, bottom-left,
    // bottom-right, as the sheet comes out of CUPS.
    QRgb colours[4];
};

const CopyRow kCopyRows[] = {
    {"PortraitPage", 60, 80, {0xFF0000, 0x00FF00, 0x0000FF, 0x000000}},
    // Turned counter-clockwise onto a portrait sheet.
    {"LandscapePage", 80, 60, {0x00FF00, 0x000000, 0xFF0000, 0x0000FF}},
};

class CupsCopyTest : public CupsPrintTest, public testing::WithParamInterface<CopyRow> {};

TEST_P(CupsCopyTest, CopyReachesTheQueueAsOneLosslessPage) {
    const CopyRow& row = GetParam();
    printDialogs.accept(queue_.toStdString());
    devices::PrinterJob printer;
    const imaging::PictureHandle picture = registerPicture(quadrantImage(row.width, row.height));
    // The copy workflow's steps.
    ASSERT_TRUE(printer.StartPrinting(true, true, std::nullopt, row.width > row.height ? 1 : 0));
    EXPECT_TRUE(dialogs.records().empty()); // a queue, not print to file
    EXPECT_EQ(printer.deviceName(), queue_.toStdString());
    ASSERT_NE(printer.progressWindow(), nullptr);
    EXPECT_TRUE(printer.progressWindow()->destination().startsWith(queue_ + u" 上的 file:"_s));
    const QSizeF paper = printer.printer()->pageLayout().fullRect(QPageLayout::Point).size();
    printer.DrawPicture(picture, 0, 0, printer.PageWidth(), printer.PageHeight());
    printer.EndPrinting();
    imaging::UnloadPicture(picture);

    ASSERT_TRUE(waitForOutput()) << "no PDF from the queue";
    EXPECT_EQ(pdfInfo(output_)[u"Pages"_s], u"1"_s);
    const QSizeF sheet = pdfPageSize(output_);
    EXPECT_NEAR(sheet.width(), std::min(paper.width(), paper.height()), 1);
    EXPECT_NEAR(sheet.height(), std::max(paper.width(), paper.height()), 1);

    const std::vector<PdfImage> images = pdfImages(output_);
    ASSERT_FALSE(images.empty()) << "the picture is missing";
    for (const PdfImage& image : images) {
        EXPECT_NE(image.encoding, u"jpeg"_s);
    }
    const QImage page = renderPage(output_, 36);
    ASSERT_FALSE(page.isNull());
    const QPoint centres[4] = {{page.width() / 4, page.height() / 4},
                               {page.width() * 3 / 4, page.height() / 4},
                               {page.width() / 4, page.height() * 3 / 4},
                               {page.width() * 3 / 4, page.height() * 3 / 4}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(page.pixel(centres[i]) & 0xFFFFFF, row.colours[i]) << "quadrant " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Copies, CupsCopyTest, testing::ValuesIn(kCopyRows),
                         [](const auto& copy) { return std::string(copy.param.name); });

TEST_F(CupsPrintTest, CancelledDialogSendsNoJob) {
    printDialogs.cancel();
    devices::PrinterJob printer;
    EXPECT_FALSE(printer.StartPrinting(true, true, std::nullopt, 0));
    printer.EndPrinting();
    EXPECT_TRUE(runTool(u"lpstat"_s, {u"-W"_s, u"all"_s, u"-o"_s, queue_}).trimmed().isEmpty());
    EXPECT_TRUE(
        runTool(u"lpstat"_s, {u"-W"_s, u"completed"_s, u"-o"_s, queue_}).trimmed().isEmpty());
    EXPECT_FALSE(std::filesystem::exists(output_));
}

// The copy commands of the real main window, with pages from SANE's test scanner, printed through
// the queue.
class CupsWorkflowCopyTest : public CupsPrintTest {
protected:
    void SetUp() override {
        CupsPrintTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        workflows::workflowState() = {};
        useSaneTestConfig();
        main_ = std::make_unique<app::MainWindow>(
            app::ProgramPaths(sandbox.path()),
            devices::ManagerLibrary::fromFile(VANTREL_TWAIN_DSM_PATH));
        main_->create();
        auto& window = main_->window();
        QTest::mouseClick(&window.control<ui::Button>(control::kRefreshButton), Qt::LeftButton);
        auto& devices = window.control<ui::DropDownList>(control::kDeviceList);
        ASSERT_TRUE(QTest::qWaitFor([&] { return devices.count() > 0; }, 10000));
        devices.setSelection(0);
        window.control<ui::EditBox>(control::kResolutionBox).setContent(u"30"_s);
        printDialogs.accept(queue_.toStdString());
    }
    void TearDown() override {
        main_.reset();
        workflows::workflowState() = {};
        CupsPrintTest::TearDown();
    }

    void expectOneLosslessPage() {
        ASSERT_TRUE(waitForOutput()) << "no PDF from the queue";
        EXPECT_EQ(pdfInfo(output_)[u"Pages"_s], u"1"_s);
        const std::vector<PdfImage> images = pdfImages(output_);
        ASSERT_FALSE(images.empty()) << "the page is missing";
        EXPECT_NE(images.front().encoding, u"jpeg"_s);
        // The test scanner's colour pattern covers the sheet: its centre is not blank paper.
        const QImage page = renderPage(output_, 36);
        ASSERT_FALSE(page.isNull());
        EXPECT_NE(page.pixel(page.width() / 2, page.height() / 2) & 0xFFFFFF, 0xFFFFFFu);
        if (const char* keep = std::getenv("VANTREL_KEEP_PRINTS")) {
            std::filesystem::copy_file(
                output_,
                std::filesystem::path(keep) /
                    (queue_.toStdString() + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".pdf"),
                std::filesystem::copy_options::overwrite_existing);
        }
    }

    std::unique_ptr<app::MainWindow> main_;
};

TEST_F(CupsWorkflowCopyTest, NormalCopyPrintsTheScannedPage) {
    main_->scanWorkflow().OnToolbarClick(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !printDialogs.records.empty(); }, 20000));
    EXPECT_EQ(printDialogs.records[0].orientation, QPageLayout::Portrait);
    expectOneLosslessPage();
}

TEST_F(CupsWorkflowCopyTest, IdCardCopyPrintsBothSidesOnOneSheet) {
    dialogs.answerMessage(platform::DialogAnswer::Ok); // the second side is ready
    main_->scanWorkflow().OnToolbarClick(2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !printDialogs.records.empty(); }, 20000));
    expectOneLosslessPage();
    EXPECT_EQ(dialogs.messages().size(), 1u);
}

} // namespace
} // namespace vantrel::test
