#include "imaging/atomic_output.h"

#include "platform/atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel::imaging {

namespace {
constexpr std::size_t kStreamBuffer = 1 << 20;
}

AtomicOutputFile::AtomicOutputFile(std::string target)
    : target_(platform::resolveFinalSymlinks(target).string()) {}

AtomicOutputFile::~AtomicOutputFile() {
    discard();
}

bool AtomicOutputFile::open() {
    const std::size_t slash = target_.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : target_.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    if (name.empty()) {
        return false;
    }
    std::random_device entropy;
    for (int attempt = 0; attempt < 16; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x", entropy());
        const std::string working = folder + "." + name + "." + suffix + ".part";
        const int fd =
            ::open(working.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return false;
        }
        // An existing target keeps its permission bits, as with the platform's atomic writes.
        struct stat existing;
        if (stat(target_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
            fchmod(fd, existing.st_mode & 07777);
        }
        stream_ = fdopen(fd, "wb");
        if (!stream_) {
            close(fd);
            unlink(working.c_str());
            return false;
        }
        working_ = working;
        std::setvbuf(stream_, nullptr, _IOFBF, kStreamBuffer);
        return true;
    }
    return false;
}

bool AtomicOutputFile::commit() {
    if (!stream_) {
        return false;
    }
    const bool written = std::fflush(stream_) == 0 && !std::ferror(stream_);
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    if (!written || !closed || std::rename(working_.c_str(), target_.c_str()) != 0) {
        discard();
        return false;
    }
    working_.clear();
    return true;
}

void AtomicOutputFile::discard() {
    if (stream_) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
    if (!working_.empty()) {
        unlink(working_.c_str());
        working_.clear();
    }
}

} // namespace vantrel::imaging
