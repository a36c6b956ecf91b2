// One decoder of the converter on the input, chosen at build time (VANTREL_FUZZ_FORMAT_<name>).
// A PhotoCD pack is only looked at above 1 MiB, so that target places the input as the pixel data
// of an otherwise valid pack.

#include "fuzz/fuzz_support.h"
#include "imaging/codecs.h"

#include <cstring>
#include <vector>

using namespace vantrel::imaging;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vantrel::fuzz::setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
#if defined(VANTREL_FUZZ_FORMAT_photocd)
    std::vector<std::uint8_t> pack(0x30000, 0);
    std::memcpy(pack.data() + 0x800, "PCD_IPI", 7);
    pack.insert(pack.end(), data, data + size);
    if (pack.size() < 1048576) {
        pack.resize(1048576, 0);
    }
    data = pack.data();
    size = pack.size();
#endif
    std::FILE* file = vantrel::fuzz::openBytes(data, size);
    if (!file) {
        return 0;
    }
    ImageBuffer image;
#if defined(VANTREL_FUZZ_FORMAT_jpeg)
    decodeJpeg(file, size, image);
#elif defined(VANTREL_FUZZ_FORMAT_bmp)
    decodeBmp(file, size, image);
#elif defined(VANTREL_FUZZ_FORMAT_tiff)
    decodeTiff(file, size, image);
#elif defined(VANTREL_FUZZ_FORMAT_png)
    decodePng(file, size, image);
#elif defined(VANTREL_FUZZ_FORMAT_pcx)
    decodePcx(file, size, image);
#elif defined(VANTREL_FUZZ_FORMAT_photocd)
    decodePhotoCd(file, size, image);
#else
#error "VANTREL_FUZZ_FORMAT_<name> not set"
#endif
    std::fclose(file);
    return 0;
}
