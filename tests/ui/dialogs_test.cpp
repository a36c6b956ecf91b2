#include "ui/qt_dialogs.h"

#include "ui/input_box.h"
#include "ui/runtime.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace vantrel::ui {
namespace {

TEST(FileFilter, DescriptionKeptAndPatternsSeparatedByBlanks) {
    EXPECT_EQ(toQtFileFilter("图片文件(*.bmp;*.jpg;*.png;*.gif)|*.bmp;*.jpg;*.png;*.gif;*.jpge"),
              u"图片文件(*.bmp;*.jpg;*.png;*.gif) (*.bmp *.jpg *.png *.gif *.jpge)"_s);
    EXPECT_EQ(toQtFileFilter("A|*.a|B|*.b;*.c"), u"A (*.a);;B (*.b *.c)"_s);
    EXPECT_EQ(toQtFileFilter(""), QString());
}

} // namespace
} // namespace vantrel::ui

namespace vantrel::ui {
namespace {

TEST(InputBox, ShowsTheRequestWithTheFieldSelectedAndFiltersTypedCharacters) {
    InputBox box({.title = "设置色差值",
                  .prompt = "请输入图像处理的允许色差值",
                  .initialText = "20",
                  .okCaption = "确认输入(&O)",
                  .cancelCaption = "取消(&C)",
                  .allowedCharacters = "-0123456789"});
    EXPECT_EQ(box.windowTitle(), u"设置色差值"_s);
    EXPECT_NE(box.findChild<QLabel*>(), nullptr);
    EXPECT_EQ(box.findChild<QLabel*>()->text(), u"请输入图像处理的允许色差值"_s);
    QStringList captions;
    for (auto* button : box.findChildren<QPushButton*>()) {
        captions << button->text();
    }
    captions.sort();
    EXPECT_EQ(captions, (QStringList{u"取消(&C)"_s, u"确认输入(&O)"_s}));

    QLineEdit* field = box.field();
    EXPECT_EQ(field->selectedText(), u"20"_s);
    QTest::keyClicks(field, u"x-3a5"_s); // replaces the selection; letters are swallowed
    EXPECT_EQ(box.text(), u"-35"_s);
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_EQ(box.text(), u"-3"_s);
}

TEST(Runtime, QtOwnDialogsSpeakChinese) {
    initialiseRuntime(*qApp);
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), u"取消"_s);
}

} // namespace
} // namespace vantrel::ui
