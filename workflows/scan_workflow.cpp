#include "workflows/scan_workflow.h"

#include "devices/twain_control.h"
#include "imaging/resolution.h"
#include "platform/desktop.h"
#include "platform/dialogs.h"
#include "platform/text_number.h"
#include "ui/button_controls.h"
#include "ui/command_lock.h"
#include "ui/list_controls.h"
#include "ui/text_controls.h"
#include "ui/window.h"
#include "workflows/control_names.h"
#include "workflows/near_colour.h"
#include "workflows/overlay.h"
#include "workflows/panel.h"
#include "workflows/progress_panel.h"
#include "workflows/waits.h"
#include "workflows/web_links.h"
#include "workflows/workflow_state.h"

#include <QScopeGuard>

namespace vantrel::workflows {
namespace {

constexpr const char* kNoDevice = "请先 【刷新】 设备，并选择设备";
constexpr const char* kContinue = "是否继续扫描";
constexpr const char* kSecondSide = "准备好复印第二面后请点击【确定】";
constexpr const char* kDrawingIn = "正在画入图片";
constexpr const char* kScannerInUse = "正在扫描，请稍候";
constexpr const char* kDriverLost = "扫描仪驱动程序没有响应，请重试";
constexpr const char* kScanNotDone = "扫描没有完成：";
constexpr const char* kContinuousStopped = "连续扫描已停止：";
constexpr const char* kFilesSaved = "本次已保存 %1 个文件。";
constexpr const char* kCannotStart = "扫描仪无法开始扫描";
constexpr const char* kCancelled = "扫描已取消";

// The toolbar commands that configure and enable the scanner.
bool usesScanner(int index) {
    return index == 0 || index == 1 || index == 2 || index == 4 || index == 5;
}

// Why an acquisition ended without a page, in the user's words.
const char* stopReason(const devices::AcquisitionEnd& end) {
    using Fault = devices::AcquisitionEnd::Fault;
    using Reason = devices::AcquisitionEnd::Reason;
    switch (end.fault) {
    case Fault::Cancelled:
        return kCancelled;
    case Fault::NoPaper:
        return "扫描仪中没有放纸";
    case Fault::PaperJam:
        return "扫描仪卡纸";
    case Fault::CoverOpen:
        return "扫描仪的盖板没有合上";
    case Fault::DriverLost:
        return "扫描仪驱动程序没有响应";
    case Fault::DeviceError:
        return "扫描仪出错";
    case Fault::None:
        break;
    }
    switch (end.reason) {
    case Reason::Cancelled:
    case Reason::Abandoned:
    case Reason::ClosedBySource: // without an error: its user closed it
        return kCancelled;
    case Reason::Completed:
        return "扫描仪没有送来图片";
    default:
        return "扫描仪出错";
    }
}

} // namespace

bool refuseWhileScannerInUse() {
    if (!workflowState().scannerInUse()) {
        return false;
    }
    platform::dialogs().showMessage(
        {.text = kScannerInUse, .icon = platform::MessageIcon::Information});
    return true;
}

ScanWorkflow::ScanWorkflow(ui::Window& window, devices::TwainControl& scanner,
                           PictureOutput& output, CopyPrinter* printer)
    : window_(window)
    , scanner_(scanner)
    , output_(output)
    , printer_(printer) {}

void ScanWorkflow::bind() {
    window_.bind(control::kToolbar, ui::EventKind::ToolbarButtonClick,
                 [this](const ui::EventArgs& args) { OnToolbarClick(args.index); });
    window_.bind(
        control::kScanner, ui::EventKind::PictureAcquired,
        [this](const ui::EventArgs& args) { OnPageAcquired(args.bytes, args.width, args.height); });
    scanner_.setAcquisitionEndedHandler(
        [this](const devices::AcquisitionEnd& end) { OnAcquisitionEnded(end); });
}

void ScanWorkflow::OnToolbarClick(int index) {
    auto& dialogs = platform::dialogs();
    switch (index) {
    case 7:
        OpenSaveFolder(window_);
        return;
    case 9:
        platform::desktop().openUrl(std::string(web_links::kNews));
        return;
    case 10:
        platform::desktop().openUrl(std::string(web_links::kStore));
        return;
    case 12:
        platform::desktop().openUrl(std::string(web_links::kHelp));
        return;
    case 13:
        platform::desktop().openUrl(std::string(web_links::kCustomerService));
        return;
    default:
        break;
    }
    // A press that arrives while a scan runs (the waits for a page process window messages) would
    // rewrite the scanner's settings mid-scan, fail to enable it, and end the running command as
    // if its page never came.
    if (usesScanner(index) && refuseWhileScannerInUse()) {
        return;
    }
    if (window_.control<ui::DropDownList>(control::kDeviceList).selectedText().isEmpty()) {
        dialogs.showMessage({.text = kNoDevice, .icon = platform::MessageIcon::Error});
        return;
    }
    if (index == 0) {
        StartScan();
        return;
    }
    dialogs.beep();
    auto& state = workflowState();
    switch (index) {
    case 1:
        state.copyPending = true;
        StartScan();
        break;
    case 2:
        previewSurface(window_).clear();
        state.idCopyFirstSide = true;
        StartScan();
        break;
    case 4:
        continuousLoop(false);
        break;
    case 5:
        continuousLoop(true);
        break;
    default:
        break;
    }
}

void ScanWorkflow::StartScan() {
    const bool overlay = window_.control<ui::CheckBox>(control::kOverlayCheckBox).isChecked();
    if (!overlay && !workflowState().idCopyFirstSide) {
        previewSurface(window_).clear();
    }
    configureAndAcquire();
}

void ScanWorkflow::configureAndAcquire() {
    const auto& devices = window_.control<ui::DropDownList>(control::kDeviceList);
    const auto& modes = window_.control<ui::DropDownList>(control::kColourModeList);
    const int source = devices.itemValueAt(devices.selection());
    scanner_.SelectSource(false, source);
    scanner_.setSourceIndex(source);
    scanner_.setXResolution(platform::textToInteger(
        window_.control<ui::EditBox>(control::kResolutionBox).content().toStdString()));
    scanner_.setYResolution(scanner_.XResolution());
    scanner_.setPixelType(modes.itemValueAt(modes.selection()));
    auto& state = workflowState();
    state.acquisitionEndedWithoutPage = false;
    // Counted before the call, so that an end reported from inside Acquire finds it counted.
    ++state.acquisitionsRunning;
    // An acquisition that cannot even start will report nothing later: end its waits now.
    if (!scanner_.Acquire(false)) {
        --state.acquisitionsRunning;
        acquisitionEndedWithoutPage();
        state.scanStopReason = kCannotStart;
    }
}

void ScanWorkflow::OnAcquisitionEnded(const devices::AcquisitionEnd& end) {
    auto& state = workflowState();
    // Never below zero: an end report the workflows did not count (an acquisition started
    // elsewhere) must not leave the count short of a later command's running scan.
    if (state.acquisitionsRunning > 0) {
        --state.acquisitionsRunning;
    }
    if (end.pages > 0) {
        return;
    }
    acquisitionEndedWithoutPage();
    state.scanStopReason = stopReason(end);
    // A continuous run says why it stopped when it ends; anything else says it now, unless the
    // user cancelled.
    if (state.continuousMode) {
        return;
    }
    if (end.fault == devices::AcquisitionEnd::Fault::DriverLost) {
        // The scanner's driver crashed or hung and was ended; the next scan starts it afresh.
        platform::dialogs().showMessage(
            {.text = kDriverLost, .icon = platform::MessageIcon::Error});
    } else if (state.scanStopReason != kCancelled) {
        platform::dialogs().showMessage({.text = std::string(kScanNotDone) + state.scanStopReason,
                                         .icon = platform::MessageIcon::Error});
    }
}

void ScanWorkflow::acquisitionEndedWithoutPage() {
    auto& state = workflowState();
    state.acquisitionEndedWithoutPage = true;
    state.scanPending = false;
    state.sideCapturePending = false;
    state.copyPending = false;
    state.idCopyFirstSide = false;
    state.idCopySecondSide = false;
}

void ScanWorkflow::OnPageAcquired(std::span<const std::uint8_t> page, int width, int height) {
    auto& state = workflowState();
    sizePanelToPage(window_, width, height);
    // The panel takes the page's resolution, so that files saved from it keep the page's size.
    previewSurface(window_).setResolution(imaging::bmpResolution(page));

    if (state.sideCapturePending) {
        state.capturedSide.assign(page.begin(), page.end());
        state.sideCapturePending = false;
        return;
    }

    // The page becomes the current picture; overlay and background mode replace it with their
    // own result at once, so they never decode the page as it came. The picture reads the page
    // where it lies: the page outlives this handler, which unloads the picture before it returns.
    imaging::PictureHandle current = 0;
    const auto unloadCurrent = qScopeGuard([&current] { imaging::UnloadPicture(current); });
    if (state.idCopySecondSide) {
        // The second side goes over the first with white transparent, but scanned paper is never
        // exactly white: its near-white is made white first, or the second scan's paper would
        // cover the first card. Paper comes at 245-254 on each channel, up to 30 from white in
        // the summed distance; the user's tolerance counts when it is larger (greyer paper).
        // The shared tolerance itself stays as the user set it, for the overlay modes.
        constexpr std::int32_t kPaperTolerance = 30;
        const std::int32_t tolerance =
            state.colourTolerance > kPaperTolerance ? state.colourTolerance : kPaperTolerance;
        ProgressPanel progress(window_, ProgressPanel::AtEnd::KeepShown);
        current = imaging::LoadPicture(SnapNearColour(page, 0, false, tolerance, progress));
        progress.setText(kDrawingIn);
        drawOnPanel(window_, current, imaging::DrawMode::transparent(kWhite));
        showPanelInThumbnail(window_);
        progress.hide();
    } else if (state.idCopyFirstSide) {
        // The first side goes onto the panel that the command cleared to white; its paper,
        // drawn as scanned, is what the second side's vanished paper shows.
        current = imaging::LoadPictureBorrowing(page);
        drawOnPanel(window_, current, imaging::DrawMode::transparent(kWhite));
        showPanelInThumbnail(window_);
    } else if (window_.control<ui::CheckBox>(control::kOverlayCheckBox).isChecked()) {
        current = OverlayMode(window_, page, current);
    } else if (!window_.control<ui::EditBox>(control::kBackgroundPathBox).content().isEmpty()) {
        current = BackgroundMode(window_, page, current);
    } else {
        current = imaging::LoadPictureBorrowing(page);
        drawOnPanel(window_, current, imaging::DrawMode::copy());
        showPanelInThumbnail(window_);
    }

    if (state.copyPending) {
        if (printer_) {
            const auto& surface = previewSurface(window_);
            printer_->PrintPicture(current, surface.width(), surface.height());
        }
        state.copyPending = false;
    } else if (state.idCopyFirstSide) {
        imaging::UnloadPicture(current);
        current = 0;
        copyBothSides();
    }

    state.scanPending = false;
    state.idCopySecondSide = false;
}

void ScanWorkflow::copyBothSides() {
    auto& state = workflowState();
    platform::dialogs().beep();
    platform::dialogs().showMessage({.text = kSecondSide});
    state.idCopySecondSide = true;
    state.idCopyFirstSide = false;
    configureAndAcquire();
    // The second side arrives in a nested OnPageAcquired, which clears the flag.
    waitWhileSet(state.idCopySecondSide);
    if (state.acquisitionEndedWithoutPage) {
        return;
    }
    const auto& surface = previewSurface(window_);
    const imaging::PictureHandle both = imaging::LoadPicture(surface.getPicture());
    if (printer_) {
        printer_->PrintPicture(both, surface.width(), surface.height());
    }
    imaging::UnloadPicture(both);
}

void ScanWorkflow::continuousLoop(bool twoSided) {
    auto& state = workflowState();
    state.continuousMode = true;
    state.continuousTwoSided = twoSided;
    int saved = 0;
    while (platform::dialogs().showMessage({.text = kContinue,
                                            .buttons = platform::MessageButtons::OkCancel,
                                            .icon = platform::MessageIcon::Information}) ==
           platform::DialogAnswer::Ok) {
        {
            // The commands wait for the cycle; the preview and the progress stay readable.
            const ui::CommandLock lock(window_);
            state.scanPending = true;
            if (twoSided) {
                ScanTwoSidesIntoOne();
            } else {
                StartScan();
            }
            saved += output_.SaveScannedPage() ? 1 : 0;
        }
        // A scan that ended without a page (cancelled, failed) ends the loop, saying why and
        // what this run has kept.
        if (state.acquisitionEndedWithoutPage) {
            const bool cancelled = state.scanStopReason == kCancelled;
            platform::dialogs().showMessage(
                {.text = kContinuousStopped + state.scanStopReason + "\n" +
                         QString::fromUtf8(kFilesSaved).arg(saved).toStdString(),
                 .icon = cancelled ? platform::MessageIcon::Information
                                   : platform::MessageIcon::Warning});
            break;
        }
    }
    state.continuousMode = false;
    state.continuousTwoSided = false;
}

void ScanWorkflow::ScanTwoSidesIntoOne() {
    auto& state = workflowState();
    state.sideCapturePending = true;
    configureAndAcquire();
    waitWhileSet(state.sideCapturePending);
    if (state.acquisitionEndedWithoutPage) {
        state.scanPending = false;
        return;
    }
    const std::vector<std::uint8_t> firstSide = state.capturedSide;
    showInThumbnail(window_, firstSide);
    const imaging::PictureHandle first = imaging::LoadPicture(firstSide);
    auto& surface = previewSurface(window_);
    surface.setUnit(imaging::CoordinateUnit::Pixels);
    drawOnPanel(window_, first, imaging::DrawMode::copy());
    imaging::UnloadPicture(first);

    platform::dialogs().beep();
    platform::dialogs().showMessage({.text = kSecondSide});

    state.sideCapturePending = true;
    configureAndAcquire();
    state.colourTolerance = 20;
    waitWhileSet(state.sideCapturePending);
    if (state.acquisitionEndedWithoutPage) {
        state.scanPending = false;
        return;
    }

    // The panel stays up after the pass, saying that the second side is being drawn in.
    ProgressPanel progress(window_, ProgressPanel::AtEnd::KeepShown);
    auto snapped = SnapNearColour(state.capturedSide, 0, false, state.colourTolerance, progress);
    progress.setText(kDrawingIn);
    const imaging::PictureHandle second = imaging::LoadPicture(std::move(snapped));
    drawOnPanel(window_, second, imaging::DrawMode::transparent(kWhite));
    imaging::UnloadPicture(second);

    showPanelInThumbnail(window_);
    progress.hide();
    state.scanPending = false;
}

} // namespace vantrel::workflows
