#pragma once
// Printing one picture as a copy: the print dialog, the orientation that matches the preview
// panel's shape (wider than tall is landscape, a square page is portrait), the picture stretched
// over the printable area of one sheet, and the job sent. Results are not examined: when the user
// cancels the dialog the later steps do nothing.

#include "imaging/picture_registry.h"

namespace vantrel::devices {
class PrinterJob;
}

namespace vantrel::workflows {

void PrintPicture(devices::PrinterJob& printer, imaging::PictureHandle picture, int panelWidth,
                  int panelHeight);

} // namespace vantrel::workflows
