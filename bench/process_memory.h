#pragma once
// This process's memory as the kernel counts it, for the benchmarks' peak measurements. Writing
// "5" to /proc/self/clear_refs restarts the peak (VmHWM) from what is resident now.

#include <cstdlib>
#include <fstream>
#include <string>

namespace vantrel::bench {

// A field of /proc/self/status in KiB ("VmHWM": the peak, "VmRSS": now); -1 when it is missing.
inline long statusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    const std::string prefix = std::string(field) + ":";
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(prefix, 0) == 0) {
            return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
        }
    }
    return -1;
}

} // namespace vantrel::bench
