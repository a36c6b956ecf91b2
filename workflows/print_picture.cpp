#include "workflows/print_picture.h"

#include "devices/printer_job.h"

#include <optional>

namespace vantrel::workflows {

void PrintPicture(devices::PrinterJob& printer, imaging::PictureHandle picture, int panelWidth,
                  int panelHeight) {
    const int orientation = panelWidth > panelHeight ? 1 : 0;
    printer.StartPrinting(true, true, std::nullopt, orientation, std::nullopt, std::nullopt);
    const int width = printer.PageWidth();
    const int height = printer.PageHeight();
    printer.DrawPicture(picture, 0, 0, width, height);
    printer.EndPrinting();
}

} // namespace vantrel::workflows
