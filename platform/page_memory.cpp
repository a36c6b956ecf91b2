#include "platform/page_memory.h"

#include "platform/huge_pages.h"

#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <mutex>

namespace vantrel::platform {

void keepPageMemory() {
    static std::once_flag once;
    std::call_once(once, [] {
        // No block is mapped on its own, however large (the panel of a 300 dpi page, every
        // buffer of a 600 dpi page): each comes from the heap and goes back to it, to be reused
        // by the next page. (Where the heap cannot grow, glibc still maps memory for it.)
        mallopt(M_MMAP_MAX, 0);
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
        // One heap for every thread: a save converts on a worker thread, and in an arena of its
        // own its page-sized blocks would live in 64 MB heaps that are unmapped when empty, so
        // every save would pay for fresh memory again.
        mallopt(M_ARENA_MAX, 1);
    });
}

void warmPageMemory(std::size_t bytes) {
    void* block = std::malloc(bytes);
    if (!block) {
        return;
    }
    adviseHugePages(block, bytes);
    std::memset(block, 0, bytes);
    // The compiler may drop a block that is written and freed unread; this says it is used.
    asm volatile("" : : "r"(block) : "memory");
    std::free(block);
}

} // namespace vantrel::platform
