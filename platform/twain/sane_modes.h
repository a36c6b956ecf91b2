#pragma once
// SANE's scan modes seen as TWAIN pixel types: backends name their modes freely ("Color",
// "Colour", "Gray", "Lineart", "Binary", "Halftone"...), so the names are matched by the words
// they contain. Works on the option table the scanner helper sent.

#include "platform/twain/option_table.h"
#include "platform/twain/twain.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vantrel::twain {

// The pixel type of the device's current mode, if it has one we know.
std::optional<TW_UINT16> pixelTypeOf(const OptionTable& device);
// Every pixel type the device's modes offer, in ascending order.
std::vector<TW_UINT16> pixelTypesOf(const OptionTable& device);
// The mode string for a pixel type, and the depth to set with it (0: leave the depth alone).
std::optional<std::pair<std::string, int>> modeFor(const OptionTable& device, TW_UINT32 pixelType);
// The option that holds the resolution a capability names.
const char* resolutionOption(const OptionTable& device, TW_UINT16 cap);

} // namespace vantrel::twain
