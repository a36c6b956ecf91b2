// The toolbar's commands on the real main window: pages on the preview in each display mode,
// saving, the continuous loops with the SANE test scanner, and waits that end when a scan fails.

#include "imaging/bitmap.h"
#include "tests/support/recording_desktop.h"
#include "tests/workflows/bmp_fixture.h"
#include "tests/workflows/workflow_fixture.h"
#include "ui/button_controls.h"
#include "ui/container_controls.h"
#include "ui/list_controls.h"
#include "ui/range_controls.h"
#include "ui/text_controls.h"
#include "ui/toolbar.h"
#include "workflows/control_names.h"
#include "workflows/file_stem.h"
#include "workflows/panel.h"
#include "workflows/scan_workflow.h"
#include "workflows/workflow_state.h"

#include <QTest>
#include <QTimer>
#include <chrono>
#include <functional>
#include <regex>

using namespace Qt::StringLiterals;

namespace vantrel::test {
namespace {

constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kRed = 0x0000FF;
constexpr std::uint32_t kBlue = 0xFF0000;
constexpr std::uint32_t kBlack = 0x000000;

class ScanWorkflowTest : public ::testing::Test, public WorkflowFixture {
protected:
    void clickToolbar(int index) { main_->scanWorkflow().OnToolbarClick(index); }

    imaging::DrawingSurface& surface() { return workflows::previewSurface(window()); }

    std::uint32_t panelPixel(int x, int y) {
        imaging::Bitmap bitmap;
        bitmap.loadData(surface().getPicture());
        return bitmap.getPixel(x, y);
    }

    std::vector<std::filesystem::path> savedFiles() {
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(sandbox_ / "扫描图片")) {
            files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        return files;
    }

    RecordingDesktop desktop_;
};

TEST_F(ScanWorkflowTest, WithoutADeviceScanCommandsSayRefreshAndNeverBeep) {
    startWithoutScanner();
    for (int index : {0, 1, 2, 4, 5}) {
        clickToolbar(index);
    }
    const auto messages = dialogs_.messages();
    ASSERT_EQ(messages.size(), 5u);
    for (const auto& m : messages) {
        EXPECT_EQ(m.text, "请先 【刷新】 设备，并选择设备");
        EXPECT_EQ(m.icon, platform::MessageIcon::Error);
        EXPECT_EQ(m.caption, "信息：");
    }
    EXPECT_EQ(dialogs_.beeps(), 0);
    EXPECT_FALSE(workflows::workflowState().continuousMode);
}

TEST_F(ScanWorkflowTest, LinksAndTheSaveFolderWorkWithoutADevice) {
    startWithoutScanner();
    for (int index : {9, 10, 12, 13, 7}) {
        clickToolbar(index);
    }
    ASSERT_EQ(desktop_.urls.size(), 4u);
    EXPECT_NE(desktop_.urls[0].find("id=news&cate=soft_news"), std::string::npos);
    EXPECT_NE(desktop_.urls[2].find("id=news&cate=soft_help"), std::string::npos);
    EXPECT_EQ(desktop_.paths, std::vector<std::string>{(sandbox_ / "扫描图片").string()});
    EXPECT_TRUE(dialogs_.records().empty());
}

TEST_F(ScanWorkflowTest, PlainPageReplacesThePreviewAndSetsScrollRanges) {
    startWithoutScanner();
    auto& workflow = main_->scanWorkflow();
    auto& h = control<ui::ScrollBar>(control::kPreviewHScroll);
    auto& v = control<ui::ScrollBar>(control::kPreviewVScroll);

    workflow.OnPageAcquired(pageWithSquare(1000, 900, kWhite, kRed, 10, 10, 5), 1000, 900);
    EXPECT_EQ(surface().width(), 1000);
    EXPECT_EQ(surface().height(), 900);
    EXPECT_EQ(h.maximum(), 1000 - 598);
    EXPECT_EQ(v.maximum(), 900 - 774);
    EXPECT_EQ(panelPixel(12, 12), kRed);
    EXPECT_TRUE(control<ui::PictureBox>(control::kThumbnail).hasPicture());

    h.setValue(300); // scrolled, then a smaller page: ranges 0 and the page back in view
    auto* panel = dynamic_cast<QWidget*>(window().find(control::kPreviewSurface));
    const QPoint origin = control<ui::PictureBox>(control::kPreviewFrame).clientOrigin();
    ASSERT_EQ(panel->pos(), origin - QPoint(300, 0));
    workflow.StartScan();
    // As a continuous cycle waits for its page: the handler's last step ends that wait.
    workflows::workflowState().scanPending = true;
    workflow.OnPageAcquired(pageWithSquare(200, 100, kWhite, kBlue, 0, 0, 3), 200, 100);
    EXPECT_EQ(h.maximum(), 0);
    EXPECT_EQ(v.maximum(), 0);
    EXPECT_EQ(panel->pos(), origin);
    EXPECT_EQ(panelPixel(1, 1), kBlue);
    EXPECT_FALSE(workflows::workflowState().scanPending);
}

TEST_F(ScanWorkflowTest, OverlayKeepsEarlierPagesWithTheChosenColourTransparent) {
    writeSettings({{"扫描叠加", "1"}, {"白色透明", "16777215"}, {"色差值", "20"}});
    startWithoutScanner();
    auto& workflow = main_->scanWorkflow();
    workflow.OnPageAcquired(pageWithSquare(50, 40, kWhite, kRed, 0, 0, 10), 50, 40);
    workflow.StartScan(); // overlay on: the panel is not cleared
    // Near-white paper (distance 6) is pulled to white and so lets the first page through.
    workflow.OnPageAcquired(pageWithSquare(50, 40, 0xFEFEFC, kBlue, 20, 20, 10), 50, 40);
    EXPECT_EQ(panelPixel(5, 5), kRed);
    EXPECT_EQ(panelPixel(25, 25), kBlue);
    EXPECT_EQ(panelPixel(45, 5), kWhite);
    EXPECT_FALSE(control<ui::PictureBox>(control::kProgressPanel).isVisible());
    EXPECT_EQ(control<ui::Label>(control::kProgressPercent).caption(), u"100%"_s);
}

// The window's messages are handled while a pass runs, not only after it: an event waiting
// when the page arrives is handled with the progress panel showing.
TEST_F(ScanWorkflowTest, APassHandlesTheWindowsMessagesWhileItRuns) {
    writeSettings({{"扫描叠加", "1"}, {"白色透明", "16777215"}, {"色差值", "20"}});
    startWithoutScanner();
    bool handled = false;
    bool panelShown = false;
    QTimer::singleShot(0, [&] {
        handled = true;
        panelShown = !control<ui::PictureBox>(control::kProgressPanel).isHidden();
    });
    main_->scanWorkflow().OnPageAcquired(pageWithSquare(50, 40, 0xFEFEFC, kBlue, 20, 20, 10), 50,
                                         40);
    EXPECT_TRUE(handled);
    EXPECT_TRUE(panelShown);
}

TEST_F(ScanWorkflowTest, BlackKeyIsDrawnTransparentToo) {
    writeSettings({{"扫描叠加", "1"}, {"白色透明", "0"}});
    startWithoutScanner();
    auto& workflow = main_->scanWorkflow();
    workflow.OnPageAcquired(pageWithSquare(20, 20, kRed, kRed, 0, 0, 1), 20, 20);
    workflow.OnPageAcquired(pageWithSquare(20, 20, kBlack, kBlue, 0, 0, 5), 20, 20);
    EXPECT_EQ(panelPixel(2, 2), kBlue);
    EXPECT_EQ(panelPixel(10, 10), kRed);
}

TEST_F(ScanWorkflowTest, BackgroundModeDrawsThePageOverThePictureAndKeepsTheThumbnail) {
    startWithoutScanner();
    auto& workflow = main_->scanWorkflow();
    auto& thumbnail = control<ui::PictureBox>(control::kThumbnail);
    workflow.OnPageAcquired(pageWithSquare(40, 30, kRed, kRed, 0, 0, 1), 40, 30);
    const QImage thumbnailBefore = thumbnail.clientImage(); // the earlier, plain page
    ASSERT_EQ(thumbnailBefore.pixel(thumbnailBefore.width() / 2, thumbnailBefore.height() / 2),
              qRgb(255, 0, 0));

    const auto background = pageWithSquare(10, 10, kBlue, kBlue, 0, 0, 1);
    const auto file =
        sandbox_.write("background.bmp", std::string(background.begin(), background.end()));
    control<ui::EditBox>(control::kBackgroundPathBox).setContent(QString::fromStdString(file));
    workflow.OnPageAcquired(pageWithSquare(40, 30, kWhite, kBlack, 5, 5, 4), 40, 30);
    EXPECT_EQ(panelPixel(6, 6), kBlack);
    EXPECT_EQ(panelPixel(30, 20), kBlue); // the background, stretched to the page
    EXPECT_EQ(thumbnail.clientImage(), thumbnailBefore);
}

struct SaveCase {
    const char* name;
    int format;
    const char* extension;
    const char* magic;
};

void PrintTo(const SaveCase& c, std::ostream* os) {
    *os << c.name;
}

class SaveFormats : public ScanWorkflowTest, public ::testing::WithParamInterface<SaveCase> {};

TEST_P(SaveFormats, ManualSaveWritesTheFileListsItAndSaysItsName) {
    startWithoutScanner();
    control<ui::DropDownList>(control::kFormatList).setSelection(GetParam().format);
    main_->scanWorkflow().OnPageAcquired(pageWithSquare(30, 20, kWhite, kRed, 0, 0, 5), 30, 20);
    QTest::mouseClick(&control<ui::Button>(control::kSaveButton), Qt::LeftButton);

    const auto files = savedFiles();
    ASSERT_EQ(files.size(), 1u);
    const std::string name = files[0].filename().string();
    EXPECT_TRUE(
        std::regex_match(name, std::regex(std::string("[0-9]{14}\\") + GetParam().extension)));
    EXPECT_EQ(Sandbox::read(files[0]).rfind(GetParam().magic, 0), 0u);
    auto& list = control<ui::ListView>(control::kSavedFilesList);
    ASSERT_EQ(list.rowCount(), 1);
    EXPECT_EQ(list.cellText(0, 0), u"1"_s);
    EXPECT_EQ(list.cellText(0, 1).toStdString(), files[0].string());
    const auto messages = dialogs_.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "文件保存成功,文件名为 " + name);
    EXPECT_EQ(messages[0].icon, platform::MessageIcon::None);
    EXPECT_TRUE(std::filesystem::exists(sandbox_ / "photo.tem"));
}

const SaveCase kSaveCases[] = {
    {"Jpg", 0, ".jpg", "\xFF\xD8\xFF"},
    {"Bmp", 1, ".bmp", "BM"},
    {"Png", 2, ".png", "\x89PNG"},
};

INSTANTIATE_TEST_SUITE_P(Formats, SaveFormats, ::testing::ValuesIn(kSaveCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(ScanWorkflowTest, SavesInTheSameSecondKeepEveryFile) {
    startWithoutScanner();
    control<ui::DropDownList>(control::kFormatList).setSelection(1);
    for (int i = 0; i < 3; ++i) {
        QTest::mouseClick(&control<ui::Button>(control::kSaveButton), Qt::LeftButton);
    }
    // Three saves take far less than three seconds, so at least two share a second.
    EXPECT_EQ(savedFiles().size(), 3u);
    EXPECT_EQ(control<ui::ListView>(control::kSavedFilesList).cellText(2, 0), u"3"_s);
}

// A save folder that cannot take the file: the failure message with the code and a second line
// saying what is wrong with the folder; nothing is written anywhere else.
struct FolderCase {
    const char* name;
    std::function<std::string(const Sandbox&)> folder; // prepares it, returns the box's text
    std::string reasonStart;
};
void PrintTo(const FolderCase& c, std::ostream* os) {
    *os << c.name;
}
class UnusableSaveFolder : public ScanWorkflowTest,
                           public ::testing::WithParamInterface<FolderCase> {};

TEST_P(UnusableSaveFolder, SaysWhyAndWritesNothingElsewhere) {
    startWithoutScanner();
    const std::string folder = GetParam().folder(sandbox_);
    control<ui::EditBox>(control::kSaveFolderBox).setContent(QString::fromStdString(folder));
    const auto before = std::filesystem::current_path();
    QTest::mouseClick(&control<ui::Button>(control::kSaveButton), Qt::LeftButton);
    const auto messages = dialogs_.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "文件保存是失败,错误代码：-4\n" + GetParam().reasonStart + folder);
    EXPECT_EQ(control<ui::ListView>(control::kSavedFilesList).rowCount(), 0);
    for (const auto& dir : {before, std::filesystem::path("/")}) {
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            EXPECT_FALSE(
                std::regex_match(entry.path().filename().string(), std::regex("[0-9]{14}.*\\.jpg")))
                << entry.path();
        }
    }
}

const FolderCase kFolderCases[] = {
    {"Empty", [](const Sandbox&) { return std::string(); }, "没有选择保存位置，请先选择保存目录"},
    {"Missing", [](const Sandbox& box) { return (box / "gone").string(); }, "保存位置不存在："},
    {"AFile", [](const Sandbox& box) { return box.write("file", "x").string(); },
     "保存位置不是文件夹："},
    {"ReadOnly",
     [](const Sandbox& box) {
         std::filesystem::create_directory(box / "locked");
         std::filesystem::permissions(box / "locked", std::filesystem::perms(0555));
         return (box / "locked").string();
     },
     "保存位置不能写入："},
};
INSTANTIATE_TEST_SUITE_P(Folders, UnusableSaveFolder, ::testing::ValuesIn(kFolderCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(ScanWorkflowTest, SaveNeverReplacesAFileThatAppearedUnderItsName) {
    startWithoutScanner();
    control<ui::DropDownList>(control::kFormatList).setSelection(1);
    // Files of another program under this second's and the next seconds' names.
    const auto now = std::chrono::system_clock::now();
    std::vector<std::filesystem::path> theirs;
    for (int s = 0; s < 3; ++s) {
        const std::time_t t = std::chrono::system_clock::to_time_t(now + std::chrono::seconds(s));
        std::tm local{};
        localtime_r(&t, &local);
        theirs.push_back(
            sandbox_.write("扫描图片/" + workflows::MakeFileStem(local) + ".bmp", "theirs"));
    }
    QTest::mouseClick(&control<ui::Button>(control::kSaveButton), Qt::LeftButton);
    for (const auto& file : theirs) {
        EXPECT_EQ(Sandbox::read(file), "theirs");
    }
    const auto files = savedFiles();
    ASSERT_EQ(files.size(), 4u);
    const auto listed =
        control<ui::ListView>(control::kSavedFilesList).cellText(0, 1).toStdString();
    EXPECT_TRUE(std::regex_match(listed, std::regex(".*/[0-9]{14}-2\\.bmp"))) << listed;
    EXPECT_EQ(Sandbox::read(listed).rfind("BM", 0), 0u);
    ASSERT_EQ(dialogs_.messages().size(), 1u);
    EXPECT_EQ(dialogs_.messages()[0].text,
              "文件保存成功,文件名为 " + std::filesystem::path(listed).filename().string());
}

// The temporary picture cannot be written (here a folder has its name): the save fails saying so
// and converts nothing, rather than saving whatever the file held before under a new name.
TEST_F(ScanWorkflowTest, ATemporaryPictureThatCannotBeWrittenFailsTheSave) {
    startWithoutScanner();
    std::filesystem::create_directory(sandbox_ / "photo.tem");
    main_->scanWorkflow().OnPageAcquired(pageWithSquare(30, 20, kWhite, kRed, 0, 0, 5), 30, 20);
    QTest::mouseClick(&control<ui::Button>(control::kSaveButton), Qt::LeftButton);
    EXPECT_TRUE(savedFiles().empty());
    EXPECT_EQ(control<ui::ListView>(control::kSavedFilesList).rowCount(), 0);
    ASSERT_EQ(dialogs_.messages().size(), 1u);
    EXPECT_EQ(dialogs_.messages()[0].text, "文件保存是失败,错误代码：-4\n无法写入临时图片文件：" +
                                               (sandbox_ / "photo.tem").string());
}

// Records what a save shows while it runs.
class Watcher : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ShowToParent && watched == panel) {
            panelShown = true;
            title = titleLabel->caption();
        }
        if (event->type() == QEvent::EnabledChange && watched == toolbar && !toolbar->isEnabled()) {
            commandsDisabled = true;
        }
        return false;
    }
    QWidget* panel = nullptr;
    QWidget* toolbar = nullptr;
    bool panelShown = false;
    ui::Label* titleLabel = nullptr;
    QString title; // of the panel, when it was shown
    bool commandsDisabled = false;
};

// A save that takes longer than its progress delay (none here) shows the progress panel and
// disables the commands while it runs, and leaves neither behind.
TEST_F(ScanWorkflowTest, ALongSaveShowsItsProgressAndBlocksTheCommandsUntilItEnds) {
    startWithoutScanner();
    control<ui::DropDownList>(control::kFormatList).setSelection(2);
    main_->scanWorkflow().OnPageAcquired(pageWithSquare(300, 200, kWhite, kRed, 0, 0, 50), 300,
                                         200);
    main_->pictureOutput().setProgressDelay(std::chrono::milliseconds(0));
    Watcher watcher;
    watcher.panel = dynamic_cast<QWidget*>(window().find(control::kProgressPanel));
    watcher.toolbar = dynamic_cast<QWidget*>(window().find(control::kToolbar));
    watcher.titleLabel = &control<ui::Label>(control::kProgressTitle);
    watcher.panel->installEventFilter(&watcher);
    watcher.toolbar->installEventFilter(&watcher);
    QTest::mouseClick(&control<ui::Button>(control::kSaveButton), Qt::LeftButton);

    EXPECT_TRUE(watcher.panelShown);
    EXPECT_EQ(watcher.title, u"正在保存图片"_s);
    EXPECT_EQ(watcher.titleLabel->caption(), u"正在处理图片"_s); // as a pixel pass shows it
    EXPECT_TRUE(watcher.commandsDisabled);
    EXPECT_FALSE(watcher.panel->isVisible());
    EXPECT_TRUE(watcher.toolbar->isEnabled());
    EXPECT_EQ(control<ui::Label>(control::kProgressPercent).caption(), u"100%"_s);
    ASSERT_EQ(savedFiles().size(), 1u);
    ASSERT_EQ(dialogs_.messages().size(), 1u);
    EXPECT_EQ(dialogs_.messages()[0].text,
              "文件保存成功,文件名为 " + savedFiles()[0].filename().string());
}

// The resolution a saved file carries, read from its bytes: JFIF units and densities, PNG pHYs,
// BMP pixels per metre, as "units x y" ("none" when the file carries none).
std::string savedResolution(const std::string& bytes) {
    auto u16 = [&](std::size_t at) {
        return std::uint8_t(bytes[at]) << 8 | std::uint8_t(bytes[at + 1]);
    };
    auto be32 = [&](std::size_t at) { return std::uint32_t(u16(at)) << 16 | u16(at + 2); };
    auto le32 = [&](std::size_t at) {
        return std::uint32_t(std::uint8_t(bytes[at])) |
               std::uint32_t(std::uint8_t(bytes[at + 1])) << 8 |
               std::uint32_t(std::uint8_t(bytes[at + 2])) << 16 |
               std::uint32_t(std::uint8_t(bytes[at + 3])) << 24;
    };
    if (bytes.rfind("\xFF\xD8\xFF\xE0", 0) == 0 &&
        bytes.compare(6, 5, std::string("JFIF\0", 5)) == 0) {
        return "dpi" + std::to_string(int(std::uint8_t(bytes[13]))) + " " +
               std::to_string(u16(14)) + " " + std::to_string(u16(16));
    }
    if (bytes.rfind("\x89PNG", 0) == 0) {
        const auto at = bytes.find("pHYs");
        return at == std::string::npos
                   ? "none"
                   : "ppm " + std::to_string(be32(at + 4)) + " " + std::to_string(be32(at + 8));
    }
    if (bytes.rfind("BM", 0) == 0) {
        return "ppm " + std::to_string(le32(38)) + " " + std::to_string(le32(42));
    }
    return "?";
}

// A scanned page's resolution goes into every saved format; a panel that holds no scan saves the
// fields as before (JFIF aspect 1:1, no pHYs, BMP 0).
TEST_F(ScanWorkflowTest, SavedFilesCarryTheScansResolution) {
    struct Expected {
        int format;
        const char* scanned; // at 150 dpi: 5906 pixels per metre
        const char* unscanned;
    };
    const Expected formats[] = {
        {0, "dpi1 150 150", "dpi0 1 1"},
        {1, "ppm 5906 5906", "ppm 0 0"},
        {2, "ppm 5906 5906", "none"},
    };
    startWithSane();
    for (const bool scanned : {false, true}) {
        if (scanned) {
            chooseTestScanner(150);
            clickToolbar(0);
            ASSERT_TRUE(QTest::qWaitFor(
                [&] { return control<ui::PictureBox>(control::kThumbnail).hasPicture(); }, 20000));
        }
        for (const auto& f : formats) {
            control<ui::DropDownList>(control::kFormatList).setSelection(f.format);
            QTest::mouseClick(&control<ui::Button>(control::kSaveButton), Qt::LeftButton);
            auto& list = control<ui::ListView>(control::kSavedFilesList);
            const auto file = list.cellText(list.rowCount() - 1, 1).toStdString();
            EXPECT_EQ(savedResolution(Sandbox::read(file)), scanned ? f.scanned : f.unscanned)
                << file;
        }
    }
}

TEST_F(ScanWorkflowTest, NoFormatSelectedWritesOnlyTheTemporaryFile) {
    writeSettings({{"图片格式", "-3"}});
    startWithoutScanner();
    QTest::mouseClick(&control<ui::Button>(control::kSaveButton), Qt::LeftButton);
    EXPECT_TRUE(savedFiles().empty());
    EXPECT_TRUE(std::filesystem::exists(sandbox_ / "photo.tem"));
    EXPECT_TRUE(dialogs_.records().empty());
}

TEST_F(ScanWorkflowTest, NormalScanFromTheTestScannerShowsThePage) {
    startWithSane();
    chooseTestScanner(100);
    clickToolbar(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return surface().width() != 598; }, 20000));
    EXPECT_NEAR(surface().width(), 827, 1); // A4 at 100 dpi
    EXPECT_GT(control<ui::ScrollBar>(control::kPreviewVScroll).maximum(), 0);
    EXPECT_EQ(dialogs_.beeps(), 0);
}

TEST_F(ScanWorkflowTest, ContinuousLoopSavesOnePagePerOkWithoutSuccessMessages) {
    startWithSane();
    chooseTestScanner(50);
    control<ui::DropDownList>(control::kFormatList).setSelection(2);
    dialogs_.answerMessage(platform::DialogAnswer::Ok);
    dialogs_.answerMessage(platform::DialogAnswer::Ok);
    dialogs_.answerMessage(platform::DialogAnswer::Cancel);
    clickToolbar(4);

    const auto files = savedFiles();
    ASSERT_EQ(files.size(), 2u);
    for (const auto& file : files) {
        EXPECT_TRUE(
            std::regex_match(file.filename().string(), std::regex("[0-9]{14}(-[0-9]+)?\\.png")));
    }
    auto& list = control<ui::ListView>(control::kSavedFilesList);
    ASSERT_EQ(list.rowCount(), 2);
    EXPECT_EQ(list.cellText(0, 0), u"1"_s);
    EXPECT_EQ(list.cellText(1, 0), u"2"_s);
    const auto messages = dialogs_.messages();
    ASSERT_EQ(messages.size(), 3u);
    for (const auto& m : messages) {
        EXPECT_EQ(m.text, "是否继续扫描");
        EXPECT_EQ(m.buttons, platform::MessageButtons::OkCancel);
    }
    EXPECT_EQ(dialogs_.beeps(), 1);
    EXPECT_FALSE(workflows::workflowState().continuousMode);
    EXPECT_TRUE(window().isEnabled());
}

TEST_F(ScanWorkflowTest, TwoSidedCycleCombinesBothScansAndLeavesToleranceTwenty) {
    writeSettings({{"色差值", "3"}});
    startWithSane();
    chooseTestScanner(50);
    dialogs_.answerMessage(platform::DialogAnswer::Ok); // 是否继续扫描
    dialogs_.answerMessage(platform::DialogAnswer::Ok); // second side ready
    dialogs_.answerMessage(platform::DialogAnswer::Cancel);
    clickToolbar(5);

    EXPECT_EQ(savedFiles().size(), 1u);
    EXPECT_EQ(workflows::workflowState().colourTolerance, 20);
    EXPECT_EQ(setting("色差值"), "3");
    const auto messages = dialogs_.messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[1].text, "准备好复印第二面后请点击【确定】");
    EXPECT_EQ(messages[1].icon, platform::MessageIcon::None);
    EXPECT_FALSE(control<ui::PictureBox>(control::kProgressPanel).isVisible());
    EXPECT_FALSE(workflows::workflowState().continuousTwoSided);
}

TEST_F(ScanWorkflowTest, AFailingScanEndsTheLoopWithoutHangingOrSaving) {
    startWithSane({{"read-status-code", "\"SANE_STATUS_JAMMED\""}});
    chooseTestScanner(50);
    dialogs_.answerMessage(platform::DialogAnswer::Ok);
    clickToolbar(4);
    EXPECT_TRUE(savedFiles().empty());
    // Asked once; the failed scan ended the loop, saying why and that nothing was saved.
    ASSERT_EQ(dialogs_.messages().size(), 2u);
    EXPECT_EQ(dialogs_.messages()[1].text, "连续扫描已停止：扫描仪卡纸\n本次已保存 0 个文件。");
    EXPECT_EQ(dialogs_.messages()[1].icon, platform::MessageIcon::Warning);
    const auto& state = workflows::workflowState();
    EXPECT_FALSE(state.continuousMode);
    EXPECT_FALSE(state.scanPending);
    EXPECT_TRUE(window().isEnabled());
}

} // namespace
} // namespace vantrel::test
