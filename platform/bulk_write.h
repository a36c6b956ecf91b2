#pragma once
// Writes a page-sized block of memory to a file. The kernel reading a large buffer for the first
// time costs a fault per 4 KiB page of it (on the virtual machines we measured, a first write()
// of a 26 MB page took 45-80 ms, the same write again 6 ms). Blocks above a few megabytes are
// therefore passed through one small buffer of this thread's, which the kernel has read before:
// the extra copy costs about 4 ms for 26 MB, wherever the block lies.

#include <cstddef>
#include <span>
#include <sys/types.h>

namespace vantrel::platform {

// All of `bytes` to `fd` at its file position, or at `offset` when it is not negative, retrying
// after signals. False (errno set) on the first failed write.
bool writeBlock(int fd, std::span<const std::byte> bytes, off_t offset = -1);

} // namespace vantrel::platform
