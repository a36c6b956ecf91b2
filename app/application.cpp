#include "app/application.h"

#include "app/main_window.h"
#include "devices/print_dialogs.h"
#include "platform/dialogs.h"
#include "ui/qt_desktop.h"
#include "ui/qt_dialogs.h"
#include "ui/runtime.h"

#include <QApplication>

using namespace Qt::StringLiterals;

namespace vantrel::app {

int runDesktop(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(u"vantrel"_s);
    QApplication::setApplicationDisplayName(u"Vantrel"_s);
    ui::initialiseRuntime(application);
    QObject::connect(&application, &QCoreApplication::aboutToQuit, [] { OnProgramExit(); });

    ui::QtDialogs dialogs;
    platform::installDialogs(&dialogs);
    ui::QtDesktop desktop;
    platform::installDesktop(&desktop);
    devices::QtPrintDialogs printDialogs;
    devices::installPrintDialogs(&printDialogs);

    MainWindow mainWindow(ProgramPaths::forRunningProgram());
    mainWindow.start();
    const int result = QApplication::exec();
    devices::installPrintDialogs(nullptr);
    platform::installDesktop(nullptr);
    platform::installDialogs(nullptr);
    return result;
}

} // namespace vantrel::app
