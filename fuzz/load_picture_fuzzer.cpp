// LoadPicture from bytes (format detection and every picture decoder), then the picture drawn as
// the panel and the picture box draw it (picture_drawing.h). The registry must be empty again
// afterwards.

#include "fuzz/fuzz_support.h"
#include "fuzz/picture_drawing.h"
#include "imaging/picture_registry.h"

#include <cstdlib>

using namespace vantrel::imaging;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vantrel::fuzz::setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vantrel::fuzz::drawAndUnload(LoadPicture(std::span(data, size)),
                                 size > 0 ? data[size - 1] * 0x010101u : 0);
    return 0;
}
