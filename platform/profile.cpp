#include "platform/profile.h"

#include "platform/atomic_file.h"
#include "platform/text_encoding.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel::platform {
namespace {

namespace fs = std::filesystem;

enum class Encoding { Gb18030, Utf8 };

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kNewFileLineEnding = "\r\n";

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isBlankOrControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7F;
}

std::string_view skipLeading(std::string_view text, bool (*skip)(char)) {
    std::size_t pos = 0;
    while (pos < text.size() && skip(text[pos])) {
        ++pos;
    }
    return text.substr(pos);
}

std::string_view trimTrailingBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string_view trimBlanks(std::string_view text) {
    return trimTrailingBlanks(skipLeading(text, isBlank));
}

bool holdsLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::size_t charLength(Encoding encoding, std::string_view bytes, std::size_t pos) {
    return encoding == Encoding::Utf8 ? utf8CharLength(bytes, pos) : gb18030CharLength(bytes, pos);
}

// The settings file as read from disk. `bodyStart` skips a UTF-8 byte-order mark.
struct Document {
    std::string bytes;
    Encoding encoding = Encoding::Gb18030;
    std::size_t bodyStart = 0;
};

enum class LoadResult { Loaded, Missing, Unreadable };

LoadResult loadDocument(const fs::path& file, Document& document) {
    // O_NONBLOCK: a FIFO under the file's name must not hang the program.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return errno == ENOENT ? LoadResult::Missing : LoadResult::Unreadable;
    }
    struct stat info {};
    LoadResult result = LoadResult::Loaded;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        result = LoadResult::Unreadable;
    } else {
        document.bytes.reserve(static_cast<std::size_t>(info.st_size));
        std::array<char, 65536> buffer;
        for (;;) {
            const ssize_t got = ::read(fd, buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                result = LoadResult::Unreadable;
                break;
            }
            if (got == 0) {
                break;
            }
            document.bytes.append(buffer.data(), static_cast<std::size_t>(got));
        }
    }
    ::close(fd);
    if (result == LoadResult::Loaded && document.bytes.starts_with(kUtf8Bom)) {
        document.encoding = Encoding::Utf8;
        document.bodyStart = kUtf8Bom.size();
    }
    return result;
}

// A text of the program in the file's encoding; nullopt when it cannot be encoded.
std::optional<std::string> encode(std::string_view utf8, Encoding encoding) {
    if (encoding == Encoding::Utf8) {
        return isValidUtf8(utf8) ? std::optional<std::string>(utf8) : std::nullopt;
    }
    return utf8ToGb18030(utf8);
}

std::string decode(std::string_view bytes, Encoding encoding) {
    return encoding == Encoding::Utf8 ? sanitizeUtf8(bytes) : gb18030ToUtf8(bytes);
}

// Compares a name from the file with a wanted one in the same encoding. Only single-byte ASCII
// characters are compared without case: a GBK trail byte may look like an ASCII letter.
bool namesEqual(std::string_view inFile, std::string_view wanted, Encoding encoding) {
    if (inFile.size() != wanted.size()) {
        return false;
    }
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    for (std::size_t pos = 0; pos < inFile.size();) {
        const std::size_t length = charLength(encoding, inFile, pos);
        if (length == 1) {
            if (lower(inFile[pos]) != lower(wanted[pos])) {
                return false;
            }
        } else if (charLength(encoding, wanted, pos) != length ||
                   inFile.substr(pos, length) != wanted.substr(pos, length)) {
            return false;
        }
        pos += length;
    }
    return true;
}

// One line of the file: content [begin, end), line break [end, next).
struct Line {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t next = 0;
};

Line lineAt(std::string_view text, std::size_t begin) {
    std::size_t end = text.find_first_of("\r\n", begin);
    if (end == std::string_view::npos) {
        return {begin, text.size(), text.size()};
    }
    const std::size_t next =
        text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? end + 2 : end + 1;
    return {begin, end, next};
}

enum class LineKind { Other, Section, Key };

struct LineInfo {
    LineKind kind = LineKind::Other;
    std::string_view name;      // trimmed section or key name
    std::size_t valueBegin = 0; // for a key: the offset in the file just after '='
};

// Reads a line character by character, so that a GBK trail byte 0x5D is never taken for ']'.
LineInfo classify(std::string_view text, const Line& line, Encoding encoding) {
    const std::string_view content = text.substr(line.begin, line.end - line.begin);
    const std::size_t start = content.size() - skipLeading(content, isBlank).size();
    if (start == content.size() || content[start] == ';') {
        return {};
    }
    if (content[start] == '[') {
        // The name runs to the last ']' (to the end of the line when there is none).
        std::size_t close = content.size();
        for (std::size_t pos = start + 1; pos < content.size();
             pos += charLength(encoding, content, pos)) {
            if (content[pos] == ']') {
                close = pos;
            }
        }
        return {LineKind::Section, trimBlanks(content.substr(start + 1, close - start - 1)), 0};
    }
    for (std::size_t pos = start; pos < content.size(); pos += charLength(encoding, content, pos)) {
        if (content[pos] == '=') {
            return {LineKind::Key, trimBlanks(content.substr(start, pos - start)),
                    line.begin + pos + 1};
        }
    }
    return {};
}

// Where a key stands, or would go, in the file.
struct Lookup {
    bool sectionFound = false;
    // After the section's header or its last key line; `insertNeedsBreak` when that line is
    // the last of the file and has no line break.
    std::size_t insertAt = 0;
    bool insertNeedsBreak = false;
    bool keyFound = false;
    Line keyLine;
    std::size_t valueBegin = 0;
};

Lookup lookUp(const Document& document, std::string_view section, std::string_view key) {
    const std::string_view text = document.bytes;
    Lookup result;
    bool inSection = false;
    for (std::size_t pos = document.bodyStart; pos < text.size();) {
        const Line line = lineAt(text, pos);
        pos = line.next;
        const LineInfo info = classify(text, line, document.encoding);
        if (info.kind == LineKind::Section) {
            if (inSection) {
                break; // only the first matching section counts
            }
            if (namesEqual(info.name, section, document.encoding)) {
                inSection = result.sectionFound = true;
            }
        } else if (info.kind != LineKind::Key || !inSection) {
            continue;
        } else if (namesEqual(info.name, key, document.encoding)) {
            result.keyFound = true;
            result.keyLine = line;
            result.valueBegin = info.valueBegin;
            break;
        }
        if (inSection) {
            result.insertAt = line.next;
            result.insertNeedsBreak = line.next == line.end;
        }
    }
    return result;
}

// The value as the file stores it: without surrounding blanks and one pair of matching quotes,
// cut to the value limit at a character boundary and at a NUL byte (the end of a C text).
std::string_view storedValue(std::string_view raw, Encoding encoding) {
    std::string_view value = trimBlanks(raw);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    if (value.size() > kProfileValueLimit) {
        std::size_t pos = 0;
        for (std::size_t length = charLength(encoding, value, 0);
             pos + length <= kProfileValueLimit; length = charLength(encoding, value, pos)) {
            pos += length;
        }
        value = value.substr(0, pos);
    }
    return value.substr(0, value.find('\0'));
}

// The line break the file already uses (its first one), or CRLF for a file without any.
std::string_view lineEndingOf(const Document& document) {
    const std::string_view text = document.bytes;
    const std::size_t pos = text.find_first_of("\r\n", document.bodyStart);
    if (pos == std::string_view::npos) {
        return kNewFileLineEnding;
    }
    if (text[pos] == '\n') {
        return "\n";
    }
    return pos + 1 < text.size() && text[pos + 1] == '\n' ? "\r\n" : "\r";
}

fs::path cleanPath(const fs::path& file) {
    return fs::path(std::string(skipLeading(file.native(), isBlankOrControl)));
}

} // namespace

std::string readProfileString(const fs::path& file, std::string_view section, std::string_view key,
                              std::string_view defaultValue) {
    const fs::path path = cleanPath(file);
    section = skipLeading(section, isBlankOrControl);
    key = skipLeading(key, isBlankOrControl);
    if (path.empty() || section.empty() || key.empty()) {
        return {};
    }
    const std::string fallback(trimTrailingBlanks(defaultValue));

    Document document;
    if (loadDocument(path, document) != LoadResult::Loaded) {
        return fallback;
    }
    const auto wantedSection = encode(trimBlanks(section), document.encoding);
    const auto wantedKey = encode(trimBlanks(key), document.encoding);
    if (!wantedSection || !wantedKey) {
        return fallback;
    }
    const Lookup found = lookUp(document, *wantedSection, *wantedKey);
    if (!found.keyFound) {
        return fallback;
    }
    const std::string_view raw =
        std::string_view(document.bytes)
            .substr(found.valueBegin, found.keyLine.end - found.valueBegin);
    return decode(storedValue(raw, document.encoding), document.encoding);
}

bool writeProfileString(const fs::path& file, std::string_view section, std::string_view key,
                        std::string_view value) {
    const fs::path path = cleanPath(file);
    section = skipLeading(section, isBlankOrControl);
    key = skipLeading(key, isBlankOrControl);
    if (path.empty() || section.empty() || key.empty()) {
        return false;
    }
    // A line break would add lines of its own to the file; a NUL would end the text early.
    if (holdsLineBreakOrNul(section) || holdsLineBreakOrNul(key) || holdsLineBreakOrNul(value)) {
        return false;
    }
    section = trimBlanks(section);
    key = trimBlanks(key);
    // Such a key would read back as a comment, a section or a different key.
    if (key.front() == ';' || key.front() == '[' || key.find('=') != std::string_view::npos) {
        return false;
    }
    value = skipLeading(value, isBlank);

    Document document;
    const LoadResult loaded = loadDocument(path, document);
    if (loaded == LoadResult::Unreadable) {
        return false; // never replace a file whose content we could not keep
    }
    const auto encodedSection = encode(section, document.encoding);
    const auto encodedKey = encode(key, document.encoding);
    const auto encodedValue = encode(value, document.encoding);
    if (!encodedSection || !encodedKey || !encodedValue) {
        return false;
    }

    const std::string_view text = document.bytes;
    const std::string_view lineEnding = lineEndingOf(document);
    const Lookup found = lookUp(document, *encodedSection, *encodedKey);
    std::string out;
    out.reserve(text.size() + encodedSection->size() + encodedKey->size() + encodedValue->size() +
                16);
    if (found.keyFound) {
        out.append(text.substr(0, found.valueBegin));
        out.append(*encodedValue);
        out.append(text.substr(found.keyLine.end));
    } else if (found.sectionFound) {
        out.append(text.substr(0, found.insertAt));
        if (found.insertNeedsBreak) {
            out.append(lineEnding);
        }
        out.append(*encodedKey).append("=").append(*encodedValue).append(lineEnding);
        out.append(text.substr(found.insertAt));
    } else {
        out.append(text);
        if (text.size() > document.bodyStart && text.back() != '\n' && text.back() != '\r') {
            out.append(lineEnding);
        }
        out.append("[").append(*encodedSection).append("]").append(lineEnding);
        out.append(*encodedKey).append("=").append(*encodedValue).append(lineEnding);
    }
    return writeFileAtomically(path, out);
}

} // namespace vantrel::platform
