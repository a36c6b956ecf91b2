#pragma once
// A desktop seam for tests: records what would have been opened, opens nothing, and installs
// itself for its lifetime.

#include "platform/desktop.h"

#include <string>
#include <vector>

namespace vantrel::test {

class RecordingDesktop final : public platform::Desktop {
public:
    RecordingDesktop()
        : previous_(platform::installDesktop(this)) {}
    ~RecordingDesktop() override { platform::installDesktop(previous_); }

    bool openPath(const std::string& path) override {
        paths.push_back(path);
        return true;
    }
    bool openUrl(const std::string& url) override {
        urls.push_back(url);
        return true;
    }

    std::vector<std::string> paths;
    std::vector<std::string> urls;

private:
    platform::Desktop* previous_;
};

} // namespace vantrel::test
