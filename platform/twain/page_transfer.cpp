#include "platform/twain/page_transfer.h"

#include "platform/twain/twain_handle.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vantrel::twain {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Runs `step(done)` (a pread or pwrite of the bytes from `done` on) until all `size` bytes have
// moved: after a signal it tries again, after a short transfer it goes on. False when a step
// fails or moves nothing (the file ended, or memory for its pages ran out).
template <class Step>
bool transferAll(std::size_t size, Step step) {
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = step(done);
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

} // namespace

TW_HANDLE PageAssemblyBuffer::allocate(std::size_t size, bool zeroFill) {
    if (size > SIZE_MAX - TW_HANDLE_HEADER_SIZE - 2 * kHugePage) {
        return nullptr;
    }
    const std::size_t bytes = TW_HANDLE_HEADER_SIZE + size;
    // A buffer of 16 MiB or less is kept for any page it holds: a smaller one saves little.
    constexpr std::size_t kSmall = 8 * kHugePage;
    if (!mapping_ || bytes > capacity_ || (bytes < capacity_ / 2 && capacity_ > kSmall)) {
        release();
        // One huge page more than needed, so the usable part can start on a 2 MiB boundary.
        const std::size_t length = (bytes + kHugePage - 1) / kHugePage * kHugePage + kHugePage;
        void* raw =
            mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (raw == MAP_FAILED) {
            return nullptr;
        }
        const auto start = reinterpret_cast<std::uintptr_t>(raw);
        const std::uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
        // Only advice: without huge pages the buffer is made of small ones.
        madvise(reinterpret_cast<void*>(aligned), length - (aligned - start), MADV_HUGEPAGE);
        mapping_ = raw;
        length_ = length;
        aligned_ = reinterpret_cast<void*>(aligned);
        capacity_ = length - (aligned - start);
    } else if (zeroFill) {
        std::memset(aligned_, 0, bytes); // a new buffer reads as zeros, a reused one does not
    }
    return twHandleBorrowMapping(aligned_, bytes);
}

void PageAssemblyBuffer::prepare(std::size_t size) {
    if (mapping_) {
        return;
    }
    TW_HANDLE block = allocate(size, false);
    if (block) {
        std::memset(twHandleLock(block), 0, twHandleSize(block));
        twHandleUnlock(block);
        twHandleFree(block); // borrowed: the buffer stays
    }
}

void PageAssemblyBuffer::release() {
    if (mapping_) {
        munmap(mapping_, length_);
    }
    mapping_ = aligned_ = nullptr;
    capacity_ = length_ = 0;
}

PageFile::~PageFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

int PageFile::write(const void* data, std::size_t size) {
    if (fd_ < 0 && !create()) {
        return -1;
    }
    if (length_ / 2 > size) {
        if (ftruncate(fd_, static_cast<off_t>(size)) != 0) {
            return -1;
        }
        length_ = size;
    }
    const auto* from = static_cast<const std::uint8_t*>(data);
    if (!transferAll(size, [&](std::size_t done) {
            return pwrite(fd_, from + done, size - done, static_cast<off_t>(done));
        })) {
        return -1; // out of memory for the memfd's pages
    }
    length_ = std::max(length_, size);
    return fd_;
}

void PageFile::prepare(std::size_t size) {
    if (fd_ >= 0 || !create()) {
        return;
    }
    static const std::vector<std::uint8_t> zeros(std::size_t{1} << 20);
    for (std::size_t done = 0; done < size; done += zeros.size()) {
        const std::size_t piece = std::min(zeros.size(), size - done);
        if (!transferAll(piece, [&](std::size_t moved) {
                return pwrite(fd_, zeros.data() + moved, piece - moved,
                              static_cast<off_t>(done + moved));
            })) {
            return; // no memory to spare: the first page makes its own
        }
        length_ = done + piece;
    }
}

bool PageFile::create() {
    fd_ = memfd_create("vantrel-page", MFD_CLOEXEC);
    length_ = 0;
    return fd_ >= 0;
}

TW_HANDLE readPageFile(int fd, std::uint64_t size) {
    struct stat file {};
    if (fd < 0 || fstat(fd, &file) != 0 || static_cast<std::uint64_t>(file.st_size) < size ||
        size > SIZE_MAX) {
        return nullptr;
    }
    TW_HANDLE page = twHandleAlloc(static_cast<std::size_t>(size), 0);
    if (!page) {
        return nullptr;
    }
    auto* to = static_cast<std::uint8_t*>(twHandleLock(page));
    const bool whole = transferAll(static_cast<std::size_t>(size), [&](std::size_t done) {
        return pread(fd, to + done, static_cast<std::size_t>(size) - done,
                     static_cast<off_t>(done));
    });
    twHandleUnlock(page);
    if (!whole) {
        twHandleFree(page);
        return nullptr; // the file was cut short under us
    }
    return page;
}

} // namespace vantrel::twain
