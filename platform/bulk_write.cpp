#include "platform/bulk_write.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace vantrel::platform {
namespace {

constexpr std::size_t kPiece = std::size_t{1} << 20;
constexpr std::size_t kDirectLimit = std::size_t{4} << 20;

bool writeAll(int fd, const std::byte* data, std::size_t size, off_t& offset) {
    while (size > 0) {
        const ssize_t written =
            offset < 0 ? ::write(fd, data, size) : ::pwrite(fd, data, size, offset);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = EIO;
            }
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
        if (offset >= 0) {
            offset += written;
        }
    }
    return true;
}

} // namespace

bool writeBlock(int fd, std::span<const std::byte> bytes, off_t offset) {
    if (bytes.size() <= kDirectLimit) {
        return writeAll(fd, bytes.data(), bytes.size(), offset);
    }
    thread_local const std::unique_ptr<std::byte[]> piece(new std::byte[kPiece]);
    for (std::size_t at = 0; at < bytes.size(); at += kPiece) {
        const std::size_t size = std::min(kPiece, bytes.size() - at);
        std::memcpy(piece.get(), bytes.data() + at, size);
        if (!writeAll(fd, piece.get(), size, offset)) {
            return false;
        }
    }
    return true;
}

} // namespace vantrel::platform
