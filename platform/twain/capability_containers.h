#pragma once
// TWAIN capability containers (one value, enumeration, range) in movable-memory handles, and the
// 16.16 fixed-point numbers they carry.

#include "platform/twain/twain.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantrel::twain {

TW_FIX32 toFix32(double value);
double fromFix32(TW_FIX32 fix);
// A TW_FIX32 as the 32-bit item of a container.
TW_UINT32 fix32Word(double value);

// Writes `bytes` into a new container handle; null when memory runs out.
TW_HANDLE containerOf(const void* bytes, std::size_t size);
TW_HANDLE enumerationOf(TW_UINT16 itemType, const std::vector<TW_UINT32>& items,
                        std::size_t itemBytes, std::size_t current);

} // namespace vantrel::twain
