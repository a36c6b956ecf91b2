#include "platform/twain/source_names.h"

#include <cstdint>
#include <cstdio>

namespace vantrel::twain {

namespace {

bool isUsb(const std::string& name) {
    return name.find("libusb:") != std::string::npos || name.find("/usb/") != std::string::npos ||
           name.find(":usb:") != std::string::npos;
}

// Four hex digits that stay the same for a SANE name from run to run (FNV-1a).
std::string tagOf(const std::string& saneName) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : saneName) {
        hash = (hash ^ c) * 16777619u;
    }
    char tag[8];
    std::snprintf(tag, sizeof tag, "%04x", static_cast<unsigned>((hash ^ (hash >> 16)) & 0xFFFF));
    return tag;
}

} // namespace

std::string fitUtf8(const std::string& text, std::size_t bytes) {
    if (text.size() <= bytes) {
        return text;
    }
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

std::string sourceLocation(const std::string& saneName) {
    if (saneName.rfind("net:", 0) == 0) {
        // net:HOST:REMOTE, where HOST may be a bracketed IPv6 address.
        const std::size_t hostStart = 4;
        std::size_t hostEnd = std::string::npos;
        if (saneName.size() > hostStart && saneName[hostStart] == '[') {
            const std::size_t close = saneName.find(']', hostStart);
            hostEnd = close == std::string::npos ? close : close + 1;
        } else {
            hostEnd = saneName.find(':', hostStart);
        }
        if (hostEnd != std::string::npos && hostEnd < saneName.size()) {
            const std::string host = saneName.substr(hostStart, hostEnd - hostStart);
            const std::size_t remote = saneName[hostEnd] == ':' ? hostEnd + 1 : hostEnd;
            return host + " " + sourceLocation(saneName.substr(remote));
        }
        return saneName.substr(hostStart);
    }
    return isUsb(saneName) ? "USB" : saneName;
}

std::string sourceNameFor(const std::string& saneName, const std::string& model,
                          const std::set<std::string>& taken) {
    const std::string shown = model.empty() ? saneName : model;
    const std::string where = " (" + sourceLocation(saneName) + ")";
    const auto free = [&](const std::string& name) {
        return name.size() <= kSourceNameBytes && taken.count(name) == 0;
    };
    if (std::string whole = shown + where; free(whole)) {
        return whole;
    }
    // Shorten the model, keeping at least a few characters of it.
    if (where.size() + 8 <= kSourceNameBytes) {
        if (std::string cut = fitUtf8(shown, kSourceNameBytes - where.size()) + where; free(cut)) {
            return cut;
        }
    }
    // The model and place as far as they fit, and a tag that only this device has.
    const std::string tag = " #" + tagOf(saneName);
    std::string base =
        fitUtf8(shown + " " + sourceLocation(saneName), kSourceNameBytes - tag.size());
    std::string name = base + tag;
    for (int n = 2; !free(name); ++n) {
        const std::string more = tag + "-" + std::to_string(n);
        name = fitUtf8(base, kSourceNameBytes - more.size()) + more;
    }
    return name;
}

} // namespace vantrel::twain
