#pragma once
// The program's one way of writing a file that must never be seen half-written: settings, saved
// pictures, converted files.
//
// The bytes go to a file in the target's folder that has no name yet (O_TMPFILE), or, where the
// file system has no unnamed files, to a hidden ".<name>.<random>.part" created exclusively and
// locked (flock) while it is written. The file is flushed to disk, then given its final name;
// the folder is flushed too. A crash or kill at any instant leaves the earlier file or the new
// one, never a truncated file under the final name. An unnamed file vanishes with the process;
// a hidden working file left by a killed writer is unlocked, and the next write into the same
// folder removes it.
//
// Two ways to take the final name:
//  - Replace: over an existing file of that name. The target keeps its permission bits (and,
//    where the process may set them, its owner and group); a new file gets 0666 minus the umask.
//    A symbolic link as the target is followed: the file it points to is replaced and the link
//    stays. A target that cannot be written is refused rather than replaced behind its owner's
//    back: a file without any write permission bit (read-only even for root), one the process
//    may not write, or anything that is not a regular file.
//  - NewOnly: under a name that nothing has yet. The name is taken in one step that fails when
//    it exists (link or rename without replacing), so a file made by another program between a
//    check and the write is never overwritten; the caller may then offer the next name.
// In both cases the folder must exist and be writable (with a write bit, even for root).

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <sys/types.h>
#include <utility>

namespace vantrel::platform {

// Whether the new content is flushed to disk before it takes its name. A scratch file whose
// content is needed only for a moment (and is rewritten on every use) can skip the flush: it is
// still replaced whole or not at all, but a crash may leave the earlier content.
enum class Durability { Flushed, Cached };

enum class Placement { Replace, NewOnly };

class AtomicFile {
public:
    // Nothing is touched until open().
    AtomicFile(std::filesystem::path target, Placement placement,
               Durability durability = Durability::Flushed);
    ~AtomicFile(); // discards the working file unless committed
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Checks the target and its folder as described above, removes abandoned working files of
    // this program from the folder, and creates the working file. False when the file may not
    // or cannot be written; errno tells why.
    bool open();
    // The working file for streaming writes (a large stdio buffer), made on first use; nullptr
    // before open() or when it cannot be made. Writes through fd() and stream() must not mix.
    std::FILE* stream();
    int fd() const { return fd_; }

    // Flushes the content and gives the file its final name. False on any failure, the working
    // file discarded and every existing file as it was; for NewOnly, errno is EEXIST when the
    // name was taken.
    bool commit();
    // NewOnly: tries nameFor(1), nameFor(2), ... (nameFor(1) is usually the target given to the
    // constructor) until one is free, at most `attempts` names; returns the name taken.
    std::optional<std::filesystem::path>
    commitUnderFreeName(const std::function<std::filesystem::path(int)>& nameFor, int attempts);

    // The file the content is for (symbolic links followed for Replace).
    const std::filesystem::path& target() const { return target_; }

private:
    bool openUnnamed(mode_t mode);
    bool openNamed(mode_t mode);
    bool flushContent();
    bool takeName(const std::filesystem::path& name);
    void flushFolder() const;
    void discard();

    std::filesystem::path target_;
    std::filesystem::path folder_;
    Placement placement_;
    Durability durability_;
    mode_t mode_ = 0;
    std::optional<std::pair<uid_t, gid_t>> owner_; // of the file replaced
    int fd_ = -1;
    std::FILE* stream_ = nullptr;
    std::filesystem::path working_; // empty while the file has no name
    bool committed_ = false;
};

// Writes `bytes` to `target` as an AtomicFile with Placement::Replace. False on any failure.
bool writeFileAtomically(const std::filesystem::path& target, std::span<const std::byte> bytes,
                         Durability durability = Durability::Flushed);
bool writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         Durability durability = Durability::Flushed);

// The path a write to `file` lands on: symbolic links in the last component are followed (a
// dangling link gives the missing file it names). Stops after 40 links, like the kernel.
std::filesystem::path resolveFinalSymlinks(const std::filesystem::path& file);

// Removes the working files that writers of this program left in `folder` when they were killed:
// hidden ".<name>.<random>.part" files of the current user that no live writer holds locked.
// Returns how many were removed. open() calls it; exposed for tests.
int removeAbandonedWorkingFiles(const std::filesystem::path& folder);

// For tests: false makes open() take a hidden named working file, as on a file system without
// unnamed files (FAT, NFS), so that path can be tried on any machine.
void allowUnnamedWorkingFiles(bool allowed);

} // namespace vantrel::platform
