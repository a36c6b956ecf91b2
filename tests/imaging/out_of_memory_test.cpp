// Running out of memory while a picture is loaded, drawn or read back fails that operation
// alone (no picture, nothing drawn, empty bytes) and the program goes on. Each case runs in a
// forked child whose address space is limited to a little above what it already uses; such
// limits cannot work under AddressSanitizer, so these run in the release build.

#include "imaging/drawing_surface.h"
#include "imaging/picture_registry.h"
#include "tests/support/child_process.h"
#include "tests/support/sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace vantrel::imaging {
namespace {

namespace fs = std::filesystem;

// A 24-bit BMP of width x height (the pixels need not be more than zero).
std::vector<std::uint8_t> bmpOf(int width, int height) {
    const std::size_t stride = (std::size_t(width) * 3 + 3) & ~std::size_t{3};
    std::vector<std::uint8_t> file(54 + stride * std::size_t(height), 0x40);
    std::fill_n(file.begin(), 54, 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            file[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
        }
    };
    file[0] = 'B';
    file[1] = 'M';
    put32(2, std::uint32_t(file.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, std::uint32_t(width));
    put32(22, std::uint32_t(height));
    file[26] = 1;
    file[28] = 24;
    return file;
}

struct MemoryCase {
    const char* name;
    // Prepares what the operation needs while memory is plentiful and returns the operation,
    // which runs with little memory left and tells whether it failed cleanly as it should.
    std::function<std::function<bool()>(const test::Sandbox&)> arrange;
};

class OutOfMemory : public ::testing::TestWithParam<MemoryCase> {};

TEST_P(OutOfMemory, FailsTheOperationOnly) {
    if (!test::kAddressSpaceLimitWorks) {
        GTEST_SKIP() << "address-space limits do not work under AddressSanitizer";
    }
    test::Sandbox sandbox;
    const auto page = bmpOf(3000, 2000); // 18 MB; decoded, another 18 MB or more
    sandbox.write("page.bmp", std::string(page.begin(), page.end()));
    const auto result = test::runInChild([&] {
        DrawingSurface panel(200, 100);
        const auto operation = GetParam().arrange(sandbox);
        test::limitAddressSpaceAboveCurrent(8 << 20);
        if (!operation()) {
            return 3;
        }
        // The program goes on: small work still succeeds afterwards.
        panel.clear();
        return pictureRegistry().size() == 0 && panel.getPicture().size() > 54 ? 0 : 4;
    });
    EXPECT_TRUE(result.exited && result.code == 0) << result.describe();
}

const MemoryCase kMemoryCases[] = {
    {"LoadPictureFromFile",
     [](const test::Sandbox& box) {
         return std::function<bool()>([file = box / "page.bmp"] { return LoadPicture(file) == 0; });
     }},
    {"LoadPictureCopyingBytes",
     [](const test::Sandbox&) {
         auto bytes = std::make_shared<const std::vector<std::uint8_t>>(bmpOf(3000, 2000));
         return std::function<bool()>(
             [bytes] { return LoadPicture(std::span<const std::uint8_t>(*bytes)) == 0; });
     }},
    {"PanelResize",
     [](const test::Sandbox&) {
         return std::function<bool()>([] {
             DrawingSurface panel(10, 10);
             panel.resize(6000, 6000); // 144 MB
             return panel.width() == 10 && panel.height() == 10;
         });
     }},
    {"ReadBackStretched",
     [](const test::Sandbox&) {
         return std::function<bool()>([] {
             DrawingSurface panel(10, 10);
             return panel.getPicture(5000, 5000).empty();
         });
     }},
    {"DrawStretched",
     [](const test::Sandbox& box) {
         const PictureHandle handle = LoadPicture(box / "page.bmp");
         auto panel = std::make_shared<DrawingSurface>(1200, 800);
         return std::function<bool()>([handle, panel] {
             // Halftone shrinking needs row buffers only: this must simply work, or do nothing.
             panel->drawPicture(handle, 0, 0, 1200, 800, DrawMode::transparent(0xFFFFFF));
             UnloadPicture(handle);
             return handle != 0;
         });
     }},
};
INSTANTIATE_TEST_SUITE_P(Operations, OutOfMemory, ::testing::ValuesIn(kMemoryCases),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace vantrel::imaging
