// The main window as the user and assistive technology meet it.

#include "app/main_window_definition.h"
#include "tests/app/main_window_fixture.h"
#include "ui/container_controls.h"
#include "ui/list_controls.h"
#include "ui/toolbar.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAction>
#include <QLabel>
#include <QMenuBar>
#include <QTest>

using namespace Qt::StringLiterals;

namespace vantrel::test {
namespace {

class MainWindowLayout : public ::testing::Test, public MainWindowFixture {
protected:
    void SetUp() override {
        start();
        main_->start();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
    }
    QWidget* widget(const char* name) const { return dynamic_cast<QWidget*>(window().find(name)); }
};

TEST_F(MainWindowLayout, FixedOuterSizeCaptionAndNoMaximise) {
    // Offscreen there is no window frame, so the window itself has the whole outer size.
    EXPECT_EQ(window().frameGeometry().size(), QSize(925, 905));
    EXPECT_EQ(window().minimumSize(), window().maximumSize());
    EXPECT_EQ(window().windowTitle(), u"Vantrel"_s);
    EXPECT_FALSE(window().windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window().windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(window().windowIcon().isNull());
}

TEST_F(MainWindowLayout, ChildrenStandInTheirParentsAndTheProgressPanelIsHidden) {
    EXPECT_EQ(widget("组合框1")->parentWidget(), widget("分组框1"));
    EXPECT_EQ(widget("组合框1")->geometry(), QRect(88, 16, 152, 20));
    EXPECT_EQ(widget("画板1")->parentWidget(), widget("图片框1"));
    // Inside the preview frame's one-pixel border.
    EXPECT_EQ(widget("画板1")->geometry(), QRect(1, 1, 598, 774));
    EXPECT_EQ(widget("纵向滚动条1")->geometry(), QRect(902, 64, 18, 774));
    // The toolbar grows to fit pictures above captions but ends above the first group box.
    EXPECT_LE(widget("工具条1")->geometry().bottom(), 60);
    EXPECT_FALSE(widget("图片框3")->isVisible());
    EXPECT_TRUE(widget("图片框1")->isVisible());
    auto& spinner = control<ui::PictureBox>("图片框4");
    EXPECT_TRUE(spinner.hasPicture());
}

TEST_F(MainWindowLayout, EveryEventTheDefinitionListsHasAHandler) {
    EXPECT_EQ(window().unboundEvents(), std::vector<std::string>{});
}

TEST_F(MainWindowLayout, BusyAnimationPlaysOnlyWhileTheProgressPanelShows) {
    auto& panel = control<ui::PictureBox>(control::kProgressPanel);
    auto& spinner = control<ui::PictureBox>(control::kBusyAnimation);
    EXPECT_FALSE(spinner.isAnimating()); // an idle window wakes nobody
    panel.show();
    EXPECT_TRUE(spinner.isAnimating());
    EXPECT_TRUE(QTest::qWaitFor([&] { return spinner.framesShown() > 1; }, 10000));
    panel.hide();
    EXPECT_FALSE(spinner.isAnimating());
}

TEST_F(MainWindowLayout, DeviceListShowsLongScannerNamesInFull) {
    auto& devices = control<ui::DropDownList>(control::kDeviceList);
    const QString longName =
        u"Canon imageRUNNER ADVANCE C5535 (net:192.168.17.204:airscan 扫描仪)"_s;
    devices.addItemWithValue(u"frontend-tester (test:0)"_s, 0);
    devices.addItemWithValue(longName, 1);
    devices.setSelection(1);
    EXPECT_EQ(devices.toolTip(), longName);

    devices.showPopup();
    QAbstractItemView* items = devices.view();
    ASSERT_TRUE(items->isVisible());
    EXPECT_GE(items->viewport()->width(), items->sizeHintForColumn(0));
    EXPECT_GT(items->window()->width(), 152);
    EXPECT_EQ(devices.geometry(), QRect(88, 16, 152, 20)); // the closed list keeps its place
    devices.hidePopup();
}

TEST_F(MainWindowLayout, ToolbarButtonsAndMenus) {
    auto& toolbar = control<ui::Toolbar>(control::kToolbar);
    ASSERT_EQ(toolbar.buttonCount(), 14);
    EXPECT_EQ(toolbar.actionAt(7)->text(), u"打开保存目录"_s);
    for (int separator : {3, 6, 8, 11}) {
        EXPECT_EQ(toolbar.actionAt(separator), nullptr) << separator;
    }
    QStringList menus;
    for (QAction* menu : window().menuBar()->actions()) {
        QStringList items;
        for (QAction* item : menu->menu()->actions()) {
            items << item->text();
        }
        menus << menu->text() + u'/' + items.join(u',');
    }
    EXPECT_EQ(menus, (QStringList{u"菜单/关闭"_s, u"选项/色差值"_s}));
}

struct AccessibleCase {
    const char* control;
    const char* name;
};

void PrintTo(const AccessibleCase& c, std::ostream* os) {
    *os << c.control;
}

class AccessibleNames : public MainWindowLayout,
                        public ::testing::WithParamInterface<AccessibleCase> {};

// What a screen reader announces for a control: the label it is labelled by, if any (on Linux a
// drop-down list's own name is its current item), otherwise its accessible name.
QString announcedName(QWidget* widget) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    if (!accessible) {
        return u"<not accessible>"_s;
    }
    // Group boxes label their children too; the label beside a control is a QLabel.
    for (const auto& [related, relation] : accessible->relations(QAccessible::Label)) {
        if (qobject_cast<QLabel*>(related->object())) {
            return related->text(QAccessible::Name);
        }
    }
    return accessible->text(QAccessible::Name);
}

TEST_P(AccessibleNames, EachControlIsAnnouncedByTheTextBesideIt) {
    EXPECT_EQ(announcedName(widget(GetParam().control)), QString::fromUtf8(GetParam().name));
}

const AccessibleCase kAccessibleCases[] = {
    {"组合框1", "选择输入设备："},   {"组合框2", "色彩模式："}, {"编辑框1", "扫描分辨率："},
    {"颜色选择器1", "透明颜色："},   {"编辑框3", "加入背景："}, {"编辑框2", "保存位置："},
    {"组合框3", "保存格式："},       {"滑块条1", "图片质量："}, {"按钮1", "刷新"},
    {"选择框4", "启用扫描叠加模式"}, {"按钮2", "选择背景图片"}, {"按钮3", "清除背景图片"},
    {"按钮5", "选择保存目录"},       {"按钮6", "手动保存"},     {"按钮7", "保存并打开目录"},
    {"超级列表框1", "已保存的文件"},
};

INSTANTIATE_TEST_SUITE_P(Controls, AccessibleNames, ::testing::ValuesIn(kAccessibleCases));

TEST_F(MainWindowLayout, ToolbarButtonsAreAnnouncedByTheirCaptions) {
    auto& toolbar = control<ui::Toolbar>(control::kToolbar);
    EXPECT_EQ(announcedName(toolbar.buttonWidget(5)), u"连续扫描证件"_s);
}

} // namespace
} // namespace vantrel::test
