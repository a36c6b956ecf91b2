#include "platform/desktop.h"

namespace vantrel::platform {
namespace {

class NoDesktop final : public Desktop {
public:
    bool openPath(const std::string&) override { return false; }
    bool openUrl(const std::string&) override { return false; }
};

NoDesktop noDesktop;
Desktop* current = &noDesktop;

} // namespace

Desktop& desktop() {
    return *current;
}

Desktop* installDesktop(Desktop* seam) {
    Desktop* previous = current == &noDesktop ? nullptr : current;
    current = seam ? seam : &noDesktop;
    return previous;
}

} // namespace vantrel::platform
