#include "imaging/picture_registry.h"

#include "imaging/picture_decoders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vantrel::imaging {
namespace {

// The whole file, or nothing when it cannot be opened or read; files larger than any picture
// within the decode limits could be are not read at all.
std::vector<std::uint8_t> readWholeFile(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    std::vector<std::uint8_t> bytes;
    struct stat info {};
    constexpr off_t kMostBytes = off_t{1} << 32;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
        info.st_size <= kMostBytes) {
        bytes.resize(static_cast<std::size_t>(info.st_size));
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        bytes.resize(done);
    }
    ::close(fd);
    return bytes;
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
    return pictureRegistry().add(decodePictureBytes(bytes));
}

PictureHandle LoadPicture(std::vector<std::uint8_t>&& bytes) {
    return pictureRegistry().add(decodePictureBytes(std::move(bytes)));
}

PictureHandle LoadPictureBorrowing(std::span<const std::uint8_t> bytes) {
    if (detectPictureKind(bytes) == PictureKind::Bmp) {
        return pictureRegistry().add(decodeBmpPictureBorrowing(bytes));
    }
    return LoadPicture(bytes);
}

PictureHandle LoadPicture(const std::filesystem::path& file) {
    if (file.empty()) {
        return 0;
    }
    return LoadPicture(readWholeFile(file));
}

void UnloadPicture(PictureHandle handle) {
    pictureRegistry().remove(handle);
}

} // namespace vantrel::imaging
