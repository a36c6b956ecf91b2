#include "ui/qt_dialogs.h"

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
