#pragma once
// One open SANE device seen through its options by name (SANE's well-known names: "mode",
// "depth", "resolution", "tl-x", "tl-y", "br-x", "br-y"), and one scan of a page into a DIB.
// Descriptors are looked up afresh on every access because setting an option may reload them.

#include "platform/twain/twain.h"

#include <sane/sane.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::twain {

enum class SetResult { Done, Inexact, Refused };

class SaneDevice {
public:
    explicit SaneDevice(SANE_Handle handle)
        : handle_(handle) {}

    SANE_Handle handle() const { return handle_; }
    const SANE_Option_Descriptor* descriptor(const char* name, SANE_Int* index = nullptr) const;
    bool has(const char* name) const { return descriptor(name) != nullptr; }

    std::optional<double> number(const char* name) const; // INT or FIXED, in the option's unit
    SetResult setNumber(const char* name, double value);
    std::optional<std::string> text(const char* name) const;
    SetResult setText(const char* name, const std::string& value);
    // The string list or the word list of an option (as numbers); empty when it has none.
    std::vector<std::string> textChoices(const char* name) const;
    std::vector<double> numberChoices(const char* name) const;

private:
    SANE_Handle handle_;
};

// What one scan produced.
struct ScanOutcome {
    enum class Status { Page, Failed, Cancelled } status = Status::Failed;
    TW_HANDLE dib = nullptr; // owned by the receiver when status is Page
    TW_IMAGEINFO info{};
};

// Where a running scan stands. Another thread may wake a read that waits on the scanner with
// sane_cancel, but only while the scan is still reading: it claims that by moving the stage from
// Reading to Woken. Once the scan has moved it to Finishing, it ends the backend's work itself.
enum class ScanStage { Reading, Finishing, Woken };

// Scans one page (all frames) and always ends with sane_cancel. `cancel` is checked between
// reads; a short frame (fewer bytes than announced) is a failure, never a page. `stage` must be
// Reading when the scan starts; it is never Reading when the scan returns.
ScanOutcome scanPage(SaneDevice& device, const std::atomic<bool>& cancel,
                     std::atomic<ScanStage>& stage);

} // namespace vantrel::twain
