#pragma once
// The main window's printer 打印机1 as the copy commands use it: one print job per copy.

#include "devices/printer_job.h"
#include "workflows/print_picture.h"
#include "workflows/scan_workflow.h"

namespace vantrel::app {

class JobCopyPrinter final : public workflows::CopyPrinter {
public:
    void PrintPicture(imaging::PictureHandle picture, int panelWidth, int panelHeight) override {
        workflows::PrintPicture(job_, picture, panelWidth, panelHeight);
    }
    devices::PrinterJob& job() { return job_; }

private:
    devices::PrinterJob job_;
};

} // namespace vantrel::app
