// The converter's whole chain on the input: the decoders in order, then each encoder on what was
// decoded (depth conversions included), written to /dev/null.

#include "fuzz/fuzz_support.h"
#include "imaging/codecs.h"

using namespace vantrel::imaging;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vantrel::fuzz::setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = vantrel::fuzz::openBytes(data, size);
    if (!file) {
        return 0;
    }
    ImageBuffer image;
    const bool decoded = decodePicture(file, size, image);
    std::fclose(file);
    if (!decoded || std::uint64_t{image.width()} * image.height() > (1u << 16)) {
        return 0;
    }
    static std::FILE* sink = std::fopen("/dev/null", "wb");
    encodeBmp(image, sink);
    encodePng(image, sink);
    encodeJpeg(image, sink,
               {.grayscale = (size & 1) != 0, .quality = 75, .optimise = true, .smoothing = 10});
    return 0;
}
