#pragma once
// The scanner device list 组合框1 and its refresh button 按钮1: pressing the button lists every
// source of the scanner component and selects the one saved as "默认机器". A refresh never writes
// the setting; only the user's choice does (OnDeviceSelected).
//
// Looking the scanners up can take seconds (network backends), so the component's Initialize
// runs on a worker thread while the window keeps processing its events; the window's controls
// are disabled meanwhile so that nothing else reaches the scanner component until it returns.

#include "app/settings_store.h"

namespace vantrel::ui {
class Window;
}
namespace vantrel::devices {
class TwainControl;
}

namespace vantrel::app {

class DeviceList {
public:
    DeviceList(ui::Window& window, const SettingsStore& settings, devices::TwainControl& scanner);

    // Binds OnRefreshClicked to the click of 按钮1.
    void bind();

    // Refreshes, unless a scan or copy is using the scanner: then the user is told to wait.
    void OnRefreshClicked();
    void RefreshDeviceList();

    // True from the start of a refresh until its list is filled; a refresh asked for meanwhile
    // does nothing.
    bool refreshRunning() const { return refreshRunning_; }

private:
    void initializeScannerResponsively();

    ui::Window& window_;
    const SettingsStore& settings_;
    devices::TwainControl& scanner_;
    bool refreshRunning_ = false;
};

} // namespace vantrel::app
