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
    });
}

} // namespace vantrel::platform
