#include "platform/text_encoding.h"

#include <array>
#include <cerrno>
#include <iconv.h>

namespace vantrel::platform {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD

bool inRange(unsigned char c, unsigned char low, unsigned char high) {
    return c >= low && c <= high;
}

// Length of the valid UTF-8 sequence at bytes[pos], or 0 when the bytes there are not one.
std::size_t utf8SequenceLength(std::string_view bytes, std::size_t pos) {
    const auto at = [&](std::size_t i) -> unsigned char {
        return pos + i < bytes.size() ? static_cast<unsigned char>(bytes[pos + i]) : 0;
    };
    const unsigned char lead = at(0);
    if (lead < 0x80) {
        return 1;
    }
    // The range allowed for the second byte excludes overlong forms, surrogates and values
    // above U+10FFFF; every further byte is a plain continuation byte.
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (inRange(lead, 0xC2, 0xDF)) {
        length = 2;
    } else if (lead == 0xE0) {
        length = 3;
        low = 0xA0;
    } else if (lead == 0xED) {
        length = 3;
        high = 0x9F;
    } else if (inRange(lead, 0xE1, 0xEF)) {
        length = 3;
    } else if (lead == 0xF0) {
        length = 4;
        low = 0x90;
    } else if (lead == 0xF4) {
        length = 4;
        high = 0x8F;
    } else if (inRange(lead, 0xF1, 0xF3)) {
        length = 4;
    } else {
        return 0;
    }
    if (pos + length > bytes.size() || !inRange(at(1), low, high)) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (!inRange(at(i), 0x80, 0xBF)) {
            return 0;
        }
    }
    return length;
}

// Owns one iconv conversion descriptor.
class Converter {
public:
    Converter(const char* to, const char* from)
        : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) {
            iconv_close(cd_);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

// Runs iconv over `input` from `pos`, appending to `out` until the input is used up or iconv
// stops on a bad sequence. Returns the position reached and the errno of the stop (0 if none).
std::pair<std::size_t, int> convert(iconv_t cd, std::string_view input, std::size_t pos,
                                    std::string& out) {
    std::array<char, 4096> buffer;
    while (pos < input.size()) {
        // iconv's interface is not const-correct; it only reads the input.
        char* in = const_cast<char*>(input.data() + pos);
        std::size_t inLeft = input.size() - pos;
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        const int error = errno;
        out.append(buffer.data(), static_cast<std::size_t>(outPtr - buffer.data()));
        pos = input.size() - inLeft;
        if (result == static_cast<std::size_t>(-1) && error != E2BIG) {
            return {pos, error};
        }
    }
    return {pos, 0};
}

} // namespace

std::optional<std::string> utf8ToGb18030(std::string_view utf8) {
    if (!isValidUtf8(utf8)) {
        return std::nullopt;
    }
    Converter converter("GB18030", "UTF-8");
    if (!converter.ok()) {
        return std::nullopt;
    }
    std::string out;
    out.reserve(utf8.size());
    const auto [pos, error] = convert(converter.get(), utf8, 0, out);
    if (error != 0 || pos != utf8.size()) {
        return std::nullopt;
    }
    return out;
}

std::string gb18030ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    Converter converter("UTF-8", "GB18030");
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        if (converter.ok()) {
            pos = convert(converter.get(), bytes, pos, out).first;
            if (pos >= bytes.size()) {
                break;
            }
            iconv(converter.get(), nullptr, nullptr, nullptr, nullptr); // back to the initial state
        } else if (static_cast<unsigned char>(bytes[pos]) < 0x80) {
            out += bytes[pos++];
            continue;
        }
        // An invalid or incomplete character: one replacement for the whole of it.
        out += kReplacement;
        pos += gb18030CharLength(bytes, pos);
    }
    return out;
}

bool isValidUtf8(std::string_view text) {
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = utf8SequenceLength(text, pos);
        if (length == 0) {
            return false;
        }
        pos += length;
    }
    return true;
}

std::string sanitizeUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = utf8SequenceLength(text, pos);
        if (length == 0) {
            out += kReplacement;
            ++pos;
        } else {
            out.append(text.substr(pos, length));
            pos += length;
        }
    }
    return out;
}

std::size_t gb18030CharLength(std::string_view bytes, std::size_t pos) {
    const auto at = [&](std::size_t i) -> unsigned char {
        return pos + i < bytes.size() ? static_cast<unsigned char>(bytes[pos + i]) : 0;
    };
    if (!inRange(at(0), 0x81, 0xFE) || pos + 1 >= bytes.size()) {
        return 1;
    }
    const unsigned char second = at(1);
    if (inRange(second, 0x40, 0x7E) || inRange(second, 0x80, 0xFE)) {
        return 2;
    }
    if (inRange(second, 0x30, 0x39) && pos + 3 < bytes.size() && inRange(at(2), 0x81, 0xFE) &&
        inRange(at(3), 0x30, 0x39)) {
        return 4;
    }
    return 1;
}

std::size_t utf8CharLength(std::string_view bytes, std::size_t pos) {
    const std::size_t length = utf8SequenceLength(bytes, pos);
    return length == 0 ? 1 : length;
}

} // namespace vantrel::platform
