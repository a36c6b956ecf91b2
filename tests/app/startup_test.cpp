// Start-up restores every setting from boot.ini into the real main window.

#include "app/main_window_definition.h"
#include "tests/app/main_window_fixture.h"
#include "ui/button_controls.h"
#include "ui/list_controls.h"
#include "ui/range_controls.h"
#include "ui/text_controls.h"
#include "workflows/workflow_state.h"

#include <QColor>
#include <optional>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace vantrel::test {
namespace {

namespace control = vantrel::control;

struct StartupCase {
    const char* name;
    std::vector<Setting> settings;
    QString resolution = {};
    int tolerance = 0;
    int colourMode = 0;
    int format = 0;
    std::optional<std::string> saveFolder = std::nullopt; // nullopt: the default folder
    bool overlay = false;
    std::uint32_t colour = 0;
    QString qualityCaption = u"10"_s;
    int sliderPosition = 10;
};

void PrintTo(const StartupCase& c, std::ostream* os) {
    *os << c.name;
}

class StartupRestore : public ::testing::TestWithParam<StartupCase>, public MainWindowFixture {};

TEST_P(StartupRestore, ControlsShowTheStoredSettings) {
    const StartupCase& c = GetParam();
    writeSettings(c.settings);
    start();

    EXPECT_EQ(control<ui::EditBox>(control::kResolutionBox).content(), c.resolution);
    EXPECT_EQ(workflows::workflowState().colourTolerance, c.tolerance);
    EXPECT_EQ(control<ui::DropDownList>(control::kColourModeList).selection(), c.colourMode);
    EXPECT_EQ(control<ui::DropDownList>(control::kFormatList).selection(), c.format);
    const std::string folder = c.saveFolder.value_or((sandbox_ / "扫描图片").string());
    EXPECT_EQ(control<ui::EditBox>(control::kSaveFolderBox).content().toStdString(), folder);
    EXPECT_EQ(control<ui::CheckBox>(control::kOverlayCheckBox).isChecked(), c.overlay);
    auto& picker = control<ui::ColourPicker>(control::kTransparentColourPicker);
    EXPECT_EQ(picker.isEnabled(), c.overlay);
    EXPECT_EQ(picker.colour(), c.colour);
    EXPECT_EQ(control<ui::Label>(control::kQualityLabel).caption(), c.qualityCaption);
    EXPECT_EQ(control<ui::Slider>(control::kQualitySlider).position(), c.sliderPosition);

    // The lists' side effects are not applied at start-up: both controls start enabled.
    EXPECT_TRUE(control<ui::EditBox>(control::kResolutionBox).isEnabled());
    EXPECT_TRUE(control<ui::Slider>(control::kQualitySlider).isEnabled());
    // The device list stays empty until the user refreshes it.
    EXPECT_EQ(control<ui::DropDownList>(control::kDeviceList).count(), 0);
    EXPECT_EQ(control<ui::DropDownList>(control::kDeviceList).selection(), -1);
    EXPECT_FALSE(dialogs_.anyUnplanned());
}

const StartupCase kStartupCases[] = {
    {.name = "FirstRunWithoutSettingsFile", .settings = {}},
    {.name = "EverySettingStored",
     .settings = {{"分辨率", "300"},
                  {"色差值", "25"},
                  {"色彩模式", "1"},
                  {"图片格式", "2"},
                  {"保存目录", "/srv/扫描 结果"},
                  {"扫描叠加", "1"},
                  {"白色透明", "16777215"},
                  {"JPG质量", "7"}},
     .resolution = u"300"_s,
     .tolerance = 25,
     .colourMode = 1,
     .format = 2,
     .saveFolder = "/srv/扫描 结果",
     .overlay = true,
     .colour = 0xFFFFFF,
     .qualityCaption = u"7"_s,
     .sliderPosition = 7},
    {.name = "ColourModeBeyondLastSelectsLast", .settings = {{"色彩模式", "7"}}, .colourMode = 2},
    {.name = "ColourModeBelowMinusOneSelectsNothing",
     .settings = {{"色彩模式", "-5"}},
     .colourMode = -1},
    {.name = "ColourModeNotANumberSelectsFirst",
     .settings = {{"色彩模式", "abc"}},
     .colourMode = 0},
    {.name = "FormatWithLeadingBlanksAndTrailingText",
     .settings = {{"图片格式", "1xyz"}},
     .format = 1},
    {.name = "QualityZeroKeepsLabelAndClampsSlider",
     .settings = {{"JPG质量", "0"}},
     .qualityCaption = u"0"_s,
     .sliderPosition = 1},
    {.name = "QualityFifteenKeepsLabelAndClampsSlider",
     .settings = {{"JPG质量", "15"}},
     .qualityCaption = u"15"_s,
     .sliderPosition = 10},
    {.name = "QualityNotANumber",
     .settings = {{"JPG质量", "high"}},
     .qualityCaption = u"high"_s,
     .sliderPosition = 1},
    {.name = "OverlayYesIsOff", .settings = {{"扫描叠加", "yes"}}},
    {.name = "OverlayZeroOneIsOff", .settings = {{"扫描叠加", "01"}}},
    {.name = "ColourNotANumberIsBlack", .settings = {{"白色透明", "red"}}},
    {.name = "ColourWithFractionTruncated",
     .settings = {{"白色透明", "255.9"}},
     .colour = 0x0000FF},
    {.name = "ColourHugeValueKeepsLow24Bits",
     .settings = {{"白色透明", "99999999999"}},
     .colour = 0xFFFFFF},
    {.name = "ToleranceNegativeAndHuge", .settings = {{"色差值", "  -40"}}, .tolerance = -40},
    {.name = "ToleranceEmptyIsZero", .settings = {{"色差值", ""}}, .tolerance = 0},
    {.name = "MissingSaveFolderShownUnchanged",
     .settings = {{"保存目录", "/nonexistent/扫描"}},
     .saveFolder = "/nonexistent/扫描"},
};

INSTANTIATE_TEST_SUITE_P(Settings, StartupRestore, ::testing::ValuesIn(kStartupCases),
                         [](const auto& row) { return std::string(row.param.name); });

class Startup : public ::testing::Test, public MainWindowFixture {};

TEST_F(Startup, FirstRunCreatesTheDefaultFolderButWritesNoSettings) {
    start();
    EXPECT_TRUE(std::filesystem::is_directory(sandbox_ / "扫描图片"));
    EXPECT_FALSE(std::filesystem::exists(iniPath()));
}

TEST_F(Startup, RestoringStoredSettingsWritesNothingBack) {
    // Most values differ from what their control's handler would write, and any write replaces
    // the file (a new inode), so a handler that ran during creation would show.
    writeSettings({{"分辨率", "300"},
                   {"色彩模式", "7"},
                   {"图片格式", "9"},
                   {"扫描叠加", "01"},
                   {"白色透明", "255.9"},
                   {"JPG质量", "15"},
                   {"默认机器", "frontend-tester (test:0)"}});
    const std::string before = Sandbox::read(iniPath());
    struct stat file {};
    ASSERT_EQ(::stat(iniPath().c_str(), &file), 0);
    start();
    struct stat after {};
    ASSERT_EQ(::stat(iniPath().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, file.st_ino);
    EXPECT_EQ(Sandbox::read(iniPath()), before);

    // Once created, the same controls write again.
    control<ui::EditBox>(control::kResolutionBox).setContent(u"600"_s);
    EXPECT_EQ(setting("分辨率"), "600");
}

TEST_F(Startup, DefaultFolderNotCreatedOverAFileOfThatName) {
    sandbox_.write("扫描图片", "not a folder");
    start();
    EXPECT_TRUE(std::filesystem::is_regular_file(sandbox_ / "扫描图片"));
    EXPECT_EQ(control<ui::EditBox>(control::kSaveFolderBox).content().toStdString(),
              (sandbox_ / "扫描图片").string());
}

TEST_F(Startup, StoredSaveFolderIsNeitherCheckedNorCreated) {
    writeSettings({{"保存目录", (sandbox_ / "later").string()}});
    start();
    EXPECT_FALSE(std::filesystem::exists(sandbox_ / "later"));
    EXPECT_FALSE(std::filesystem::exists(sandbox_ / "扫描图片"));
}

TEST_F(Startup, JunkSettingsFileStartsWithSoundValues) {
    std::string junk = "\xEF\xBB\xBF\x00\xFF\xFE[\xC9\xE8\xD6\xC3]\r\n\x81=\x01\n";
    junk += std::string(200000, '\xFE');
    junk += "\n[\xC9\xE8\xD6\xC3]\n\xC9\xAB\xB2\xCA\xC4\xA3\xCA\xBD=\xFF\xFF\xFF\n";
    sandbox_.write("boot.ini", junk);
    start();
    EXPECT_EQ(control<ui::DropDownList>(control::kColourModeList).selection(), 0);
    EXPECT_EQ(control<ui::Label>(control::kQualityLabel).caption(), u"10"_s);
}

TEST_F(Startup, GbkFileFromAnEarlierInstallationReadsRight) {
    // [设置] / 分辨率=200 / 保存目录=D:\扫描, in GBK with CRLF line ends.
    sandbox_.write("boot.ini", "[\xC9\xE8\xD6\xC3]\r\n\xB7\xD6\xB1\xE6\xC2\xCA=200\r\n"
                               "\xB1\xA3\xB4\xE6\xC4\xBF\xC2\xBC=D:\\\xC9\xA8\xC3\xE8\r\n");
    start();
    EXPECT_EQ(control<ui::EditBox>(control::kResolutionBox).content(), u"200"_s);
    EXPECT_EQ(control<ui::EditBox>(control::kSaveFolderBox).content(), u"D:\\扫描"_s);
}

} // namespace
} // namespace vantrel::test
