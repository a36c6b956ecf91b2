#pragma once
// How the program's heap treats page-sized blocks. Every page goes through several page-sized
// buffers (the panel's read-back, the thumbnail, the converter's rows); on the virtual machines
// we measured, memory handed back to the system costs about 10 us per 4 KiB to touch again, so a
// page-sized block taken fresh from the system costs 60-130 ms before a byte is computed. Keeping
// blocks up to 32 MB in the heap and not trimming the heap below 1 GB lets the next page reuse
// the memory the last one freed: a continuous scan's cycle measured 160 ms shorter for it. All
// threads share that one heap, so a save converting on a worker thread reuses it too.

namespace vantrel::platform {

// Sets the heap's policy once; later calls do nothing.
void keepPageMemory();

} // namespace vantrel::platform
