#include "platform/atomic_file.h"

#include "platform/bulk_write.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel::platform {
namespace {

namespace fs = std::filesystem;

constexpr int kMaxSymlinks = 40;
constexpr int kWorkingNameAttempts = 100;
// Room left in a 255-byte file name for the working name's dot, random part and suffix.
constexpr std::size_t kMaxWorkingBaseLength = 200;
constexpr std::size_t kRandomLength = 12;
constexpr std::string_view kWorkingSuffix = ".part";
constexpr std::string_view kRandomDigits = "0123456789abcdefghijklmnopqrstuvwxyz";
constexpr std::size_t kStreamBuffer = 1 << 20;
// Earlier versions named their working files ".<name>.<8 hex digits>.part" and did not lock
// them; one untouched for this long belongs to no running writer.
constexpr auto kUnlockedWorkingFileAge = std::chrono::minutes(10);

std::atomic<bool> gUnnamedAllowed{true};

// The process umask, read without changing it (calling umask() would race with other threads
// creating files). Linux reports it in /proc/self/status.
mode_t currentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            try {
                return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8) & 0777);
            } catch (const std::exception&) {
                break;
            }
        }
    }
    return 022;
}

std::string randomPart() {
    static std::atomic<unsigned> counter{0};
    std::array<unsigned char, kRandomLength> random{};
    if (getrandom(random.data(), random.size(), GRND_NONBLOCK) !=
        static_cast<ssize_t>(random.size())) {
        // Still unique enough together with O_EXCL and the retries.
        auto seed = static_cast<unsigned long long>(
                        std::chrono::steady_clock::now().time_since_epoch().count()) ^
                    (static_cast<unsigned long long>(getpid()) << 32) ^ counter++;
        for (auto& byte : random) {
            byte = static_cast<unsigned char>(seed >> 33);
            seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        }
    }
    std::string text;
    for (const unsigned char byte : random) {
        text += kRandomDigits[byte % kRandomDigits.size()];
    }
    return text;
}

// ".<name>.<random>.part" beside `file`.
fs::path workingName(const fs::path& folder, const fs::path& file) {
    return folder / ("." + file.filename().string().substr(0, kMaxWorkingBaseLength) + "." +
                     randomPart() + std::string(kWorkingSuffix));
}

enum class WorkingNameKind { None, Locked, Legacy };

// Whether a folder entry is one of our working names: ".<name>.<random>.part" with a random part
// of 12 base-36 digits (locked while written), or an earlier version's 8 hex digits (unlocked).
WorkingNameKind workingNameKind(std::string_view name) {
    if (name.size() < 2 || name[0] != '.' || !name.ends_with(kWorkingSuffix)) {
        return WorkingNameKind::None;
    }
    name.remove_suffix(kWorkingSuffix.size());
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot < 2) {
        return WorkingNameKind::None; // no name before the random part
    }
    const std::string_view random = name.substr(dot + 1);
    const bool base36 = random.find_first_not_of(kRandomDigits) == std::string_view::npos;
    if (random.size() == kRandomLength && base36) {
        return WorkingNameKind::Locked;
    }
    if (random.size() == 8 &&
        random.find_first_not_of("0123456789abcdef") == std::string_view::npos) {
        return WorkingNameKind::Legacy;
    }
    return WorkingNameKind::None;
}

bool hasWriteBit(mode_t mode) {
    return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// rename() that fails with EEXIST instead of replacing; EINVAL where the file system cannot.
int renameNoReplace(const fs::path& from, const fs::path& to) {
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
}

} // namespace

fs::path resolveFinalSymlinks(const fs::path& file) {
    fs::path path = file;
    for (int i = 0; i < kMaxSymlinks; ++i) {
        std::error_code error;
        if (!fs::is_symlink(path, error)) {
            return path;
        }
        const fs::path link = fs::read_symlink(path, error);
        if (error) {
            return path;
        }
        path = link.is_absolute() ? link : path.parent_path() / link;
    }
    return path;
}

int removeAbandonedWorkingFiles(const fs::path& folder) {
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        return 0;
    }
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return 0;
    }
    const auto now = std::chrono::system_clock::now();
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const WorkingNameKind kind = workingNameKind(entry->d_name);
        if (kind == WorkingNameKind::None) {
            continue;
        }
        const int fd =
            ::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        struct stat opened {};
        struct stat named {};
        // A live writer holds its lock until the file has its final name or is discarded.
        const bool abandoned = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
                               opened.st_uid == ::geteuid() &&
                               ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                               (kind == WorkingNameKind::Locked ||
                                now - std::chrono::system_clock::from_time_t(opened.st_mtime) >
                                    kUnlockedWorkingFileAge) &&
                               ::fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                               sameFile(opened, named);
        if (abandoned && ::unlinkat(dirFd, entry->d_name, 0) == 0) {
            ++removed;
        }
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

AtomicFile::AtomicFile(fs::path target, Placement placement, Durability durability)
    : target_(std::move(target))
    , placement_(placement)
    , durability_(durability) {}

AtomicFile::~AtomicFile() {
    discard();
}

bool AtomicFile::open() {
    if (target_.empty() || !target_.has_filename()) {
        errno = EINVAL;
        return false;
    }
    if (placement_ == Placement::Replace) {
        target_ = resolveFinalSymlinks(target_);
    }
    folder_ = target_.has_parent_path() ? target_.parent_path() : fs::path(".");

    mode_ = 0666 & ~currentUmask();
    if (placement_ == Placement::Replace) {
        struct stat existing {};
        if (::lstat(target_.c_str(), &existing) == 0) {
            // Also refuses a link loop (still a link after resolving), a folder or a device.
            if (!S_ISREG(existing.st_mode)) {
                errno = S_ISDIR(existing.st_mode) ? EISDIR : EINVAL;
                return false;
            }
            if (!hasWriteBit(existing.st_mode) || ::access(target_.c_str(), W_OK) != 0) {
                errno = EACCES;
                return false;
            }
            mode_ = existing.st_mode & 07777;
            owner_.emplace(existing.st_uid, existing.st_gid);
        } else if (errno != ENOENT) {
            return false;
        }
    }
    struct stat folderStat {};
    if (::stat(folder_.c_str(), &folderStat) != 0) {
        return false;
    }
    if (!S_ISDIR(folderStat.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    if (!hasWriteBit(folderStat.st_mode) || ::access(folder_.c_str(), W_OK | X_OK) != 0) {
        errno = EACCES;
        return false;
    }
    removeAbandonedWorkingFiles(folder_);
    // An unnamed file needs /proc to be given a name later; without either, a hidden one.
    if (gUnnamedAllowed && ::access("/proc/self/fd", X_OK) == 0) {
        if (openUnnamed(0600)) {
            return true;
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            return false;
        }
    }
    return openNamed(0600);
}

bool AtomicFile::openUnnamed(mode_t mode) {
    const int fd = ::open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd < 0) {
        return false;
    }
    // Locked like a named working file, so that the moment it has a hidden name (on its way to
    // replacing a file) no other writer takes it for abandoned.
    ::flock(fd, LOCK_EX);
    fd_ = fd;
    return true;
}

bool AtomicFile::openNamed(mode_t mode) {
    for (int attempt = 0; attempt < kWorkingNameAttempts; ++attempt) {
        const fs::path name = workingName(folder_, target_);
        const int fd =
            ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return false;
        }
        // Another writer's sweep may have taken the file for abandoned between its creation and
        // the lock: then the name is gone or no longer ours, and the next name is tried.
        struct stat opened {};
        struct stat named {};
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &opened) == 0 &&
            ::lstat(name.c_str(), &named) == 0 && sameFile(opened, named)) {
            fd_ = fd;
            working_ = name;
            return true;
        }
        ::close(fd);
    }
    errno = EEXIST;
    return false;
}

std::FILE* AtomicFile::stream() {
    if (!stream_ && fd_ >= 0) {
        stream_ = ::fdopen(fd_, "wb");
        if (stream_) {
            std::setvbuf(stream_, nullptr, _IOFBF, kStreamBuffer);
        }
    }
    return stream_;
}

bool AtomicFile::flushContent() {
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    if (stream_ && (std::fflush(stream_) != 0 || std::ferror(stream_))) {
        if (errno == 0) {
            errno = EIO;
        }
        return false;
    }
    if (owner_ && (owner_->first != ::geteuid() || owner_->second != ::getegid())) {
        // Only root may give the file back to its owner; otherwise it keeps the group if it
        // may, and becomes ours.
        if (::fchown(fd_, owner_->first, owner_->second) != 0 &&
            ::fchown(fd_, static_cast<uid_t>(-1), owner_->second) != 0) {
            // Our own group is all that is left.
        }
    }
    if (::fchmod(fd_, mode_) != 0) {
        return false;
    }
    return durability_ != Durability::Flushed || ::fsync(fd_) == 0;
}

bool AtomicFile::takeName(const fs::path& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    if (placement_ == Placement::NewOnly) {
        if (working_.empty()) {
            return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
        }
        if (renameNoReplace(working_, name) == 0) {
            working_.clear();
            return true;
        }
        if (errno != EINVAL && errno != ENOSYS) {
            return false;
        }
        // No rename without replacing here: a link fails just as well when the name is taken.
        if (::link(working_.c_str(), name.c_str()) != 0) {
            return false;
        }
        ::unlink(working_.c_str());
        working_.clear();
        return true;
    }
    if (working_.empty()) {
        // An unnamed file cannot be renamed over another: it gets a hidden name first.
        for (int attempt = 0; working_.empty(); ++attempt) {
            const fs::path hidden = workingName(folder_, target_);
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, hidden.c_str(), AT_SYMLINK_FOLLOW) ==
                0) {
                working_ = hidden;
            } else if (errno != EEXIST || attempt >= kWorkingNameAttempts) {
                return false;
            }
        }
    }
    if (::rename(working_.c_str(), name.c_str()) != 0) {
        return false;
    }
    working_.clear();
    return true;
}

void AtomicFile::flushFolder() const {
    if (durability_ != Durability::Flushed) {
        return;
    }
    const int folderFd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
}

bool AtomicFile::commit() {
    if (!flushContent() || !takeName(target_)) {
        const int error = errno;
        discard();
        errno = error;
        return false;
    }
    committed_ = true;
    flushFolder();
    discard();
    return true;
}

std::optional<fs::path> AtomicFile::commitUnderFreeName(const std::function<fs::path(int)>& nameFor,
                                                        int attempts) {
    if (placement_ != Placement::NewOnly || !flushContent()) {
        const int error = errno;
        discard();
        errno = error;
        return std::nullopt;
    }
    for (int n = 1; n <= attempts; ++n) {
        const fs::path name = nameFor(n);
        if (takeName(name)) {
            committed_ = true;
            flushFolder();
            discard();
            return name;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    const int error = errno;
    discard();
    errno = error;
    return std::nullopt;
}

void AtomicFile::discard() {
    if (stream_) {
        std::fclose(stream_); // also closes fd_
        stream_ = nullptr;
        fd_ = -1;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!working_.empty()) {
        if (!committed_) {
            ::unlink(working_.c_str());
        }
        working_.clear();
    }
}

void allowUnnamedWorkingFiles(bool allowed) {
    gUnnamedAllowed = allowed;
}

bool writeFileAtomically(const fs::path& target, std::span<const std::byte> bytes,
                         Durability durability) {
    AtomicFile file(target, Placement::Replace, durability);
    return file.open() && writeBlock(file.fd(), bytes) && file.commit();
}

bool writeFileAtomically(const fs::path& target, std::string_view bytes, Durability durability) {
    return writeFileAtomically(target, std::as_bytes(std::span(bytes.data(), bytes.size())),
                               durability);
}

} // namespace vantrel::platform
