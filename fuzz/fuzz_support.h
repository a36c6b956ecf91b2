#pragma once
// Shared set-up of the fuzz targets: small decode limits (so a claimed size is refused before the
// fuzzer's memory limit is near) and a private temporary folder for the working stores.

#include "imaging/image_buffer.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace vantrel::fuzz {

inline void setUp() {
    imaging::setDecodeLimits({.maxPixels = std::uint64_t{1} << 22, .maxDimension = 1u << 15});
    if (!std::getenv("TMPDIR")) {
        static std::string dir = "/tmp/vantrel-fuzz-XXXXXX";
        if (mkdtemp(dir.data())) {
            setenv("TMPDIR", dir.c_str(), 1);
        }
    }
}

// The input as a read-only stream (the decoders read files).
inline std::FILE* openBytes(const std::uint8_t* data, std::size_t size) {
    return size == 0 ? nullptr : fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
}

} // namespace vantrel::fuzz
