#include "platform/page_memory.h"

#include <malloc.h>
#include <mutex>

namespace vantrel::platform {

void keepPageMemory() {
    static std::once_flag once;
    std::call_once(once, [] {
        // 32 MB is the largest threshold glibc accepts; larger blocks (600 dpi pages) are still
        // mapped and unmapped on their own.
        mallopt(M_MMAP_THRESHOLD, 32 << 20);
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
        // One heap for every thread: a save converts on a worker thread, and in an arena of its
        // own its page-sized blocks would live in 64 MB heaps that are unmapped when empty, so
        // every save would pay for fresh memory again.
        mallopt(M_ARENA_MAX, 1);
    });
}

} // namespace vantrel::platform
