// Every way a person changes a control's value reaches the control's handler: the mouse, the
// keyboard, the mouse wheel, and what a screen reader or voice control does through AT-SPI (the
// bridge calls exactly these accessibility interfaces: actions, editable text and value). Boxes
// the user cannot edit refuse text from assistive technology.

#include "app/main_window_definition.h"
#include "tests/app/main_window_fixture.h"
#include "ui/button_controls.h"
#include "ui/list_controls.h"
#include "ui/range_controls.h"
#include "ui/text_controls.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QTest>
#include <QWheelEvent>
#include <functional>

using namespace Qt::StringLiterals;

namespace vantrel::test {
namespace {

namespace control = vantrel::control;

QAccessibleInterface& accessible(QWidget& widget) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(&widget);
    if (!a) {
        throw std::logic_error("no accessible interface");
    }
    return *a;
}

// AT-SPI's EditableText.SetTextContents.
void setTextContents(QWidget& box, const QString& text) {
    QAccessibleInterface& a = accessible(box);
    a.editableTextInterface()->replaceText(0, a.textInterface()->characterCount(), text);
}

void doAction(QWidget& widget, const QString& action) {
    accessible(widget).actionInterface()->doAction(action);
}

// One notch of the mouse wheel towards the user (the next item, the lower value).
void wheelDown(QWidget& widget) {
    const QPointF at = QRectF(widget.rect()).center();
    QWheelEvent wheel(at, widget.mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&widget, &wheel);
}

class InputRoutes : public ::testing::Test, public MainWindowFixture {
protected:
    void SetUp() override {
        start();
        window().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
    }

public:
    ui::EditBox& resolution() const { return control<ui::EditBox>(control::kResolutionBox); }
    ui::CheckBox& overlay() const { return control<ui::CheckBox>(control::kOverlayCheckBox); }
    ui::ColourPicker& picker() const {
        return control<ui::ColourPicker>(control::kTransparentColourPicker);
    }
    ui::DropDownList& list(std::string_view name) const { return control<ui::DropDownList>(name); }
    ui::Slider& quality() const { return control<ui::Slider>(control::kQualitySlider); }

    // Opens the list as assistive technology does (its press action), then picks the next item
    // in the open list with the keyboard, as a screen reader user does.
    void pickNextFromTheOpenedList(ui::DropDownList& l) {
        doAction(l, QAccessibleActionInterface::pressAction());
        ASSERT_TRUE(l.view()->isVisible());
        QTest::keyClick(l.view(), Qt::Key_Down);
        QTest::keyClick(l.view(), Qt::Key_Return);
    }

    // Waits for a handler's effect: a press action clicks after a short animation.
    bool settingBecomes(const std::string& key, const std::string& value) const {
        return QTest::qWaitFor([&] { return setting(key) == value; }, 10000);
    }
};

struct RouteCase {
    const char* name;
    std::function<void(InputRoutes&)> arrange; // may be empty
    std::function<void(InputRoutes&)> change;
    std::string key;   // the setting the control's handler writes
    std::string value; // ... and what it writes
    std::function<bool(const InputRoutes&)> alsoHolds = {}; // the handler's other effects
};

void PrintTo(const RouteCase& c, std::ostream* os) {
    *os << c.name;
}

class EveryRoute : public InputRoutes, public ::testing::WithParamInterface<RouteCase> {};

TEST_P(EveryRoute, ReachesTheControlsHandler) {
    const RouteCase& c = GetParam();
    if (c.arrange) {
        c.arrange(*this);
    }
    c.change(*this);
    EXPECT_TRUE(settingBecomes(c.key, c.value))
        << c.key << " is " << setting(c.key) << ", expected " << c.value;
    if (c.alsoHolds) {
        EXPECT_TRUE(c.alsoHolds(*this));
    }
}

bool pickerEnabled(const InputRoutes& t) {
    return t.control<ui::ColourPicker>(control::kTransparentColourPicker).isEnabled();
}
bool qualityLabelShows9(const InputRoutes& t) {
    return t.control<ui::Label>(control::kQualityLabel).caption() == u"9"_s;
}

// The colour picker is enabled (overlay on) and the colour dialog will answer blue.
void overlayOnAndBlueAnswered(InputRoutes& t) {
    QTest::mouseClick(&t.control<ui::CheckBox>(control::kOverlayCheckBox), Qt::LeftButton);
    t.dialogs_.answerColour(0xFF0000u);
}

void twoDevicesListed(InputRoutes& t) {
    auto& devices = t.control<ui::DropDownList>(control::kDeviceList);
    devices.addItemWithValue(u"frontend-tester (test:0)"_s, 0);
    devices.addItemWithValue(u"frontend-tester (test:1)"_s, 1);
    devices.setSelection(0);
}

const RouteCase kRouteCases[] = {
    // 编辑框1: every text change writes 分辨率.
    {"ResolutionTyped",
     {},
     [](InputRoutes& t) {
         t.resolution().setFocus();
         QTest::keyClicks(&t.resolution(), u"300"_s);
     },
     "分辨率",
     "300"},
    {"ResolutionSetThroughEditableText",
     {},
     [](InputRoutes& t) { setTextContents(t.resolution(), u"600"_s); },
     "分辨率",
     "600"},
    {"ResolutionInsertedThroughEditableText",
     [](InputRoutes& t) { t.resolution().setContent(u"00"_s); },
     [](InputRoutes& t) {
         accessible(t.resolution()).editableTextInterface()->insertText(0, u"12"_s);
     },
     "分辨率", "1200"},
    {"ResolutionDeletedThroughEditableText",
     [](InputRoutes& t) { t.resolution().setContent(u"1200"_s); },
     [](InputRoutes& t) { accessible(t.resolution()).editableTextInterface()->deleteText(2, 4); },
     "分辨率", "12"},

    // 选择框4: every change of its state writes 扫描叠加 and enables the colour picker.
    {"OverlayClicked",
     {},
     [](InputRoutes& t) { QTest::mouseClick(&t.overlay(), Qt::LeftButton); },
     "扫描叠加",
     "1",
     pickerEnabled},
    {"OverlaySpaceBar",
     {},
     [](InputRoutes& t) {
         t.overlay().setFocus();
         QTest::keyClick(&t.overlay(), Qt::Key_Space);
     },
     "扫描叠加",
     "1",
     pickerEnabled},
    {"OverlayToggleAction",
     {},
     [](InputRoutes& t) { doAction(t.overlay(), QAccessibleActionInterface::toggleAction()); },
     "扫描叠加",
     "1",
     pickerEnabled},
    {"OverlayPressAction",
     {},
     [](InputRoutes& t) { doAction(t.overlay(), QAccessibleActionInterface::pressAction()); },
     "扫描叠加",
     "1",
     pickerEnabled},
    {"OverlayToggledOffAgain",
     [](InputRoutes& t) { doAction(t.overlay(), QAccessibleActionInterface::toggleAction()); },
     [](InputRoutes& t) { doAction(t.overlay(), QAccessibleActionInterface::toggleAction()); },
     "扫描叠加", "0", [](const InputRoutes& t) { return !pickerEnabled(t); }},

    // 颜色选择器1: every way of pressing it asks for a colour and writes 白色透明.
    {"ColourPickerClicked", overlayOnAndBlueAnswered,
     [](InputRoutes& t) { QTest::mouseClick(&t.picker(), Qt::LeftButton); }, "白色透明",
     "16711680"},
    {"ColourPickerSpaceBar", overlayOnAndBlueAnswered,
     [](InputRoutes& t) {
         t.picker().setFocus();
         QTest::keyClick(&t.picker(), Qt::Key_Space);
     },
     "白色透明", "16711680"},
    {"ColourPickerPressAction", overlayOnAndBlueAnswered,
     [](InputRoutes& t) { doAction(t.picker(), QAccessibleActionInterface::pressAction()); },
     "白色透明", "16711680"},

    // 组合框2 and 组合框3: every way of choosing an item writes the selection.
    {"ColourModeKeyboard",
     {},
     [](InputRoutes& t) {
         t.list(control::kColourModeList).setFocus();
         QTest::keyClick(&t.list(control::kColourModeList), Qt::Key_Down);
     },
     "色彩模式",
     "1"},
    {"ColourModeWheel",
     {},
     [](InputRoutes& t) { wheelDown(t.list(control::kColourModeList)); },
     "色彩模式",
     "1"},
    {"ColourModePickedFromTheOpenedList",
     {},
     [](InputRoutes& t) { t.pickNextFromTheOpenedList(t.list(control::kColourModeList)); },
     "色彩模式",
     "1"},
    {"FormatWheel",
     {},
     [](InputRoutes& t) { wheelDown(t.list(control::kFormatList)); },
     "图片格式",
     "1"},
    {"FormatPickedFromTheOpenedList",
     {},
     [](InputRoutes& t) { t.pickNextFromTheOpenedList(t.list(control::kFormatList)); },
     "图片格式",
     "1"},

    // 组合框1: the device chosen is stored under its full name.
    {"DeviceWheel", twoDevicesListed,
     [](InputRoutes& t) { wheelDown(t.list(control::kDeviceList)); }, "默认机器",
     "frontend-tester (test:1)"},
    {"DevicePickedFromTheOpenedList", twoDevicesListed,
     [](InputRoutes& t) { t.pickNextFromTheOpenedList(t.list(control::kDeviceList)); }, "默认机器",
     "frontend-tester (test:1)"},

    // 滑块条1: every change of its position writes JPG质量 and shows it beside the slider.
    {"QualityKeyboard",
     {},
     [](InputRoutes& t) {
         t.quality().setFocus();
         QTest::keyClick(&t.quality(), Qt::Key_Left);
     },
     "JPG质量",
     "9",
     qualityLabelShows9},
    {"QualityWheel", {}, [](InputRoutes& t) { wheelDown(t.quality()); }, "JPG质量", "7"},
    {"QualitySetThroughTheValueInterface",
     {},
     [](InputRoutes& t) { accessible(t.quality()).valueInterface()->setCurrentValue(9); },
     "JPG质量",
     "9",
     qualityLabelShows9},
};

INSTANTIATE_TEST_SUITE_P(Controls, EveryRoute, ::testing::ValuesIn(kRouteCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(InputRoutes, PreviewScrollBarsMoveThePanelForTheirValueInterface) {
    auto* panel = dynamic_cast<QWidget*>(window().find(control::kPreviewSurface));
    const QPoint origin = panel->pos();
    panel->resize(2480, 3508);
    auto& h = control<ui::ScrollBar>(control::kPreviewHScroll);
    auto& v = control<ui::ScrollBar>(control::kPreviewVScroll);
    h.setMaximumPosition(2480 - 598);
    v.setMaximumPosition(3508 - 774);
    accessible(h).valueInterface()->setCurrentValue(300);
    accessible(v).valueInterface()->setCurrentValue(1000);
    EXPECT_EQ(panel->pos() - origin, QPoint(-300, -1000));
    wheelDown(v);
    EXPECT_LT(panel->pos().y() - origin.y(), -1000);
}

TEST_F(InputRoutes, ReadOnlyPathBoxesRefuseTextFromAssistiveTechnology) {
    auto& saveFolder = control<ui::EditBox>(control::kSaveFolderBox);
    auto& background = control<ui::EditBox>(control::kBackgroundPathBox);
    const QString folder = saveFolder.content();
    dialogs_.answerOpenFile("/home/用户/背景.png");
    QTest::mouseClick(&control<ui::Button>(control::kChooseBackgroundButton), Qt::LeftButton);

    for (QWidget* box : {static_cast<QWidget*>(&saveFolder), static_cast<QWidget*>(&background)}) {
        setTextContents(*box, u"/tmp/elsewhere"_s);
        accessible(*box).editableTextInterface()->insertText(0, u"/tmp"_s);
        accessible(*box).editableTextInterface()->deleteText(0, 5);
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(saveFolder.content(), folder);
    EXPECT_EQ(background.content(), u"/home/用户/背景.png"_s);
    EXPECT_EQ(setting("保存目录"), "<absent>");

    // The folder browser still changes the folder, and stores it.
    dialogs_.answerFolder("/srv/扫描");
    QTest::mouseClick(&control<ui::Button>(control::kBrowseFolderButton), Qt::LeftButton);
    EXPECT_EQ(saveFolder.content(), u"/srv/扫描"_s);
    EXPECT_EQ(setting("保存目录"), "/srv/扫描");
}

TEST_F(InputRoutes, DisabledControlsRefuseAssistiveTechnology) {
    // 灰度 zeroes and disables the resolution box; BMP disables the quality slider; overlay off
    // leaves the colour picker disabled.
    auto& modes = list(control::kColourModeList);
    modes.setFocus();
    QTest::keyClick(&modes, Qt::Key_Down);
    auto& formats = list(control::kFormatList);
    formats.setFocus();
    QTest::keyClick(&formats, Qt::Key_Down);
    ASSERT_FALSE(resolution().isEnabled());
    ASSERT_FALSE(quality().isEnabled());
    ASSERT_FALSE(picker().isEnabled());

    setTextContents(resolution(), u"300"_s);
    accessible(quality()).valueInterface()->setCurrentValue(3);
    doAction(picker(), QAccessibleActionInterface::pressAction());
    QCoreApplication::processEvents();

    EXPECT_EQ(resolution().content(), u"0"_s);
    EXPECT_EQ(setting("分辨率"), "0");
    EXPECT_EQ(quality().position(), 10);
    EXPECT_EQ(setting("JPG质量"), "<absent>");
    EXPECT_TRUE(dialogs_.records().empty()); // no colour was asked for
    EXPECT_EQ(setting("白色透明"), "<absent>");
}

} // namespace
} // namespace vantrel::test
