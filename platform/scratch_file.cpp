#include "platform/scratch_file.h"

#include "platform/atomic_file.h"
#include "platform/bulk_write.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel::platform {
namespace {

// Our own regular file, with no other name and a write permission bit.
bool rewritableInPlace(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1 &&
           info.st_uid == ::geteuid() && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

} // namespace

bool rewriteScratchFile(const std::filesystem::path& file, std::span<const std::byte> bytes) {
    // No O_CREAT: a missing file is made by the careful path. O_NONBLOCK keeps a FIFO planted
    // under the name from blocking the open; O_NOFOLLOW leaves links to the careful path.
    const int fd = ::open(file.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return writeFileAtomically(file, bytes, Durability::Cached);
    }
    if (!rewritableInPlace(fd)) {
        ::close(fd);
        return writeFileAtomically(file, bytes, Durability::Cached);
    }
    const bool written =
        writeBlock(fd, bytes, 0) && ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0;
    return ::close(fd) == 0 && written;
}

bool rewriteScratchFile(const std::filesystem::path& file, std::string_view bytes) {
    return rewriteScratchFile(file, std::as_bytes(std::span(bytes.data(), bytes.size())));
}

} // namespace vantrel::platform
