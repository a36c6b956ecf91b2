#include "platform/huge_pages.h"

#include <cstdint>
#include <sys/mman.h>

namespace vantrel::platform {

void adviseHugePages(void* data, std::size_t size) {
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    if (size < 2 * kHugePage) {
        return; // a few small pages: not worth a huge one
    }
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t last = (begin + size) & ~(kHugePage - 1);
    if (last > first) {
        // Only advice: where the kernel has no huge pages the call fails and nothing changes.
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
}

std::vector<std::uint8_t> hugePageBytes(std::size_t size) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(size);
    adviseHugePages(bytes.data(), bytes.capacity());
    bytes.resize(size);
    return bytes;
}

} // namespace vantrel::platform
