#include "ui/qt_desktop.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

namespace vantrel::ui {

bool QtDesktop::openPath(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

bool QtDesktop::openUrl(const std::string& url) {
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(url), QUrl::StrictMode));
}

} // namespace vantrel::ui
