#pragma once
// SANE's test scanner for the benchmarks: the project's SANE configuration copied to a folder of
// the run (SANE_CONFIG_DIR must name it before libsane loads), and a bare scanner component that
// scans one colour page at a time through our source manager.

#include "devices/manager_library.h"
#include "devices/twain_control.h"
#include "ui/window.h"

#include <QCoreApplication>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace vantrel::bench {

// Made once per process; SANE_CONFIG_DIR is pointed at it.
inline const std::string& useSaneTestScanner() {
    static const std::string dir = [] {
        char pattern[] = "/tmp/vantrel-bench-sane-XXXXXX";
        const std::string made = mkdtemp(pattern);
        std::filesystem::copy_file(VANTREL_SANE_CONFIG_DIR "/dll.conf", made + "/dll.conf");
        std::filesystem::copy_file(VANTREL_SANE_CONFIG_DIR "/test.conf", made + "/test.conf");
        setenv("SANE_CONFIG_DIR", made.c_str(), 1);
        return made;
    }();
    return dir;
}

class TestScanner final : public ui::EventSink {
public:
    // `keepPages`: keep a copy of each page (which a memory measurement must not count).
    // `initialize`: read the device list now (else initialize() does, on any thread).
    explicit TestScanner(int resolution, bool keepPages = false, bool initialize = true)
        : resolution_(resolution)
        , keepPages_(keepPages) {
        if (!std::getenv("SANE_CONFIG_DIR")) {
            useSaneTestScanner();
        }
        component_.attach(this);
        control_.setAcquisitionEndedHandler(
            [this](const devices::AcquisitionEnd&) { ended_ = true; });
        if (initialize) {
            control_.Initialize();
        }
    }

    bool initialize() { return control_.Initialize(); }
    void setResolution(int resolution) { resolution_ = resolution; }

    // The sources' names as the window's device list takes them: each one chosen in turn.
    std::vector<std::string> listNames() {
        std::vector<std::string> names;
        for (int i = 0; i < control_.SourceCount(); ++i) {
            control_.setSourceIndex(i);
            names.push_back(control_.SourceName());
        }
        return names;
    }

    // One page from Acquire to PictureAcquired; false when none came.
    bool scanOnce() {
        control_.SelectSource(false, 0);
        control_.setXResolution(resolution_);
        control_.setYResolution(control_.XResolution());
        control_.setPixelType(2);
        ended_ = false;
        const int before = pages_;
        if (!control_.Acquire(false)) {
            return false;
        }
        while (pages_ == before && !ended_) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return pages_ != before;
    }
    int pages() const { return pages_; }
    std::size_t lastPageSize() const { return lastPageSize_; }
    // The bytes of the last page (a BMP file), when pages are kept.
    const std::string& lastPage() const { return lastPage_; }

    void deliverEvent(std::string_view, ui::EventKind kind, const ui::EventArgs& args) override {
        if (kind == ui::EventKind::PictureAcquired) {
            ++pages_;
            lastPageSize_ = args.bytes.size();
            // The program reads every byte of a page it is given (the near-colour pass copies
            // it, the panel draws it): so does this, or a page that is slow to reach would pass
            // for a fast one.
            std::uint64_t sum = 0;
            for (std::size_t i = 0; i + 8 <= args.bytes.size(); i += 8) {
                std::uint64_t word;
                std::memcpy(&word, args.bytes.data() + i, 8);
                sum += word;
            }
            checksum_ += sum;
            if (keepPages_) {
                lastPage_.assign(reinterpret_cast<const char*>(args.bytes.data()),
                                 args.bytes.size());
            }
        }
    }

private:
    int resolution_;
    bool keepPages_;
    int pages_ = 0;
    std::size_t lastPageSize_ = 0;
    bool ended_ = false;
    std::string lastPage_;
    std::uint64_t checksum_ = 0;
    ui::Component component_{"数码设备1", ""};
    devices::TwainControl control_{&component_,
                                   devices::ManagerLibrary::fromFile(VANTREL_TWAIN_DSM_PATH)};
};

} // namespace vantrel::bench
