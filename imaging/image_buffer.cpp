#include "imaging/image_buffer.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace vantrel::imaging {

namespace {

// Read by every decode, on whichever thread converts; written only by setDecodeLimits.
std::atomic<std::uint64_t> gMaxPixels{DecodeLimits{}.maxPixels};
std::atomic<std::uint32_t> gMaxDimension{DecodeLimits{}.maxDimension};
thread_local int tStorageError = 0;

constexpr unsigned kLastCounter = 2047483647;

std::string temporaryDirectory() {
    const char* dir = std::getenv("TMPDIR");
    std::string path = dir && *dir ? dir : "/tmp";
    if (path.back() != '/') {
        path += '/';
    }
    return path;
}

} // namespace

int lastStorageError() {
    return tStorageError;
}

DecodeLimits decodeLimits() {
    return {gMaxPixels.load(std::memory_order_relaxed),
            gMaxDimension.load(std::memory_order_relaxed)};
}
void setDecodeLimits(const DecodeLimits& limits) {
    gMaxPixels.store(limits.maxPixels, std::memory_order_relaxed);
    gMaxDimension.store(limits.maxDimension, std::memory_order_relaxed);
}

MappedStorage::MappedStorage(std::uint8_t* data, std::size_t size, int fd)
    : data_(data)
    , size_(size)
    , fd_(fd) {}

MappedStorage::~MappedStorage() {
    munmap(data_, size_);
    close(fd_);
}

std::unique_ptr<MappedStorage> MappedStorage::create(std::size_t size) {
    if (size == 0) {
        tStorageError = EINVAL;
        return nullptr;
    }
    tStorageError = 0;
    const std::string dir = temporaryDirectory();
    // The first free counter from 0 on; our own names are unlinked at once, so 0 is usually free.
    for (unsigned counter = 0; counter <= kLastCounter; ++counter) {
        const std::string name = dir + "CSWCLASS" + std::to_string(counter) + ".tmp";
        const int fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue; // someone else's file: never delete it, take the next name
            }
            tStorageError = errno;
            return nullptr;
        }
        // Unnamed at once: only a kill between these two calls could leave the file behind.
        unlink(name.c_str());
        // The space is reserved before the mapping is made: pages of a sparse file would be
        // allocated on first write, and a full disk then kills the process with SIGBUS instead
        // of failing this call.
        void* mapped = MAP_FAILED;
        const int reserved = posix_fallocate(fd, 0, static_cast<off_t>(size));
        if (reserved == 0) {
            mapped = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        }
        const int error = reserved != 0 ? reserved : errno;
        if (mapped == MAP_FAILED) {
            close(fd);
            tStorageError = error;
            return nullptr;
        }
        std::unique_ptr<MappedStorage> storage(
            new (std::nothrow) MappedStorage(static_cast<std::uint8_t*>(mapped), size, fd));
        if (!storage) {
            munmap(mapped, size);
            close(fd);
            tStorageError = ENOMEM;
        }
        return storage;
    }
    tStorageError = EEXIST;
    return nullptr;
}

bool ImageBuffer::sizeAllowed(std::uint64_t width, std::uint64_t height) {
    const DecodeLimits limits = decodeLimits();
    return width > 0 && height > 0 && width <= limits.maxDimension &&
           height <= limits.maxDimension && width * height <= limits.maxPixels;
}

bool ImageBuffer::create(int type, std::uint32_t width, std::uint32_t height) {
    if ((type != 8 && type != 16 && type != 24 && type != 32) || !sizeAllowed(width, height)) {
        return false;
    }
    const std::size_t stride = std::size_t{width} * static_cast<std::size_t>(type / 8);
    auto storage = MappedStorage::create(stride * height);
    if (!storage) {
        return false;
    }
    storage_ = std::move(storage);
    std::memcpy(signature_.data(), kSignature, sizeof kSignature);
    type_ = type;
    width_ = width;
    height_ = height;
    stride_ = stride;
    palette_.clear();
    resolution_ = {};
    return true;
}

ImageBuffer ImageBuffer::to24() const {
    ImageBuffer out;
    if (!valid() || !out.create(24, width_, height_)) {
        return {};
    }
    out.resolution_ = resolution_;
    for (std::uint32_t y = 0; y < height_; ++y) {
        const std::uint8_t* s = row(y);
        std::uint8_t* d = out.row(y);
        for (std::uint32_t x = 0; x < width_; ++x, d += 3) {
            switch (type_) {
            case 8: {
                const PaletteEntry e =
                    s[x] < palette_.size() ? palette_[s[x]] : PaletteEntry{s[x], s[x], s[x]};
                d[0] = e.red;
                d[1] = e.green;
                d[2] = e.blue;
                break;
            }
            case 16: {
                const unsigned w = s[2 * x] | unsigned{s[2 * x + 1]} << 8;
                auto widen = [](unsigned v) { return static_cast<std::uint8_t>(v << 3 | v >> 2); };
                d[0] = widen((w >> 10) & 31);
                d[1] = widen((w >> 5) & 31);
                d[2] = widen(w & 31);
                break;
            }
            case 24:
                std::memcpy(d, s + 3 * std::size_t{x}, 3);
                break;
            default:
                std::memcpy(d, s + 4 * std::size_t{x}, 3);
                break;
            }
        }
    }
    return out;
}

ImageBuffer ImageBuffer::toGrey8() const {
    ImageBuffer rgb = type_ == 24 ? ImageBuffer{} : to24();
    const ImageBuffer& src = type_ == 24 ? *this : rgb;
    ImageBuffer out;
    if (!src.valid() || !out.create(8, width_, height_)) {
        return {};
    }
    out.resolution_ = resolution_;
    out.palette_.resize(256);
    for (unsigned i = 0; i < 256; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        out.palette_[i] = {v, v, v};
    }
    for (std::uint32_t y = 0; y < height_; ++y) {
        const std::uint8_t* s = src.row(y);
        std::uint8_t* d = out.row(y);
        for (std::uint32_t x = 0; x < width_; ++x, s += 3) {
            // 0.299 R + 0.587 G + 0.114 B in 16-bit fixed point, rounded.
            d[x] = static_cast<std::uint8_t>(
                (19595u * s[0] + 38470u * s[1] + 7471u * s[2] + 32768u) >> 16);
        }
    }
    return out;
}

} // namespace vantrel::imaging
