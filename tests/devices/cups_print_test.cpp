// Printing through a real CUPS queue: scripts/cups.sh starts the scheduler (never a second one)
// and makes a queue whose device is a PDF file and whose driver is the Generic PDF printer; the
// printer component prints a copy to it as the copy workflow does, and the PDF that CUPS writes is
// checked: one page of the queue's paper, the picture on it the right way round, stored lossless.
// CUPS turns a landscape job onto a portrait sheet (90° counter-clockwise). The job's name must
// reach both the CUPS job and the title of the PDF that comes out, and the job must carry the
// options Qt's own print engine would have sent.
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

#include <QPainter>
#include <QPrinterInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <chrono>
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <map>
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

struct QueueJob {
    int id = 0;
    std::string title;
};

// The queue's jobs, pending and completed, oldest first.
std::vector<QueueJob> queueJobs(const QString& queue) {
    cups_job_t* jobs = nullptr;
    const int n =
        cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue.toUtf8().constData(), 0, CUPS_WHICHJOBS_ALL);
    std::vector<QueueJob> list;
    for (int i = 0; i < n; ++i) {
        list.push_back({jobs[i].id, jobs[i].title ? jobs[i].title : ""});
    }
    cupsFreeJobs(n, jobs);
    std::sort(list.begin(), list.end(), [](auto& a, auto& b) { return a.id < b.id; });
    return list;
}

// Jobs of the queue newer than job `after`.
std::vector<QueueJob> jobsAfter(const QString& queue, int after) {
    std::vector<QueueJob> newer;
    for (const QueueJob& job : queueJobs(queue)) {
        if (job.id > after) {
            newer.push_back(job);
        }
    }
    return newer;
}

int lastJobId(const QString& queue) {
    const auto jobs = queueJobs(queue);
    return jobs.empty() ? 0 : jobs.back().id;
}

// The attributes CUPS keeps for a job, as text, without those that tell one job from another
// (ids, times, names, sizes, states).
std::map<std::string, std::string> jobAttributes(int id) {
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    const std::string uri = "ipp://localhost/jobs/" + std::to_string(id);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "all");
    ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    std::map<std::string, std::string> attributes;
    static const std::string_view kPerJob[] = {"job-id",
                                               "job-uri",
                                               "job-uuid",
                                               "job-more-info",
                                               "job-name",
                                               "job-printer-up-time",
                                               "job-k-octets",
                                               "document-name-supplied",
                                               "job-state-reasons",
                                               "job-state-message",
                                               "job-printer-state-message",
                                               "job-printer-state-reasons",
                                               "time-at-",
                                               "date-time-at-"};
    for (ipp_attribute_t* a = ippFirstAttribute(response); a; a = ippNextAttribute(response)) {
        const char* name = ippGetName(a);
        if (!name || ippGetGroupTag(a) != IPP_TAG_JOB ||
            std::any_of(std::begin(kPerJob), std::end(kPerJob), [&](std::string_view p) {
                return std::string_view(name).starts_with(p);
            })) {
            continue;
        }
        char text[1024];
        ippAttributeString(a, text, sizeof text);
        attributes[name] = text;
    }
    ippDelete(response);
    return attributes;
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

// --- The job's name
// -------------------------------------------------------------------------------

struct TitleRow {
    const char* name;
    std::string jobName;
    QString title; // of the CUPS job and of the PDF that comes out
};

const TitleRow kTitleRows[] = {
    // 名 (U+540D) and 复 (U+590D) hold the byte 0x0D, which a PDF literal string turns into 0x0A.
    {"Unnamed", "", u"未命名打印作业"_s},
    {"NamedWithCarriageReturnByte", "复印测试", u"复印测试"_s},
    // Bytes a PDF literal string has to escape: parentheses and backslash; 作 holds 0x5C.
    {"ParenthesesAndBackslash", "报表(二)\\草稿 作业", u"报表(二)\\草稿 作业"_s},
};

class CupsTitleTest : public CupsPrintTest, public testing::WithParamInterface<TitleRow> {};

TEST_P(CupsTitleTest, NameReachesTheJobAndThePrintedPdfIntact) {
    const TitleRow& row = GetParam();
    const int before = lastJobId(queue_);
    printDialogs.accept(queue_.toStdString());
    devices::PrinterJob printer;
    printer.setJobName(row.jobName);
    const imaging::PictureHandle picture = registerPicture(quadrantImage(60, 80));
    ASSERT_TRUE(printer.StartPrinting(true, false));
    printer.DrawPicture(picture, 0, 0, printer.PageWidth(), printer.PageHeight());
    printer.EndPrinting();
    imaging::UnloadPicture(picture);

    ASSERT_TRUE(waitForOutput()) << "no PDF from the queue";
    EXPECT_EQ(pdfInfo(output_)[u"Title"_s], row.title);
    const auto jobs = jobsAfter(queue_, before);
    ASSERT_EQ(jobs.size(), 1u) << "one job for one print";
    EXPECT_EQ(QString::fromStdString(jobs[0].title), row.title);
}

INSTANTIATE_TEST_SUITE_P(Names, CupsTitleTest, testing::ValuesIn(kTitleRows),
                         [](const auto& row) { return std::string(row.param.name); });

// A PDF printed to a file, sent to a printer later: the PDF is read again by cups-filters.
TEST_F(CupsPrintTest, PdfPrintedToAFileKeepsItsTitleWhenPrintedLater) {
    printDialogs.accept(); // print to file
    const auto file = sandbox / "copy.pdf";
    dialogs.answerSaveFile(file.string());
    devices::PrinterJob printer;
    ASSERT_TRUE(printer.StartPrinting(true, false));
    printer.EndPrinting();
    ASSERT_TRUE(std::filesystem::exists(file));

    runTool(u"lp"_s, {u"-d"_s, queue_, QString::fromStdString(file.string())});
    ASSERT_TRUE(waitForOutput()) << "no PDF from the queue";
    EXPECT_EQ(pdfInfo(output_)[u"Title"_s], u"未命名打印作业"_s);
}

// --- The job's options: those Qt's own print engine sends
// --------------------------------------------

struct OptionsRow {
    const char* name;
    int orientation; // 1 landscape
    int copies;
    bool collate;
    QPrinter::DuplexMode duplex;
    QStringList dialogOptions; // as the print dialog leaves them
};

const OptionsRow kOptionsRows[] = {
    {"PortraitOneCopy", 0, 1, false, QPrinter::DuplexNone, {}},
    {"LandscapeCollatedCopiesBothSides",
     1,
     2,
     true,
     QPrinter::DuplexAuto,
     {u"job-priority"_s, u"60"_s, u"page-ranges"_s, u"1"_s}},
    {"UncollatedCopiesLongEdge", 0, 3, false, QPrinter::DuplexLongSide, {}},
};

class CupsOptionsTest : public CupsPrintTest, public testing::WithParamInterface<OptionsRow> {
protected:
    // Waits for the queue's output of the job after `before`, then takes the file away so that
    // the next job's output is told apart. The job's id, 0 when none came.
    int nextJob(int before) {
        if (!waitForOutput()) {
            return 0;
        }
        std::filesystem::remove(output_);
        const auto jobs = jobsAfter(queue_, before);
        return jobs.size() == 1 ? jobs[0].id : 0;
    }
};

TEST_P(CupsOptionsTest, JobCarriesTheOptionsQtWouldSend) {
    const OptionsRow& row = GetParam();
    const QImage page = quadrantImage(60, 80);

    // Qt's own print engine sends the job.
    int before = lastJobId(queue_);
    {
        QPrinter qt(QPrinterInfo::printerInfo(queue_), QPrinter::HighResolution);
        qt.setPageOrientation(row.orientation == 1 ? QPageLayout::Landscape
                                                   : QPageLayout::Portrait);
        qt.setCopyCount(row.copies);
        qt.setCollateCopies(row.collate);
        qt.setDuplex(row.duplex);
        if (!row.dialogOptions.isEmpty()) {
            qt.printEngine()->setProperty(ScriptedPrintDialogs::kCupsOptionsProperty,
                                          row.dialogOptions);
        }
        qt.setDocName(u"未命名打印作业"_s);
        QPainter painter(&qt);
        painter.drawImage(painter.window(), page);
    }
    const int qtJob = nextJob(before);
    ASSERT_NE(qtJob, 0);

    // The printer component sends the same job.
    before = lastJobId(queue_);
    printDialogs.push(
        {.printer = queue_.toStdString(), .duplex = row.duplex, .cupsOptions = row.dialogOptions});
    devices::PrinterJob printer;
    printer.setCopies(row.copies);
    printer.setCollate(row.collate ? 1 : 0);
    const imaging::PictureHandle picture = registerPicture(page);
    ASSERT_TRUE(printer.StartPrinting(true, false, std::nullopt, row.orientation));
    printer.DrawPicture(picture, 0, 0, printer.PageWidth(), printer.PageHeight());
    printer.EndPrinting();
    imaging::UnloadPicture(picture);
    const int ourJob = nextJob(before);
    ASSERT_NE(ourJob, 0);

    const auto expected = jobAttributes(qtJob);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(jobAttributes(ourJob), expected);
}

INSTANTIATE_TEST_SUITE_P(Options, CupsOptionsTest, testing::ValuesIn(kOptionsRows),
                         [](const auto& row) { return std::string(row.param.name); });

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
