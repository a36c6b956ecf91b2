#pragma once
// Page-sized pixel buffers (a scanned page is 26 MB at 300 dpi, 104 MB at 600 dpi) are walked
// column by column as well as row by row. With 4 KiB pages every step down a column lands on
// another page and misses the TLB; in 2 MiB pages a whole page fits in the TLB, and the first
// touch of fresh memory costs one fault per 2 MiB instead of one per 4 KiB.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantrel::platform {

// Asks the kernel to back the whole 2 MiB-aligned blocks inside [data, data + size) with huge
// pages (transparent huge pages in "madvise" mode). Call it before the memory is first
// written. Small buffers and systems without huge pages are left as they are.
void adviseHugePages(void* data, std::size_t size);

// `size` zero bytes whose block was advised before the zeroing touched it: a page-sized result
// costs one fault per 2 MiB even when the heap has no free block to reuse (the first page of a
// process). Throws std::bad_alloc as a vector does.
std::vector<std::uint8_t> hugePageBytes(std::size_t size);

} // namespace vantrel::platform
