// Loads the input as a BMP into the Bitmap object and, when it loads, visits every pixel with the
// per-pixel calls and the whole-image pass, then takes the file back.

#include "fuzz/fuzz_support.h"
#include "imaging/bitmap.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vantrel::fuzz::setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using vantrel::imaging::Bitmap;
    using vantrel::imaging::Colour;
    Bitmap bitmap;
    if (!bitmap.loadData({data, size})) {
        return 0;
    }
    const std::int32_t width = bitmap.getWidth();
    const std::int32_t height = bitmap.getHeight();
    if (width > 4096 || height > 4096 || height < -4096) {
        return 0; // valid but too slow to visit per pixel (an empty side still costs its loop)
    }
    for (std::int32_t y = -1; y <= height; ++y) {
        for (std::int32_t x = -1; x <= width; ++x) {
            const Colour c = bitmap.getPixel(x, y);
            bitmap.setPixel(x, y, c ^ 0x808080u);
        }
    }
    bitmap.forEachPixel([](Colour c) { return c == 0xFFFFFF ? 0u : c; });
    const auto file = bitmap.getData();
    Bitmap again;
    // What getData gives must load again, unless it holds no pixel bytes (a zero width or
    // height): such a file has nothing after its colour table, and that is refused.
    const bool hasPixels = width > 0 && height != 0;
    if (hasPixels && !file.empty() && !again.loadData(file)) {
        __builtin_trap();
    }
    return 0;
}
