// The printer component printing to PDF files through Qt's file output (no CUPS): page size and
// orientation, the picture over the printable area, the state rules, the dialogs it asks, the
// progress window, lossless and grey output, units and the other drawing commands.

#include "devices/print_image.h"
#include "devices/print_progress_window.h"
#include "devices/printer_job.h"
#include "imaging/drawing_surface.h"
#include "tests/devices/print_test_support.h"
#include "tests/support/sandbox.h"
#include "tests/support/scripted_dialogs.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPushButton>
#include <QWidget>
#include <gtest/gtest.h>

namespace vantrel::test {
namespace {

using namespace Qt::StringLiterals;
using devices::PrinterJob;

struct RowName {
    template <typename Row>
    std::string operator()(const testing::TestParamInfo<Row>& info) const {
        return info.param.name;
    }
};

class PrinterJobTest : public testing::Test {
protected:
    // Starts a job that prints to `name` in the sandbox, without the progress window.
    bool startToFile(const std::string& name, std::optional<int> paper = std::nullopt,
                     std::optional<int> orientation = std::nullopt,
                     std::optional<int> customWidth = std::nullopt,
                     std::optional<int> customHeight = std::nullopt) {
        printDialogs.accept();
        dialogs.answerSaveFile((sandbox / name).string());
        return job.StartPrinting(true, false, paper, orientation, customWidth, customHeight);
    }

    Sandbox sandbox;
    ScriptedDialogs dialogs;
    ScriptedPrintDialogs printDialogs;
    PrinterJob job;
};

// --- Page size, orientation and the picture over the printable area ---------------------------

struct PageRow {
    const char* name;
    std::optional<int> paper;
    int orientation;
    std::optional<int> customWidth, customHeight;
    double widthPts, heightPts; // the PDF page
};

const PageRow kPageRows[] = {
    {"A4Portrait", 2, 0, {}, {}, 595.28, 841.89},
    {"A4Landscape", 2, 1, {}, {}, 841.89, 595.28},
    {"A5Landscape", 3, 1, {}, {}, 595.28, 419.53},
    {"LetterPortrait", 9, 0, {}, {}, 612, 792},
    {"WindowsPaperCodeA3", 1007, 0, {}, {}, 841.89, 1190.55},
    {"CustomPaper100x150mm", -1, 0, 1000, 1500, 283.46, 425.2},
};

class PrinterPageTest : public PrinterJobTest, public testing::WithParamInterface<PageRow> {};

TEST_P(PrinterPageTest, PictureFillsThePrintableAreaOfThePage) {
    const PageRow& row = GetParam();
    ASSERT_TRUE(
        startToFile("page.pdf", row.paper, row.orientation, row.customWidth, row.customHeight));
    // PageWidth and PageHeight are the printable area in 0.1 mm.
    const QRectF printableMm = job.printer()->pageLayout().paintRect(QPageLayout::Millimeter);
    EXPECT_NEAR(job.PageWidth(), printableMm.width() * 10, 1);
    EXPECT_NEAR(job.PageHeight(), printableMm.height() * 10, 1);
    const QRectF printablePts = job.printer()->pageLayout().paintRect(QPageLayout::Point);

    const imaging::PictureHandle picture = registerPicture(quadrantImage(40, 30));
    job.DrawPicture(picture, 0, 0, job.PageWidth(), job.PageHeight());
    job.EndPrinting();
    imaging::UnloadPicture(picture);
    EXPECT_FALSE(job.printing());

    const auto pdf = sandbox / "page.pdf";
    EXPECT_EQ(pdfInfo(pdf)[u"Pages"_s], u"1"_s);
    const QSizeF size = pdfPageSize(pdf);
    EXPECT_NEAR(size.width(), row.widthPts, 1);
    EXPECT_NEAR(size.height(), row.heightPts, 1);

    // At 36 dpi one point is half a pixel: look two pixels inside each corner of the printable
    // area, and two pixels outside it where there is a margin.
    const QImage page = renderPage(pdf, 36);
    ASSERT_FALSE(page.isNull());
    const QRect area(int(printablePts.left() / 2), int(printablePts.top() / 2),
                     int(printablePts.width() / 2), int(printablePts.height() / 2));
    struct Probe {
        QPoint at;
        QRgb colour;
    };
    const Probe probes[] = {{area.topLeft() + QPoint(2, 2), qRgb(255, 0, 0)},
                            {area.topRight() + QPoint(-2, 2), qRgb(0, 255, 0)},
                            {area.bottomLeft() + QPoint(2, -2), qRgb(0, 0, 255)},
                            {area.bottomRight() + QPoint(-2, -2), qRgb(0, 0, 0)}};
    for (const Probe& probe : probes) {
        EXPECT_EQ(page.pixel(probe.at) & 0xFFFFFF, probe.colour & 0xFFFFFF)
            << "at " << probe.at.x() << "," << probe.at.y() << " of " << page.width() << "x"
            << page.height();
    }
    if (area.left() >= 3) {
        EXPECT_EQ(page.pixel(area.left() - 2, area.center().y()) & 0xFFFFFF, 0xFFFFFFu);
    }
}

INSTANTIATE_TEST_SUITE_P(Pages, PrinterPageTest, testing::ValuesIn(kPageRows), RowName());

TEST_F(PrinterJobTest, OrientationAndCopiesReachTheDialog) {
    job.setCopies(3);
    job.setCollate(1);
    printDialogs.cancel();
    EXPECT_FALSE(job.StartPrinting(true, false, std::nullopt, 1));
    ASSERT_EQ(printDialogs.records.size(), 1u);
    EXPECT_EQ(printDialogs.records[0].orientation, QPageLayout::Landscape);
    EXPECT_EQ(printDialogs.records[0].copies, 3);
    EXPECT_TRUE(printDialogs.records[0].collate);
    EXPECT_FALSE(printDialogs.records[0].options.pageNumbers);
    EXPECT_FALSE(printDialogs.records[0].options.selectionEnabled);
}

TEST_F(PrinterJobTest, PageRangeIsOfferedAndReadBack) {
    job.setFirstPageNumber(2);
    job.setLastPageNumber(9);
    job.setFromPage(1);
    job.setToPage(20);
    job.setSelection(0);
    ASSERT_TRUE(startToFile("range.pdf"));
    const devices::PrintDialogOptions& offered = printDialogs.records.at(0).options;
    EXPECT_TRUE(offered.pageNumbers);
    EXPECT_EQ(offered.minPage, 2);
    EXPECT_EQ(offered.maxPage, 9);
    EXPECT_EQ(offered.fromPage, 2);
    EXPECT_EQ(offered.toPage, 9);
    EXPECT_TRUE(offered.selectionEnabled);
    EXPECT_FALSE(offered.selection);
    // The dialog chose no range: both page numbers read -1; the first page printed is page 1.
    EXPECT_EQ(job.FromPage(), -1);
    EXPECT_EQ(job.ToPage(), -1);
    EXPECT_EQ(job.CurrentPage(), 1);
    job.EndPrinting();
}

// --- State rules --------------------------------------------------------------------------------

TEST_F(PrinterJobTest, CancelledDialogSendsNothingAndLeavesTheJobIdle) {
    printDialogs.cancel();
    EXPECT_FALSE(job.StartPrinting(true, true, std::nullopt, 0));
    EXPECT_FALSE(job.printing());
    EXPECT_EQ(job.PageWidth(), 0);
    EXPECT_EQ(job.PageHeight(), 0);
    EXPECT_EQ(job.progressWindow(), nullptr);
    const imaging::PictureHandle picture = registerPicture(quadrantImage(4, 4));
    job.DrawPicture(picture, 0, 0, 100, 100);
    job.EndPrinting();
    imaging::UnloadPicture(picture);
    EXPECT_TRUE(dialogs.records().empty()); // no print-to-file question
    EXPECT_TRUE(std::filesystem::is_empty(sandbox.path()));
}

TEST_F(PrinterJobTest, CancelledPrintToFileLeavesTheJobIdle) {
    printDialogs.accept();
    dialogs.answerSaveFile(std::nullopt);
    EXPECT_FALSE(job.StartPrinting(true, true));
    EXPECT_FALSE(job.printing());
    EXPECT_EQ(job.progressWindow(), nullptr);
    ASSERT_EQ(dialogs.records().size(), 1u);
    EXPECT_EQ(dialogs.records()[0].title, "打印到文件");
    EXPECT_EQ(dialogs.records()[0].filter, "打印输出文件 (*.prn)|*.prn|所有文件 (*.*)|*.*");
    EXPECT_TRUE(std::filesystem::is_empty(sandbox.path()));
}

TEST_F(PrinterJobTest, PrintToFileAddsTheDefaultExtension) {
    ASSERT_TRUE(startToFile("copy"));
    job.EndPrinting();
    EXPECT_TRUE(std::filesystem::exists(sandbox / "copy.prn"));
    EXPECT_EQ(pdfInfo(sandbox / "copy.prn")[u"Pages"_s], u"1"_s);
}

TEST_F(PrinterJobTest, SecondStartFailsAndKeepsTheFirstJob) {
    ASSERT_TRUE(startToFile("first.pdf", std::nullopt, 1));
    const int width = job.PageWidth();
    EXPECT_FALSE(job.StartPrinting(true, true, std::nullopt, 0));
    EXPECT_EQ(printDialogs.records.size(), 1u); // no second dialog
    EXPECT_TRUE(job.printing());
    EXPECT_EQ(job.PageWidth(), width);
    EXPECT_EQ(job.printer()->outputFileName().toStdString(), (sandbox / "first.pdf").string());
    job.EndPrinting();
    EXPECT_EQ(pdfInfo(sandbox / "first.pdf")[u"Pages"_s], u"1"_s);
    EXPECT_GT(pdfPageSize(sandbox / "first.pdf").width(),
              pdfPageSize(sandbox / "first.pdf").height());
}

TEST_F(PrinterJobTest, EndPrintingTwiceAndDrawingAfterwardsDoNothing) {
    ASSERT_TRUE(startToFile("once.pdf"));
    job.EndPrinting();
    const auto written = std::filesystem::last_write_time(sandbox / "once.pdf");
    job.EndPrinting();
    job.DrawLine(0, 0, 100, 100);
    job.NewPage();
    EXPECT_FALSE(job.printing());
    EXPECT_EQ(std::filesystem::last_write_time(sandbox / "once.pdf"), written);
}

struct JobNameRow {
    const char* name;
    std::string jobName;
    QString title;
};

const JobNameRow kJobNameRows[] = {
    {"Empty", "", u"未命名打印作业"_s},
    {"Given", "scan copy", u"scan copy"_s},
};

class PrinterJobNameTest : public PrinterJobTest, public testing::WithParamInterface<JobNameRow> {};

TEST_P(PrinterJobNameTest, DocumentIsSentUnderTheJobName) {
    job.setJobName(GetParam().jobName);
    ASSERT_TRUE(startToFile("named.pdf"));
    EXPECT_EQ(QString::fromStdString(job.documentName()), GetParam().title);
    job.EndPrinting();
    EXPECT_EQ(pdfInfo(sandbox / "named.pdf")[u"Title"_s], GetParam().title);
}

INSTANTIATE_TEST_SUITE_P(Names, PrinterJobNameTest, testing::ValuesIn(kJobNameRows), RowName());

// --- Progress window ----------------------------------------------------------------------------

TEST_F(PrinterJobTest, ProgressWindowDisablesTheOtherWindowsWhileTheJobRuns) {
    QWidget mainWindow;
    mainWindow.show();
    QWidget alreadyDisabled;
    alreadyDisabled.setEnabled(false);
    alreadyDisabled.show();
    job.setJobName("复印");
    printDialogs.accept();
    dialogs.answerSaveFile((sandbox / "progress.pdf").string());
    ASSERT_TRUE(job.StartPrinting(true, true));
    devices::PrintProgressWindow* progress = job.progressWindow();
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(progress->isVisible());
    EXPECT_EQ(progress->windowTitle(), u"正在进行打印，请稍候 ......"_s);
    EXPECT_EQ(progress->jobName(), u"复印"_s);
    EXPECT_EQ(progress->destination(), u"progress.pdf"_s);
    EXPECT_EQ(progress->copyText(), u"1"_s);
    EXPECT_EQ(progress->pageText(), u"1"_s);
    EXPECT_EQ(progress->abortButton()->text(), u"中止打印"_s);
    EXPECT_FALSE(mainWindow.isEnabled());
    EXPECT_TRUE(progress->isEnabled());

    job.NewPage();
    EXPECT_EQ(progress->pageText(), u"2"_s);
    job.EndPrinting();
    EXPECT_EQ(job.progressWindow(), nullptr);
    EXPECT_TRUE(mainWindow.isEnabled());
    EXPECT_FALSE(alreadyDisabled.isEnabled()); // not ours to enable
}

TEST_F(PrinterJobTest, AbortButtonEndsTheJob) {
    QWidget mainWindow;
    mainWindow.show();
    printDialogs.accept();
    dialogs.answerSaveFile((sandbox / "aborted.pdf").string());
    ASSERT_TRUE(job.StartPrinting(true, true));
    job.progressWindow()->abortButton()->click();
    QCoreApplication::processEvents();
    EXPECT_FALSE(job.printing());
    EXPECT_EQ(job.progressWindow(), nullptr);
    EXPECT_TRUE(mainWindow.isEnabled());
    EXPECT_TRUE(std::filesystem::exists(sandbox / "aborted.pdf"));
}

// --- Picture output: lossless, grey and black-and-white kept -----------------------------------

struct ToneRow {
    const char* name;
    QRgb dark, light; // the picture's two colours
    QString type;     // as pdfimages lists the image
    QString colour;
    int bitsPerComponent;
};

const ToneRow kToneRows[] = {
    {"Colour", qRgb(200, 30, 40), qRgb(20, 90, 250), u"image"_s, u"rgb"_s, 8},
    {"Grey", qRgb(60, 60, 60), qRgb(200, 200, 200), u"image"_s, u"gray"_s, 8},
    {"BlackAndWhite", qRgb(0, 0, 0), qRgb(255, 255, 255), u"image"_s, u"gray"_s, 1},
};

class PrinterToneTest : public PrinterJobTest, public testing::WithParamInterface<ToneRow> {};

TEST_P(PrinterToneTest, PictureIsStoredLosslesslyInItsTone) {
    const ToneRow& row = GetParam();
    QImage image(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            image.setPixel(x, y, (x / 8 + y / 8) % 2 ? row.dark : row.light);
        }
    }
    const imaging::PictureHandle picture = registerPicture(image);
    ASSERT_TRUE(startToFile("tone.pdf", 2, 0));
    job.DrawPicture(picture, 0, 0, job.PageWidth(), job.PageHeight());
    job.EndPrinting();
    imaging::UnloadPicture(picture);

    const std::vector<PdfImage> images = pdfImages(sandbox / "tone.pdf");
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].type, row.type);
    EXPECT_EQ(images[0].width, 64); // the picture's own pixels, not resampled
    EXPECT_EQ(images[0].height, 48);
    EXPECT_EQ(images[0].colour, row.colour);
    EXPECT_EQ(images[0].bitsPerComponent, row.bitsPerComponent);
    EXPECT_NE(images[0].encoding, u"jpeg"_s);

    // The page shows the picture's colours exactly (lossless), checked at a cell's centre.
    const QImage page = renderPage(sandbox / "tone.pdf", 36);
    const QRectF area = QRectF(0, 0, page.width(), page.height());
    const QPointF lightCell(area.width() * 4 / 64, area.height() * 4 / 48);
    const QPointF darkCell(area.width() * 12 / 64, area.height() * 4 / 48);
    EXPECT_EQ(page.pixel(lightCell.toPoint()) & 0xFFFFFF, row.light & 0xFFFFFF);
    EXPECT_EQ(page.pixel(darkCell.toPoint()) & 0xFFFFFF, row.dark & 0xFFFFFF);
}

INSTANTIATE_TEST_SUITE_P(Tones, PrinterToneTest, testing::ValuesIn(kToneRows), RowName());

TEST(PrintImageTest, TransparentColourBecomesSeeThrough) {
    QImage image(4, 1, QImage::Format_RGB32);
    image.setPixel(0, 0, qRgb(255, 255, 255));
    image.setPixel(1, 0, qRgb(10, 20, 30));
    image.setPixel(2, 0, qRgb(255, 255, 254)); // near the key colour: drawn
    image.setPixel(3, 0, qRgb(0, 0, 0));
    const imaging::PictureHandle picture = registerPicture(image);
    const auto print = devices::makePrintImage(*imaging::pictureRegistry().find(picture),
                                               imaging::DrawMode::fromCopyMode(-0xFFFFFF));
    imaging::UnloadPicture(picture);
    ASSERT_EQ(print.image.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(qAlpha(print.image.pixel(0, 0)), 0);
    EXPECT_EQ(print.image.pixel(1, 0), qRgb(10, 20, 30));
    EXPECT_EQ(print.image.pixel(2, 0), qRgb(255, 255, 254));
    EXPECT_EQ(print.image.pixel(3, 0), qRgb(0, 0, 0));
}

TEST(PrintImageTest, CopyModesCombineWithWhitePaper) {
    QImage image(1, 1, QImage::Format_RGB32);
    image.setPixel(0, 0, qRgb(10, 200, 30));
    const imaging::PictureHandle picture = registerPicture(image);
    const auto& object = *imaging::pictureRegistry().find(picture);
    EXPECT_EQ(devices::makePrintImage(object, imaging::DrawMode::fromCopyMode(2)).image.pixel(0, 0),
              qRgb(245, 55, 225)); // inverted copy
    EXPECT_EQ(devices::makePrintImage(object, imaging::DrawMode::fromCopyMode(5)).image.pixel(0, 0),
              qRgb(10, 200, 30)); // AND with white
    EXPECT_EQ(devices::makePrintImage(object, imaging::DrawMode::fromCopyMode(4)).image.pixel(0, 0),
              qRgb(255, 255, 255)); // OR with white
    imaging::UnloadPicture(picture);
}

// --- Units, margins, properties -----------------------------------------------------------------

struct UnitRow {
    const char* name;
    int unit;
    double perMm; // units per millimetre; 0: device pixels
};

const UnitRow kUnitRows[] = {
    {"DevicePixels", 0, 0},
    {"TenthMillimetre", 1, 10},
    {"HundredthMillimetre", 2, 100},
    {"HundredthInch", 3, 100 / 25.4},
    {"ThousandthInch", 4, 1000 / 25.4},
    {"Twips", 5, 1440 / 25.4},
};

class PrinterUnitTest : public PrinterJobTest, public testing::WithParamInterface<UnitRow> {};

TEST_P(PrinterUnitTest, PageSizeIsInTheCurrentUnitLessTheMargins) {
    const UnitRow& row = GetParam();
    job.setUnit(row.unit);
    ASSERT_TRUE(startToFile("unit.pdf", 2, 0));
    const QRectF mm = job.printer()->pageLayout().paintRect(QPageLayout::Millimeter);
    const double perMm = row.perMm > 0 ? row.perMm : job.printer()->resolution() / 25.4;
    EXPECT_NEAR(job.PageWidth(), mm.width() * perMm, 1 + perMm / 100);
    EXPECT_NEAR(job.PageHeight(), mm.height() * perMm, 1 + perMm / 100);
    const int width = job.PageWidth();
    const int height = job.PageHeight();
    job.setLeftMargin(10);
    job.setRightMargin(15);
    job.setTopMargin(3);
    job.setBottomMargin(height); // more than is left: 0, never negative
    EXPECT_EQ(job.PageWidth(), width - 25);
    EXPECT_EQ(job.PageHeight(), 0);
    job.EndPrinting();
}

INSTANTIATE_TEST_SUITE_P(Units, PrinterUnitTest, testing::ValuesIn(kUnitRows), RowName());

TEST(PrinterPropertiesTest, DefaultsAndClampedWrites) {
    PrinterJob job;
    EXPECT_EQ(job.Unit(), 1);
    EXPECT_EQ(job.PenStyle(), 1);
    EXPECT_EQ(job.DrawMode(), 12);
    EXPECT_EQ(job.BrushType(), 1);
    EXPECT_EQ(job.FillColour(), 0xFFFFFFu);
    EXPECT_EQ(job.BackColour(), 0xFF000000u);
    EXPECT_EQ(job.Copies(), 1);
    EXPECT_EQ(job.FromPage(), 1);
    EXPECT_EQ(job.ToPage(), -1);
    EXPECT_EQ(job.FirstPageNumber(), -1);
    EXPECT_EQ(job.Selection(), -1);
    EXPECT_EQ(job.CurrentPage(), 1);
    EXPECT_EQ(job.CurrentCopy(), 1);
    EXPECT_FALSE(job.Font().has_value());

    job.setUnit(9);
    job.setPenStyle(-3);
    job.setDrawMode(16);
    job.setPenWidth(40000);
    job.setBrushType(56);
    job.setCopies(-5);
    job.setFirstPageNumber(40000);
    job.setSelection(2);
    EXPECT_EQ(job.Unit(), 5);
    EXPECT_EQ(job.PenStyle(), 0);
    EXPECT_EQ(job.DrawMode(), 15);
    EXPECT_EQ(job.PenWidth(), 32767);
    EXPECT_EQ(job.BrushType(), 55);
    EXPECT_EQ(job.Copies(), -1);
    EXPECT_EQ(job.FirstPageNumber(), 32767);
    EXPECT_EQ(job.Selection(), 1);
}

TEST(PrinterPropertiesTest, NoDialogIsShownWithoutASeam) {
    // The silent default cancels: a job never starts behind a test's back.
    PrinterJob job;
    EXPECT_FALSE(job.StartPrinting(true, true));
    EXPECT_FALSE(job.printing());
}

// --- The other drawing commands -----------------------------------------------------------------

// Sizes follow the panel's rule: -1 (or none) is the picture's own size, any other size below 1
// draws nothing (a stretch to a negative size would mirror the picture on paper only).
TEST_F(PrinterJobTest, NegativeSizesDrawNothingAsOnThePanel) {
    ASSERT_TRUE(startToFile("sizes.pdf", 2, 0));
    const QPointF origin = job.printer()->pageLayout().paintRect(QPageLayout::Point).topLeft();
    const imaging::PictureHandle picture = registerPicture(quadrantImage(40, 30));
    job.DrawPicture(picture, 1500, 500, -1000, 500);  // would mirror onto 500..1500
    job.DrawPicture(picture, 500, 1500, 1000, -500);  // would mirror onto 1000..1500
    job.DrawPicture(picture, 1500, 1500, 1000, 1000); // drawn
    job.EndPrinting();
    imaging::UnloadPicture(picture);

    const auto at = [&](double units) { return int(origin.x() + units * 72 / 254); };
    const QImage page = renderPage(sandbox / "sizes.pdf", 72, 1);
    ASSERT_FALSE(page.isNull());
    EXPECT_EQ(page.pixel(at(1000), at(750)) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(page.pixel(at(1000), at(1250)) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_NE(page.pixel(at(2000), at(2000)) & 0xFFFFFF, 0xFFFFFFu);

    imaging::DrawingSurface panel(100, 100);
    const imaging::PictureHandle again = registerPicture(quadrantImage(40, 30));
    panel.drawPicture(again, 90, 10, -50, 30);
    imaging::UnloadPicture(again);
    EXPECT_EQ(panel.bitmap().row(20)[60] & 0xFFFFFF, 0xFFFFFFu);
}

TEST_F(PrinterJobTest, DrawingCommandsDrawOnTheirPages) {
    job.setPenStyle(0);
    job.setPenWidth(5);         // 0.5 mm
    job.setPenColour(0x0000FF); // red
    job.setBrushType(1);
    job.setFillColour(0xFF0000); // blue
    ASSERT_TRUE(startToFile("shapes.pdf", 2, 0));
    const QPointF origin = job.printer()->pageLayout().paintRect(QPageLayout::Point).topLeft();
    job.DrawRectangle(100, 100, 600, 400); // page 1: blue box, red outline
    job.NewPage();
    job.FillRectangle(0, 0, 500, 500, 0x00FF00); // page 2: green square
    job.DrawEllipse(1000, 1000, 1500, 1500);
    job.DrawLine(0, 2000, 2000, 2000);
    job.DrawPie(0, 2200, 400, 2600, 400, 2400, 200, 2200);
    job.DrawChord(500, 2200, 900, 2600, 900, 2400, 700, 2200);
    job.DrawArc(1000, 2200, 1400, 2600, 1400, 2400, 1200, 2200);
    job.DrawRoundRect(1500, 2200, 1900, 2600, 100, 100);
    job.DrawPolygon({{0, 2700}, {400, 2700}, {200, 2900}});
    job.SetPixel(10, 10, 0);
    job.EndPrinting();

    const auto pdf = sandbox / "shapes.pdf";
    EXPECT_EQ(pdfInfo(pdf)[u"Pages"_s], u"2"_s);
    // 0.1 mm at 72 dpi: 1 unit = 72 / 254 pixels.
    const auto at = [&](double units) { return int(origin.x() + units * 72 / 254); };
    const QImage first = renderPage(pdf, 72, 1);
    const QImage second = renderPage(pdf, 72, 2);
    EXPECT_EQ(first.pixel(at(350), at(250)) & 0xFFFFFF, 0x0000FFu); // fill
    EXPECT_EQ(first.pixel(at(100), at(250)) & 0xFFFFFF, 0xFF0000u); // outline
    EXPECT_EQ(second.pixel(at(250), at(250)) & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(second.pixel(at(1250), at(1250)) & 0xFFFFFF, 0x0000FFu);
}

TEST_F(PrinterJobTest, TextBreaksLinesAndStartsNewPages) {
    job.setFont(devices::JobFont{.family = "WenQuanYi Zen Hei", .height = -48});
    ASSERT_TRUE(startToFile("text.pdf", 2, 0));
    std::string text;
    for (int i = 0; i < 120; ++i) {
        text += "第" + std::to_string(i) + "行 some words to wrap across the line\n";
    }
    job.PrintText(text);
    const int pages = job.CurrentPage();
    job.EndPrinting();
    EXPECT_GT(pages, 1);
    EXPECT_EQ(pdfInfo(sandbox / "text.pdf")[u"Pages"_s], QString::number(pages));
    const QString words =
        runTool(u"pdftotext"_s, {QString::fromStdString((sandbox / "text.pdf").string()), u"-"_s});
    EXPECT_TRUE(words.contains(u"第0行"_s));
    EXPECT_TRUE(words.contains(u"第119行"_s));
}

} // namespace
} // namespace vantrel::test
