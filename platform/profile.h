#pragma once
// The settings file (boot.ini): an INI file read and written one value at a time with the
// behaviour of the Windows profile functions that the program was built around. Text in and out
// is UTF-8; on disk the file is GB18030 (so a GBK file from an existing installation reads
// right), or UTF-8 when it starts with a UTF-8 byte-order mark. Nothing is cached: every call
// reads the file, and a write replaces it atomically, keeping every byte it does not change.
//
// Names (file, section, key) lose their leading blanks and control characters first; when one of
// them is then empty, a read gives the empty text and a write does nothing. Section and key names
// match without regard to ASCII case and surrounding blanks; the first matching section and the
// first matching key in it count. Values lose surrounding blanks and one pair of matching quotes
// when read, and are cut to kProfileValueLimit bytes (in the file's encoding, never inside a
// character).

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace vantrel::platform {

// The longest value a read returns, in bytes as stored in the file.
inline constexpr std::size_t kProfileValueLimit = 10239;

// The value of `key` in `section`, or `defaultValue` without its trailing blanks when the file,
// the section or the key is missing (or the file cannot be read).
std::string readProfileString(const std::filesystem::path& file, std::string_view section,
                              std::string_view key, std::string_view defaultValue);

// Sets `key` in `section` to `value` (its leading blanks dropped): replaces the first matching
// key's value, else adds the key after the section's last key, else adds the section at the end
// of the file (creating the file). Returns false and leaves the file as it was when a name is
// empty, a text holds a line break or NUL, or a key could not be read back as written (it holds
// '=' or starts with ';' or '['), when the text is not valid UTF-8, or when the file cannot be
// read or replaced (see writeFileAtomically: read-only files and folders are kept).
bool writeProfileString(const std::filesystem::path& file, std::string_view section,
                        std::string_view key, std::string_view value);

} // namespace vantrel::platform
