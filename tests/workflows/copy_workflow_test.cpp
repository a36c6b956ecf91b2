// The copy commands on the real main window: a normal copy prints the page at once in the
// orientation of its shape (even when it is pressed again while its page is still scanning), an
// ID-card copy asks for the second side and prints both on one sheet, a cancelled print dialog
// prints nothing, and a scan that never arrives ends the copy.

#include "tests/devices/print_test_support.h"
#include "tests/workflows/bmp_fixture.h"
#include "tests/workflows/workflow_fixture.h"
#include "ui/button_controls.h"
#include "ui/list_controls.h"
#include "ui/text_controls.h"
#include "workflows/control_names.h"
#include "workflows/panel.h"
#include "workflows/scan_workflow.h"
#include "workflows/workflow_state.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace vantrel::test {
namespace {

class CopyWorkflowTest : public ::testing::Test, public WorkflowFixture {
protected:
    void startWithSane(const std::vector<SaneSetting>& testConf = {}) {
        WorkflowFixture::startWithSane(testConf);
        chooseTestScanner(30);
    }

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

    ScriptedPrintDialogs printDialogs_;
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
    EXPECT_EQ(pdfInfo(pdf)[u"Pages"_s], u"1"_s);
    const auto messages = dialogs_.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "准备好复印第二面后请点击【确定】");
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

} // namespace
} // namespace vantrel::test
