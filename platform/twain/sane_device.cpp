#include "platform/twain/sane_device.h"

#include "platform/twain/dib_assembler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>

namespace vantrel::twain {

namespace {

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

OptionTable SaneDevice::table() const {
    std::vector<OptionInfo> options;
    for (SANE_Int i = 1;; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle_, i);
        if (!d) {
            break;
        }
        if (!d->name || !*d->name || d->type == SANE_TYPE_GROUP) {
            continue;
        }
        OptionInfo o;
        o.name = d->name;
        switch (d->type) {
        case SANE_TYPE_BOOL:
            o.type = OptionInfo::Type::Bool;
            break;
        case SANE_TYPE_INT:
            o.type = OptionInfo::Type::Int;
            break;
        case SANE_TYPE_FIXED:
            o.type = OptionInfo::Type::Fixed;
            break;
        case SANE_TYPE_STRING:
            o.type = OptionInfo::Type::String;
            break;
        default:
            o.type = OptionInfo::Type::Other;
            break;
        }
        switch (d->unit) {
        case SANE_UNIT_NONE:
            o.unit = OptionInfo::Unit::None;
            break;
        case SANE_UNIT_PIXEL:
            o.unit = OptionInfo::Unit::Pixel;
            break;
        case SANE_UNIT_MM:
            o.unit = OptionInfo::Unit::Millimetre;
            break;
        case SANE_UNIT_DPI:
            o.unit = OptionInfo::Unit::Dpi;
            break;
        default:
            o.unit = OptionInfo::Unit::Other;
            break;
        }
        o.active = SANE_OPTION_IS_ACTIVE(d->cap);
        o.settable = settable(d);
        if (d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range) {
            o.limit = OptionInfo::Limit::Range;
            o.min = fromWord(*d, d->constraint.range->min);
            o.max = fromWord(*d, d->constraint.range->max);
            o.quant = fromWord(*d, d->constraint.range->quant);
        } else if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list) {
            o.limit = OptionInfo::Limit::Numbers;
            o.numbers = numberChoices(d->name);
        } else if (d->constraint_type == SANE_CONSTRAINT_STRING_LIST && d->constraint.string_list) {
            o.limit = OptionInfo::Limit::Texts;
            o.texts = textChoices(d->name);
        }
        if (o.type == OptionInfo::Type::Int || o.type == OptionInfo::Type::Fixed) {
            o.number = number(d->name);
        } else if (o.type == OptionInfo::Type::String) {
            o.text = text(d->name);
        }
        options.push_back(std::move(o));
    }
    return OptionTable(std::move(options));
}

ScanOutcome readPage(SaneDevice& device, const std::atomic<bool>& cancel,
                     DibAssembler::Allocator allocator) {
    ScanOutcome outcome;
    const double dpi = device.number("resolution").value_or(0);
    const double xDpi = device.number("x-resolution").value_or(dpi);
    const double yDpi = device.number("y-resolution").value_or(dpi);
    DibAssembler assembler(std::move(allocator));
    constexpr std::size_t kReadSize = 256 * 1024;
    auto buffer = std::make_unique<SANE_Byte[]>(kReadSize);
    bool first = true;
    SANE_Status status = SANE_STATUS_GOOD;
    bool ok = true;
    while (ok) {
        if (cancel.load()) {
            status = SANE_STATUS_CANCELLED;
            ok = false;
            break;
        }
        status = sane_start(device.handle());
        if (status != SANE_STATUS_GOOD) {
            ok = false;
            break;
        }
        SANE_Parameters parameters{};
        status = sane_get_parameters(device.handle(), &parameters);
        if (status != SANE_STATUS_GOOD) {
            ok = false;
            break;
        }
        const FrameParameters frame = frameOf(parameters);
        ok = first ? assembler.begin(frame, xDpi, yDpi) : assembler.nextFrame(frame);
        if (!ok) {
            status = SANE_STATUS_INVAL; // parameters that cannot make a page
        }
        first = false;
        while (ok) {
            SANE_Int length = 0;
            status =
                sane_read(device.handle(), buffer.get(), static_cast<SANE_Int>(kReadSize), &length);
            if (status == SANE_STATUS_EOF) {
                status = SANE_STATUS_GOOD;
                break;
            }
            if (status != SANE_STATUS_GOOD || cancel.load() || length < 0 ||
                static_cast<std::size_t>(length) > kReadSize) {
                ok = false;
                break;
            }
            assembler.append(buffer.get(), static_cast<std::size_t>(length));
        }
        // A cancel from another thread shows up as an early EOF: count the bytes, check the flag.
        if (ok && !assembler.frameComplete()) {
            ok = false;
            status = SANE_STATUS_IO_ERROR; // the frame ended short
        }
        ok = ok && !cancel.load();
        if (!ok || frame.lastFrame) {
            break;
        }
    }
    if (cancel.load()) {
        outcome.status = ScanOutcome::Status::Cancelled;
        outcome.sane = SANE_STATUS_CANCELLED;
        return outcome;
    }
    if (ok) {
        outcome.info = assembler.imageInfo();
        outcome.dib = assembler.finish();
    }
    outcome.status = outcome.dib ? ScanOutcome::Status::Page : ScanOutcome::Status::Failed;
    outcome.sane = outcome.dib                  ? SANE_STATUS_GOOD
                   : status == SANE_STATUS_GOOD ? SANE_STATUS_NO_MEM
                                                : status;
    return outcome;
}

} // namespace vantrel::twain
