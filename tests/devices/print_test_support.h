#pragma once
// Helpers for printer tests: a scripted print dialog, pictures made from QImages, and what
// poppler's tools (pdfinfo, pdfimages, pdftoppm) say about a printed PDF.

#include "devices/print_dialogs.h"
#include "imaging/picture_registry.h"

#include <QBuffer>
#include <QImage>
#include <QPrintEngine>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::test {

// Answers print dialogs from a queue and records what each one was offered. It installs itself
// as the process's print dialogs for its lifetime. An empty queue cancels.
class ScriptedPrintDialogs final : public devices::PrintDialogs {
public:
    struct Answer {
        bool accept = true;
        std::string printer; // a queue name; empty: print to file
        std::optional<int> copies;
        std::optional<QPrinter::DuplexMode> duplex;
        // CUPS options as Qt's dialog leaves them on the print engine: names and values,
        // alternating (page ranges, job priority, ...).
        QStringList cupsOptions;
    };
    struct Record {
        devices::PrintDialogOptions options;
        QPageLayout::Orientation orientation;
        QString pageSize;
        int copies;
        bool collate;
    };

    ScriptedPrintDialogs()
        : previous_(devices::installPrintDialogs(this)) {}
    ~ScriptedPrintDialogs() override { devices::installPrintDialogs(previous_); }

    void accept(std::string printer = {}) { answers_.push_back({true, std::move(printer)}); }
    void cancel() { answers_.push_back({false}); }
    void push(Answer answer) { answers_.push_back(std::move(answer)); }

    bool choosePrinter(QPrinter& printer, const devices::PrintDialogOptions& options) override {
        records.push_back({options, printer.pageLayout().orientation(),
                           printer.pageLayout().pageSize().key(), printer.copyCount(),
                           printer.collateCopies()});
        if (answers_.empty() || !answers_.front().accept) {
            if (!answers_.empty()) {
                answers_.pop_front();
            }
            return false;
        }
        const Answer answer = answers_.front();
        answers_.pop_front();
        if (answer.printer.empty()) {
            printer.setOutputFormat(QPrinter::PdfFormat);
        } else {
            printer.setPrinterName(QString::fromStdString(answer.printer));
        }
        if (answer.copies) {
            printer.setCopyCount(*answer.copies);
        }
        if (answer.duplex) {
            printer.setDuplex(*answer.duplex);
        }
        if (!answer.cupsOptions.isEmpty()) {
            printer.printEngine()->setProperty(kCupsOptionsProperty, answer.cupsOptions);
        }
        return true;
    }

    // Where Qt's CUPS print engine keeps the print dialog's CUPS options (its PPK_CupsOptions).
    static constexpr auto kCupsOptionsProperty = QPrintEngine::PrintEnginePropertyKey(0xfe00);

    std::vector<Record> records;

private:
    std::deque<Answer> answers_;
    devices::PrintDialogs* previous_;
};

// Registers `image` as a picture (through BMP file bytes, as scanned pages arrive).
inline imaging::PictureHandle registerPicture(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.convertToFormat(QImage::Format_RGB32).save(&buffer, "BMP");
    return imaging::LoadPicture(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())));
}

// Quadrants red, green / blue, black: shows stretch, coverage and turns at a glance.
inline QImage quadrantImage(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool right = x >= width / 2;
            const bool bottom = y >= height / 2;
            image.setPixel(x, y,
                           bottom ? (right ? qRgb(0, 0, 0) : qRgb(0, 0, 255))
                                  : (right ? qRgb(0, 255, 0) : qRgb(255, 0, 0)));
        }
    }
    return image;
}

inline QString runTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(30000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// pdfinfo's fields ("Pages", "Page size", "Title", ...).
inline std::map<QString, QString> pdfInfo(const std::filesystem::path& pdf) {
    std::map<QString, QString> fields;
    const QString out = runTool(QStringLiteral("pdfinfo"), {QString::fromStdString(pdf.string())});
    for (const QString& line : out.split(u'\n')) {
        const qsizetype colon = line.indexOf(u':');
        if (colon > 0) {
            fields[line.left(colon)] = line.mid(colon + 1).trimmed();
        }
    }
    return fields;
}

// The page size in points from pdfinfo ("595.276 x 841.89 pts (A4)").
inline QSizeF pdfPageSize(const std::filesystem::path& pdf) {
    const QStringList parts = pdfInfo(pdf)[QStringLiteral("Page size")].split(u' ');
    return parts.size() >= 3 ? QSizeF(parts[0].toDouble(), parts[2].toDouble()) : QSizeF();
}

struct PdfImage {
    QString type; // image, stencil, smask
    int width = 0;
    int height = 0;
    QString colour; // rgb, gray
    int components = 0;
    int bitsPerComponent = 0;
    QString encoding; // image (Flate), jpeg, ...
};

// `pdfimages -list`, one row per image.
inline std::vector<PdfImage> pdfImages(const std::filesystem::path& pdf) {
    std::vector<PdfImage> images;
    const QString out = runTool(QStringLiteral("pdfimages"),
                                {QStringLiteral("-list"), QString::fromStdString(pdf.string())});
    const QStringList lines = out.split(u'\n');
    for (qsizetype i = 2; i < lines.size(); ++i) {
        const QStringList f =
            lines[i].split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        if (f.size() >= 10) {
            images.push_back(
                {f[2], f[3].toInt(), f[4].toInt(), f[5], f[6].toInt(), f[7].toInt(), f[8]});
        }
    }
    return images;
}

// The first page rendered at `dpi` (pdftoppm), or a null image.
inline QImage renderPage(const std::filesystem::path& pdf, int dpi, int page = 1) {
    const std::filesystem::path stem = pdf.parent_path() / ("render-" + std::to_string(page));
    runTool(QStringLiteral("pdftoppm"),
            {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-f"),
             QString::number(page), QStringLiteral("-l"), QString::number(page),
             QStringLiteral("-singlefile"), QStringLiteral("-png"),
             QString::fromStdString(pdf.string()), QString::fromStdString(stem.string())});
    return QImage(QString::fromStdString(stem.string() + ".png"));
}

} // namespace vantrel::test
