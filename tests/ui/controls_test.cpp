// The event rules the program relies on, on a small window built from its own definition.

#include "ui/button_controls.h"
#include "ui/list_controls.h"
#include "ui/range_controls.h"
#include "ui/text_controls.h"
#include "ui/toolbar.h"
#include "ui/window.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>
#include <array>
#include <gtest/gtest.h>
#include <memory>

using namespace Qt::StringLiterals;

namespace vantrel::ui {
namespace {

constexpr std::array<ToolbarButtonDefinition, 5> kButtons = {
    {{"A", 0, ""}, {"", -1, ""}, {"B", 1, ""}, {"", -1, ""}, {"C", 2, "second"}}};
constexpr std::array<ListColumnDefinition, 2> kColumns = {{{"序号", 50}, {"地址", 250}}};

constexpr ControlDefinition kControls[] = {
    {.name = "tools",
     .kind = ControlKind::Toolbar,
     .rect = {0, 0, 300, 28},
     .buttons = kButtons,
     .events = EventKind::ToolbarButtonClick},
    {.name = "group", .kind = ControlKind::GroupBox, .rect = {10, 60, 200, 100}, .text = "组"},
    {.name = "list",
     .kind = ControlKind::DropDownList,
     .parent = "group",
     .rect = {8, 16, 100, 20},
     .events = EventKind::SelectionChanged},
    {.name = "edit",
     .kind = ControlKind::EditBox,
     .parent = "group",
     .rect = {8, 40, 100, 20},
     .text = "96",
     .events = EventKind::TextChanged},
    {.name = "path",
     .kind = ControlKind::EditBox,
     .parent = "group",
     .rect = {8, 64, 100, 20},
     .flags = ReadOnly},
    {.name = "slider",
     .kind = ControlKind::Slider,
     .rect = {10, 170, 100, 24},
     .range = {1, 10, 1, 5, 10},
     .events = EventKind::PositionChanged},
    {.name = "hbar",
     .kind = ControlKind::HorizontalScrollBar,
     .rect = {10, 200, 200, 18},
     .events = EventKind::PositionChanged},
    {.name = "rows",
     .kind = ControlKind::ListView,
     .rect = {220, 60, 300, 140},
     .columns = kColumns,
     .events = EventKind::LeftDoubleClick},
};

const WindowDefinition kWindow = {.name = "w",
                                  .caption = "Test",
                                  .outerWidth = 600,
                                  .outerHeight = 400,
                                  .controls = kControls,
                                  .events = EventKind::Created};

class Controls : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto [name, kind] : std::initializer_list<std::pair<const char*, EventKind>>{
                 {"tools", EventKind::ToolbarButtonClick},
                 {"list", EventKind::SelectionChanged},
                 {"edit", EventKind::TextChanged},
                 {"slider", EventKind::PositionChanged},
                 {"hbar", EventKind::PositionChanged},
                 {"rows", EventKind::LeftDoubleClick},
                 {"path", EventKind::TextChanged},
                 {"w", EventKind::Created}}) {
            window.bind(name, kind, [this, name = std::string(name)](const EventArgs& args) {
                events.push_back(name + ":" + std::to_string(args.index));
            });
        }
    }

    Window window{kWindow};
    std::vector<std::string> events;
};

TEST_F(Controls, NothingIsDeliveredBeforeCreationFinishes) {
    window.control<EditBox>("edit").setContent(u"1"_s);
    EXPECT_TRUE(events.empty());
    window.finishCreation();
    window.control<EditBox>("edit").setContent(u"1"_s);
    EXPECT_EQ(events, (std::vector<std::string>{"w:0", "edit:0"}));
}

TEST_F(Controls, DropDownListCodeChangesRaiseNothingAndClamp) {
    window.finishCreation();
    events.clear();
    auto& list = window.control<DropDownList>("list");
    EXPECT_EQ(list.addItemWithValue(u"彩色"_s, 2), 0);
    EXPECT_EQ(list.addItemWithValue(u"灰度"_s, 1), 1);
    EXPECT_EQ(list.selection(), -1); // adding never selects
    list.setSelection(7);
    EXPECT_EQ(list.selection(), 1);
    list.setSelection(-5);
    EXPECT_EQ(list.selection(), -1);
    EXPECT_EQ(list.itemValueAt(0), 2);
    EXPECT_EQ(list.itemValueAt(5), -1);
    EXPECT_EQ(list.selectedText(), QString());
    list.clearItems();
    EXPECT_TRUE(events.empty());

    list.addItemWithValue(u"x"_s, 0);
    list.addItemWithValue(u"y"_s, 1);
    list.setSelection(0);
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(events, (std::vector<std::string>{"list:0"}));
}

TEST_F(Controls, EditBoxTextSetByCodeRaisesOnceEvenWhenUnchanged) {
    window.finishCreation();
    events.clear();
    auto& edit = window.control<EditBox>("edit");
    edit.setContent(u"96"_s);
    edit.setContent(u"300"_s);
    EXPECT_EQ(events, (std::vector<std::string>{"edit:0", "edit:0"}));
}

TEST_F(Controls, SliderAndScrollBarClampCodeValuesSilently) {
    window.finishCreation();
    events.clear();
    auto& slider = window.control<Slider>("slider");
    slider.setPosition(0);
    EXPECT_EQ(slider.position(), 1);
    slider.setPosition(15);
    EXPECT_EQ(slider.position(), 10);

    auto& bar = window.control<ScrollBar>("hbar");
    bar.setMaximumPosition(-176);
    EXPECT_EQ(bar.maximum(), 0);
    bar.setMaximumPosition(100000);
    EXPECT_EQ(bar.maximum(), ScrollBar::kLimit);
    bar.setPosition(500);
    bar.setMaximumPosition(100);
    EXPECT_EQ(bar.position(), 100);
    EXPECT_TRUE(events.empty());

    bar.setFocus();
    QTest::keyClick(&bar, Qt::Key_Right);
    EXPECT_EQ(events, (std::vector<std::string>{"hbar:0"}));
}

TEST_F(Controls, ToolbarReportsIndicesWithSeparatorsCounted) {
    window.finishCreation();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    events.clear();
    auto& tools = window.control<Toolbar>("tools");
    ASSERT_EQ(tools.buttonCount(), 5);
    EXPECT_EQ(tools.actionAt(1), nullptr);
    QTest::mouseClick(tools.buttonWidget(4), Qt::LeftButton);
    QTest::mouseClick(tools.buttonWidget(2), Qt::LeftButton);
    EXPECT_EQ(events, (std::vector<std::string>{"tools:4", "tools:2"}));
}

TEST_F(Controls, ListViewDoubleClickOnEmptySpaceFindsNoSelectedRow) {
    window.finishCreation();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    events.clear();
    auto& rows = window.control<ListView>("rows");
    rows.addRow({u"1"_s, u"/tmp/a b.jpg"_s});
    rows.addRow({u"2"_s, u"/tmp/c.jpg"_s});
    const QPoint second = rows.visualItemRect(rows.topLevelItem(1)).center();
    QTest::mouseDClick(rows.viewport(), Qt::LeftButton, {}, second);
    EXPECT_EQ(rows.selectedRow(), 1);
    EXPECT_EQ(rows.cellText(1, 1), u"/tmp/c.jpg"_s);

    const QPoint empty(10, rows.viewport()->height() - 5);
    QTest::mouseClick(rows.viewport(), Qt::LeftButton, {}, empty);
    QTest::mouseDClick(rows.viewport(), Qt::LeftButton, {}, empty);
    EXPECT_EQ(rows.selectedRow(), -1);
    EXPECT_EQ(events, (std::vector<std::string>{"rows:0", "rows:0"}));
}

QAccessibleInterface* accessible(QWidget& widget) {
    return QAccessible::queryAccessibleInterface(&widget);
}

struct RefusedTextCase {
    const char* name;
    bool disabled; // otherwise read-only
    // An edit through the box's editable-text interface, as AT-SPI makes it.
    void (*edit)(QAccessibleInterface& box);
};

void PrintTo(const RefusedTextCase& c, std::ostream* os) {
    *os << c.name;
}

void setContents(QAccessibleInterface& box) {
    box.editableTextInterface()->replaceText(0, box.textInterface()->characterCount(), u"/tmp"_s);
}
void insertAtStart(QAccessibleInterface& box) {
    box.editableTextInterface()->insertText(0, u"/tmp"_s);
}
void deleteTail(QAccessibleInterface& box) {
    box.editableTextInterface()->deleteText(4, box.textInterface()->characterCount());
}

class RefusedText : public Controls, public ::testing::WithParamInterface<RefusedTextCase> {};

TEST_P(RefusedText, BoxTheUserCannotEditKeepsTheProgramsText) {
    const RefusedTextCase& c = GetParam();
    window.finishCreation();
    auto& box = window.control<EditBox>(c.disabled ? "edit" : "path");
    box.setContent(u"/srv/scans"_s);
    box.setEnabled(!c.disabled);
    events.clear();

    c.edit(*accessible(box));
    EXPECT_EQ(box.content(), u"/srv/scans"_s);
    QCoreApplication::processEvents();
    EXPECT_EQ(box.content(), u"/srv/scans"_s);
    EXPECT_TRUE(events.empty());

    box.setContent(u"/home/扫描"_s); // the program's own text is taken
    EXPECT_EQ(box.content(), u"/home/扫描"_s);
    EXPECT_EQ(events.size(), 1u);
}

const RefusedTextCase kRefusedTextCases[] = {
    {"ReadOnlySetContents", false, setContents}, {"ReadOnlyInsert", false, insertAtStart},
    {"ReadOnlyDelete", false, deleteTail},       {"DisabledSetContents", true, setContents},
    {"DisabledInsert", true, insertAtStart},     {"DisabledDelete", true, deleteTail},
};

INSTANTIATE_TEST_SUITE_P(EditBox, RefusedText, ::testing::ValuesIn(kRefusedTextCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(Controls, EditableBoxTakesAssistiveTechnologysTextAsAnEdit) {
    window.finishCreation();
    events.clear();
    auto& edit = window.control<EditBox>("edit");
    setContents(*accessible(edit));
    EXPECT_EQ(edit.content(), u"/tmp"_s);
    insertAtStart(*accessible(edit));
    EXPECT_EQ(edit.content(), u"/tmp/tmp"_s);
    EXPECT_EQ(events, (std::vector<std::string>{"edit:0", "edit:0"}));
}

TEST_F(Controls, DisabledSliderAndScrollBarKeepTheirPositionAgainstAssistiveTechnology) {
    window.finishCreation();
    auto& slider = window.control<Slider>("slider");
    auto& bar = window.control<ScrollBar>("hbar");
    bar.setMaximumPosition(100);
    bar.setPosition(40);
    events.clear();
    slider.setEnabled(false);
    bar.setEnabled(false);
    accessible(slider)->valueInterface()->setCurrentValue(3);
    accessible(bar)->valueInterface()->setCurrentValue(70);
    EXPECT_EQ(slider.position(), 10);
    EXPECT_EQ(bar.position(), 40);
    EXPECT_TRUE(events.empty());

    slider.setEnabled(true);
    bar.setEnabled(true);
    accessible(slider)->valueInterface()->setCurrentValue(3);
    accessible(bar)->valueInterface()->setCurrentValue(70);
    EXPECT_EQ(slider.position(), 3);
    EXPECT_EQ(bar.position(), 70);
    EXPECT_EQ(events, (std::vector<std::string>{"slider:0", "hbar:0"}));
}

TEST_F(Controls, DropDownListOpensAsWideAsItsLongestItemAndShowsTheSelectionAsToolTip) {
    window.finishCreation();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto& list = window.control<DropDownList>("list");
    // A style whose open list is a plain list below the box, not widened by Qt itself.
    const std::unique_ptr<QStyle> listBelowStyle(QStyleFactory::create(u"Windows"_s));
    ASSERT_TRUE(listBelowStyle);
    list.setStyle(listBelowStyle.get());
    const QString longName = u"Canon imageRUNNER ADVANCE C5535 (net:192.168.17.204:airscan)"_s;
    list.addItemWithValue(u"A4"_s, 0);
    list.addItemWithValue(longName, 1);
    EXPECT_EQ(list.toolTip(), QString());
    list.setSelection(1);
    EXPECT_EQ(list.toolTip(), longName);
    const int closedWidth = list.width();

    list.showPopup();
    QAbstractItemView* items = list.view();
    ASSERT_TRUE(items->isVisible());
    const int longest = items->fontMetrics().horizontalAdvance(longName);
    EXPECT_GE(items->visualRect(items->model()->index(1, 0)).width(), longest);
    EXPECT_GE(items->viewport()->width(), items->sizeHintForColumn(0));
    EXPECT_EQ(list.width(), closedWidth);
    list.hidePopup();

    list.setFocus();
    QTest::keyClick(&list, Qt::Key_Up); // the user's choice shows as well
    EXPECT_EQ(list.toolTip(), u"A4"_s);
    list.clearItems();
    EXPECT_EQ(list.toolTip(), QString());
    list.setStyle(nullptr);
}

TEST_F(Controls, DisabledDropDownListDoesNotOpenForAssistiveTechnology) {
    window.finishCreation();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto& list = window.control<DropDownList>("list");
    list.addItemWithValue(u"x"_s, 0);
    list.setEnabled(false);
    accessible(list)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_FALSE(list.view()->isVisible());
    list.setEnabled(true);
    accessible(list)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(list.view()->isVisible());
    list.hidePopup();
}

TEST_F(Controls, UnboundEventsNamesEveryListedEventWithoutAHandler) {
    EXPECT_TRUE(window.unboundEvents().empty()); // the fixture binds each one
    const Window bare{kWindow};
    EXPECT_EQ(
        bare.unboundEvents(),
        (std::vector<std::string>{"w:Created", "tools:ToolbarButtonClick", "list:SelectionChanged",
                                  "edit:TextChanged", "slider:PositionChanged",
                                  "hbar:PositionChanged", "rows:LeftDoubleClick"}));
}

TEST_F(Controls, UnknownControlsAreRefused) {
    EXPECT_THROW(window.bind("nope", EventKind::Click, {}), std::logic_error);
    EXPECT_THROW(window.control<Slider>("edit"), std::logic_error);
}

} // namespace
} // namespace vantrel::ui
