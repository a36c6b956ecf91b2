#include "ui/runtime.h"

#include "ui/colour_value.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QPalette>
#include <QStyleFactory>
#include <QTranslator>

using namespace Qt::StringLiterals;

namespace vantrel::ui {
namespace {

struct Scheme {
    QColor frame;
    QColor face;
};

Scheme schemeColours(int scheme) {
    switch (scheme) {
    case 2:
        return {QColor(143, 158, 110), QColor(236, 240, 226)};
    case 3:
        return {QColor(152, 152, 164), QColor(238, 238, 242)};
    default:
        return {QColor(123, 158, 189), QColor(232, 239, 246)};
    }
}

} // namespace

void initialiseRuntime(QApplication& application) {
    const QString translations = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const QString& catalogue : {u"qtbase"_s, u"qt"_s}) {
        auto* translator = new QTranslator(&application);
        if (translator->load(QLocale(QLocale::Chinese, QLocale::China), catalogue, u"_"_s,
                             translations)) {
            QApplication::installTranslator(translator);
        } else {
            delete translator;
        }
    }
    QApplication::setStyle(QStyleFactory::create(u"Fusion"_s));
    // The layout is in pixels, made for 12-pixel characters.
    QFont font = QApplication::font();
    font.setPixelSize(12);
    QApplication::setFont(font);
}

void applyThemedDrawing(int scheme) {
    const Scheme colours = schemeColours(scheme);
    const QString frame = colours.frame.name();
    const QString face = colours.face.name();
    auto* app = qobject_cast<QApplication*>(QApplication::instance());
    if (!app) {
        return;
    }
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Highlight, colours.frame);
    QApplication::setPalette(palette);
    app->setStyleSheet(uR"(QLineEdit { border: 1px solid %1; background: white; padding: 0 2px; }
QLineEdit:read-only { background: #f7f9fb; }
QLineEdit:disabled { background: #efefef; color: #8a8a8a; }
QPushButton { border: 1px solid %1; border-radius: 2px; background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 white, stop:1 %2); padding: 0 6px; }
QPushButton:hover { background: %2; }
QPushButton:pressed { background: %1; }
QPushButton:disabled { color: #8a8a8a; border-color: #c0c0c0; }
QGroupBox { border: 1px solid %1; border-radius: 3px; margin-top: 7px; }
QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 8px; padding: 0 2px; }
QTreeView { border: 1px solid %1; }
QHeaderView::section { border: none; border-right: 1px solid %1; border-bottom: 1px solid %1; background: %2; padding: 2px 4px; }
QToolBar { border: none; border-bottom: 1px solid %1; spacing: 2px; }
)"_s.arg(frame, face));
}

} // namespace vantrel::ui
