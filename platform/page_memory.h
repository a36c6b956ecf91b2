#pragma once
// How the program's heap treats page-sized blocks. Every page goes through several page-sized
// buffers (the panel's read-back, the thumbnail, the converter's rows); on the virtual machines
// we measured, memory handed back to the system costs about 10 us per 4 KiB to touch again, so a
// page-sized block taken fresh from the system costs 60-130 ms before a byte is computed. Keeping
// every block in the heap (none mapped on its own) and not trimming the heap below 1 GB lets the
// next page reuse the memory the last one freed: a continuous scan's cycle measured 160 ms
// shorter for it. All threads share that one heap, so a save converting on a worker thread
// reuses it too.

#include <cstddef>

namespace vantrel::platform {

// Sets the heap's policy once; later calls do nothing. Call it before the first thread starts: a
// thread that has allocated by then keeps a heap of its own.
void keepPageMemory();

// The memory a 300 dpi colour page needs on its way to the preview and the file (the pass's copy,
// the panel, the panel's picture and the converter's buffers), with room to spare.
inline constexpr std::size_t kFirstPageMemory = std::size_t{112} << 20;

// Takes `bytes` from the heap, asks for huge pages and touches them, and gives them back, where
// they stay (keepPageMemory): the first page of a process then reuses memory that is already
// mapped, as every later page does, instead of paying for fresh memory page by page. Meant for
// a background thread while the window waits for its first page; does nothing when the memory
// cannot be had.
void warmPageMemory(std::size_t bytes);

} // namespace vantrel::platform
