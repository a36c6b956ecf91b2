// Each settings handler writes its key the moment the user changes the control, with the exact
// text, and keeps the dependent controls' enabled states.

#include "app/main_window_definition.h"
#include "tests/app/main_window_fixture.h"
#include "ui/button_controls.h"
#include "ui/list_controls.h"
#include "ui/range_controls.h"
#include "ui/text_controls.h"
#include "workflows/workflow_state.h"

#include <QAction>
#include <QMenuBar>
#include <QTest>

using namespace Qt::StringLiterals;

namespace vantrel::test {
namespace {

namespace control = vantrel::control;

class SettingsHandlers : public ::testing::Test, public MainWindowFixture {
protected:
    void SetUp() override {
        start();
        window().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
    }

    // Picks an item of a drop-down list the way a user does: the list's own keyboard handling.
    static void userSelects(ui::DropDownList& list, int index) {
        list.setFocus();
        while (list.selection() < index) {
            QTest::keyClick(&list, Qt::Key_Down);
        }
        while (list.selection() > index) {
            QTest::keyClick(&list, Qt::Key_Up);
        }
    }

    QAction* menuItem(const QString& caption) const {
        for (QAction* menu : window().menuBar()->actions()) {
            for (QAction* item : menu->menu()->actions()) {
                if (item->text() == caption) {
                    return item;
                }
            }
        }
        return nullptr;
    }
};

TEST_F(SettingsHandlers, ColourModeGreyZeroesAndDisablesResolutionColourReenablesIt) {
    auto& modes = control<ui::DropDownList>(control::kColourModeList);
    auto& resolution = control<ui::EditBox>(control::kResolutionBox);
    resolution.setFocus();
    QTest::keyClicks(&resolution, u"300"_s);
    ASSERT_EQ(setting("分辨率"), "300");

    userSelects(modes, 1); // 灰度
    EXPECT_EQ(setting("色彩模式"), "1");
    EXPECT_EQ(resolution.content(), u"0"_s);
    EXPECT_FALSE(resolution.isEnabled());
    EXPECT_EQ(setting("分辨率"), "0");

    userSelects(modes, 0); // 彩色: enabled again, the "0" stays
    EXPECT_EQ(setting("色彩模式"), "0");
    EXPECT_TRUE(resolution.isEnabled());
    EXPECT_EQ(resolution.content(), u"0"_s);

    userSelects(modes, 2); // 黑白
    EXPECT_EQ(setting("色彩模式"), "2");
    EXPECT_FALSE(resolution.isEnabled());
}

TEST_F(SettingsHandlers, RestartAfterGreyShowsGreyWithTheResolutionBoxEnabled) {
    userSelects(control<ui::DropDownList>(control::kColourModeList), 1);
    start();
    EXPECT_EQ(control<ui::DropDownList>(control::kColourModeList).selection(), 1);
    EXPECT_TRUE(control<ui::EditBox>(control::kResolutionBox).isEnabled());
    EXPECT_EQ(control<ui::EditBox>(control::kResolutionBox).content(), u"0"_s);
}

TEST_F(SettingsHandlers, ResolutionIsWrittenOnEveryKeystrokeAndOnlyDigitsAndMinusAreTyped) {
    auto& resolution = control<ui::EditBox>(control::kResolutionBox);
    resolution.setFocus();
    QTest::keyClick(&resolution, Qt::Key_5);
    EXPECT_EQ(setting("分辨率"), "5");
    QTest::keyClick(&resolution, Qt::Key_Backspace);
    EXPECT_EQ(setting("分辨率"), "");
    QTest::keyClicks(&resolution, u"6a0-x0"_s);
    EXPECT_EQ(resolution.content(), u"60-0"_s);
    EXPECT_EQ(setting("分辨率"), "60-0");
}

TEST_F(SettingsHandlers, FormatOtherThanJpgDisablesTheQualitySlider) {
    auto& formats = control<ui::DropDownList>(control::kFormatList);
    auto& slider = control<ui::Slider>(control::kQualitySlider);
    userSelects(formats, 2);
    EXPECT_EQ(setting("图片格式"), "2");
    EXPECT_FALSE(slider.isEnabled());
    userSelects(formats, 1);
    EXPECT_EQ(setting("图片格式"), "1");
    EXPECT_FALSE(slider.isEnabled());
    userSelects(formats, 0);
    EXPECT_EQ(setting("图片格式"), "0");
    EXPECT_TRUE(slider.isEnabled());

    userSelects(formats, 1);
    start(); // after a restart with BMP stored the slider is enabled until the format changes
    EXPECT_EQ(control<ui::DropDownList>(control::kFormatList).selection(), 1);
    EXPECT_TRUE(control<ui::Slider>(control::kQualitySlider).isEnabled());
}

TEST_F(SettingsHandlers, QualitySliderSetsLabelAndKey) {
    auto& slider = control<ui::Slider>(control::kQualitySlider);
    slider.setFocus();
    QTest::keyClick(&slider, Qt::Key_Left);
    EXPECT_EQ(control<ui::Label>(control::kQualityLabel).caption(), u"9"_s);
    EXPECT_EQ(setting("JPG质量"), "9");
    QTest::keyClick(&slider, Qt::Key_PageDown);
    EXPECT_EQ(setting("JPG质量"), "4");
}

TEST_F(SettingsHandlers, OverlayClickTogglesPickerAndKey) {
    auto& overlay = control<ui::CheckBox>(control::kOverlayCheckBox);
    auto& picker = control<ui::ColourPicker>(control::kTransparentColourPicker);
    QTest::mouseClick(&overlay, Qt::LeftButton);
    EXPECT_EQ(setting("扫描叠加"), "1");
    EXPECT_TRUE(picker.isEnabled());
    QTest::mouseClick(&overlay, Qt::LeftButton);
    EXPECT_EQ(setting("扫描叠加"), "0");
    EXPECT_FALSE(picker.isEnabled());
}

TEST_F(SettingsHandlers, PickedColourIsWrittenAsDecimalColourValue) {
    auto& overlay = control<ui::CheckBox>(control::kOverlayCheckBox);
    auto& picker = control<ui::ColourPicker>(control::kTransparentColourPicker);
    QTest::mouseClick(&overlay, Qt::LeftButton);
    dialogs_.answerColour(0x00FF8000u); // blue 255, green 128, red 0
    QTest::mouseClick(&picker, Qt::LeftButton);
    EXPECT_EQ(setting("白色透明"), "16744448");
    dialogs_.answerColour(std::nullopt); // cancelled: nothing changes
    QTest::mouseClick(&picker, Qt::LeftButton);
    EXPECT_EQ(picker.colour(), 0x00FF8000u);
    EXPECT_EQ(setting("白色透明"), "16744448");
}

TEST_F(SettingsHandlers, BrowseFolderWritesTheChosenPathAndCancelKeepsEverything) {
    auto& folder = control<ui::EditBox>(control::kSaveFolderBox);
    auto& browse = control<ui::Button>("按钮5");
    const QString before = folder.content();
    dialogs_.answerFolder(std::nullopt);
    QTest::mouseClick(&browse, Qt::LeftButton);
    EXPECT_EQ(folder.content(), before);
    EXPECT_EQ(setting("保存目录"), "<absent>");

    dialogs_.answerFolder("/home/办公室/scans 2026");
    QTest::mouseClick(&browse, Qt::LeftButton);
    EXPECT_EQ(folder.content(), u"/home/办公室/scans 2026"_s);
    EXPECT_EQ(setting("保存目录"), "/home/办公室/scans 2026");
    ASSERT_EQ(dialogs_.records().size(), 2u);
    EXPECT_EQ(dialogs_.records()[0].title, "选择保存目录");
    EXPECT_FALSE(std::filesystem::exists("/home/办公室")); // neither tested nor created
}

TEST_F(SettingsHandlers, DeviceSelectionWritesTheItemText) {
    auto& devices = control<ui::DropDownList>(control::kDeviceList);
    devices.addItemWithValue(u"Scanner A"_s, 0);
    devices.addItemWithValue(u"扫描仪 B"_s, 1);
    EXPECT_EQ(setting("默认机器"), "<absent>"); // filling the list writes nothing
    userSelects(devices, 1);
    EXPECT_EQ(setting("默认机器"), "扫描仪 B");
    userSelects(devices, 0);
    EXPECT_EQ(setting("默认机器"), "Scanner A");
}

struct ToleranceCase {
    const char* name;
    std::optional<std::string> entered; // nullopt: the user cancels
    std::string storedAfter;
    int toleranceAfter;
};

void PrintTo(const ToleranceCase& c, std::ostream* os) {
    *os << c.name;
}

class TolerancePrompt : public SettingsHandlers,
                        public ::testing::WithParamInterface<ToleranceCase> {};

TEST_P(TolerancePrompt, StoresTheTextAsEnteredAndSetsTheTolerance) {
    const ToleranceCase& c = GetParam();
    writeSettings({{"色差值", "12"}});
    start();
    dialogs_.answerText(c.entered);
    menuItem(u"色差值"_s)->trigger();

    ASSERT_EQ(dialogs_.records().size(), 1u);
    const auto& request = dialogs_.records()[0].input;
    EXPECT_EQ(request.title, "设置色差值");
    EXPECT_EQ(request.prompt, "请输入图像处理的允许色差值");
    EXPECT_EQ(request.initialText, "12");
    EXPECT_EQ(request.okCaption, "确认输入(&O)");
    EXPECT_EQ(request.cancelCaption, "取消(&C)");
    EXPECT_EQ(request.allowedCharacters, "-0123456789");
    EXPECT_EQ(setting("色差值"), c.storedAfter);
    EXPECT_EQ(workflows::workflowState().colourTolerance, c.toleranceAfter);
}

const ToleranceCase kToleranceCases[] = {
    {"Confirmed", "35", "35", 35},     {"Cancelled", std::nullopt, "12", 12},
    {"EmptyStoredAsEmpty", "", "", 0}, {"MisplacedMinusKeptAsText", "3-5", "3-5", 3},
    {"Negative", "-8", "-8", -8},
};

INSTANTIATE_TEST_SUITE_P(Menu, TolerancePrompt, ::testing::ValuesIn(kToleranceCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(SettingsHandlers, UnwritableSettingsFileIsSilentlyKept) {
    writeSettings({{"JPG质量", "5"}});
    std::filesystem::permissions(iniPath(), std::filesystem::perms::owner_read |
                                                std::filesystem::perms::group_read);
    auto& slider = control<ui::Slider>(control::kQualitySlider);
    slider.setFocus();
    QTest::keyClick(&slider, Qt::Key_Left);
    EXPECT_EQ(control<ui::Label>(control::kQualityLabel).caption(), u"9"_s);
    EXPECT_EQ(setting("JPG质量"), "5");
}

TEST_F(SettingsHandlers, ProgramExitReleasesTheCapturedSide) {
    workflows::workflowState().capturedSide.assign(1024, 0x42);
    app::OnProgramExit();
    EXPECT_TRUE(workflows::workflowState().capturedSide.empty());
}

} // namespace
} // namespace vantrel::test
