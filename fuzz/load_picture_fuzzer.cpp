// LoadPicture from bytes (format detection and every picture decoder), then the picture drawn as
// the panel and the picture box draw it: at its own size, stretched, shrunk and with a colour
// left out, onto a small raster. The registry must be empty again afterwards.

#include "fuzz/fuzz_support.h"
#include "imaging/draw_picture.h"
#include "imaging/picture_registry.h"

#include <cstdlib>

using namespace vantrel::imaging;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vantrel::fuzz::setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const PictureHandle handle = LoadPicture(std::span(data, size));
    if (const PictureObject* picture = pictureRegistry().find(handle)) {
        vantrel::platform::Raster target(48, 40, 0xFFFFFFFFu);
        const std::uint32_t key = size > 0 ? data[size - 1] * 0x010101u : 0;
        if (std::uint64_t(picture->width) * std::uint64_t(picture->height) <= (1u << 18)) {
            DrawPictureToDC(*picture, target, -3, -2, -1, -1, DrawMode::copy());
            DrawPictureToDC(*picture, target, 1, 1, -1, -1, DrawMode::transparent(key));
        }
        DrawPictureToDC(*picture, target, 2, -1, 45, 37, DrawMode::fromCopyMode(3));
        DrawPictureToDC(*picture, target, 0, 0, 7, 5, DrawMode::transparent(key));
    }
    UnloadPicture(handle);
    if (pictureRegistry().size() != 0) {
        std::abort();
    }
    return 0;
}
