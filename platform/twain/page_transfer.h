#pragma once
// How a scanned page crosses from the scanner helper into the program. The helper assembles the
// page in memory of its own (PageAssemblyBuffer), writes it into a memfd (PageFile) and sends the
// descriptor with the page's message; the program reads it into a heap block (readPageFile).
//
// Both buffers are kept from page to page. The copies go through the kernel on purpose: on the
// virtual machines we measured, the first touch of each 4 KiB page of a new user mapping costs
// 5-10 us (a 300 dpi page's memfd, mapped in both processes, cost 80 ms at the first scan),
// while the kernel writes and reads a memfd's pages through its own mapping for about a tenth of
// that. The assembly buffer asks for 2 MiB pages, which cut the first touch 512-fold.

#include "platform/twain/twain.h"

#include <cstddef>
#include <cstdint>

namespace vantrel::twain {

// What the helper prepares while it waits for its first scan: an A4 or Letter page in colour at
// 300 dpi (26 MB) fits.
inline constexpr std::size_t kPreparedPageBytes = std::size_t{32} << 20;

// The helper's page memory: an anonymous mapping in 2 MiB pages, reused while pages fit it.
class PageAssemblyBuffer {
public:
    PageAssemblyBuffer() = default;
    ~PageAssemblyBuffer() { release(); }
    PageAssemblyBuffer(const PageAssemblyBuffer&) = delete;
    PageAssemblyBuffer& operator=(const PageAssemblyBuffer&) = delete;

    // A handle over `size` bytes of the buffer (zeros when `zeroFill`); freeing it leaves the
    // buffer. A page larger than the buffer, or less than half the size of a buffer over 16 MiB,
    // gets a new one. Null when memory runs out.
    TW_HANDLE allocate(std::size_t size, bool zeroFill);
    // Makes the buffer for pages of about `size` bytes and touches all of it, so that the first
    // page finds memory the system has already given (a buffer is kept as it is).
    void prepare(std::size_t size);

private:
    void release();

    void* mapping_ = nullptr;
    std::size_t length_ = 0;   // bytes mapped
    void* aligned_ = nullptr;  // the first 2 MiB boundary in the mapping
    std::size_t capacity_ = 0; // bytes usable from aligned_
};

// The helper's end of the memfd that carries each page to the program.
class PageFile {
public:
    PageFile() = default;
    ~PageFile();
    PageFile(const PageFile&) = delete;
    PageFile& operator=(const PageFile&) = delete;

    // Writes `size` bytes at the start of the memfd (made on first use) and returns its
    // descriptor, or -1 when the memfd cannot be made or written (memory runs out). A memfd more
    // than twice the page is cut down to it.
    int write(const void* data, std::size_t size);
    // Makes the memfd and fills its first `size` bytes with zeros, for the same reason (a memfd
    // that exists is kept as it is).
    void prepare(std::size_t size);

private:
    bool create();

    int fd_ = -1;
    std::size_t length_ = 0;
};

// The program's end: the first `size` bytes of the page memfd `fd` in a new heap handle; null
// when the file is shorter, cannot be read or memory runs out.
TW_HANDLE readPageFile(int fd, std::uint64_t size);

} // namespace vantrel::twain
