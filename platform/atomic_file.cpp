#include "platform/atomic_file.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel::platform {
namespace {

namespace fs = std::filesystem;

constexpr int kMaxSymlinks = 40;
constexpr int kTempNameAttempts = 100;
// Room left in a 255-byte file name for the temporary name's prefix and suffix.
constexpr std::size_t kMaxTempBaseLength = 200;

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

// A fresh hidden name beside the target: ".<name>.<random>.tmp".
std::string tempFileName(const fs::path& target) {
    static std::atomic<unsigned> counter{0};
    std::array<unsigned char, 8> random{};
    if (getrandom(random.data(), random.size(), GRND_NONBLOCK) !=
        static_cast<ssize_t>(random.size())) {
        // Still unique enough together with O_EXCL and the retries.
        auto seed = static_cast<unsigned long long>(
                        std::chrono::steady_clock::now().time_since_epoch().count()) ^
                    (static_cast<unsigned long long>(getpid()) << 32) ^ counter++;
        for (auto& byte : random) {
            byte = static_cast<unsigned char>(seed);
            seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        }
    }
    constexpr std::string_view digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string name = "." + target.filename().string().substr(0, kMaxTempBaseLength) + ".";
    for (const unsigned char byte : random) {
        name += digits[byte % digits.size()];
    }
    return name + ".tmp";
}

// The temporary file while it is being written: closed and removed unless committed.
class TempFile {
public:
    TempFile(fs::path path, int fd)
        : path_(std::move(path))
        , fd_(fd) {}
    ~TempFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        if (!committed_) {
            ::unlink(path_.c_str());
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    int fd() const { return fd_; }
    const fs::path& path() const { return path_; }
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }
    void commit() { committed_ = true; }

private:
    fs::path path_;
    int fd_;
    bool committed_ = false;
};

bool writeAll(int fd, std::span<const std::byte> bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

bool hasWriteBit(mode_t mode) {
    return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
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

bool writeFileAtomically(const fs::path& target, std::span<const std::byte> bytes,
                         Durability durability) {
    if (target.empty()) {
        return false;
    }
    const fs::path file = resolveFinalSymlinks(target);
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");

    struct stat existing {};
    const bool exists = ::lstat(file.c_str(), &existing) == 0;
    if (exists) {
        // Also refuses a link loop (still a link after resolving), a folder or a device.
        if (!S_ISREG(existing.st_mode) || !hasWriteBit(existing.st_mode) ||
            ::access(file.c_str(), W_OK) != 0) {
            return false;
        }
    } else if (errno != ENOENT) {
        return false;
    }
    struct stat folderStat {};
    if (::stat(folder.c_str(), &folderStat) != 0 || !S_ISDIR(folderStat.st_mode) ||
        !hasWriteBit(folderStat.st_mode) || ::access(folder.c_str(), W_OK | X_OK) != 0) {
        return false;
    }

    fs::path tempPath;
    int fd = -1;
    for (int attempt = 0; attempt < kTempNameAttempts && fd < 0; ++attempt) {
        tempPath = folder / tempFileName(file);
        fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) {
            return false;
        }
    }
    if (fd < 0) {
        return false;
    }
    TempFile temp(tempPath, fd);

    const bool flushed = durability == Durability::Flushed;
    if (!writeAll(temp.fd(), bytes) || (flushed && ::fsync(temp.fd()) != 0)) {
        return false;
    }
    mode_t mode = 0666 & ~currentUmask();
    if (exists) {
        mode = existing.st_mode & 0777;
        if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) {
            // Only root may give the file back to its owner; otherwise it becomes ours.
            if (::fchown(temp.fd(), existing.st_uid, existing.st_gid) != 0 &&
                ::fchown(temp.fd(), static_cast<uid_t>(-1), existing.st_gid) != 0) {
                // Keeping our own group is all that is left.
            }
        }
    }
    if (::fchmod(temp.fd(), mode) != 0 || !temp.close()) {
        return false;
    }
    if (::rename(temp.path().c_str(), file.c_str()) != 0) {
        return false;
    }
    temp.commit();
    if (!flushed) {
        return true;
    }

    // Make the rename itself durable; the new content is complete either way.
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return true;
}

bool writeFileAtomically(const fs::path& target, std::string_view bytes, Durability durability) {
    return writeFileAtomically(target, std::as_bytes(std::span(bytes.data(), bytes.size())),
                               durability);
}

} // namespace vantrel::platform
