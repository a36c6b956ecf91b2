#include "platform/twain/capability_containers.h"

#include "platform/twain/twain_handle.h"

#include <cmath>
#include <cstring>

namespace vantrel::twain {

TW_FIX32 toFix32(double value) {
    const long fixed = std::lround(value * 65536.0);
    return TW_FIX32{static_cast<TW_INT16>(fixed >> 16), static_cast<TW_UINT16>(fixed & 0xFFFF)};
}

double fromFix32(TW_FIX32 fix) {
    return fix.Whole + fix.Frac / 65536.0;
}

TW_UINT32 fix32Word(double value) {
    const TW_FIX32 fix = toFix32(value);
    TW_UINT32 word;
    std::memcpy(&word, &fix, sizeof word);
    return word;
}

TW_HANDLE containerOf(const void* bytes, std::size_t size) {
    TW_HANDLE handle = twHandleAlloc(size, 1);
    if (handle) {
        std::memcpy(twHandleLock(handle), bytes, size);
        twHandleUnlock(handle);
    }
    return handle;
}

TW_HANDLE enumerationOf(TW_UINT16 itemType, const std::vector<TW_UINT32>& items,
                        std::size_t itemBytes, std::size_t current) {
    const std::size_t head = offsetof(TW_ENUMERATION, ItemList);
    std::vector<std::uint8_t> bytes(head + items.size() * itemBytes);
    TW_ENUMERATION e{};
    e.ItemType = itemType;
    e.NumItems = static_cast<TW_UINT32>(items.size());
    e.CurrentIndex = static_cast<TW_UINT32>(current);
    e.DefaultIndex = static_cast<TW_UINT32>(current);
    std::memcpy(bytes.data(), &e, head);
    for (std::size_t i = 0; i < items.size(); ++i) {
        std::memcpy(bytes.data() + head + i * itemBytes, &items[i], itemBytes);
    }
    return containerOf(bytes.data(), bytes.size());
}

} // namespace vantrel::twain
