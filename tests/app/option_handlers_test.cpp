// The background picture, preview scrolling, opening saved files and the save folder.

#include "tests/app/main_window_fixture.h"
#include "tests/support/recording_desktop.h"
#include "ui/button_controls.h"
#include "ui/container_controls.h"
#include "ui/list_controls.h"
#include "ui/range_controls.h"
#include "ui/text_controls.h"
#include "workflows/control_names.h"

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

} // namespace
} // namespace vantrel::test
