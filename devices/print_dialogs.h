#pragma once
// The seam through which the printer component shows the print dialog. The Qt implementation
// shows QPrintDialog (in Chinese once the runtime has loaded Qt's translations); tests install a
// scripted one. Until one is installed every request is cancelled, so code that runs without a
// user never blocks on a dialog. The print-to-file save dialog is not here: it goes through
// platform::dialogs() like every other file dialog.

class QPrinter;

namespace vantrel::devices {

// What the dialog offers besides the printer's own settings (which travel in the QPrinter).
struct PrintDialogOptions {
    bool pageNumbers = false; // offer a page range
    int minPage = 1;
    int maxPage = 1;
    int fromPage = 0; // 0: no range chosen
    int toPage = 0;
    bool selectionEnabled = false; // offer "selection"
    bool selection = false;        // ... and start with it chosen
};

class PrintDialogs {
public:
    virtual ~PrintDialogs() = default;
    // Shows the dialog for `printer`, whose orientation, paper, copies and collation are already
    // set; on OK the dialog has written the user's choices (printer or print to file, copies,
    // collation, range) into `printer` and the result is true. Cancel gives false.
    virtual bool choosePrinter(QPrinter& printer, const PrintDialogOptions& options) = 0;
};

// Shows QPrintDialog, owned by the active window.
class QtPrintDialogs final : public PrintDialogs {
public:
    bool choosePrinter(QPrinter& printer, const PrintDialogOptions& options) override;
};

// The print dialogs in force (by default one that cancels every request).
PrintDialogs& printDialogs();
// Installs `seam` (not owned; nullptr restores the silent default) and returns the previous one.
PrintDialogs* installPrintDialogs(PrintDialogs* seam);

} // namespace vantrel::devices
