#include "platform/twain/page_mapping.h"

#include "platform/twain/twain_handle.h"

#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

namespace vantrel::twain {

TW_HANDLE PageMapping::copyPage(int fd, std::uint64_t handleBytes) {
    struct stat file {};
    // Sealed against shrinking: the mapping can never lose its pages.
    if (fd < 0 || fstat(fd, &file) != 0 || handleBytes < TW_HANDLE_HEADER_SIZE ||
        static_cast<std::uint64_t>(file.st_size) < handleBytes ||
        (fcntl(fd, F_GET_SEALS) & F_SEAL_SHRINK) == 0) {
        return nullptr;
    }
    const auto length = static_cast<std::size_t>(file.st_size);
    if (!data_ || file.st_dev != device_ || file.st_ino != inode_ || length != length_) {
        release();
        void* mapping = mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0);
        if (mapping == MAP_FAILED) {
            return nullptr;
        }
        data_ = mapping;
        length_ = length;
        device_ = file.st_dev;
        inode_ = file.st_ino;
    }
    const auto size = static_cast<std::size_t>(handleBytes) - TW_HANDLE_HEADER_SIZE;
    TW_HANDLE page = twHandleAlloc(size, 0);
    if (page) {
        std::memcpy(twHandleLock(page),
                    static_cast<const std::uint8_t*>(data_) + TW_HANDLE_HEADER_SIZE, size);
        twHandleUnlock(page);
    }
    return page;
}

void PageMapping::release() {
    if (data_) {
        munmap(data_, length_);
    }
    data_ = nullptr;
    length_ = 0;
    device_ = 0;
    inode_ = 0;
}

} // namespace vantrel::twain
