#include "devices/printer_job.h"

#include "devices/print_dialogs.h"
#include "devices/print_image.h"
#include "devices/print_progress_window.h"
#include "devices/printer_texts.h"
#include "platform/dialogs.h"

#include <QApplication>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QPageSize>
#include <QPainter>
#include <QPrintEngine>
#include <QPrinter>
#include <QPrinterInfo>
#include <QtMath>
#include <algorithm>
#include <array>
#include <cmath>
#include <cups/cups.h>
#include <filesystem>

namespace vantrel::devices {

using namespace Qt::StringLiterals;

namespace {

// Logical units per inch of units 1 … 5 (unit 0 is the device pixel).
constexpr std::array<double, 6> kUnitsPerInch = {0, 254, 2540, 100, 1000, 1440};
// Points to unit for the job font's height (unit 0 uses the printer's resolution ÷ 72).
constexpr std::array<double, 6> kFontFactor = {
    0, 3.5250987027636778, 35.25098702763677, 1.3888888888888888, 13.888888888888888, 20};
// The screen resolution a LOGFONT height is measured in.
constexpr double kScreenDpi = 96;

// Windows paper codes of the paper arguments 1 … 16.
constexpr std::array<int, 16> kPaperTable = {8, 9, 11, 12, 13, 15, 93, 94,
                                             1, 5, 7,  6,  3,  18, 4,  14};

QColor toQColor(std::uint32_t colour) {
    return QColor(int(colour & 0xFF), int(colour >> 8 & 0xFF), int(colour >> 16 & 0xFF));
}

void applyPaper(QPrinter& printer, std::optional<int> paper, std::optional<int> customWidth,
                std::optional<int> customHeight) {
    const int value = paper.value_or(0);
    int code = 0;
    if (value >= 1000) {
        code = value - 999;
    } else if (value >= 1 && value <= 16) {
        code = kPaperTable[std::size_t(value - 1)];
    } else if (value == -1 && customWidth.value_or(0) > 0 && customHeight.value_or(0) > 0) {
        printer.setPageSize(
            QPageSize(QSizeF(*customWidth / 10.0, *customHeight / 10.0), QPageSize::Millimeter));
        return;
    }
    // Code 0 (no paper size) and codes Qt does not know leave the paper alone.
    if (code > 0) {
        const QPageSize::PageSizeId id = QPageSize::id(code);
        if (id != QPageSize::Custom) {
            printer.setPageSize(QPageSize(id));
        }
    }
}

// The queue's device URI (its "port"), or "CUPS" when the scheduler does not say.
QString printerPort(const QString& name) {
    const QByteArray queue = name.toUtf8();
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, queue.constData(), nullptr);
    QString port = u"CUPS"_s;
    if (dest) {
        if (const char* uri = cupsGetOption("device-uri", dest->num_options, dest->options)) {
            port = QString::fromUtf8(uri);
        }
        cupsFreeDests(1, dest);
    }
    return port;
}

Qt::PenStyle penStyleOf(int style) {
    switch (style) {
    case 1:
        return Qt::DashLine;
    case 2:
        return Qt::DotLine;
    case 3:
        return Qt::DashDotLine;
    case 4:
        return Qt::DashDotDotLine;
    case 5:
        return Qt::NoPen;
    default: // 0 solid, 6 inside frame
        return Qt::SolidLine;
    }
}

Qt::BrushStyle brushStyleOf(int type) {
    static constexpr std::array<Qt::BrushStyle, 15> styles = {
        Qt::NoBrush,       Qt::SolidPattern,  Qt::HorPattern,    Qt::VerPattern,
        Qt::FDiagPattern,  Qt::BDiagPattern,  Qt::CrossPattern,  Qt::DiagCrossPattern,
        Qt::Dense1Pattern, Qt::Dense2Pattern, Qt::Dense3Pattern, Qt::Dense4Pattern,
        Qt::Dense5Pattern, Qt::Dense6Pattern, Qt::Dense7Pattern};
    return type >= 0 && std::size_t(type) < styles.size() ? styles[std::size_t(type)]
                                                          : Qt::SolidPattern;
}

// A binary raster operation (1 … 16) applied to `colour` over white paper; nothing for R2_NOP,
// which leaves the page as it is.
std::optional<QColor> mixOverPaper(int rop2, std::uint32_t colour) {
    const int table = rop2 - 1; // bit 3: pen 1 over 1, bit 1: pen 0 over 1
    if (table == 10) {
        return std::nullopt;
    }
    const std::uint32_t onOne = (table & 8) ? 0xFFFFFFu : 0;
    const std::uint32_t onZero = (table & 2) ? 0xFFFFFFu : 0;
    return toQColor((colour & onOne) | (~colour & onZero & 0xFFFFFFu));
}

} // namespace

PrinterJob::PrinterJob(PrintDialogs* dialogs)
    : dialogs_(dialogs) {}

PrinterJob::~PrinterJob() {
    Abort();
}

// --- Properties ----------------------------------------------------------------------------------

void PrinterJob::setUnit(int value) {
    unit_ = std::clamp(value, 0, 5);
}
void PrinterJob::setPenStyle(int value) {
    penStyle_ = std::clamp(value, 0, 6);
}
void PrinterJob::setDrawMode(int value) {
    drawMode_ = std::clamp(value, 0, 15);
}
void PrinterJob::setPenWidth(int value) {
    penWidth_ = std::clamp(value, 0, 32767);
}
void PrinterJob::setBrushType(int value) {
    brushType_ = std::clamp(value, 0, 55);
}
void PrinterJob::setCopies(int value) {
    copies_ = std::clamp(value, -1, 65535);
}
void PrinterJob::setFirstPageNumber(int value) {
    firstPage_ = std::clamp(value, -1, 32767);
}
void PrinterJob::setSelection(int value) {
    selection_ = std::clamp(value, -1, 1);
}

// --- Units ---------------------------------------------------------------------------------------

double PrinterJob::deviceUnitsPerUnit() const {
    if (!printer_ || unit_ == 0) {
        return 1.0;
    }
    return printer_->resolution() / kUnitsPerInch[std::size_t(unit_)];
}

int PrinterJob::toDevice(int value) const {
    return int(std::lround(value * deviceUnitsPerUnit()));
}

int PrinterJob::fromDevice(double pixels) const {
    return int(std::lround(pixels / deviceUnitsPerUnit()));
}

int PrinterJob::PageWidth() const {
    if (!printing()) {
        return 0;
    }
    return std::max(0, fromDevice(printable_.width()) - margins_[0] - margins_[2]);
}

int PrinterJob::PageHeight() const {
    if (!printing()) {
        return 0;
    }
    return std::max(0, fromDevice(printable_.height()) - margins_[1] - margins_[3]);
}

// --- Job commands --------------------------------------------------------------------------------

bool PrinterJob::StartPrinting(std::optional<bool> showDialog, std::optional<bool> showProgress,
                               std::optional<int> paper, std::optional<int> orientation,
                               std::optional<int> customWidth, std::optional<int> customHeight) {
    if (printing()) {
        return false; // the running job stays as it is
    }
    deviceName_.clear();
    documentName_.clear();

    // The default printer's settings (Qt's PDF output when there is no queue).
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    const bool hasDefaultPrinter = !QPrinterInfo::defaultPrinter().isNull();
    if (paper || orientation || customWidth || customHeight) {
        applyPaper(*printer, paper, customWidth, customHeight);
        printer->setPageOrientation(orientation.value_or(0) == 1 ? QPageLayout::Landscape
                                                                 : QPageLayout::Portrait);
    }

    PrintDialogOptions options;
    if (firstPage_ >= 0) {
        options.pageNumbers = true;
        options.minPage = firstPage_;
        options.maxPage = lastPage_ == -1 ? 65535 : std::max(firstPage_, lastPage_);
        options.fromPage = std::clamp(fromPage_, options.minPage, options.maxPage);
        options.toPage = std::clamp(toPage_, options.minPage, options.maxPage);
    }
    options.selectionEnabled = selection_ >= 0;
    options.selection = selection_ > 0;
    printer->setCopyCount(std::max(1, copies_));
    printer->setCollateCopies(collate_ == 1);

    const bool dialogShown = !(showDialog.has_value() && !*showDialog && hasDefaultPrinter);
    if (dialogShown) {
        PrintDialogs& dialogs = dialogs_ ? *dialogs_ : printDialogs();
        if (!dialogs.choosePrinter(*printer, options)) {
            return false;
        }
    }
    if (!printer->isValid()) {
        return false;
    }

    // Print to file: Qt's file output (PDF), or a queue given a file name in the dialog.
    const bool toFile =
        printer->outputFormat() == QPrinter::PdfFormat || !printer->outputFileName().isEmpty();
    if (toFile) {
        auto chosen =
            platform::dialogs().chooseSaveFile({.filter = printer_text::kPrintToFileFilter,
                                                .title = printer_text::kPrintToFileTitle,
                                                .suggestedName = printer_text::kPrintToFileName});
        if (!chosen || chosen->empty()) {
            return false;
        }
        std::filesystem::path file(*chosen);
        if (!file.has_extension()) {
            file += std::string(".") + printer_text::kPrintToFileExtension;
        }
        printer->setOutputFileName(QString::fromStdString(file.string()));
    }

    if (dialogShown) {
        if (copies_ != -1) {
            copies_ = printer->copyCount();
        }
        if (selection_ >= 0) {
            selection_ = printer->printRange() == QPrinter::Selection ? 1 : 0;
        }
        collate_ = printer->collateCopies() ? 1 : 0;
        if (firstPage_ >= 0) {
            if (printer->printRange() == QPrinter::PageRange) {
                fromPage_ = std::clamp(printer->fromPage(), options.minPage, options.maxPage);
                toPage_ = std::clamp(printer->toPage(), options.minPage, options.maxPage);
            } else {
                fromPage_ = -1;
                toPage_ = -1;
            }
        }
    }

    currentPage_ = std::max(1, fromPage_);
    currentCopy_ = 1;
    // The printable area from the exact paper size (Qt's own pixel rectangle is computed from
    // whole points and falls short of the paper by up to a point).
    const QRectF mm = printer->pageLayout().paintRect(QPageLayout::Millimeter);
    const double perMm = printer->resolution() / 25.4;
    printable_ = QRect(int(std::lround(mm.x() * perMm)), int(std::lround(mm.y() * perMm)),
                       int(std::lround(mm.width() * perMm)), int(std::lround(mm.height() * perMm)));
    deviceName_ = printer->printerName().toStdString();
    documentName_ = jobName_.empty() ? std::string(printer_text::kUnnamedJob) : jobName_;
    printer->setDocName(QString::fromStdString(documentName_));

    if (!(showProgress.has_value() && !*showProgress)) {
        const QString destination =
            toFile ? QFileInfo(printer->outputFileName()).fileName()
                   : QString::fromUtf8(printer_text::kPrinterOnPort)
                         .arg(printer->printerName(), printerPort(printer->printerName()));
        progress_ = new PrintProgressWindow(QString::fromStdString(documentName_), destination);
        progress_->setAbortHandler(&context_, [this] { Abort(); });
        progress_->setNumbers(currentCopy_, currentPage_);
        progress_->open();
    }

    auto painter = std::make_unique<QPainter>();
    if (!painter->begin(printer.get())) {
        closeProgress();
        return false;
    }
    printer_ = std::move(printer);
    painter_ = std::move(painter);
    // QPainter::begin has started the first page.
    pageStarted_ = true;
    pagesEnded_ = 0;
    textX_ = 0;
    textY_ = 0;
    updateProgress();
    return true;
}

void PrinterJob::NewPage() {
    if (!printing()) {
        return;
    }
    if (pageStarted_) {
        pageStarted_ = false;
        ++pagesEnded_;
        ++currentPage_;
        updateProgress();
    }
    textX_ = 0;
    textY_ = 0;
}

bool PrinterJob::ensurePage() {
    if (pageStarted_) {
        return true;
    }
    // The page after an ended one; Qt starts it now.
    if (!printer_->newPage()) {
        Abort();
        return false;
    }
    pageStarted_ = true;
    return true;
}

void PrinterJob::EndPrinting() {
    finish();
}

void PrinterJob::Abort() {
    finish();
}

void PrinterJob::finish() {
    if (printing()) {
        textX_ = 0;
        textY_ = 0;
        pageStarted_ = false;
        painter_->end(); // sends the job (or writes the file)
        painter_.reset();
        printer_.reset();
    }
    closeProgress();
}

void PrinterJob::closeProgress() {
    if (progress_) {
        progress_->finish();
        // Deleted later: the abort button's click may still be on the stack.
        progress_->deleteLater();
        progress_ = nullptr;
    }
}

void PrinterJob::updateProgress() {
    if (progress_) {
        progress_->setNumbers(currentCopy_, currentPage_);
    }
}

// --- Drawing -------------------------------------------------------------------------------------

bool PrinterJob::beginDrawing() {
    if (!printing() || !ensurePage()) {
        return false;
    }
    painter_->save();
    applyDrawingAttributes();
    return true;
}

void PrinterJob::endDrawing() {
    painter_->restore();
}

void PrinterJob::applyDrawingAttributes() {
    QPainter& p = *painter_;
    const double scale = deviceUnitsPerUnit();
    p.setTransform(QTransform::fromScale(scale, scale));
    const int rop2 = drawMode_ + 1;

    const std::optional<QColor> penColour = mixOverPaper(rop2, penColour_);
    if (penColour && penStyle_ != 5) {
        QPen pen(*penColour);
        pen.setStyle(penStyleOf(penStyle_));
        if (penWidth_ == 0) {
            pen.setCosmetic(true); // one device pixel, as a zero-width pen draws
            pen.setWidth(1);
        } else {
            pen.setWidth(penWidth_);
        }
        p.setPen(pen);
    } else {
        p.setPen(Qt::NoPen);
    }
    const std::optional<QColor> brushColour = mixOverPaper(rop2, fillColour_);
    p.setBrush(brushColour ? QBrush(*brushColour, brushStyleOf(brushType_)) : QBrush());
    if (backColour_ == 0xFF000000u) {
        p.setBackgroundMode(Qt::TransparentMode);
    } else {
        p.setBackgroundMode(Qt::OpaqueMode);
        p.setBackground(toQColor(backColour_));
    }

    // The job font: its size in points, then in the unit.
    QFont font = QApplication::font();
    double screenHeight = 0;
    if (font_) {
        font.setFamily(QString::fromStdString(font_->family));
        font.setWeight(QFont::Weight(std::clamp(font_->weight, 1, 1000)));
        font.setItalic(font_->italic);
        font.setUnderline(font_->underline);
        font.setStrikeOut(font_->strikeOut);
        screenHeight = std::abs(font_->height);
    } else {
        screenHeight =
            font.pixelSize() > 0 ? font.pixelSize() : font.pointSizeF() * kScreenDpi / 72;
    }
    const double points = screenHeight * 72 / kScreenDpi;
    const double factor =
        unit_ == 0 ? printer_->resolution() / 72.0 : kFontFactor[std::size_t(unit_)];
    font.setPixelSize(std::max(1, int(points * factor)));
    p.setFont(font);
}

QRect PrinterJob::deviceBox(int left, int top, int right, int bottom) const {
    return QRect(QPoint(margins_[0] + left, margins_[1] + top),
                 QPoint(margins_[0] + right - 1, margins_[1] + bottom - 1));
}

void PrinterJob::DrawPicture(imaging::PictureHandle picture, int x, int y, std::optional<int> width,
                             std::optional<int> height, std::optional<std::int32_t> copyMode) {
    if (!beginDrawing()) {
        return;
    }
    // The panel's rule: no size or -1 is the picture's own, any other size below 1 draws nothing.
    const bool ownWidth = !width || *width == -1;
    const bool ownHeight = !height || *height == -1;
    const bool drawable = (ownWidth || *width > 0) && (ownHeight || *height > 0);
    const imaging::PictureObject* object = imaging::pictureRegistry().find(picture);
    if (object && drawable) {
        const QRect target(toDevice(margins_[0] + x), toDevice(margins_[1] + y),
                           ownWidth ? object->width : toDevice(*width),
                           ownHeight ? object->height : toDevice(*height));
        const PrintImage print = makePrintImage(*object, imaging::DrawMode::fromCopyMode(copyMode));
        if (!print.image.isNull() && !target.isEmpty()) {
            QPainter& p = *painter_;
            p.resetTransform(); // device pixels
            p.setRenderHint(QPainter::LosslessImageRendering);
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            // A 1-bit picture is drawn as a stencil in the pen's colour.
            p.setPen(Qt::black);
            QPrintEngine* engine = printer_->printEngine();
            const QVariant colourMode = engine->property(QPrintEngine::PPK_ColorMode);
            if (print.tone != PageTone::Colour) {
                engine->setProperty(QPrintEngine::PPK_ColorMode, QPrinter::GrayScale);
            }
            p.drawImage(target, print.image);
            engine->setProperty(QPrintEngine::PPK_ColorMode, colourMode);
        }
    }
    endDrawing();
}

void PrinterJob::SetPixel(int x, int y, std::uint32_t colour) {
    if (!beginDrawing()) {
        return;
    }
    // One device pixel at the point.
    const QPointF at = painter_->transform().map(QPointF(margins_[0] + x, margins_[1] + y));
    painter_->resetTransform();
    painter_->fillRect(QRectF(std::floor(at.x()), std::floor(at.y()), 1, 1), toQColor(colour));
    endDrawing();
}

void PrinterJob::DrawLine(int x1, int y1, int x2, int y2) {
    if (!beginDrawing()) {
        return;
    }
    painter_->drawLine(margins_[0] + x1, margins_[1] + y1, margins_[0] + x2, margins_[1] + y2);
    endDrawing();
}

void PrinterJob::DrawEllipse(int left, int top, int right, int bottom) {
    if (!beginDrawing()) {
        return;
    }
    painter_->drawEllipse(deviceBox(left, top, right, bottom));
    endDrawing();
}

void PrinterJob::DrawRectangle(int left, int top, int right, int bottom) {
    if (!beginDrawing()) {
        return;
    }
    painter_->drawRect(deviceBox(left, top, right, bottom));
    endDrawing();
}

void PrinterJob::FillRectangle(int left, int top, int right, int bottom, std::uint32_t colour) {
    if (!beginDrawing()) {
        return;
    }
    painter_->fillRect(QRect(QPoint(margins_[0] + left, margins_[1] + top),
                             QPoint(margins_[0] + right - 1, margins_[1] + bottom - 1)),
                       toQColor(colour));
    endDrawing();
}

void PrinterJob::DrawRoundRect(int left, int top, int right, int bottom, int cornerWidth,
                               int cornerHeight) {
    if (!beginDrawing()) {
        return;
    }
    painter_->drawRoundedRect(deviceBox(left, top, right, bottom), cornerWidth / 2.0,
                              cornerHeight / 2.0);
    endDrawing();
}

namespace {

// The angle of the ray from the box's centre through (x, y), in Qt's sixteenths of a degree
// (counter-clockwise, y growing downwards on the page).
int rayAngle(const QRect& box, int x, int y) {
    const QPointF centre = QRectF(box).center();
    const double degrees = qRadiansToDegrees(std::atan2(centre.y() - y, x - centre.x()));
    return int(std::lround(degrees * 16));
}

int spanAngle(int start, int end) {
    int span = end - start;
    while (span <= 0) {
        span += 360 * 16;
    }
    return span;
}

} // namespace

void PrinterJob::DrawArc(int left, int top, int right, int bottom, int startX, int startY, int endX,
                         int endY) {
    if (!beginDrawing()) {
        return;
    }
    const QRect box = deviceBox(left, top, right, bottom);
    const int start = rayAngle(box, margins_[0] + startX, margins_[1] + startY);
    painter_->drawArc(box, start,
                      spanAngle(start, rayAngle(box, margins_[0] + endX, margins_[1] + endY)));
    endDrawing();
}

void PrinterJob::DrawChord(int left, int top, int right, int bottom, int startX, int startY,
                           int endX, int endY) {
    if (!beginDrawing()) {
        return;
    }
    const QRect box = deviceBox(left, top, right, bottom);
    const int start = rayAngle(box, margins_[0] + startX, margins_[1] + startY);
    painter_->drawChord(box, start,
                        spanAngle(start, rayAngle(box, margins_[0] + endX, margins_[1] + endY)));
    endDrawing();
}

void PrinterJob::DrawPie(int left, int top, int right, int bottom, int startX, int startY, int endX,
                         int endY) {
    if (!beginDrawing()) {
        return;
    }
    const QRect box = deviceBox(left, top, right, bottom);
    const int start = rayAngle(box, margins_[0] + startX, margins_[1] + startY);
    painter_->drawPie(box, start,
                      spanAngle(start, rayAngle(box, margins_[0] + endX, margins_[1] + endY)));
    endDrawing();
}

void PrinterJob::DrawPolygon(const std::vector<QPoint>& points) {
    if (!beginDrawing()) {
        return;
    }
    QPolygon polygon;
    for (const QPoint& point : points) {
        polygon << point + QPoint(margins_[0], margins_[1]);
    }
    painter_->drawPolygon(polygon, Qt::WindingFill);
    endDrawing();
}

void PrinterJob::PatternFill(int left, int top, int right, int bottom,
                             imaging::PictureHandle pattern) {
    if (!beginDrawing()) {
        return;
    }
    if (const imaging::PictureObject* object = imaging::pictureRegistry().find(pattern)) {
        const QImage tile = makePrintImage(*object, imaging::DrawMode::copy()).image;
        const QRectF box = painter_->transform().mapRect(
            QRectF(QPointF(margins_[0] + left, margins_[1] + top),
                   QPointF(margins_[0] + right, margins_[1] + bottom)));
        painter_->resetTransform();
        painter_->setRenderHint(QPainter::LosslessImageRendering);
        if (!tile.isNull()) {
            painter_->fillRect(box, QBrush(tile.convertToFormat(QImage::Format_RGB32)));
        }
    }
    endDrawing();
}

void PrinterJob::PrintText(const std::string& text) {
    if (!beginDrawing()) {
        return;
    }
    painter_->setPen(toQColor(textColour_));
    const QFontMetricsF metrics(painter_->font());
    const double lineHeight = metrics.lineSpacing();
    const double width = PageWidth();
    const QStringList paragraphs = QString::fromStdString(text).split(u'\n');
    for (qsizetype i = 0; i < paragraphs.size(); ++i) {
        QString rest = paragraphs[i];
        do {
            // The longest head of `rest` that fits from the text position, broken at a space
            // when there is one, else between characters (at least one character per line).
            qsizetype fit = 0;
            while (fit < rest.size() &&
                   textX_ + metrics.horizontalAdvance(rest.left(fit + 1)) <= width) {
                ++fit;
            }
            qsizetype take = fit;
            if (fit < rest.size()) {
                const qsizetype space = rest.left(fit + 1).lastIndexOf(u' ');
                take = space > 0 ? space : std::max<qsizetype>(fit, textX_ > 0 ? 0 : 1);
            }
            if (textY_ + lineHeight > PageHeight() && textY_ > 0) {
                endDrawing();
                NewPage();
                if (!beginDrawing()) {
                    return;
                }
                painter_->setPen(toQColor(textColour_));
            }
            const QString line = rest.left(take);
            painter_->drawText(
                QPointF(margins_[0] + textX_, margins_[1] + textY_ + metrics.ascent()), line);
            textX_ += metrics.horizontalAdvance(line);
            rest = rest.mid(take);
            if (!rest.isEmpty() || i + 1 < paragraphs.size()) {
                if (rest.startsWith(u' ')) {
                    rest = rest.mid(1);
                }
                textX_ = 0;
                textY_ += lineHeight;
            }
        } while (!rest.isEmpty());
    }
    endDrawing();
}

} // namespace vantrel::devices
