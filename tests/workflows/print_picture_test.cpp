// Printing a copy through the printer component to a PDF file: the orientation follows the
// preview panel's shape, the page is stretched over the printable area, and a cancelled print
// dialog sends nothing.

#include "devices/printer_job.h"
#include "tests/devices/print_test_support.h"
#include "tests/support/sandbox.h"
#include "tests/support/scripted_dialogs.h"
#include "workflows/print_picture.h"

#include <gtest/gtest.h>

namespace vantrel::test {
namespace {

using namespace Qt::StringLiterals;

struct ShapeRow {
    const char* name;
    int width, height; // the preview panel and the page
    QPageLayout::Orientation orientation;
};

const ShapeRow kShapeRows[] = {
    {"TallIsPortrait", 60, 80, QPageLayout::Portrait},
    {"WideIsLandscape", 80, 60, QPageLayout::Landscape},
    {"SquareIsPortrait", 70, 70, QPageLayout::Portrait},
};

class PrintPictureTest : public testing::TestWithParam<ShapeRow> {
protected:
    Sandbox sandbox;
    ScriptedDialogs dialogs;
    ScriptedPrintDialogs printDialogs;
    devices::PrinterJob printer;
};

TEST_P(PrintPictureTest, PageIsPrintedInTheOrientationOfItsShape) {
    const ShapeRow& row = GetParam();
    printDialogs.accept();
    dialogs.answerSaveFile((sandbox / "copy.pdf").string());
    const imaging::PictureHandle picture = registerPicture(quadrantImage(row.width, row.height));
    workflows::PrintPicture(printer, picture, row.width, row.height);
    imaging::UnloadPicture(picture);

    EXPECT_FALSE(printer.printing());
    ASSERT_EQ(printDialogs.records.size(), 1u);
    EXPECT_EQ(printDialogs.records[0].orientation, row.orientation);
    const auto pdf = sandbox / "copy.pdf";
    EXPECT_EQ(pdfInfo(pdf)[u"Pages"_s], u"1"_s);
    const QSizeF size = pdfPageSize(pdf);
    EXPECT_EQ(size.width() > size.height(), row.orientation == QPageLayout::Landscape);
    // Stretched over the printable area: the middle of the page is where the four quadrants
    // meet, and the corners of the printable area show the picture's corners.
    const QImage page = renderPage(pdf, 36);
    const int w = page.width();
    const int h = page.height();
    EXPECT_EQ(page.pixel(w / 4, h / 4) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(page.pixel(w * 3 / 4, h / 4) & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(page.pixel(w / 4, h * 3 / 4) & 0xFFFFFF, 0x0000FFu);
    EXPECT_EQ(page.pixel(w * 3 / 4, h * 3 / 4) & 0xFFFFFF, 0x000000u);
    EXPECT_EQ(pdfImages(pdf).at(0).encoding, u"image"_s); // lossless
}

INSTANTIATE_TEST_SUITE_P(Shapes, PrintPictureTest, testing::ValuesIn(kShapeRows),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(PrintPictureCancelTest, CancelledDialogPrintsNothing) {
    Sandbox sandbox;
    ScriptedDialogs dialogs;
    ScriptedPrintDialogs printDialogs;
    devices::PrinterJob printer;
    printDialogs.cancel();
    const imaging::PictureHandle picture = registerPicture(quadrantImage(8, 8));
    workflows::PrintPicture(printer, picture, 8, 8);
    EXPECT_NE(imaging::pictureRegistry().find(picture), nullptr); // the caller's to unload
    imaging::UnloadPicture(picture);
    EXPECT_FALSE(printer.printing());
    EXPECT_TRUE(dialogs.records().empty());
    EXPECT_TRUE(std::filesystem::is_empty(sandbox.path()));
}

} // namespace
} // namespace vantrel::test
