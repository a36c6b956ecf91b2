#include "workflows/waits.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace vantrel::workflows {

void waitWhileSet(const bool& flag) {
    // The timer wakes the loop at least once a second even when no other event arrives.
    QTimer heartbeat;
    heartbeat.start(1000);
    while (flag) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

} // namespace vantrel::workflows
