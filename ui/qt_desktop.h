#pragma once
// The desktop's default handlers through Qt (xdg-open on Linux, started with an argument list).

#include "platform/desktop.h"

namespace vantrel::ui {

class QtDesktop final : public platform::Desktop {
public:
    bool openPath(const std::string& path) override;
    bool openUrl(const std::string& url) override;
};

} // namespace vantrel::ui
