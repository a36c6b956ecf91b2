#include "app/device_list.h"

#include "app/main_window_definition.h"
#include "devices/twain_control.h"
#include "ui/list_controls.h"
#include "ui/window.h"
#include "workflows/scan_workflow.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QScopeGuard>
#include <thread>

namespace vantrel::app {

DeviceList::DeviceList(ui::Window& window, const SettingsStore& settings,
                       devices::TwainControl& scanner)
    : window_(window)
    , settings_(settings)
    , scanner_(scanner) {}

void DeviceList::bind() {
    window_.bind(control::kRefreshButton, ui::EventKind::Click,
                 [this](const ui::EventArgs&) { OnRefreshClicked(); });
}

void DeviceList::OnRefreshClicked() {
    // Looking the scanners up again while one scans would re-enumerate the source manager under
    // the running acquisition; the user presses again once it has ended.
    if (workflows::refuseWhileScannerInUse()) {
        return;
    }
    RefreshDeviceList();
}

void DeviceList::initializeScannerResponsively() {
    // The client area holds every control that could reach the scanner component (the refresh
    // button, the device list, the toolbar); the window itself still moves, repaints and resizes.
    QWidget* controls = window_.clientArea();
    const bool wasEnabled = controls->isEnabled();
    controls->setEnabled(false);
    QEventLoop loop;
    std::thread worker([this, &loop] {
        scanner_.Initialize(); // the result is not used: a second refresh keeps the old table
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    controls->setEnabled(wasEnabled);
}

void DeviceList::RefreshDeviceList() {
    // The lookup's wait processes events, so a second refresh can arrive in the middle of this
    // one. It must not reach the scanner component at all: its source table is being filled on
    // the worker, and selecting a source would open it from here meanwhile. The first refresh
    // fills the list once the lookup has ended.
    if (refreshRunning_) {
        return;
    }
    refreshRunning_ = true;
    const auto done = qScopeGuard([this] { refreshRunning_ = false; });
    initializeScannerResponsively();
    auto& list = window_.control<ui::DropDownList>(control::kDeviceList);
    list.clearItems();
    const QString saved = settings_.read(settings_key::kDefaultDevice);
    const QByteArray savedBytes = saved.toUtf8();
    const int count = scanner_.SourceCount();
    for (int i = 0; i < count; ++i) {
        scanner_.setSourceIndex(i);
        const int item = list.addItemWithValue(QString::fromStdString(scanner_.SourceName()), i);
        // Byte for byte; the last source carrying the saved name wins.
        if (QByteArray::fromStdString(scanner_.SourceName()) == savedBytes) {
            list.setSelection(item);
        }
    }
}

} // namespace vantrel::app
