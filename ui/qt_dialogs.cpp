#include "ui/qt_dialogs.h"

#include "ui/colour_value.h"
#include "ui/input_box.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace vantrel::ui {
namespace {

QString fromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

QMessageBox::Icon toQtIcon(platform::MessageIcon icon) {
    switch (icon) {
    case platform::MessageIcon::Information:
        return QMessageBox::Information;
    case platform::MessageIcon::Question:
        return QMessageBox::Question;
    case platform::MessageIcon::Warning:
        return QMessageBox::Warning;
    case platform::MessageIcon::Error:
        return QMessageBox::Critical;
    case platform::MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

platform::DialogAnswer QtDialogs::showMessage(const platform::MessageRequest& request) {
    // No owner window; application-modal so that every window of the program waits for it.
    QMessageBox box(toQtIcon(request.icon), fromUtf8(request.caption), fromUtf8(request.text),
                    QMessageBox::Ok);
    if (request.buttons == platform::MessageButtons::OkCancel) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    }
    box.setWindowModality(Qt::ApplicationModal);
    return box.exec() == QMessageBox::Ok ? platform::DialogAnswer::Ok
                                         : platform::DialogAnswer::Cancel;
}

std::optional<std::string> QtDialogs::askText(const platform::InputRequest& request) {
    InputBox box(request, QApplication::activeWindow());
    if (box.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return box.text().toStdString();
}

std::optional<std::string> QtDialogs::browseFolder(const platform::FolderRequest& request) {
    // Qt's own dialog has a path field the user can type into.
    const QString path = QFileDialog::getExistingDirectory(
        QApplication::activeWindow(), fromUtf8(request.title), QString(),
        QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return path.toStdString();
}

std::optional<std::string> QtDialogs::chooseOpenFile(const platform::OpenFileRequest& request) {
    const QString path =
        QFileDialog::getOpenFileName(QApplication::activeWindow(), fromUtf8(request.title),
                                     QString(), toQtFileFilter(request.filter));
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return path.toStdString();
}

std::optional<std::string> QtDialogs::chooseSaveFile(const platform::SaveFileRequest& request) {
    const QString path = QFileDialog::getSaveFileName(
        QApplication::activeWindow(), fromUtf8(request.title), fromUtf8(request.suggestedName),
        toQtFileFilter(request.filter));
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return path.toStdString();
}

std::optional<std::uint32_t> QtDialogs::chooseColour(std::uint32_t initial) {
    const QColor chosen = QColorDialog::getColor(toQColor(initial), QApplication::activeWindow());
    if (!chosen.isValid()) {
        return std::nullopt;
    }
    return toColourValue(chosen);
}

void QtDialogs::beep() {
    QApplication::beep();
}

QString toQtFileFilter(const std::string& filter) {
    const QStringList parts = fromUtf8(filter).split(u'|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QStringList patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts);
        entries << parts[i] + u" ("_s + patterns.join(u' ') + u')';
    }
    return entries.join(u";;"_s);
}

} // namespace vantrel::ui
