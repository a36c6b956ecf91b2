#pragma once
// A scratch file that is written, read back at once and written again on the next use (the
// temporary picture of a save). Replacing it by a new file each time makes the kernel allocate
// and account all its cache pages afresh; rewriting our own plain file in place reuses the pages
// it already has, which for a page-sized picture is several times faster. The file is not
// flushed to disk, and a write that fails part way leaves it partly rewritten (the caller must
// not use it then: the function reports the failure).
//
// Anything but our own regular file under this one name, writable, goes through
// writeFileAtomically and its rules instead: a missing file is created, a symbolic link is
// followed and its target replaced, a file that also has another name is replaced rather than
// changed under that name, and a read-only file or a folder is refused.

#include <cstddef>
#include <filesystem>
#include <span>
#include <string_view>

namespace vantrel::platform {

// Makes `file` hold exactly `bytes`; false on any failure.
bool rewriteScratchFile(const std::filesystem::path& file, std::span<const std::byte> bytes);
bool rewriteScratchFile(const std::filesystem::path& file, std::string_view bytes);

} // namespace vantrel::platform
