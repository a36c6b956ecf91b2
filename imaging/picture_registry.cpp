#include "imaging/picture_registry.h"

#include "imaging/picture_decoders.h"

#include "imaging/image_buffer.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vantrel::imaging {
namespace {

// The most bytes a picture file within the decode limits can need: every pixel in 64 bits (a
// 16-bit RGBA PNG that does not compress), plus room for headers and colour tables.
std::uint64_t largestPictureFile() {
    return decodeLimits().maxPixels * 8 + (std::uint64_t{1} << 20);
}

bool readFully(int fd, std::uint8_t* into, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, into + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The whole file, or nothing when it is no picture file: it cannot be opened, it is not a
// regular file (a FIFO or a device is refused without waiting on it), its first bytes announce
// no known picture kind, or it is larger than any picture within the decode limits could be.
// Only then is the rest read.
std::vector<std::uint8_t> readPictureFile(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    std::vector<std::uint8_t> bytes;
    struct stat info {};
    std::uint8_t head[8] = {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 6 &&
        static_cast<std::uint64_t>(info.st_size) <= largestPictureFile() &&
        readFully(fd, head, std::min<std::size_t>(sizeof head, std::size_t(info.st_size))) &&
        detectPictureKind({head, std::min<std::size_t>(sizeof head, std::size_t(info.st_size))})) {
        bytes.resize(static_cast<std::size_t>(info.st_size));
        std::copy_n(head, std::min(sizeof head, bytes.size()), bytes.begin());
        if (bytes.size() > sizeof head &&
            !readFully(fd, bytes.data() + sizeof head, bytes.size() - sizeof head)) {
            bytes.clear(); // shrank while read
        }
    }
    ::close(fd);
    return bytes;
}

// Decoding or registering may run out of memory: that is no picture, like any failed decode.
template <class Decode>
PictureHandle registerDecoded(Decode decode) {
    try {
        return pictureRegistry().add(decode());
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

} // namespace

PictureHandle PictureRegistry::add(std::unique_ptr<PictureObject> picture) {
    if (!picture) {
        return 0;
    }
    const PictureHandle handle = next_++;
    pictures_.emplace(handle, std::move(picture));
    return handle;
}

const PictureObject* PictureRegistry::find(PictureHandle handle) const {
    const auto it = pictures_.find(handle);
    return it == pictures_.end() ? nullptr : it->second.get();
}

bool PictureRegistry::remove(PictureHandle handle) {
    return pictures_.erase(handle) != 0;
}

PictureRegistry& pictureRegistry() {
    static PictureRegistry registry;
    return registry;
}

PictureHandle LoadPicture(std::span<const std::uint8_t> bytes) {
    return registerDecoded([&] { return decodePictureBytes(bytes); });
}

PictureHandle LoadPicture(std::vector<std::uint8_t>&& bytes) {
    return registerDecoded([&] { return decodePictureBytes(std::move(bytes)); });
}

PictureHandle LoadPictureBorrowing(std::span<const std::uint8_t> bytes) {
    if (detectPictureKind(bytes) == PictureKind::Bmp) {
        return registerDecoded([&] { return decodeBmpPictureBorrowing(bytes); });
    }
    return LoadPicture(bytes);
}

PictureHandle LoadPicture(const std::filesystem::path& file) {
    if (file.empty()) {
        return 0;
    }
    return registerDecoded([&] { return decodePictureBytes(readPictureFile(file)); });
}

void UnloadPicture(PictureHandle handle) {
    pictureRegistry().remove(handle);
}

} // namespace vantrel::imaging
