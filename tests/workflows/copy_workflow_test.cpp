// The copy commands on the real main window: a normal copy prints the page at once in the
// orientation of its shape (even when it is pressed again while its page is still scanning), an
// ID-card copy asks for the second side and prints both on one sheet, a cancelled print dialog
// prints nothing, and a scan that never arrives ends the copy. What the printer got is read back
// from the printed PDF pixel for pixel: both cards of an ID-card copy on off-white paper, the
// newest page alone in overlay mode, the background under the page in background mode.

#include "tests/devices/print_test_support.h"
#include "tests/workflows/bmp_fixture.h"
#include "tests/workflows/planned_scanner.h"
#include "tests/workflows/workflow_fixture.h"
#include "ui/button_controls.h"
#include "ui/container_controls.h"
#include "ui/list_controls.h"
#include "ui/text_controls.h"
#include "workflows/control_names.h"
#include "workflows/panel.h"
#include "workflows/scan_workflow.h"
#include "workflows/workflow_state.h"

#include <QTest>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

using namespace Qt::StringLiterals;

namespace vantrel::test {
namespace {

constexpr const char* kSecondSide = "准备好复印第二面后请点击【确定】";

// A page as pixels (0x00BBGGRR, top row first), scanned as the BMP file bytes of bytes().
struct Page {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;

    std::uint32_t at(int x, int y) const { return pixels[std::size_t(y * width + x)]; }
    std::vector<std::uint8_t> bytes() const { return bmp24(width, height, pixels); }
};

struct Rect {
    int left, top, width, height;
    bool contains(int x, int y) const {
        return x >= left && x < left + width && y >= top && y < top + height;
    }
};

Page filled(int width, int height, const std::function<std::uint32_t(int, int)>& colour) {
    Page page{width, height, {}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            page.pixels.push_back(colour(x, y));
        }
    }
    return page;
}

void paint(Page& page, Rect rect, std::uint32_t colour) {
    for (int y = rect.top; y < rect.top + rect.height; ++y) {
        for (int x = rect.left; x < rect.left + rect.width; ++x) {
            page.pixels[std::size_t(y * page.width + x)] = colour;
        }
    }
}

// Scanned paper as a real scanner gives it: never exactly white, each channel anywhere in
// 245-254, and every seventh pixel 245 on all three (30 from white, the farthest paper gets).
Page offWhitePaper(int width, int height, unsigned seed) {
    std::minstd_rand random(seed);
    int n = 0;
    return filled(width, height, [&](int, int) -> std::uint32_t {
        if (n++ % 7 == 0) {
            return 0xF5F5F5;
        }
        std::uint32_t colour = 0;
        for (int channel = 0; channel < 3; ++channel) {
            colour |= (245 + random() % 10) << (8 * channel);
        }
        return colour;
    });
}

std::uint32_t colourOf(QRgb pixel) {
    return std::uint32_t(qRed(pixel)) | std::uint32_t(qGreen(pixel)) << 8 |
           std::uint32_t(qBlue(pixel)) << 16;
}

// The picture the printer was given, as the PDF holds it: its only image, stored losslessly.
QImage printedPicture(const std::filesystem::path& pdf) {
    if (pdfImages(pdf).size() != 1) {
        return {};
    }
    const auto stem = pdf.parent_path() / (pdf.stem().string() + "-image");
    runTool(u"pdfimages"_s, {u"-png"_s, QString::fromStdString(pdf.string()),
                             QString::fromStdString(stem.string())});
    return QImage(QString::fromStdString(stem.string() + "-000.png"))
        .convertToFormat(QImage::Format_RGB32);
}

// Every pixel of `printed` is the expected page's; the first few that are not are named.
::testing::AssertionResult printedAs(const QImage& printed, const Page& expected) {
    if (printed.size() != QSize(expected.width, expected.height)) {
        return ::testing::AssertionFailure()
               << "printed " << printed.width() << "x" << printed.height() << ", expected "
               << expected.width << "x" << expected.height;
    }
    int wrong = 0;
    std::ostringstream firstWrong;
    for (int y = 0; y < expected.height; ++y) {
        for (int x = 0; x < expected.width; ++x) {
            const std::uint32_t got = colourOf(printed.pixel(x, y));
            if (got != expected.at(x, y) && wrong++ < 5) {
                firstWrong << " (" << x << "," << y << ") " << std::hex << got << " not "
                           << expected.at(x, y) << std::dec << ";";
            }
        }
    }
    if (wrong > 0) {
        return ::testing::AssertionFailure() << wrong << " pixels differ:" << firstWrong.str();
    }
    return ::testing::AssertionSuccess();
}

class CopyFixture : public ::testing::Test, public WorkflowFixture {
protected:
    // The print dialog accepts printing to a file, which the save dialog names.
    std::filesystem::path printToFile(const char* name) {
        printDialogs_.accept();
        const auto pdf = sandbox_ / name;
        dialogs_.answerSaveFile(pdf.string());
        return pdf;
    }

    bool waitForFile(const std::filesystem::path& file) {
        return QTest::qWaitFor([&] { return std::filesystem::exists(file); }, 20000);
    }

    QImage panelImage() const {
        const auto bytes = workflows::previewSurface(window()).getPicture();
        return QImage::fromData(bytes.data(), int(bytes.size()), "BMP")
            .convertToFormat(QImage::Format_RGB32);
    }

    ScriptedPrintDialogs printDialogs_;
};

class CopyWorkflowTest : public CopyFixture {
protected:
    void startWithSane(const std::vector<SaneSetting>& testConf = {}) {
        WorkflowFixture::startWithSane(testConf);
        chooseTestScanner(30);
    }
};

TEST_F(CopyWorkflowTest, NormalCopyPrintsThePortraitPageAtOnce) {
    startWithSane();
    const auto pdf = printToFile("copy.pdf");
    main_->scanWorkflow().OnToolbarClick(1);
    ASSERT_TRUE(waitForFile(pdf));
    EXPECT_EQ(pdfInfo(pdf)[u"Pages"_s], u"1"_s);
    const QSizeF size = pdfPageSize(pdf);
    EXPECT_LT(size.width(), size.height());
    ASSERT_EQ(printDialogs_.records.size(), 1u);
    EXPECT_EQ(printDialogs_.records[0].orientation, QPageLayout::Portrait);
    EXPECT_EQ(dialogs_.beeps(), 1);
    EXPECT_FALSE(workflows::workflowState().copyPending);
    EXPECT_EQ(pdfImages(pdf).at(0).encoding, u"image"_s); // lossless
}

TEST_F(CopyWorkflowTest, WidePageIsCopiedInLandscape) {
    startWithSane();
    const auto pdf = printToFile("wide.pdf");
    workflows::workflowState().copyPending = true;
    main_->scanWorkflow().OnPageAcquired(pageWithSquare(300, 200, 0xFFFFFF, 0x0000FF, 0, 0, 20),
                                         300, 200);
    ASSERT_TRUE(waitForFile(pdf));
    ASSERT_EQ(printDialogs_.records.size(), 1u);
    EXPECT_EQ(printDialogs_.records[0].orientation, QPageLayout::Landscape);
    const QSizeF size = pdfPageSize(pdf);
    EXPECT_GT(size.width(), size.height());
}

TEST_F(CopyWorkflowTest, CopyPressedAgainWhileItsScanRunsIsRefusedAndTheFirstStillPrints) {
    startWithSane();
    const auto pdf = printToFile("copy.pdf");
    main_->scanWorkflow().OnToolbarClick(1);
    main_->scanWorkflow().OnToolbarClick(1); // before the first copy's page has come
    ASSERT_TRUE(waitForFile(pdf));
    EXPECT_EQ(pdfInfo(pdf)[u"Pages"_s], u"1"_s);
    const auto messages = dialogs_.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "正在扫描，请稍候");
    EXPECT_EQ(messages[0].icon, platform::MessageIcon::Information);
    EXPECT_EQ(printDialogs_.records.size(), 1u);
    EXPECT_EQ(dialogs_.beeps(), 1);
    ASSERT_TRUE(QTest::qWaitFor([] { return !workflows::workflowState().scannerInUse(); }, 20000));
    EXPECT_FALSE(workflows::workflowState().copyPending);
}

TEST_F(CopyWorkflowTest, CancelledPrintDialogPrintsNothingAndKeepsThePreview) {
    startWithSane();
    printDialogs_.cancel();
    main_->scanWorkflow().OnToolbarClick(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !printDialogs_.records.empty(); }, 20000));
    EXPECT_FALSE(workflows::workflowState().copyPending);
    EXPECT_GT(workflows::previewSurface(window()).height(), 100); // the scanned page stays
    EXPECT_TRUE(dialogs_.records().empty());                      // no print-to-file dialog either
}

TEST_F(CopyWorkflowTest, IdCardCopyAsksForTheSecondSideAndPrintsBothOnOneSheet) {
    startWithSane();
    const auto pdf = printToFile("card.pdf");
    dialogs_.answerMessage(platform::DialogAnswer::Ok);
    main_->scanWorkflow().OnToolbarClick(2);
    ASSERT_TRUE(waitForFile(pdf));
    // One sheet, holding the preview as both sides left it.
    const QImage printed = printedPicture(pdf);
    ASSERT_FALSE(printed.isNull());
    EXPECT_EQ(printed, panelImage());
    const auto messages = dialogs_.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, kSecondSide);
    EXPECT_EQ(messages[0].icon, platform::MessageIcon::None);
    EXPECT_EQ(dialogs_.beeps(), 2);
    const auto& state = workflows::workflowState();
    EXPECT_FALSE(state.idCopyFirstSide);
    EXPECT_FALSE(state.idCopySecondSide);
    EXPECT_EQ(printDialogs_.records.size(), 1u);
}

TEST_F(CopyWorkflowTest, CopyWhoseScanFailsEndsWithoutPrinting) {
    startWithSane({{"read-status-code", "\"SANE_STATUS_JAMMED\""}});
    main_->scanWorkflow().OnToolbarClick(2);
    ASSERT_TRUE(QTest::qWaitFor(
        [] { return workflows::workflowState().acquisitionEndedWithoutPage; }, 20000));
    const auto& state = workflows::workflowState();
    EXPECT_FALSE(state.idCopyFirstSide);
    EXPECT_FALSE(state.idCopySecondSide);
    EXPECT_TRUE(printDialogs_.records.empty());
    // The user learns why nothing was printed.
    ASSERT_EQ(dialogs_.messages().size(), 1u);
    EXPECT_EQ(dialogs_.messages()[0].text, "扫描没有完成：扫描仪卡纸");
}

// Pages of our own making, scanned through the scanner component.
class CopyOfPlannedPages : public CopyFixture {
protected:
    // The window goes before the scanner it talks to.
    void TearDown() override { main_.reset(); }

    void startScripted() {
        main_ = std::make_unique<app::MainWindow>(app::ProgramPaths(sandbox_.path()),
                                                  PlannedScanner::library());
        main_->create();
        main_->deviceList().OnRefreshClicked();
        control<ui::DropDownList>(control::kDeviceList).setSelection(0);
        control<ui::EditBox>(control::kResolutionBox).setContent(u"30"_s);
    }

    void press(int command) { main_->scanWorkflow().OnToolbarClick(command); }

    std::vector<std::string> messageTexts() const {
        std::vector<std::string> texts;
        for (const auto& m : dialogs_.messages()) {
            texts.push_back(m.text);
        }
        return texts;
    }

    PlannedScanner scanner_;
};

// An ID card's two sides on off-white paper, laid on different parts of the glass.
constexpr int kSideWidth = 60;
constexpr int kSideHeight = 80;
constexpr Rect kFrontCard{4, 6, 30, 20};
constexpr Rect kBackCard{24, 50, 32, 24};
constexpr Rect kBackLightMark{40, 10, 12, 12}; // a pale print on the back, 45 from white
constexpr std::uint32_t kFrontInk = 0x5A2814;
constexpr std::uint32_t kBackInk = 0x103C78;
constexpr std::uint32_t kLightMark = 0xF0F0F0;

Page frontSide() {
    Page page = offWhitePaper(kSideWidth, kSideHeight, 1);
    paint(page, kFrontCard, kFrontInk);
    return page;
}

Page backSide() {
    Page page = offWhitePaper(kSideWidth, kSideHeight, 2);
    paint(page, kBackCard, kBackInk);
    paint(page, kBackLightMark, kLightMark);
    return page;
}

// The copy of both sides: the front as scanned, with the back's card over it, and the back's
// pale mark when the tolerance keeps it. The back's paper is gone.
Page bothSides(bool lightMarkPrinted) {
    const Page front = frontSide();
    return filled(kSideWidth, kSideHeight, [&](int x, int y) {
        if (kBackCard.contains(x, y)) {
            return kBackInk;
        }
        return lightMarkPrinted && kBackLightMark.contains(x, y) ? kLightMark : front.at(x, y);
    });
}

// The second side's near-white is made white at the tolerance the user set, but never at less
// than takes away paper of 245-254 on every channel (30 from white).
struct PaperCase {
    const char* name;
    const char* tolerance; // the setting 色差值; nullptr: never set
    std::int32_t toleranceAfter;
    bool lightMarkPrinted;
};
void PrintTo(const PaperCase& c, std::ostream* os) {
    *os << c.name;
}

class IdCardCopyOnOffWhitePaper : public CopyOfPlannedPages,
                                  public ::testing::WithParamInterface<PaperCase> {};

TEST_P(IdCardCopyOnOffWhitePaper, PrintsBothCardsAndNoPaperOfTheSecondSide) {
    const PaperCase& c = GetParam();
    if (c.tolerance) {
        writeSettings({{"色差值", c.tolerance}});
    }
    startScripted();
    const auto pdf = printToFile("card.pdf");
    dialogs_.answerMessage(platform::DialogAnswer::Ok);
    scanner_.plan({frontSide().bytes()});
    scanner_.plan({backSide().bytes()});
    press(2);
    ASSERT_TRUE(scanner_.waitUntilIdle());
    ASSERT_TRUE(waitForFile(pdf));

    const QImage printed = printedPicture(pdf);
    EXPECT_TRUE(printedAs(printed, bothSides(c.lightMarkPrinted)));
    EXPECT_EQ(panelImage(), printed); // the preview keeps both sides
    EXPECT_EQ(messageTexts(), std::vector<std::string>{kSecondSide});
    EXPECT_FALSE(control<ui::PictureBox>(control::kProgressPanel).isVisible());
    // The copy leaves the tolerance of the overlay modes as the user set it.
    EXPECT_EQ(workflows::workflowState().colourTolerance, c.toleranceAfter);
}

const PaperCase kPaperCases[] = {
    {"ToleranceNeverSet", nullptr, 0, true},
    {"ToleranceOfTheTwoSidedScan", "20", 20, true},
    {"UsersToleranceAboveThePapers", "60", 60, false},
};
INSTANTIATE_TEST_SUITE_P(Tolerances, IdCardCopyOnOffWhitePaper, ::testing::ValuesIn(kPaperCases),
                         [](const auto& row) { return std::string(row.param.name); });

// The same through a real SANE driver: the pnm backend scans the picture in /tmp/input.ppm (its
// default file; the test replaces it while the second side is asked for), so both sides come
// through libsane, the scanner helper and the page path as a real scanner's would.
class IdCardCopyThroughSane : public CopyFixture {
protected:
    void TearDown() override {
        main_.reset();
        std::filesystem::remove(kPnmInput);
    }

    static void writePpm(const Page& page) {
        std::ofstream out(kPnmInput, std::ios::binary | std::ios::trunc);
        out << "P6\n" << page.width << ' ' << page.height << "\n255\n";
        for (std::uint32_t colour : page.pixels) {
            const char rgb[] = {char(colour & 0xFF), char(colour >> 8 & 0xFF),
                                char(colour >> 16 & 0xFF)};
            out.write(rgb, 3);
        }
    }

    static constexpr const char* kPnmInput = "/tmp/input.ppm";
    Sandbox saneConfig_;
};

TEST_F(IdCardCopyThroughSane, PrintsBothCardsOfOffWhitePages) {
    std::ofstream(saneConfig_ / "dll.conf") << "pnm\n";
    setenv("SANE_CONFIG_DIR", saneConfig_.path().c_str(), 1);
    writePpm(frontSide());
    main_ = std::make_unique<app::MainWindow>(
        app::ProgramPaths(sandbox_.path()),
        devices::ManagerLibrary::fromFile(VANTREL_TWAIN_DSM_PATH));
    main_->create();
    chooseTestScanner(30);
    const auto pdf = printToFile("card.pdf");
    dialogs_.answerMessage(platform::DialogAnswer::Ok);
    dialogs_.whenAsked([](const platform::MessageRequest& request) {
        if (request.text == kSecondSide) {
            writePpm(backSide()); // the user turns the card over
        }
    });
    main_->scanWorkflow().OnToolbarClick(2);
    ASSERT_TRUE(waitForFile(pdf));
    EXPECT_TRUE(printedAs(printedPicture(pdf), bothSides(true)));
    EXPECT_EQ(dialogs_.messages().size(), 1u);
}

// The second side's acquisition ends without a page: nothing is printed, the copy's flags are
// cleared, and the next ID-card copy runs from the start and prints both sides.
struct LostSideCase {
    const char* name;
    PlannedScan::Ends ends;
    std::vector<std::string> messages;
};
void PrintTo(const LostSideCase& c, std::ostream* os) {
    *os << c.name;
}

class SecondSideNeverArrives : public CopyOfPlannedPages,
                               public ::testing::WithParamInterface<LostSideCase> {};

TEST_P(SecondSideNeverArrives, PrintsNothingAndTheNextCopyWorks) {
    const LostSideCase& c = GetParam();
    startScripted();
    for (std::size_t i = 0; i < c.messages.size(); ++i) {
        dialogs_.answerMessage(platform::DialogAnswer::Ok);
    }
    scanner_.plan({frontSide().bytes()});
    scanner_.plan({.ends = c.ends});
    press(2);
    ASSERT_TRUE(scanner_.waitUntilIdle());

    EXPECT_TRUE(printDialogs_.records.empty());
    EXPECT_EQ(messageTexts(), c.messages);
    const auto& state = workflows::workflowState();
    EXPECT_FALSE(state.idCopyFirstSide);
    EXPECT_FALSE(state.idCopySecondSide);
    EXPECT_FALSE(state.scanPending);

    const auto pdf = printToFile("again.pdf");
    dialogs_.answerMessage(platform::DialogAnswer::Ok);
    scanner_.plan({frontSide().bytes()});
    scanner_.plan({backSide().bytes()});
    press(2);
    ASSERT_TRUE(scanner_.waitUntilIdle());
    ASSERT_TRUE(waitForFile(pdf));
    EXPECT_TRUE(printedAs(printedPicture(pdf), bothSides(true)));
    EXPECT_EQ(printDialogs_.records.size(), 1u);
    EXPECT_FALSE(dialogs_.anyUnplanned());
}

const LostSideCase kLostSideCases[] = {
    {"Cancelled", PlannedScan::Ends::Cancelled, {kSecondSide}},
    {"Jammed", PlannedScan::Ends::Jammed, {kSecondSide, "扫描没有完成：扫描仪卡纸"}},
};
INSTANTIATE_TEST_SUITE_P(Ends, SecondSideNeverArrives, ::testing::ValuesIn(kLostSideCases),
                         [](const auto& row) { return std::string(row.param.name); });

// Overlay mode: the copy is the newest page alone, its paper near the key made exactly the key;
// the earlier page under it on the preview is not printed.
TEST_F(CopyOfPlannedPages, OverlayCopyPrintsTheNewestPageSnappedToTheKey) {
    constexpr std::uint32_t kKey = 0x00FF00;
    constexpr std::uint32_t kNearKey = 0x03FA04;    // 12 from the key
    constexpr std::uint32_t kFarFromKey = 0x00EB14; // 40 from the key: kept
    constexpr std::uint32_t kRed = 0x0000FF;
    constexpr std::uint32_t kBlue = 0xFF0000;
    constexpr Rect kEarlierInk{5, 5, 20, 20};
    constexpr Rect kInk{30, 40, 20, 20};
    constexpr Rect kFarMark{5, 50, 10, 10};
    writeSettings({{"扫描叠加", "1"}, {"白色透明", std::to_string(kKey)}, {"色差值", "20"}});
    startScripted();
    Page earlier = filled(kSideWidth, kSideHeight, [](int, int) { return kKey; });
    paint(earlier, kEarlierInk, kRed);
    Page newest = filled(kSideWidth, kSideHeight, [](int, int) { return kNearKey; });
    paint(newest, kInk, kBlue);
    paint(newest, kFarMark, kFarFromKey);
    scanner_.plan({earlier.bytes()});
    press(0);
    ASSERT_TRUE(scanner_.waitUntilIdle());
    const auto pdf = printToFile("overlay.pdf");
    scanner_.plan({newest.bytes()});
    press(1);
    ASSERT_TRUE(scanner_.waitUntilIdle());
    ASSERT_TRUE(waitForFile(pdf));

    Page expected = filled(kSideWidth, kSideHeight, [](int, int) { return kKey; });
    paint(expected, kInk, kBlue);
    paint(expected, kFarMark, kFarFromKey);
    EXPECT_TRUE(printedAs(printedPicture(pdf), expected));
    EXPECT_EQ(colourOf(panelImage().pixel(10, 10)), kRed); // the pile is on the preview only
}

// Background mode: the copy is the background picture with the page drawn over it, the page's
// near-white paper gone.
TEST_F(CopyOfPlannedPages, BackgroundCopyPrintsThePageOverTheBackground) {
    constexpr std::uint32_t kPaper = 0xFAFBFC; // 12 from white
    constexpr Rect kInk{20, 30, 16, 16};
    const Page background = filled(kSideWidth, kSideHeight, [](int x, int y) {
        return (x / 10 + y / 10) % 2 ? 0x30A0E0u : 0x206010u;
    });
    const auto backgroundBytes = background.bytes();
    const auto file = sandbox_.write("background.bmp",
                                     std::string(backgroundBytes.begin(), backgroundBytes.end()));
    writeSettings({{"色差值", "20"}});
    startScripted();
    control<ui::EditBox>(control::kBackgroundPathBox).setContent(QString::fromStdString(file));
    Page page = filled(kSideWidth, kSideHeight, [](int, int) { return kPaper; });
    paint(page, kInk, 0x000000);
    const auto pdf = printToFile("background.pdf");
    scanner_.plan({page.bytes()});
    press(1);
    ASSERT_TRUE(scanner_.waitUntilIdle());
    ASSERT_TRUE(waitForFile(pdf));

    Page expected = background;
    paint(expected, kInk, 0x000000);
    EXPECT_TRUE(printedAs(printedPicture(pdf), expected));
}

} // namespace
} // namespace vantrel::test
