#pragma once
// What the toolbar's buttons do: dispatch by button index, starting a scan with the settings of
// the main window, receiving each page on the preview (plain, overlay or background mode), the
// continuous loops, the two-sided scan, and the copy steps that print a page.

#include "imaging/picture_registry.h"
#include "workflows/picture_output.h"

#include <cstdint>
#include <span>

namespace vantrel::ui {
class Window;
}
namespace vantrel::devices {
class TwainControl;
struct AcquisitionEnd;
} // namespace vantrel::devices

namespace vantrel::workflows {

// Prints one picture as a copy: the print dialog, the page's orientation from the panel's shape,
// the picture stretched over the printable area.
class CopyPrinter {
public:
    virtual void PrintPicture(imaging::PictureHandle picture, int panelWidth, int panelHeight) = 0;

protected:
    ~CopyPrinter() = default;
};

// One command at a time: while the scanner is in use (WorkflowState::scannerInUse), says so to the
// user and returns true; the caller then leaves the scanner alone. The running command is not
// disturbed and goes on to its end.
bool refuseWhileScannerInUse();

class ScanWorkflow {
public:
    ScanWorkflow(ui::Window& window, devices::TwainControl& scanner, PictureOutput& output,
                 CopyPrinter* printer);

    // Binds the toolbar, the scanner's pages and its end-of-acquisition report.
    void bind();

    void OnToolbarClick(int index);
    void StartScan();
    void OnPageAcquired(std::span<const std::uint8_t> page, int width, int height);
    void ScanTwoSidesIntoOne();
    // An acquisition ended; when it delivered no page, every wait on it ends.
    void OnAcquisitionEnded(const devices::AcquisitionEnd& end);

private:
    // Steps 2 to 6 of StartScan: the chosen source, resolution and pixel type, then Acquire. The
    // acquisition counts as running until its end report (or at once ends, when Acquire fails).
    void configureAndAcquire();
    void acquisitionEndedWithoutPage();
    void continuousLoop(bool twoSided);
    void copyBothSides();

    ui::Window& window_;
    devices::TwainControl& scanner_;
    PictureOutput& output_;
    CopyPrinter* printer_;
};

} // namespace vantrel::workflows
