#include "devices/printer_job.h"

#include "devices/print_dialogs.h"
#include "devices/print_image.h"
#include "devices/print_progress_window.h"
#include "devices/printer_texts.h"
#include "platform/dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QPageSize>
#include <QPainter>
#include <QPrintEngine>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTemporaryFile>
#include <QtMath>
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cups/cups.h>
#include <filesystem>
#include <string_view>
#include <utility>
#include <vector>

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

// --- The document's title in the PDF ------------------------------------------------------------
//
// Qt's PDF engine (Qt 6.4) writes the document name into the Info dictionary as a literal string
// of raw UTF-16BE bytes and escapes only parentheses and backslashes. A raw 0x0D byte inside a
// literal string is an end of line, which a PDF reader must read as 0x0A: the low byte of 名
// (U+540D) or 复 (U+590D) turns it into 吊 (U+540A) or 夊 (U+590A). cups-filters reads the job's
// PDF that way, so "未命名打印作业" arrived as "未命吊打印作业". No name Qt accepts can avoid it,
// so the PDF is mended once Qt has written it: an incremental update appended to the file defines
// the Info dictionary again with the title as a hex string, which has no special bytes at all.
// Every earlier byte stays as Qt wrote it.

// A PDF lexer over the bytes of one dictionary, enough to copy its entries as they are.
class PdfLexer {
public:
    explicit PdfLexer(std::string_view text, std::size_t at = 0)
        : text_(text)
        , at_(at) {}

    bool startsWith(std::string_view token) {
        skipSpace();
        return text_.substr(at_).starts_with(token);
    }
    bool take(std::string_view token) {
        if (!startsWith(token)) {
            return false;
        }
        at_ += token.size();
        return true;
    }
    // A name ("/Title"); empty when the next token is none.
    std::string_view name() {
        skipSpace();
        if (at_ >= text_.size() || text_[at_] != '/') {
            return {};
        }
        const std::size_t start = at_++;
        while (at_ < text_.size() && !isSpace(text_[at_]) && !isDelimiter(text_[at_])) {
            ++at_;
        }
        return text_.substr(start, at_ - start);
    }
    // One whole object, as its bytes: a dictionary, array, string, name, number, keyword or an
    // indirect reference ("12 0 R"). Empty when the bytes end or make no object.
    std::string_view object() {
        skipSpace();
        const std::size_t start = at_;
        if (!skipObject()) {
            return {};
        }
        // "a b R": two integers and the keyword R are one reference.
        const std::size_t afterFirst = at_;
        if (isInteger(text_.substr(start, afterFirst - start))) {
            PdfLexer ahead(text_, at_);
            ahead.skipSpace();
            const std::size_t second = ahead.at_;
            if (ahead.skipObject() && isInteger(text_.substr(second, ahead.at_ - second)) &&
                ahead.take("R") && (ahead.at_ >= text_.size() || !isRegular(text_[ahead.at_]))) {
                at_ = ahead.at_;
            }
        }
        return text_.substr(start, at_ - start);
    }

private:
    static bool isSpace(char c) {
        return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
    }
    static bool isDelimiter(char c) {
        return std::string_view("()<>[]{}/%").find(c) != std::string_view::npos;
    }
    static bool isRegular(char c) { return !isSpace(c) && !isDelimiter(c); }
    static bool isInteger(std::string_view s) {
        return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
    }
    void skipSpace() {
        while (at_ < text_.size()) {
            if (isSpace(text_[at_])) {
                ++at_;
            } else if (text_[at_] == '%') { // a comment, to the end of its line
                while (at_ < text_.size() && text_[at_] != '\n' && text_[at_] != '\r') {
                    ++at_;
                }
            } else {
                return;
            }
        }
    }
    bool skipObject() {
        skipSpace();
        if (at_ >= text_.size()) {
            return false;
        }
        const char c = text_[at_];
        if (text_.substr(at_).starts_with("<<")) {
            at_ += 2;
            while (!take(">>")) {
                if (name().empty() || !skipObject()) {
                    return false;
                }
            }
            return true;
        }
        if (c == '[') {
            ++at_;
            while (!take("]")) {
                if (!skipObject()) {
                    return false;
                }
            }
            return true;
        }
        if (c == '(') { // nested parentheses balance; a backslash escapes the next byte
            int depth = 0;
            for (; at_ < text_.size(); ++at_) {
                if (text_[at_] == '\\') {
                    ++at_;
                } else if (text_[at_] == '(') {
                    ++depth;
                } else if (text_[at_] == ')' && --depth == 0) {
                    ++at_;
                    return true;
                }
            }
            return false;
        }
        if (c == '<') {
            const std::size_t end = text_.find('>', at_);
            if (end == std::string_view::npos) {
                return false;
            }
            at_ = end + 1;
            return true;
        }
        if (c == '/') {
            return !name().empty();
        }
        if (!isRegular(c)) {
            return false;
        }
        while (at_ < text_.size() && isRegular(text_[at_])) {
            ++at_;
        }
        return true;
    }

    std::string_view text_;
    std::size_t at_;
};

// The entries of the dictionary that starts at `at` in `text`, as (name, object) bytes.
std::optional<std::vector<std::pair<std::string_view, std::string_view>>>
dictionaryAt(std::string_view text, std::size_t at) {
    PdfLexer lexer(text, at);
    if (!lexer.take("<<")) {
        return std::nullopt;
    }
    std::vector<std::pair<std::string_view, std::string_view>> entries;
    while (!lexer.take(">>")) {
        const std::string_view key = lexer.name();
        const std::string_view value = key.empty() ? std::string_view() : lexer.object();
        if (value.empty()) {
            return std::nullopt;
        }
        entries.emplace_back(key, value);
    }
    return entries;
}

// The unsigned decimal number at `at`, after blanks and line ends; `at` moves past it.
template <class Number>
std::optional<Number> numberAt(std::string_view text, std::size_t& at) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\r' || text[at] == '\n')) {
        ++at;
    }
    if (at >= text.size()) {
        return std::nullopt;
    }
    Number value{};
    const auto [end, error] = std::from_chars(text.data() + at, text.data() + text.size(), value);
    if (error != std::errc()) {
        return std::nullopt;
    }
    at = static_cast<std::size_t>(end - text.data());
    return value;
}

QByteArray readAt(QFile& file, qint64 offset, qint64 size) {
    return file.seek(offset) ? file.read(size) : QByteArray();
}

// The title as a PDF text string in hex: the byte order mark, then UTF-16BE.
QByteArray hexTitle(const QString& title) {
    QByteArray bytes("\xFE\xFF", 2);
    for (const QChar c : title) {
        bytes.append(char(c.unicode() >> 8));
        bytes.append(char(c.unicode() & 0xFF));
    }
    return '<' + bytes.toHex().toUpper() + '>';
}

// Appends the update that gives the PDF `title`; false (and the file as it was) when the file is
// not laid out as Qt writes it: a classic cross-reference table and a trailer naming the Info
// dictionary.
bool mendPdfTitle(const QString& path, const QString& title) {
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)) {
        return false;
    }
    const qint64 size = file.size();
    constexpr qint64 kTail = 4096;
    const QByteArray tailBytes = readAt(file, std::max<qint64>(0, size - kTail), kTail);
    const std::string_view tail(tailBytes.constData(), std::size_t(tailBytes.size()));
    const std::size_t startxref = tail.rfind("startxref");
    const std::size_t trailer = tail.rfind("trailer", startxref);
    if (startxref == std::string_view::npos || trailer == std::string_view::npos) {
        return false;
    }
    std::size_t at = startxref + 9;
    const auto xref = numberAt<qint64>(tail, at);
    const auto entries = dictionaryAt(tail, trailer + 7);
    if (!xref || *xref <= 0 || *xref >= size || !entries) {
        return false;
    }
    // The trailer's Info reference, "n g R".
    std::optional<long> infoNumber;
    std::optional<int> infoGeneration;
    for (const auto& [key, value] : *entries) {
        if (key == "/Info") {
            std::size_t v = 0;
            infoNumber = numberAt<long>(value, v);
            infoGeneration = numberAt<int>(value, v);
        }
    }
    if (!infoNumber || !infoGeneration) {
        return false;
    }
    // The Info object's offset from the table: subsections "first count", then 20-byte entries.
    const QByteArray tableBytes = readAt(file, *xref, std::min<qint64>(size - *xref, 1 << 20));
    const std::string_view table(tableBytes.constData(), std::size_t(tableBytes.size()));
    if (!table.starts_with("xref")) {
        return false;
    }
    at = 4;
    std::optional<qint64> infoOffset;
    while (!infoOffset) {
        const auto first = numberAt<long>(table, at);
        const auto count = numberAt<long>(table, at);
        if (!first || !count || *count < 0) {
            return false;
        }
        while (at < table.size() && (table[at] == ' ' || table[at] == '\r' || table[at] == '\n')) {
            ++at;
        }
        if (*infoNumber >= *first && *infoNumber < *first + *count) {
            std::size_t entry = at + std::size_t(*infoNumber - *first) * 20;
            infoOffset = numberAt<qint64>(table, entry);
            if (!infoOffset || *infoOffset <= 0 || *infoOffset >= size) {
                return false;
            }
        } else {
            at += std::size_t(*count) * 20;
            if (at >= table.size()) {
                return false;
            }
        }
    }
    // The Info object: "n g obj << ... >>".
    const QByteArray objectBytes =
        readAt(file, *infoOffset, std::min<qint64>(size - *infoOffset, 1 << 16));
    const std::string_view object(objectBytes.constData(), std::size_t(objectBytes.size()));
    const std::size_t dictionary = object.find("<<");
    const std::size_t keyword = object.find("obj");
    if (dictionary == std::string_view::npos || keyword == std::string_view::npos ||
        keyword > dictionary) {
        return false;
    }
    const auto info = dictionaryAt(object, dictionary);
    if (!info) {
        return false;
    }

    // The update: the Info object again, a table with its one entry, and a trailer that keeps
    // the earlier one's entries and points back to the earlier table.
    const QByteArray reference =
        QByteArray::number(qlonglong(*infoNumber)) + ' ' + QByteArray::number(*infoGeneration);
    QByteArray update = "\n";
    const qint64 objectAt = size + update.size();
    update += reference + " obj\n<<\n/Title " + hexTitle(title) + '\n';
    for (const auto& [key, value] : *info) {
        if (key != "/Title") {
            update += QByteArray(key.data(), qsizetype(key.size())) + ' ' +
                      QByteArray(value.data(), qsizetype(value.size())) + '\n';
        }
    }
    update += ">>\nendobj\n";
    const qint64 tableAt = size + update.size();
    update += "xref\n" + QByteArray::number(qlonglong(*infoNumber)) + " 1\n";
    update += QByteArray::number(objectAt).rightJustified(10, '0') + ' ' +
              QByteArray::number(*infoGeneration).rightJustified(5, '0') + " n \n";
    update += "trailer\n<<\n";
    for (const auto& [key, value] : *entries) {
        if (key != "/Prev") {
            update += QByteArray(key.data(), qsizetype(key.size())) + ' ' +
                      QByteArray(value.data(), qsizetype(value.size())) + '\n';
        }
    }
    update += "/Prev " + QByteArray::number(*xref) + "\n>>\nstartxref\n" +
              QByteArray::number(tableAt) + "\n%%EOF\n";
    if (!file.seek(size) || file.write(update) != update.size() || !file.flush()) {
        file.resize(size); // a partial update would hide the earlier trailer
        return false;
    }
    return true;
}

// --- Sending a job to its queue -----------------------------------------------------------------

// Where Qt's CUPS print engine keeps the options chosen in the print dialog (page ranges, job
// priority, banner pages, ...): a list of names and values, alternating. Qt's private key
// PPK_CupsOptions.
constexpr auto kCupsOptionsProperty = QPrintEngine::PrintEnginePropertyKey(0xfe00);

// The options Qt's own CUPS engine sends with a job, in its order: the paper, the copies and
// their collation, the sides, the orientation, then the print dialog's options.
std::vector<std::pair<QByteArray, QByteArray>> jobOptions(const QPrinter& printer) {
    std::vector<std::pair<QByteArray, QByteArray>> options;
    const QPageLayout layout = printer.pageLayout();
    options.emplace_back("media", layout.pageSize().key().toUtf8());
    if (printer.copyCount() > 1) {
        options.emplace_back("copies", QByteArray::number(printer.copyCount()));
        if (printer.collateCopies()) {
            options.emplace_back("Collate", "True");
        }
    }
    const bool portrait = layout.orientation() == QPageLayout::Portrait;
    switch (printer.duplex()) {
    case QPrinter::DuplexNone:
        options.emplace_back("sides", "one-sided");
        break;
    case QPrinter::DuplexAuto:
        options.emplace_back("sides", portrait ? "two-sided-long-edge" : "two-sided-short-edge");
        break;
    case QPrinter::DuplexLongSide:
        options.emplace_back("sides", "two-sided-long-edge");
        break;
    case QPrinter::DuplexShortSide:
        options.emplace_back("sides", "two-sided-short-edge");
        break;
    }
    if (!portrait) {
        options.emplace_back("landscape", "");
    }
    const QStringList chosen = printer.printEngine()->property(kCupsOptionsProperty).toStringList();
    for (qsizetype i = 0; i + 1 < chosen.size(); i += 2) {
        options.emplace_back(chosen[i].toUtf8(), chosen[i + 1].toUtf8());
    }
    return options;
}

// Sends the PDF `file` to the printer's queue under `title`; the CUPS job id, 0 on failure.
int sendToQueue(const QPrinter& printer, const QString& file, const std::string& title) {
    const auto options = jobOptions(printer);
    std::vector<cups_option_t> list;
    list.reserve(options.size());
    for (const auto& [name, value] : options) {
        list.push_back({const_cast<char*>(name.constData()), const_cast<char*>(value.constData())});
    }
    return cupsPrintFile(printer.printerName().toUtf8().constData(),
                         QFile::encodeName(file).constData(), title.c_str(), int(list.size()),
                         list.empty() ? nullptr : list.data());
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
    // A queue's job is written to a spool file of ours and sent when it ends, once its title is
    // mended (see mendPdfTitle). A file name without ".pdf" keeps the queue's own print engine,
    // its resolution and its options; given a file name, that engine writes the PDF there and
    // sends nothing.
    std::unique_ptr<QTemporaryFile> spool;
    if (!toFile) {
        spool = std::make_unique<QTemporaryFile>(QDir::tempPath() + u"/vantrel-print-XXXXXX"_s);
        if (!spool->open()) {
            return false;
        }
        spool->close(); // Qt's engine opens it again by name
        printer->setOutputFileName(spool->fileName());
    }

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
    spool_ = std::move(spool);
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
        // Writes the PDF: the user's file, or the spool file of a queue's job.
        const bool written = painter_->end();
        const QString file = printer_->outputFileName();
        mendPdfTitle(file, QString::fromStdString(documentName_));
        if (spool_ && written) {
            sendToQueue(*printer_, file, documentName_);
        }
        painter_.reset();
        printer_.reset();
        spool_.reset(); // removes the spool file: CUPS keeps its own copy of the job
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
