#pragma once
// Replacing a file so that a crash or a failed write never leaves a half-written file under the
// final name: the bytes go to a fresh temporary file beside the target (created exclusively,
// mode 0600, never by removing whatever has the name), which is flushed to disk and then renamed
// over the target. On any failure the temporary file is removed and the target is untouched.
//
// The target keeps its permission bits (and, where the process may set them, its owner and
// group); a new file gets the usual 0666 minus the umask. A target that is a symbolic link is
// followed: the file it points to is replaced and the link stays. A target that cannot be
// written is refused rather than replaced behind the owner's back: an existing file without any
// write permission bit (treated as read-only even for root), one the process may not write, a
// target that is not a regular file, or a folder that is not writable or has no write bit.

#include <cstddef>
#include <filesystem>
#include <span>
#include <string_view>

namespace vantrel::platform {

// Whether the new content is flushed to disk before the rename. A scratch file whose content is
// needed only for a moment (and is rewritten on every use) can skip the flush: it is still
// replaced whole or not at all, but a crash may leave the earlier content.
enum class Durability { Flushed, Cached };

// Writes `bytes` to `target` atomically as described above. Returns false on any failure.
bool writeFileAtomically(const std::filesystem::path& target, std::span<const std::byte> bytes,
                         Durability durability = Durability::Flushed);
bool writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         Durability durability = Durability::Flushed);

// The path a write to `file` lands on: symbolic links in the last component are followed (a
// dangling link gives the missing file it names). Stops after 40 links, like the kernel.
std::filesystem::path resolveFinalSymlinks(const std::filesystem::path& file);

} // namespace vantrel::platform
