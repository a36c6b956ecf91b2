#include "platform/twain/sane_device.h"

#include "platform/twain/backend_threads.h"
#include "platform/twain/dib_assembler.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <poll.h>
#include <span>
#include <unistd.h>

namespace vantrel::twain {

namespace {

// How long a scan waits for a backend's reader thread before it goes on regardless, and how long
// it reads off the rest of a frame that ended early.
constexpr std::chrono::milliseconds kSettleLimit{1000};
constexpr std::chrono::milliseconds kDrainLimit{5000};

double fromWord(const SANE_Option_Descriptor& d, SANE_Word word) {
    return d.type == SANE_TYPE_FIXED ? SANE_UNFIX(word) : static_cast<double>(word);
}

SANE_Word toWord(const SANE_Option_Descriptor& d, double value) {
    return d.type == SANE_TYPE_FIXED ? SANE_FIX(value) : static_cast<SANE_Word>(std::lround(value));
}

bool settable(const SANE_Option_Descriptor* d) {
    return d && SANE_OPTION_IS_ACTIVE(d->cap) && SANE_OPTION_IS_SETTABLE(d->cap);
}

SetResult resultOf(SANE_Status status, SANE_Int info) {
    if (status != SANE_STATUS_GOOD) {
        return SetResult::Refused;
    }
    return (info & SANE_INFO_INEXACT) ? SetResult::Inexact : SetResult::Done;
}

FrameParameters frameOf(const SANE_Parameters& p) {
    FrameParameters f;
    switch (p.format) {
    case SANE_FRAME_GRAY:
        f.format = FrameFormat::Gray;
        break;
    case SANE_FRAME_RGB:
        f.format = FrameFormat::Rgb;
        break;
    case SANE_FRAME_RED:
        f.format = FrameFormat::Red;
        break;
    case SANE_FRAME_GREEN:
        f.format = FrameFormat::Green;
        break;
    case SANE_FRAME_BLUE:
        f.format = FrameFormat::Blue;
        break;
    }
    f.lastFrame = p.last_frame != 0;
    f.bytesPerLine = p.bytes_per_line;
    f.pixelsPerLine = p.pixels_per_line;
    f.lines = p.lines;
    f.depth = p.depth;
    return f;
}

// A frame that ends before its last byte (a failed read, a cancel) may still have its reader
// thread writing into the backend's pipe, and sane_cancel would wake that thread and cancel it
// wherever it is. When the backend shows its pipe (the select fd), the rest of the frame is read
// off it and dropped until the reader has ended, or sleeps while the pipe is empty.
void finishFrameEarly(SaneDevice& device, const BackendThreads& threads,
                      std::span<SANE_Byte> scratch) {
    SANE_Int fd = -1;
    if (sane_get_select_fd(device.handle(), &fd) == SANE_STATUS_GOOD && fd >= 0) {
        const auto giveUp = std::chrono::steady_clock::now() + kDrainLimit;
        while (std::chrono::steady_clock::now() < giveUp) {
            pollfd pipe{fd, POLLIN, 0};
            const int ready = poll(&pipe, 1, 5);
            if (ready > 0 && (pipe.revents & POLLIN) != 0) {
                if (read(fd, scratch.data(), scratch.size()) <= 0) {
                    break;
                }
            } else if (ready < 0 || threads.settled()) {
                break;
            }
        }
    }
    threads.waitUntilSettled(kSettleLimit);
}

} // namespace

const SANE_Option_Descriptor* SaneDevice::descriptor(const char* name, SANE_Int* index) const {
    for (SANE_Int i = 1;; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle_, i);
        if (!d) {
            return nullptr;
        }
        if (d->name && std::strcmp(d->name, name) == 0 && d->type != SANE_TYPE_GROUP) {
            if (index) {
                *index = i;
            }
            return d;
        }
    }
}

std::optional<double> SaneDevice::number(const char* name) const {
    SANE_Int index = 0;
    const SANE_Option_Descriptor* d = descriptor(name, &index);
    if (!d || !SANE_OPTION_IS_ACTIVE(d->cap) ||
        (d->type != SANE_TYPE_INT && d->type != SANE_TYPE_FIXED) || d->size < 1) {
        return std::nullopt;
    }
    std::vector<SANE_Word> words(static_cast<std::size_t>(d->size) / sizeof(SANE_Word) + 1);
    if (sane_control_option(handle_, index, SANE_ACTION_GET_VALUE, words.data(), nullptr) !=
        SANE_STATUS_GOOD) {
        return std::nullopt;
    }
    return fromWord(*d, words[0]);
}

SetResult SaneDevice::setNumber(const char* name, double value) {
    SANE_Int index = 0;
    const SANE_Option_Descriptor* d = descriptor(name, &index);
    if (!settable(d) || (d->type != SANE_TYPE_INT && d->type != SANE_TYPE_FIXED)) {
        return SetResult::Refused;
    }
    SANE_Word word = toWord(*d, value);
    SANE_Int info = 0;
    const SANE_Status status =
        sane_control_option(handle_, index, SANE_ACTION_SET_VALUE, &word, &info);
    SetResult result = resultOf(status, info);
    // Backends may adjust a value without saying so precisely: compare with what stuck.
    if (result == SetResult::Done) {
        if (const auto now = number(name);
            now && std::abs(*now - fromWord(*d, toWord(*d, value))) > 1e-3) {
            result = SetResult::Inexact;
        }
    }
    return result;
}

std::optional<std::string> SaneDevice::text(const char* name) const {
    SANE_Int index = 0;
    const SANE_Option_Descriptor* d = descriptor(name, &index);
    if (!d || !SANE_OPTION_IS_ACTIVE(d->cap) || d->type != SANE_TYPE_STRING || d->size < 1) {
        return std::nullopt;
    }
    std::string value(static_cast<std::size_t>(d->size), '\0');
    if (sane_control_option(handle_, index, SANE_ACTION_GET_VALUE, value.data(), nullptr) !=
        SANE_STATUS_GOOD) {
        return std::nullopt;
    }
    value.resize(strnlen(value.c_str(), value.size()));
    return value;
}

SetResult SaneDevice::setText(const char* name, const std::string& value) {
    SANE_Int index = 0;
    const SANE_Option_Descriptor* d = descriptor(name, &index);
    if (!settable(d) || d->type != SANE_TYPE_STRING) {
        return SetResult::Refused;
    }
    std::string buffer = value;
    buffer.resize(std::max<std::size_t>(static_cast<std::size_t>(d->size), value.size() + 1), '\0');
    SANE_Int info = 0;
    return resultOf(
        sane_control_option(handle_, index, SANE_ACTION_SET_VALUE, buffer.data(), &info), info);
}

std::vector<std::string> SaneDevice::textChoices(const char* name) const {
    std::vector<std::string> out;
    const SANE_Option_Descriptor* d = descriptor(name);
    if (d && d->constraint_type == SANE_CONSTRAINT_STRING_LIST) {
        for (const SANE_String_Const* s = d->constraint.string_list; *s; ++s) {
            out.emplace_back(*s);
        }
    }
    return out;
}

std::vector<double> SaneDevice::numberChoices(const char* name) const {
    std::vector<double> out;
    const SANE_Option_Descriptor* d = descriptor(name);
    if (d && d->constraint_type == SANE_CONSTRAINT_WORD_LIST) {
        const SANE_Word* list = d->constraint.word_list;
        for (SANE_Word i = 1; i <= list[0]; ++i) {
            out.push_back(fromWord(*d, list[i]));
        }
    }
    return out;
}

ScanOutcome scanPage(SaneDevice& device, const std::atomic<bool>& cancel,
                     std::atomic<ScanStage>& stage) {
    ScanOutcome outcome;
    const double dpi = device.number("resolution").value_or(0);
    const double xDpi = device.number("x-resolution").value_or(dpi);
    const double yDpi = device.number("y-resolution").value_or(dpi);
    DibAssembler assembler;
    constexpr std::size_t kReadSize = 64 * 1024;
    auto buffer = std::make_unique<SANE_Byte[]>(kReadSize);
    std::optional<BackendThreads> frameThreads;
    bool frameEnded = false;
    bool first = true;
    bool ok = true;
    while (ok) {
        // Taken before sane_start, which may start a reader thread. The loop runs at least once,
        // so after it there is always a snapshot.
        frameThreads.emplace();
        frameEnded = false;
        if (cancel.load() || sane_start(device.handle()) != SANE_STATUS_GOOD) {
            ok = false;
            break;
        }
        SANE_Parameters parameters{};
        if (sane_get_parameters(device.handle(), &parameters) != SANE_STATUS_GOOD) {
            ok = false;
            break;
        }
        const FrameParameters frame = frameOf(parameters);
        ok = first ? assembler.begin(frame, xDpi, yDpi) : assembler.nextFrame(frame);
        first = false;
        // The read that takes a frame's last byte is where a backend may cancel its reader
        // thread: that byte is read alone, once the reader has finished.
        std::int64_t unread = parameters.lines > 0 ? std::int64_t{parameters.lines} *
                                                         std::max(parameters.bytes_per_line, 0)
                                                   : 0;
        while (ok) {
            std::size_t request = kReadSize;
            if (unread > 1) {
                request = static_cast<std::size_t>(std::min<std::int64_t>(kReadSize, unread - 1));
            } else if (unread == 1) {
                frameThreads->waitUntilSettled(kSettleLimit);
            }
            SANE_Int length = 0;
            const SANE_Status status =
                sane_read(device.handle(), buffer.get(), static_cast<SANE_Int>(request), &length);
            if (status == SANE_STATUS_EOF) {
                frameEnded = true;
                break;
            }
            if (status != SANE_STATUS_GOOD || cancel.load()) {
                ok = false;
                break;
            }
            assembler.append(buffer.get(), static_cast<std::size_t>(length));
            unread = std::max<std::int64_t>(unread - length, 0);
        }
        // A cancel from another thread shows up as an early EOF: count the bytes, check the flag.
        ok = ok && !cancel.load() && assembler.frameComplete();
        if (!ok || frame.lastFrame) {
            break;
        }
    }
    // When another thread has woken the read with sane_cancel, the backend is ending the frame
    // already and its pipe may be gone.
    ScanStage reading = ScanStage::Reading;
    const bool notWoken = stage.compare_exchange_strong(reading, ScanStage::Finishing);
    if (!frameEnded && notWoken) {
        finishFrameEarly(device, *frameThreads, {buffer.get(), kReadSize});
    }
    sane_cancel(device.handle());
    if (cancel.load()) {
        outcome.status = ScanOutcome::Status::Cancelled;
        return outcome;
    }
    if (ok) {
        outcome.info = assembler.imageInfo();
        outcome.dib = assembler.finish();
    }
    outcome.status = outcome.dib ? ScanOutcome::Status::Page : ScanOutcome::Status::Failed;
    return outcome;
}

} // namespace vantrel::twain
