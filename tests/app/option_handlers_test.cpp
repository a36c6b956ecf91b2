// The background picture, preview scrolling, opening saved files and the save folder.

#include "tests/app/main_window_fixture.h"
#include "tests/support/recording_desktop.h"
#include "ui/button_controls.h"
#include "ui/container_controls.h"
#include "ui/list_controls.h"
#include "ui/range_controls.h"
#include "ui/text_controls.h"
#include "workflows/control_names.h"
#include "workflows/panel.h"

#include <QImage>
#include <QTest>

using namespace Qt::StringLiterals;

namespace vantrel::test {
namespace {

class OptionHandlers : public ::testing::Test, public MainWindowFixture {
protected:
    void SetUp() override {
        start();
        window().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
    }

    void doubleClickRow(int row) {
        auto& list = control<ui::ListView>(control::kSavedFilesList);
        const QPoint at = list.visualItemRect(list.topLevelItem(row)).center();
        QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, at);
    }

    RecordingDesktop desktop_;
};

TEST_F(OptionHandlers, ChosenBackgroundFillsThePathBoxAndCancelKeepsIt) {
    auto& path = control<ui::EditBox>(control::kBackgroundPathBox);
    dialogs_.answerOpenFile("/home/用户/背景 1.png");
    QTest::mouseClick(&control<ui::Button>(control::kChooseBackgroundButton), Qt::LeftButton);
    EXPECT_EQ(path.content(), u"/home/用户/背景 1.png"_s);
    ASSERT_EQ(dialogs_.records().size(), 1u);
    EXPECT_EQ(dialogs_.records()[0].filter,
              "图片文件(*.bmp;*.jpg;*.png;*.gif)|*.bmp;*.jpg;*.png;*.gif;*.jpge");

    dialogs_.answerOpenFile(std::nullopt);
    QTest::mouseClick(&control<ui::Button>(control::kChooseBackgroundButton), Qt::LeftButton);
    EXPECT_EQ(path.content(), u"/home/用户/背景 1.png"_s);

    QTest::mouseClick(&control<ui::Button>(control::kClearBackgroundButton), Qt::LeftButton);
    EXPECT_EQ(path.content(), QString());
    EXPECT_EQ(setting("加入背景"), "<absent>"); // never stored
}

TEST_F(OptionHandlers, ScrollingMovesThePanelToMinusThePosition) {
    auto* panel = dynamic_cast<QWidget*>(window().find(control::kPreviewSurface));
    auto& frame = control<ui::PictureBox>(control::kPreviewFrame);
    panel->resize(2480, 3508);
    auto& h = control<ui::ScrollBar>(control::kPreviewHScroll);
    auto& v = control<ui::ScrollBar>(control::kPreviewVScroll);
    h.setMaximumPosition(2480 - 598);
    v.setMaximumPosition(3508 - 774);
    h.setValue(300); // as a drag of the thumb does
    EXPECT_EQ(panel->pos() - frame.clientOrigin(), QPoint(-300, 0));
    v.setValue(1000);
    EXPECT_EQ(panel->pos() - frame.clientOrigin(), QPoint(-300, -1000));
    h.setValue(0);
    EXPECT_EQ(panel->pos() - frame.clientOrigin(), QPoint(0, -1000));
}

TEST_F(OptionHandlers, DoubleClickOpensTheSavedFileAsOneArgument) {
    const auto file = sandbox_.write("scan 2026 12 10.jpg", "jpeg");
    auto& list = control<ui::ListView>(control::kSavedFilesList);
    list.addRow({u"1"_s, QString::fromStdString(file.string())});
    doubleClickRow(0);
    EXPECT_EQ(desktop_.paths, std::vector<std::string>{file.string()});
    EXPECT_TRUE(dialogs_.records().empty());
}

TEST_F(OptionHandlers, DoubleClickOnAFileThatIsGoneSaysSo) {
    auto& list = control<ui::ListView>(control::kSavedFilesList);
    list.addRow({u"1"_s, QString::fromStdString((sandbox_ / "gone.jpg").string())});
    doubleClickRow(0);
    EXPECT_TRUE(desktop_.paths.empty());
    const auto messages = dialogs_.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "文件不存在");
    EXPECT_EQ(messages[0].caption, "信息：");
    EXPECT_EQ(messages[0].icon, platform::MessageIcon::Error);
    EXPECT_EQ(list.rowCount(), 1); // the row stays
}

TEST_F(OptionHandlers, DoubleClickOnEmptySpaceDoesNothing) {
    auto& list = control<ui::ListView>(control::kSavedFilesList);
    const QPoint empty(10, list.viewport()->height() - 5);
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, empty);
    EXPECT_TRUE(desktop_.paths.empty());
    EXPECT_TRUE(dialogs_.records().empty());
}

// A desktop that notes, at the moment a folder is to be opened, which files the folder holds and
// how many messages had been shown by then.
class FolderOpeningDesktop final : public platform::Desktop {
public:
    explicit FolderOpeningDesktop(const ScriptedDialogs& dialogs)
        : dialogs_(dialogs)
        , previous_(platform::installDesktop(this)) {}
    ~FolderOpeningDesktop() override { platform::installDesktop(previous_); }

    bool openPath(const std::string& path) override {
        opened.push_back(path);
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(path, ignored)) {
            filesWhenOpened.push_back(entry.path());
        }
        messagesWhenOpened = dialogs_.messages().size();
        return true;
    }
    bool openUrl(const std::string&) override { return false; }

    std::vector<std::string> opened;
    std::vector<std::filesystem::path> filesWhenOpened;
    std::size_t messagesWhenOpened = 0;

private:
    const ScriptedDialogs& dialogs_;
    platform::Desktop* previous_;
};

struct SaveAndOpenCase {
    const char* name;
    bool folderExists;
    std::size_t savedFiles; // in the folder when it is opened
};

void PrintTo(const SaveAndOpenCase& c, std::ostream* os) {
    *os << c.name;
}

class SaveAndOpenFolder : public OptionHandlers,
                          public ::testing::WithParamInterface<SaveAndOpenCase> {};

TEST_P(SaveAndOpenFolder, SavesThePictureAndThenOpensTheFolderWhateverTheOutcome) {
    const SaveAndOpenCase& c = GetParam();
    const auto folder = sandbox_ / "保存 目录";
    if (c.folderExists) {
        std::filesystem::create_directory(folder);
    }
    dialogs_.answerFolder(folder.string());
    QTest::mouseClick(&control<ui::Button>(control::kBrowseFolderButton), Qt::LeftButton);
    auto& panel = workflows::previewSurface(window());
    panel.setBackgroundColour(0x0000FF); // red
    panel.clear();
    dialogs_.answerMessage(platform::DialogAnswer::Ok); // what the save says
    FolderOpeningDesktop desktop(dialogs_);

    QTest::mouseClick(&control<ui::Button>(control::kSaveAndOpenButton), Qt::LeftButton);

    EXPECT_EQ(desktop.opened, std::vector<std::string>{folder.string()});
    EXPECT_EQ(desktop.messagesWhenOpened, 1u); // the save had ended and said so
    ASSERT_EQ(desktop.filesWhenOpened.size(), c.savedFiles);
    EXPECT_FALSE(dialogs_.anyUnplanned());
    if (c.savedFiles == 0) {
        return;
    }
    const auto& saved = desktop.filesWhenOpened[0];
    EXPECT_EQ(saved.extension(), ".jpg");
    EXPECT_EQ(dialogs_.messages()[0].text, "文件保存成功,文件名为 " + saved.filename().string());
    const QImage picture(QString::fromStdString(saved.string()));
    ASSERT_EQ(picture.size(), QSize(598, 774)); // the whole preview panel
    const QRgb pixel = picture.pixel(100, 100);
    EXPECT_GT(qRed(pixel), 230);
    EXPECT_LT(qGreen(pixel) + qBlue(pixel), 40);
    auto& list = control<ui::ListView>(control::kSavedFilesList);
    ASSERT_EQ(list.rowCount(), 1);
    EXPECT_EQ(list.cellText(0, 1).toStdString(), saved.string());
}

const SaveAndOpenCase kSaveAndOpenCases[] = {
    {"Saved", true, 1},
    {"FolderMissing", false, 0},
};

INSTANTIATE_TEST_SUITE_P(SaveAndOpenButton, SaveAndOpenFolder,
                         ::testing::ValuesIn(kSaveAndOpenCases),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace vantrel::test
