#include "app/application.h"

#include <QApplication>

namespace vantrel::app {

int runDesktop(int argc, char** argv) {
    QApplication application(argc, argv);
    return application.exec();
}

} // namespace vantrel::app
