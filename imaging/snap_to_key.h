#pragma once
// The pixel kernel of the near-colour pass on directly stored (24- or 32-bit) rows: every pixel
// whose colour distance from the key is at least 1 and at most the tolerance becomes exactly the
// key. The distance is the sum of the absolute differences of the red, green and blue bytes.

#include <cstddef>
#include <cstdint>

namespace vantrel::imaging {

// `first` points at the blue byte of the first of `count` pixels stored blue, green, red, `step`
// (3 or 4) bytes apart; only those three bytes of each pixel are read or written. `key` is
// 0x00BBGGRR. A tolerance of 0 or less changes nothing.
void snapToKey(std::uint8_t* first, std::size_t count, std::size_t step, std::uint32_t key,
               std::int32_t tolerance);

// The same, one pixel at a time without vector instructions: the reference the fast paths equal.
void snapToKeyPlain(std::uint8_t* first, std::size_t count, std::size_t step, std::uint32_t key,
                    std::int32_t tolerance);

} // namespace vantrel::imaging
