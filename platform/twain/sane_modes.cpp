#include "platform/twain/sane_modes.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace vantrel::twain {

namespace {

bool containsNoCase(const std::string& text, const char* word) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find(word) != std::string::npos;
}

// SANE's usual scan mode names for each TWAIN pixel type.
bool isColourMode(const std::string& m) {
    return containsNoCase(m, "color") || containsNoCase(m, "colour");
}
bool isGreyMode(const std::string& m) {
    return containsNoCase(m, "gray") || containsNoCase(m, "grey");
}
bool isLineartMode(const std::string& m) {
    return containsNoCase(m, "lineart") || containsNoCase(m, "binary") ||
           containsNoCase(m, "halftone");
}

} // namespace

std::optional<TW_UINT16> pixelTypeOf(const OptionTable& device) {
    const auto mode = device.text("mode");
    if (!mode) {
        return std::nullopt;
    }
    if (isColourMode(*mode)) {
        return TWPT_RGB;
    }
    if (isLineartMode(*mode)) {
        return TWPT_BW;
    }
    if (isGreyMode(*mode)) {
        return device.number("depth").value_or(8) == 1 ? TWPT_BW : TWPT_GRAY;
    }
    return std::nullopt;
}

std::vector<TW_UINT16> pixelTypesOf(const OptionTable& device) {
    std::set<TW_UINT16> types;
    const auto depths = device.numberChoices("depth");
    const bool depthOne = std::find(depths.begin(), depths.end(), 1.0) != depths.end();
    for (const std::string& m : device.textChoices("mode")) {
        if (isColourMode(m)) {
            types.insert(TWPT_RGB);
        } else if (isLineartMode(m)) {
            types.insert(TWPT_BW);
        } else if (isGreyMode(m)) {
            types.insert(TWPT_GRAY);
            if (depthOne) {
                types.insert(TWPT_BW);
            }
        }
    }
    return {types.begin(), types.end()};
}

std::optional<std::pair<std::string, int>> modeFor(const OptionTable& device, TW_UINT32 pixelType) {
    const auto modes = device.textChoices("mode");
    auto find = [&](bool (*test)(const std::string&)) -> std::optional<std::string> {
        for (const std::string& m : modes) {
            if (test(m)) {
                return m;
            }
        }
        return std::nullopt;
    };
    const bool hasDepth = device.has("depth");
    switch (pixelType) {
    case TWPT_BW:
        if (auto m = find(isLineartMode)) {
            return std::pair{*m, 0};
        }
        if (auto m = find(isGreyMode); m && hasDepth) {
            const auto depths = device.numberChoices("depth");
            if (std::find(depths.begin(), depths.end(), 1.0) != depths.end()) {
                return std::pair{*m, 1};
            }
        }
        return std::nullopt;
    case TWPT_GRAY:
        if (auto m = find(isGreyMode)) {
            return std::pair{*m, hasDepth ? 8 : 0};
        }
        return std::nullopt;
    case TWPT_RGB:
        if (auto m = find(isColourMode)) {
            return std::pair{*m, hasDepth ? 8 : 0};
        }
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

const char* resolutionOption(const OptionTable& device, TW_UINT16 cap) {
    if (cap == ICAP_YRESOLUTION && device.has("y-resolution")) {
        return "y-resolution";
    }
    if (cap == ICAP_XRESOLUTION && device.has("x-resolution") && !device.has("resolution")) {
        return "x-resolution";
    }
    return "resolution";
}

} // namespace vantrel::twain
