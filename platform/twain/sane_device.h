#pragma once
// One open SANE device seen through its options by name (SANE's well-known names: "mode",
// "depth", "resolution", "tl-x", "tl-y", "br-x", "br-y"), and one scan of a page into a DIB.
// Descriptors are looked up afresh on every access because setting an option may reload them.
// Only the scanner helper process uses this: libsane is never loaded into the program itself.

#include "platform/twain/dib_assembler.h"
#include "platform/twain/option_table.h"
#include "platform/twain/twain.h"

#include <sane/sane.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::twain {

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
    // Every named option as it stands now.
    OptionTable table() const;

private:
    SANE_Handle handle_;
};

// What one scan produced.
struct ScanOutcome {
    enum class Status { Page, Failed, Cancelled } status = Status::Failed;
    SANE_Status sane = SANE_STATUS_GOOD; // what ended a scan without a page
    TW_HANDLE dib = nullptr;             // owned by the receiver when status is Page
    TW_IMAGEINFO info{};
};

// Reads one page (all frames) into a DIB whose memory comes from `allocator`. `cancel` is checked
// between reads; a short frame (fewer bytes than announced) is a failure, never a page. The
// backend's work is not ended here: the caller hands the page on first, then calls sane_cancel.
ScanOutcome readPage(SaneDevice& device, const std::atomic<bool>& cancel,
                     DibAssembler::Allocator allocator);

} // namespace vantrel::twain
