// The Bitmap object against BMP Suite: the files it claims to read give the reference pixels,
// the files outside its scope are refused, and no file of the suite crashes it.

#include "imaging/bitmap.h"
#include "tests/imaging/corpus_path.h"
#include "tests/support/sandbox.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace vantrel::imaging {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> readFile(const fs::path& file) {
    const std::string s = test::Sandbox::read(file);
    return {s.begin(), s.end()};
}

fs::path suite() {
    return test::imagingCorpusDir() / "bmpsuite";
}

struct SuiteCase {
    const char* file;      // under g/
    const char* reference; // under reference/, empty: the file must be refused
    int tolerance;         // per channel: 5-bit channels are read as value x 8, not rescaled
    bool topDown = false;  // loads, but pixel access is refused
};

class BitmapSuite : public ::testing::TestWithParam<SuiteCase> {};

TEST_P(BitmapSuite, LoadsWithTheReferencePixelsOrRefuses) {
    const SuiteCase& c = GetParam();
    Bitmap bitmap;
    const bool loaded = bitmap.loadData(readFile(suite() / "g" / c.file));
    if (*c.reference == '\0' && !c.topDown) {
        EXPECT_FALSE(loaded);
        EXPECT_STREQ(bitmap.errorText(), Bitmap::kUnsupported);
        return;
    }
    ASSERT_TRUE(loaded) << bitmap.errorText();
    if (c.topDown) {
        EXPECT_LT(bitmap.getHeight(), 0);
        EXPECT_EQ(bitmap.getPixel(0, 0), 0u);
        EXPECT_STREQ(bitmap.errorText(), Bitmap::kOutOfRange);
        return;
    }
    png_image ref{};
    ref.version = PNG_IMAGE_VERSION;
    const std::string refPath = (suite() / "reference" / c.reference).string();
    ASSERT_TRUE(png_image_begin_read_from_file(&ref, refPath.c_str())) << refPath;
    ref.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(ref));
    ASSERT_TRUE(png_image_finish_read(&ref, nullptr, rgb.data(), 0, nullptr));
    ASSERT_EQ(bitmap.getWidth(), static_cast<std::int32_t>(ref.width));
    ASSERT_EQ(bitmap.getHeight(), static_cast<std::int32_t>(ref.height));
    int mismatches = 0;
    for (std::int32_t y = 0; y < bitmap.getHeight(); ++y) {
        for (std::int32_t x = 0; x < bitmap.getWidth(); ++x) {
            const Colour got = bitmap.getPixel(x, y);
            const std::uint8_t* want = &rgb[(static_cast<std::size_t>(y) * ref.width + x) * 3];
            for (int ch = 0; ch < 3; ++ch) {
                const int g = static_cast<int>((got >> (8 * ch)) & 0xFF);
                if (std::abs(g - want[ch]) > c.tolerance && ++mismatches <= 3) {
                    ADD_FAILURE() << "pixel " << x << "," << y << " channel " << ch << ": " << g
                                  << " vs " << int{want[ch]};
                }
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

const SuiteCase kSuite[] = {
    {"pal1.bmp", "pal1.png", 0},
    {"pal1bg.bmp", "pal1bg.png", 0},
    {"pal1wb.bmp", "pal1.png", 0},
    {"pal4.bmp", "pal4.png", 0},
    {"pal4gs.bmp", "pal4gs.png", 0},
    {"pal8.bmp", "pal8.png", 0},
    {"pal8-0.bmp", "pal8.png", 0},
    {"pal8gs.bmp", "pal8gs.png", 0},
    {"pal8nonsquare.bmp", "pal8nonsquare-e.png", 0},
    {"pal8os2.bmp", "pal8.png", 0},
    {"pal8w124.bmp", "pal8w124.png", 0},
    {"pal8w125.bmp", "pal8w125.png", 0},
    {"pal8w126.bmp", "pal8w126.png", 0},
    {"rgb16.bmp", "rgb16.png", 7},
    {"rgb24.bmp", "rgb24.png", 0},
    {"rgb24pal.bmp", "rgb24.png", 0},
    {"rgb32.bmp", "rgb24.png", 0},
    {"pal8topdown.bmp", "", 0, true},
    // Compressed, bit-field and larger-header files are outside the object's scope.
    {"pal4rle.bmp", "", 0},
    {"pal8rle.bmp", "", 0},
    {"pal8v4.bmp", "", 0},
    {"pal8v5.bmp", "", 0},
    {"rgb16-565.bmp", "", 0},
    {"rgb16-565pal.bmp", "", 0},
    {"rgb16bfdef.bmp", "", 0},
    {"rgb32bf.bmp", "", 0},
    {"rgb32bfdef.bmp", "", 0},
};

INSTANTIATE_TEST_SUITE_P(Good, BitmapSuite, ::testing::ValuesIn(kSuite), [](const auto& row) {
    std::string name = row.param.file;
    for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) {
            ch = '_';
        }
    }
    return name;
});

// Questionable and bad files: loading may succeed or fail, but every pixel of a loaded image must
// be readable and writable inside the block (AddressSanitizer watches), and getData must work.
TEST(BitmapSuiteRobustness, QuestionableAndBadFilesNeverLeaveTheBlock) {
    int files = 0;
    for (const char* folder : {"q", "b", "x"}) {
        for (const auto& entry : fs::directory_iterator(suite() / folder)) {
            ++files;
            Bitmap bitmap;
            if (!bitmap.loadData(readFile(entry.path()))) {
                continue;
            }
            const std::int32_t w = bitmap.getWidth();
            const std::int32_t h = bitmap.getHeight();
            for (std::int32_t y = 0; y < h; ++y) {
                for (std::int32_t x = 0; x < w; ++x) {
                    bitmap.setPixel(x, y, bitmap.getPixel(x, y) ^ 0x010101);
                }
            }
            EXPECT_FALSE(bitmap.getData().empty()) << entry.path();
        }
    }
    EXPECT_GT(files, 50);
}

} // namespace
} // namespace vantrel::imaging
