#include "devices/print_dialogs.h"

#include "platform/seam.h"

#include <QApplication>
#include <QPrintDialog>
#include <QPrinter>

namespace vantrel::devices {

namespace {

class SilentPrintDialogs final : public PrintDialogs {
public:
    bool choosePrinter(QPrinter&, const PrintDialogOptions&) override { return false; }
};

SilentPrintDialogs silentDialogs;
constinit platform::Seam<PrintDialogs> seam(silentDialogs);

} // namespace

bool QtPrintDialogs::choosePrinter(QPrinter& printer, const PrintDialogOptions& options) {
    QPrintDialog dialog(&printer, QApplication::activeWindow());
    QAbstractPrintDialog::PrintDialogOptions offered = dialog.options();
    offered.setFlag(QAbstractPrintDialog::PrintPageRange, options.pageNumbers);
    offered.setFlag(QAbstractPrintDialog::PrintSelection, options.selectionEnabled);
    offered.setFlag(QAbstractPrintDialog::PrintCollateCopies, true);
    dialog.setOptions(offered);
    if (options.pageNumbers) {
        dialog.setMinMax(options.minPage, options.maxPage);
        if (options.fromPage > 0) {
            dialog.setFromTo(options.fromPage, options.toPage);
            printer.setPrintRange(QPrinter::PageRange);
        }
    }
    if (options.selectionEnabled && options.selection) {
        printer.setPrintRange(QPrinter::Selection);
    }
    return dialog.exec() == QDialog::Accepted;
}

PrintDialogs& printDialogs() {
    return seam.current();
}

PrintDialogs* installPrintDialogs(PrintDialogs* replacement) {
    return seam.install(replacement);
}

} // namespace vantrel::devices
