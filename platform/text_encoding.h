#pragma once
// Conversions between the program's UTF-8 text and GB18030, the encoding of the settings file on
// disk (a superset of GBK, so files written by older installations read right, and it can hold
// every Unicode character). Also the character boundaries of both encodings, for code that scans
// encoded bytes and must not split a character or mistake a GBK trail byte such as '[' (0x5B) or
// ']' (0x5D) for ASCII. Conversions go through iconv; nothing here keeps state between calls.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel::platform {

// The text as GB18030 bytes, or nullopt when it is not valid UTF-8 (or iconv fails).
std::optional<std::string> utf8ToGb18030(std::string_view utf8);

// GB18030 bytes as UTF-8. Invalid or incomplete sequences become U+FFFD; never fails.
std::string gb18030ToUtf8(std::string_view bytes);

// Strict UTF-8 check: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view text);

// The text with every invalid UTF-8 sequence replaced by U+FFFD.
std::string sanitizeUtf8(std::string_view text);

// Length in bytes of the character that starts at bytes[pos] (pos < bytes.size()). An ASCII
// byte, a byte that cannot start a character and a character cut short by the end of `bytes`
// all count as one byte, so a scan always makes progress.
std::size_t gb18030CharLength(std::string_view bytes, std::size_t pos);
std::size_t utf8CharLength(std::string_view bytes, std::size_t pos);

} // namespace vantrel::platform
