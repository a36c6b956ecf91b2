#pragma once
// Text to number as the program converts every setting and control text: leading blanks skipped,
// an optional sign, then decimal digits; conversion stops at the first other character, and text
// without digits gives 0. Values beyond the 32-bit range are clamped to it. A decimal fraction
// ("12.9") stops the conversion at the point, which is truncation toward zero.

#include <cstdint>
#include <string_view>

namespace vantrel::platform {

std::int32_t textToInteger(std::string_view text);

} // namespace vantrel::platform
