#include "platform/desktop.h"

#include "platform/seam.h"

namespace vantrel::platform {
namespace {

class NoDesktop final : public Desktop {
public:
    bool openPath(const std::string&) override { return false; }
    bool openUrl(const std::string&) override { return false; }
};

NoDesktop noDesktop;
constinit Seam<Desktop> seam(noDesktop);

} // namespace

Desktop& desktop() {
    return seam.current();
}

Desktop* installDesktop(Desktop* replacement) {
    return seam.install(replacement);
}

} // namespace vantrel::platform
