#pragma once
// Colour values travel as 0x00BBGGRR integers (red in the low byte); these convert to and from Qt.

#include <QColor>
#include <cstdint>

namespace vantrel::ui {

inline QColor toQColor(std::uint32_t value) {
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

inline std::uint32_t toColourValue(const QColor& colour) {
    return static_cast<std::uint32_t>(colour.red()) |
           (static_cast<std::uint32_t>(colour.green()) << 8) |
           (static_cast<std::uint32_t>(colour.blue()) << 16);
}

} // namespace vantrel::ui
