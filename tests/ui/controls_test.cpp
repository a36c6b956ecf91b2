// The event rules the program relies on, on a small window built from its own definition.

#include "ui/button_controls.h"
#include "ui/list_controls.h"
#include "ui/range_controls.h"
#include "ui/text_controls.h"
#include "ui/toolbar.h"
#include "ui/window.h"

#include <QTest>
#include <array>
#include <gtest/gtest.h>

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

TEST_F(Controls, UnknownControlsAreRefused) {
    EXPECT_THROW(window.bind("nope", EventKind::Click, {}), std::logic_error);
    EXPECT_THROW(window.control<Slider>("edit"), std::logic_error);
}

} // namespace
} // namespace vantrel::ui
