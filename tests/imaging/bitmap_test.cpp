#include "imaging/bitmap.h"
#include "tests/imaging/bmp_builder.h"
#include "tests/support/scripted_dialogs.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace vantrel::imaging {
namespace {

using test::BmpSpec;
using test::buildBmp;
using test::Bytes;

std::vector<std::uint32_t> greyTable(int n) {
    std::vector<std::uint32_t> t;
    for (int i = 0; i < n; ++i) {
        const std::uint32_t v = static_cast<std::uint32_t>(i * 255 / (n - 1));
        t.push_back(v << 16 | v << 8 | v);
    }
    return t;
}

std::vector<std::uint32_t> tableFor(std::uint16_t bitCount) {
    switch (bitCount) {
    case 1:
        return {0x000000, 0xFFFFFF};
    case 4:
        return greyTable(16);
    case 8: {
        std::vector<std::uint32_t> t; // distinct colours, not a ramp
        for (std::uint32_t i = 0; i < 256; ++i) {
            t.push_back((i * 37 % 256) << 16 | (255 - i) << 8 | i);
        }
        return t;
    }
    default:
        return {};
    }
}

// A 9 x 3 image: 9 pixels make the 1-bit rows cross a byte and the 4-bit rows end on an odd x.
Bytes sample(std::uint16_t bitCount, std::uint8_t fill = 0) {
    BmpSpec s{.width = 9, .height = 3, .bitCount = bitCount, .table = tableFor(bitCount)};
    s.pixels.assign(test::bmpStride(9, bitCount) * 3, fill);
    return buildBmp(s);
}

// ---- pixel encodings, one row per bit depth ----

struct PixelCase {
    const char* name;
    std::uint16_t bitCount;
    std::int32_t x, y;
    Colour written;
    Colour readBack;
    std::size_t byteOffset;           // of the pixel's first byte within its stored row
    std::vector<std::uint8_t> stored; // bytes expected from byteOffset on (after a zero fill)
};

class BitmapPixels : public ::testing::TestWithParam<PixelCase> {};

TEST_P(BitmapPixels, SetWritesTheEncodingAndGetReadsItBack) {
    const PixelCase& c = GetParam();
    Bitmap bitmap;
    ASSERT_TRUE(bitmap.loadData(sample(c.bitCount)));
    ASSERT_TRUE(bitmap.setPixel(c.x, c.y, c.written)) << bitmap.errorText();
    EXPECT_STREQ(bitmap.errorText(), "");
    EXPECT_EQ(bitmap.getPixel(c.x, c.y), c.readBack);

    const Bytes file = bitmap.getData();
    const std::size_t stride = test::bmpStride(9, c.bitCount);
    const std::size_t rowStart = test::get32(file, 10) + (3 - 1 - c.y) * stride;
    for (std::size_t i = 0; i < c.stored.size(); ++i) {
        EXPECT_EQ(file[rowStart + c.byteOffset + i], c.stored[i]) << "byte " << i;
    }
    // Every other pixel still reads as the zero fill.
    const Colour zero = c.bitCount <= 8 ? tableFor(c.bitCount)[0] & 0xFFFFFF : 0;
    for (std::int32_t y = 0; y < 3; ++y) {
        for (std::int32_t x = 0; x < 9; ++x) {
            if (x != c.x || y != c.y) {
                ASSERT_EQ(bitmap.getPixel(x, y), zero) << x << "," << y;
            }
        }
    }
}

const PixelCase kPixelCases[] = {
    {"bits1_white_sets_msb_of_second_byte", 1, 8, 0, 0xFFFFFF, 0xFFFFFF, 1, {0x80}},
    {"bits1_light_grey_goes_to_white", 1, 1, 2, 0xC0C0C0, 0xFFFFFF, 0, {0x40}},
    {"bits4_even_x_high_nibble", 4, 6, 1, 0x888888, 0x888888, 3, {0x80}},
    {"bits4_odd_x_low_nibble_nearest", 4, 7, 1, 0x8A8989, 0x888888, 3, {0x08}},
    {"bits8_exact_table_colour", 8, 5, 0, 0x21B24D, 0x21B24D, 5, {77}},
    {"bits8_nearest_entry", 8, 4, 2, 0xE636C9, 0xE837C8, 4, {200}},
    {"bits16_white_is_f8", 16, 2, 0, 0xFFFFFF, 0xF8F8F8, 4, {0xFF, 0x7F}},
    {"bits16_red", 16, 8, 1, 0x0000FF, 0x0000F8, 16, {0x00, 0x7C}},
    {"bits24_red_stored_bgr", 24, 0, 0, 0x0000FF, 0x0000FF, 0, {0x00, 0x00, 0xFF}},
    {"bits24_top_byte_ignored", 24, 8, 2, 0xAB123456, 0x123456, 24, {0x12, 0x34, 0x56}},
    {"bits32_fourth_byte_kept", 32, 3, 1, 0x123456, 0x123456, 12, {0x12, 0x34, 0x56, 0x00}},
};

INSTANTIATE_TEST_SUITE_P(Depths, BitmapPixels, ::testing::ValuesIn(kPixelCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(BitmapPixels, ThirtyTwoBitsLeavesTheFourthByteAlone) {
    Bitmap bitmap;
    ASSERT_TRUE(bitmap.loadData(sample(32, 0xAB)));
    ASSERT_TRUE(bitmap.setPixel(0, 2, 0x010203));
    const Bytes file = bitmap.getData();
    const std::size_t at = test::get32(file, 10);
    EXPECT_EQ(Bytes(file.begin() + at, file.begin() + at + 4), (Bytes{0x01, 0x02, 0x03, 0xAB}));
    EXPECT_EQ(bitmap.getPixel(1, 2), 0xABABABu);
}

TEST(BitmapPixels, PaletteIndexBeyondTheTableReadsBlack) {
    BmpSpec s{.width = 2, .height = 1, .bitCount = 8, .clrUsed = 2, .table = {0xFFFFFF, 0x0000FF}};
    s.pixels = {1, 200, 0, 0};
    Bitmap bitmap;
    ASSERT_TRUE(bitmap.loadData(buildBmp(s)));
    EXPECT_EQ(bitmap.getPixel(0, 0), 0x0000FFu);
    EXPECT_EQ(bitmap.getPixel(1, 0), 0u);
    EXPECT_STREQ(bitmap.errorText(), "");
}

TEST(BitmapPixels, NearestIndexBeyondTheDepthFailsWithBadIndex) {
    // A 1-bit image whose table has three entries: the third is pure blue.
    BmpSpec s{.width = 1, .height = 1, .bitCount = 1, .clrUsed = 3};
    s.table = {0x000000, 0xFFFFFF, 0xFF0000};
    Bitmap bitmap;
    ASSERT_TRUE(bitmap.loadData(buildBmp(s)));
    EXPECT_FALSE(bitmap.setPixel(0, 0, 0xFF0000));
    EXPECT_STREQ(bitmap.errorText(), Bitmap::kBadIndex);
    EXPECT_TRUE(bitmap.setPixel(0, 0, 0xFFFFFF));
    EXPECT_EQ(bitmap.getPixel(0, 0), 0xFFFFFFu);
}

// ---- failures and the two states ----

TEST(BitmapFailures, EveryOperationOnAnEmptyObjectSaysNoImage) {
    Bitmap bitmap;
    EXPECT_EQ(bitmap.getWidth(), -1);
    EXPECT_STREQ(bitmap.errorText(), Bitmap::kNoImage);
    EXPECT_EQ(bitmap.getHeight(), -1);
    EXPECT_STREQ(bitmap.errorText(), Bitmap::kNoImage);
    EXPECT_EQ(bitmap.getPixel(0, 0), 0u);
    EXPECT_STREQ(bitmap.errorText(), Bitmap::kNoImage);
    EXPECT_FALSE(bitmap.setPixel(0, 0, 0));
    EXPECT_STREQ(bitmap.errorText(), Bitmap::kNoImage);
    EXPECT_TRUE(bitmap.getData().empty());
    EXPECT_STREQ(bitmap.errorText(), Bitmap::kNoImage);
    EXPECT_FALSE(bitmap.forEachPixel([](Colour c) { return c; }));
    EXPECT_STREQ(bitmap.errorText(), Bitmap::kNoImage);
}

struct Coordinates {
    const char* name;
    std::int32_t x, y;
};
class BitmapOutOfRange : public ::testing::TestWithParam<Coordinates> {};

TEST_P(BitmapOutOfRange, GetAndSetFailWithTheCoordinateMessage) {
    Bitmap bitmap;
    ASSERT_TRUE(bitmap.loadData(sample(24, 0x55)));
    const auto [name, x, y] = GetParam();
    EXPECT_EQ(bitmap.getPixel(x, y), 0u);
    EXPECT_STREQ(bitmap.errorText(), Bitmap::kOutOfRange);
    EXPECT_FALSE(bitmap.setPixel(x, y, 0xFFFFFF));
    EXPECT_STREQ(bitmap.errorText(), Bitmap::kOutOfRange);
    // A good call afterwards empties the text again.
    EXPECT_EQ(bitmap.getPixel(0, 0), 0x555555u);
    EXPECT_STREQ(bitmap.errorText(), "");
}

const Coordinates kOutside[] = {
    {"x_equals_width", 9, 0}, {"y_equals_height", 0, 3},         {"x_minus_one", -1, 0},
    {"y_minus_one", 0, -1},   {"int_min", INT32_MIN, INT32_MIN}, {"int_max", INT32_MAX, 0},
};
INSTANTIATE_TEST_SUITE_P(Edges, BitmapOutOfRange, ::testing::ValuesIn(kOutside),
                         [](const auto& row) { return std::string(row.param.name); });

// ---- load edge cases: each row corrupts a valid 2 x 2 24-bit file; all must be refused ----

struct LoadCase {
    const char* name;
    void (*corrupt)(Bytes&);
};
class BitmapRefusedLoad : public ::testing::TestWithParam<LoadCase> {};

TEST_P(BitmapRefusedLoad, FailsAndLeavesTheObjectEmpty) {
    Bitmap bitmap;
    ASSERT_TRUE(bitmap.loadData(sample(8))); // loaded before: the bad load must discard it
    Bytes file = buildBmp({.width = 2, .height = 2, .bitCount = 24});
    GetParam().corrupt(file);
    EXPECT_FALSE(bitmap.loadData(file));
    EXPECT_STREQ(bitmap.errorText(), Bitmap::kUnsupported);
    EXPECT_EQ(bitmap.getWidth(), -1);
    EXPECT_STREQ(bitmap.errorText(), Bitmap::kNoImage);
}

const LoadCase kRefused[] = {
    {"shorter_than_54", [](Bytes& b) { b.resize(53); }},
    {"not_bm", [](Bytes& b) { b[1] = 'A'; }},
    {"bfsize_past_the_end",
     [](Bytes& b) { test::put32(b, 2, static_cast<std::uint32_t>(b.size() + 1)); }},
    {"header_size_108", [](Bytes& b) { test::put32(b, 14, 108); }},
    {"rle8", [](Bytes& b) { test::put32(b, 30, 1); }},
    {"rle4", [](Bytes& b) { test::put32(b, 30, 2); }},
    {"bitfields", [](Bytes& b) { test::put32(b, 30, 3); }},
    {"bit_count_2", [](Bytes& b) { test::put16(b, 28, 2); }},
    {"bit_count_0", [](Bytes& b) { test::put16(b, 28, 0); }},
    {"offbits_at_end", [](Bytes& b) { test::put32(b, 10, static_cast<std::uint32_t>(b.size())); }},
    {"offbits_past_end", [](Bytes& b) { test::put32(b, 10, 0xFFFFFFF0u); }},
    {"colour_table_past_end", [](Bytes& b) { test::put32(b, 46, 0x10000000u); }},
    // The rest are this implementation's choices that keep pixel access inside the block.
    {"short_pixel_rows",
     [](Bytes& b) {
         b.pop_back();
         test::put32(b, 2, 0);
     }},
    {"negative_width", [](Bytes& b) { test::put32(b, 18, static_cast<std::uint32_t>(-2)); }},
    {"zero_planes", [](Bytes& b) { test::put16(b, 26, 0); }},
    {"huge_height", [](Bytes& b) { test::put32(b, 22, 0x7FFFFFFF); }},
};
INSTANTIATE_TEST_SUITE_P(Corruptions, BitmapRefusedLoad, ::testing::ValuesIn(kRefused),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(BitmapLoad, NoBufferFailsWithoutTouchingTheImage) {
    Bitmap bitmap;
    ASSERT_TRUE(bitmap.loadData(sample(24)));
    EXPECT_FALSE(bitmap.loadData({}));
    EXPECT_EQ(bitmap.getWidth(), 9);
}

TEST(BitmapLoad, ZeroWidthLoadsAsAnImageWithoutPixels) {
    // Rows of a zero-width file hold no bytes, so any pixel data length will do; the stride is 0.
    BmpSpec s{.width = 0, .height = 64, .bitCount = 8, .table = tableFor(8)};
    s.pixels.assign(3, 0x55);
    const Bytes in = buildBmp(s);
    Bitmap bitmap;
    ASSERT_TRUE(bitmap.loadData(in)) << bitmap.errorText();
    EXPECT_EQ(bitmap.getWidth(), 0);
    EXPECT_EQ(bitmap.getHeight(), 64);
    EXPECT_EQ(bitmap.getPixel(0, 0), 0u);
    EXPECT_STREQ(bitmap.errorText(), Bitmap::kOutOfRange);
    EXPECT_TRUE(bitmap.forEachPixel([](Colour) { return Colour{0}; }));
    EXPECT_EQ(bitmap.getData().size(), 54u + 4 * 256); // header and table, no rows
}

TEST(BitmapLoad, VersionShowsTheHistoryBoxThenFailsEmpty) {
    test::ScriptedDialogs dialogs;
    dialogs.answerMessage(platform::DialogAnswer::Ok);
    Bitmap bitmap;
    ASSERT_TRUE(bitmap.loadData(sample(24)));
    EXPECT_FALSE(bitmap.loadData(test::asBytes("version")));
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(dialogs.messages()[0].caption, "更新历史!");
    EXPECT_NE(dialogs.messages()[0].text.find("1.0"), std::string::npos);
    EXPECT_EQ(dialogs.messages()[0].buttons, platform::MessageButtons::Ok);
    EXPECT_FALSE(dialogs.anyUnplanned());
    EXPECT_EQ(bitmap.getWidth(), -1);
}

TEST(BitmapLoad, CoreHeaderComesBackAsInfoHeaderWithFourByteEntries) {
    // 64 rows: the length check counts four bytes per colour entry even for a core header.
    BmpSpec s{.width = 3, .height = 64, .bitCount = 8, .headerSize = 12, .table = tableFor(8)};
    s.pixels = {0, 1, 2, 0, 253, 254, 255, 0};
    s.pixels.resize(4 * 64, 9);
    Bitmap bitmap;
    ASSERT_TRUE(bitmap.loadData(buildBmp(s))) << bitmap.errorText();
    EXPECT_EQ(bitmap.getWidth(), 3);
    EXPECT_EQ(bitmap.getHeight(), 64);
    EXPECT_EQ(bitmap.getPixel(1, 62), tableFor(8)[254]);
    EXPECT_EQ(bitmap.getPixel(2, 63), tableFor(8)[2]);
    EXPECT_EQ(bitmap.getPixel(0, 0), tableFor(8)[9]);

    const Bytes out = bitmap.getData();
    ASSERT_EQ(out.size(), 54u + 4 * 256 + 4 * 64);
    EXPECT_EQ(test::get32(out, 10), 54u + 4 * 256);
    EXPECT_EQ(test::get32(out, 14), 40u);
    EXPECT_EQ(test::get32(out, 18), 3u);
    EXPECT_EQ(test::get32(out, 22), 64u);
    const std::uint32_t e = tableFor(8)[7];
    EXPECT_EQ(Bytes(out.begin() + 54 + 28, out.begin() + 54 + 32),
              (Bytes{static_cast<std::uint8_t>(e >> 16), static_cast<std::uint8_t>(e >> 8),
                     static_cast<std::uint8_t>(e), 0}));
    EXPECT_EQ(Bytes(out.end() - 4 * 64, out.end()), s.pixels);
}

TEST(BitmapGetData, TwentyFourBitFilesComeBackByteForByte) {
    // Rows are padded to four bytes: 2 x 2 gives 54 + 8 x 2 = 70 bytes, 3 x 2 gives 54 + 12 x 2.
    for (const auto& [width, size] : {std::pair{2, 70u}, std::pair{3, 78u}}) {
        BmpSpec s{.width = width, .height = 2, .bitCount = 24};
        for (std::size_t i = 0; i < test::bmpStride(width, 24) * 2; ++i) {
            s.pixels.push_back(static_cast<std::uint8_t>(i * 13));
        }
        const Bytes in = buildBmp(s);
        Bitmap bitmap;
        ASSERT_TRUE(bitmap.loadData(in));
        const Bytes out = bitmap.getData();
        EXPECT_EQ(out, in);
        EXPECT_EQ(out.size(), size);
        EXPECT_EQ(test::get32(out, 10), 54u);
    }
}

TEST(BitmapGetData, TrailingBytesAndColoursUsedOnTrueColour) {
    // biClrUsed counts a table even at 24 bits; bytes past the rows are not returned.
    BmpSpec s{.width = 1, .height = 1, .bitCount = 24, .clrUsed = 2, .table = {0x112233, 0x445566}};
    s.pixels = {1, 2, 3, 0, 9, 9, 9, 9};
    Bitmap bitmap;
    ASSERT_TRUE(bitmap.loadData(buildBmp(s)));
    const Bytes out = bitmap.getData();
    ASSERT_EQ(out.size(), 54u + 8 + 4);
    EXPECT_EQ(test::get32(out, 2), out.size());
    EXPECT_EQ(test::get32(out, 10), 62u);
    EXPECT_EQ(bitmap.getPixel(0, 0), 0x010203u);
}

TEST(BitmapTakeData, HandsOverWhatGetDataGivesAndLeavesNoImage) {
    BmpSpec trailing{.width = 3, .height = 2, .bitCount = 24};
    trailing.pixels.assign(test::bmpStride(3, 24) * 2 + 5, 0x42); // bytes past the rows
    BmpSpec core{.width = 5, .height = 8, .bitCount = 1, .headerSize = 12, .table = {0, 0xFFFFFF}};
    core.pixels.assign(test::bmpStride(5, 1) * 8, 0xA0);
    BmpSpec topDown{.width = 2, .height = -2, .bitCount = 32};
    topDown.pixels.assign(16, 0x7F);
    for (const BmpSpec& layout : {trailing, core, topDown}) {
        Bitmap bitmap;
        ASSERT_TRUE(bitmap.loadData(buildBmp(layout))) << layout.bitCount;
        const Bytes expected = bitmap.getData();
        EXPECT_EQ(bitmap.takeData(), expected) << layout.bitCount;
        EXPECT_EQ(bitmap.getWidth(), -1);
        EXPECT_STREQ(bitmap.errorText(), Bitmap::kNoImage);
        EXPECT_TRUE(bitmap.takeData().empty());
    }
}

TEST(BitmapGetData, TopDownLoadsRefusesPixelsAndComesBackAsStored) {
    BmpSpec s{.width = 2, .height = -2, .bitCount = 24};
    s.pixels.assign(16, 0x7F);
    const Bytes in = buildBmp(s);
    Bitmap bitmap;
    ASSERT_TRUE(bitmap.loadData(in));
    EXPECT_EQ(bitmap.getHeight(), -2);
    EXPECT_EQ(bitmap.getPixel(0, 0), 0u);
    EXPECT_STREQ(bitmap.errorText(), Bitmap::kOutOfRange);
    EXPECT_FALSE(bitmap.setPixel(0, 0, 0));
    EXPECT_FALSE(bitmap.forEachPixel([](Colour c) { return c; }));
    EXPECT_EQ(bitmap.getData(), in);
}

// ---- the whole-image pass against the per-pixel reference loop ----

class BitmapFastPass : public ::testing::TestWithParam<std::uint16_t> {};

TEST_P(BitmapFastPass, MatchesThePerPixelLoopOnRandomPixels) {
    const std::uint16_t bitCount = GetParam();
    // Tables with entries near white, so that the snap below moves palette pixels too.
    const std::vector<std::uint32_t> table = bitCount == 1
                                                 ? std::vector<std::uint32_t>{0xE0E0E0, 0xFFFFFF}
                                             : bitCount == 4 ? greyTable(16)
                                             : bitCount == 8 ? greyTable(256)
                                                             : std::vector<std::uint32_t>{};
    // Wide enough that a pass's range holds whole batches of pixels and a remainder.
    constexpr std::int32_t kWidth = 203;
    BmpSpec s{.width = kWidth, .height = 11, .bitCount = bitCount, .table = table};
    std::mt19937 random(bitCount);
    s.pixels.resize(test::bmpStride(kWidth, bitCount) * 11);
    for (auto& b : s.pixels) {
        b = static_cast<std::uint8_t>(random() % 4 == 0 ? 0xFF : random());
    }
    const Bytes file = buildBmp(s);
    // The near-white snap of the scan workflows, with a tolerance that catches a good share.
    auto snap = [](Colour c) -> Colour {
        const int d = (255 - static_cast<int>(c & 0xFF)) +
                      (255 - static_cast<int>((c >> 8) & 0xFF)) +
                      (255 - static_cast<int>((c >> 16) & 0xFF));
        return d > 0 && d <= 200 ? 0xFFFFFF : c;
    };

    Bitmap reference;
    ASSERT_TRUE(reference.loadData(file));
    for (std::int32_t x = 4; x < 190; ++x) { // column order, as the workflows visit
        for (std::int32_t y = 0; y < 11; ++y) {
            const Colour c = reference.getPixel(x, y);
            if (snap(c) != c) {
                ASSERT_TRUE(reference.setPixel(x, y, snap(c)));
            }
        }
    }
    Bitmap fast;
    ASSERT_TRUE(fast.loadData(file));
    ASSERT_TRUE(fast.forEachPixel(4, 137, snap));
    ASSERT_TRUE(fast.forEachPixel(137, 190, snap));
    EXPECT_EQ(fast.getData(), reference.getData());
    EXPECT_NE(fast.getData(), file); // the pass did change something

    // The same pass on the direct runs, which only 24- and 32-bit images have.
    Bitmap direct;
    ASSERT_TRUE(direct.loadData(file));
    const bool ran =
        direct.forEachDirectRun(4, 190, [&](std::uint8_t* p, std::size_t n, std::size_t step) {
            for (; n > 0; --n, p += step) {
                const Colour c = Colour{p[2]} | Colour{p[1]} << 8 | Colour{p[0]} << 16;
                const Colour snapped = snap(c);
                p[0] = static_cast<std::uint8_t>(snapped >> 16);
                p[1] = static_cast<std::uint8_t>(snapped >> 8);
                p[2] = static_cast<std::uint8_t>(snapped);
            }
        });
    EXPECT_EQ(ran, bitCount == 24 || bitCount == 32);
    EXPECT_EQ(direct.getData(), ran ? reference.getData() : file);

    EXPECT_FALSE(fast.forEachPixel(5, kWidth + 1, snap));
    EXPECT_STREQ(fast.errorText(), Bitmap::kOutOfRange);
}

INSTANTIATE_TEST_SUITE_P(Depths, BitmapFastPass, ::testing::Values(1, 4, 8, 16, 24, 32),
                         [](const auto& row) { return "bits" + std::to_string(row.param); });

} // namespace
} // namespace vantrel::imaging
