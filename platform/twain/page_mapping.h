#pragma once
// The program's view of the scanner helper's page memfd. The helper writes every page into one
// memfd that it keeps from page to page; this keeps one mapping of it too, because a new mapping
// costs a fault per 4 KiB page at its first touch. Each page is copied out of the mapping into
// memory of the program's own before the next scan is asked for, the only time the helper writes
// the memfd again.

#include "platform/twain/twain.h"

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace vantrel::twain {

class PageMapping {
public:
    PageMapping() = default;
    ~PageMapping() { release(); }
    PageMapping(const PageMapping&) = delete;
    PageMapping& operator=(const PageMapping&) = delete;

    // The page of `handleBytes` (TW_HANDLE header included) in the memfd `fd`, copied into a
    // heap handle; null when the memfd is not sealed against shrinking, too small, cannot be
    // mapped, or memory runs out. The mapping is kept while the same memfd comes again.
    TW_HANDLE copyPage(int fd, std::uint64_t handleBytes);
    // Unmaps (a helper that ended took its memfd with it).
    void release();

private:
    void* data_ = nullptr;
    std::size_t length_ = 0;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

} // namespace vantrel::twain
