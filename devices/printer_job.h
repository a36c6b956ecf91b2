#pragma once
// The printer component ("打印机"): one print job at a time on a printer chosen in the print
// dialog, drawn with QPainter on a QPrinter (a CUPS queue, or a PDF file when the user prints to
// file). Commands follow a fixed frame: StartPrinting asks for the printer and starts the job and
// its first page; the drawing commands draw on the current page (starting one when needed);
// NewPage ends a page; EndPrinting sends the job. Coordinates and sizes are in the current unit,
// measured from the top-left corner of the printable area plus the margins.
//
// Nothing is shown to the user besides the print dialog (through printDialogs()), the
// print-to-file save dialog (through platform::dialogs()) and the progress window; failures are
// results: StartPrinting gives false, the other commands do nothing without a job. Pictures are
// stored losslessly in the job; grey and black-and-white pictures are stored as grey and 1-bit.
// The job's name is the PDF's title, written so that every reader (cups-filters too) reads it as
// it was given; a queue's job is therefore written to a spool file and sent to CUPS when it ends,
// with the options Qt's own print engine would send. GUI thread only.

#include "devices/print_progress_window.h"
#include "imaging/picture_registry.h"

#include <QObject>
#include <QPointer>
#include <QPolygon>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QPainter;
class QPrinter;
class QTemporaryFile;

namespace vantrel::devices {

class PrintDialogs;

// The job's font in the terms of a Windows LOGFONT: `height` is lfHeight in screen pixels (96 per
// inch; negative: character height, positive: cell height), `weight` 100 … 900.
struct JobFont {
    std::string family;
    int height = -12;
    int weight = 400;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
};

class PrinterJob {
public:
    // `dialogs` shows the print dialog; nullptr: the process's printDialogs() at each start.
    explicit PrinterJob(PrintDialogs* dialogs = nullptr);
    // Ends a running job as an abort does.
    ~PrinterJob();
    PrinterJob(const PrinterJob&) = delete;
    PrinterJob& operator=(const PrinterJob&) = delete;

    // --- Job commands -------------------------------------------------------------------------
    // Paper: 1 … 16 the table A3, A4, A5, B4, B5, quarto, 16K, 32K, letter, legal, executive,
    // statement, tabloid, note, ledger, folio; 1000 and above the Windows paper code value − 999;
    // −1 with customWidth and customHeight (0.1 mm) above 0 a paper of that size; 0, 17 … 999
    // and an omitted paper leave the printer's paper. Orientation 1 is landscape.
    bool StartPrinting(std::optional<bool> showDialog = std::nullopt,
                       std::optional<bool> showProgress = std::nullopt,
                       std::optional<int> paper = std::nullopt,
                       std::optional<int> orientation = std::nullopt,
                       std::optional<int> customWidth = std::nullopt,
                       std::optional<int> customHeight = std::nullopt);
    void EndPrinting();
    // Ends the job at once (the "中止打印" button; a failed page start): what is drawn is sent.
    void Abort();
    void NewPage();

    // --- Drawing commands (current unit; nothing without a job) ---------------------------------
    // copyMode: none or 1 copy, 2 inverted copy, 3 XOR, 4 OR, 5 AND, other positive values a
    // raster operation, −c the colour c (0x00BBGGRR) transparent. The raster operations combine
    // with white paper: a printer page cannot be read back.
    void DrawPicture(imaging::PictureHandle picture, int x, int y,
                     std::optional<int> width = std::nullopt,
                     std::optional<int> height = std::nullopt,
                     std::optional<std::int32_t> copyMode = std::nullopt);
    void SetPixel(int x, int y, std::uint32_t colour);
    void DrawLine(int x1, int y1, int x2, int y2);
    void DrawEllipse(int left, int top, int right, int bottom);
    void DrawRectangle(int left, int top, int right, int bottom);
    void FillRectangle(int left, int top, int right, int bottom, std::uint32_t colour);
    void DrawRoundRect(int left, int top, int right, int bottom, int cornerWidth, int cornerHeight);
    // Arc, chord and pie: the ellipse in the box, counter-clockwise from the ray through
    // (startX, startY) to the ray through (endX, endY), as GDI draws them.
    void DrawArc(int left, int top, int right, int bottom, int startX, int startY, int endX,
                 int endY);
    void DrawChord(int left, int top, int right, int bottom, int startX, int startY, int endX,
                   int endY);
    void DrawPie(int left, int top, int right, int bottom, int startX, int startY, int endX,
                 int endY);
    void DrawPolygon(const std::vector<QPoint>& points);
    // Fills the box with the picture repeated as a pattern, at its own size in device pixels.
    void PatternFill(int left, int top, int right, int bottom, imaging::PictureHandle pattern);
    // Prints UTF-8 text at the text position, breaking lines at the printable width (at spaces
    // where it can, else between characters) and at "\n", and starting a new page when the next
    // line does not fit; the text position moves below the last line.
    void PrintText(const std::string& text);

    // --- Properties -----------------------------------------------------------------------------
    int Unit() const { return unit_; }
    void setUnit(int value);
    int PenStyle() const { return penStyle_; }
    void setPenStyle(int value);
    int DrawMode() const { return drawMode_; }
    void setDrawMode(int value);
    int PenWidth() const { return penWidth_; }
    void setPenWidth(int value);
    std::uint32_t PenColour() const { return penColour_; }
    void setPenColour(std::uint32_t value) { penColour_ = value; }
    int BrushType() const { return brushType_; }
    void setBrushType(int value);
    std::uint32_t FillColour() const { return fillColour_; }
    void setFillColour(std::uint32_t value) { fillColour_ = value; }
    std::uint32_t TextColour() const { return textColour_; }
    void setTextColour(std::uint32_t value) { textColour_ = value; }
    // 0xFF000000 means transparent.
    std::uint32_t BackColour() const { return backColour_; }
    void setBackColour(std::uint32_t value) { backColour_ = value; }
    const std::optional<JobFont>& Font() const { return font_; }
    void setFont(std::optional<JobFont> value) { font_ = std::move(value); }
    const std::string& JobName() const { return jobName_; }
    void setJobName(std::string value) { jobName_ = std::move(value); }
    int Copies() const { return copies_; }
    void setCopies(int value);
    int Collate() const { return collate_; }
    void setCollate(int value) { collate_ = value == 1 ? 1 : 0; }
    int FirstPageNumber() const { return firstPage_; }
    void setFirstPageNumber(int value);
    int LastPageNumber() const { return lastPage_; }
    void setLastPageNumber(int value) { lastPage_ = value; }
    int FromPage() const { return fromPage_; }
    void setFromPage(int value) { fromPage_ = value; }
    int ToPage() const { return toPage_; }
    void setToPage(int value) { toPage_ = value; }
    int Selection() const { return selection_; }
    void setSelection(int value);
    int LeftMargin() const { return margins_[0]; }
    void setLeftMargin(int value) { margins_[0] = value; }
    int TopMargin() const { return margins_[1]; }
    void setTopMargin(int value) { margins_[1] = value; }
    int RightMargin() const { return margins_[2]; }
    void setRightMargin(int value) { margins_[2] = value; }
    int BottomMargin() const { return margins_[3]; }
    void setBottomMargin(int value) { margins_[3] = value; }

    // Read-only.
    int CurrentPage() const { return printing() ? currentPage_ : 1; }
    int CurrentCopy() const { return printing() ? currentCopy_ : 1; }
    // The usable size of the page in the current unit (printable area less the margins); 0 when
    // not printing.
    int PageWidth() const;
    int PageHeight() const;

    // --- For the program and tests ---------------------------------------------------------------
    bool printing() const { return printer_ != nullptr; }
    // The running job's printer (null when idle); its name, output file (for a queue's job, the
    // spool file), page layout.
    const QPrinter* printer() const { return printer_.get(); }
    // The printer of the running job, or of the last one, as the dialog named it.
    const std::string& deviceName() const { return deviceName_; }
    // The document name the job was sent under.
    const std::string& documentName() const { return documentName_; }
    PrintProgressWindow* progressWindow() const { return progress_; }

private:
    double deviceUnitsPerUnit() const;
    int toDevice(int value) const;
    int fromDevice(double pixels) const;
    bool ensurePage();
    bool beginDrawing(); // steps 1 … 3 of every drawing command
    void endDrawing();
    void applyDrawingAttributes();
    void finish();
    void closeProgress();
    void updateProgress();
    QRect deviceBox(int left, int top, int right, int bottom) const;

    PrintDialogs* dialogs_;

    int unit_ = 1;
    int penStyle_ = 1;
    int drawMode_ = 12;
    int penWidth_ = 0;
    std::uint32_t penColour_ = 0;
    int brushType_ = 1;
    std::uint32_t fillColour_ = 0xFFFFFF;
    std::uint32_t textColour_ = 0;
    std::uint32_t backColour_ = 0xFF000000u;
    std::optional<JobFont> font_;
    std::string jobName_;
    int copies_ = 1;
    int collate_ = 0;
    int firstPage_ = -1;
    int lastPage_ = -1;
    int fromPage_ = 1;
    int toPage_ = -1;
    int selection_ = -1;
    int margins_[4] = {0, 0, 0, 0};

    // Job state.
    std::unique_ptr<QPrinter> printer_;
    std::unique_ptr<QPainter> painter_;
    std::unique_ptr<QTemporaryFile> spool_; // a queue's job until it is sent
    bool pageStarted_ = false;
    int pagesEnded_ = 0;
    int currentPage_ = 1;
    int currentCopy_ = 1;
    QRect printable_;  // printable area in device pixels, relative to the paper's corner
    double textX_ = 0; // text position in the unit, from the printable area's corner
    double textY_ = 0;
    std::string deviceName_;
    std::string documentName_;
    QPointer<PrintProgressWindow> progress_;
    QObject context_; // receives the abort button's queued click
};

} // namespace vantrel::devices
