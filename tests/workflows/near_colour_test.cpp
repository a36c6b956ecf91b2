#include "workflows/near_colour.h"

#include "imaging/bitmap.h"
#include "tests/workflows/bmp_fixture.h"

#include <gtest/gtest.h>

namespace vantrel::workflows {
namespace {

struct NearCase {
    const char* name;
    Colour colour;
    Colour key;
    int tolerance;
    bool near;
};

void PrintTo(const NearCase& c, std::ostream* os) {
    *os << c.name;
}

class NearColourTest : public ::testing::TestWithParam<NearCase> {};

TEST_P(NearColourTest, DistanceIsTheSumOfChannelDifferences) {
    const NearCase& c = GetParam();
    EXPECT_EQ(IsNearColour(c.colour, c.key, c.tolerance), c.near);
}

const NearCase kNearCases[] = {
    {"LightGreyDistance30Kept", 0xF5F5F5, kWhite, 20, false},
    {"Distance16Snapped", 0xFAFAF9, kWhite, 20, true}, // red 6, green 5, blue 5 below white
    {"EqualColourIsNotNear", kWhite, kWhite, 20, false},
    {"ExactlyAtTolerance", 0x000014, 0x000000, 20, true},
    {"ToleranceZeroNeverNear", 0xFFFFFE, kWhite, 0, false},
    {"NegativeToleranceNeverNear", 0xFFFFFE, kWhite, -5, false},
    {"TopByteIgnored", 0xFF000001, 0x00000000, 1, true},
    {"ChannelsDoNotCancel", 0x0000FF, 0x00FF00, 509, false},
    {"MaximumDistance", 0x000000, kWhite, 765, true},
};

INSTANTIATE_TEST_SUITE_P(Colours, NearColourTest, ::testing::ValuesIn(kNearCases),
                         [](const auto& row) { return std::string(row.param.name); });

using test::bmp24;

struct RecordingProgress final : PassProgress {
    void begin() override { events.push_back("begin"); }
    void columnDone(std::int32_t done, std::int32_t width) override {
        events.push_back(progressText(done, width));
    }
    void end() override { events.push_back("end"); }
    std::vector<std::string> events;
};

std::vector<Colour> pixels(std::span<const std::uint8_t> file) {
    imaging::Bitmap bitmap;
    EXPECT_TRUE(bitmap.loadData(file));
    std::vector<Colour> result;
    for (int y = 0; y < bitmap.getHeight(); ++y) {
        for (int x = 0; x < bitmap.getWidth(); ++x) {
            result.push_back(bitmap.getPixel(x, y));
        }
    }
    return result;
}

TEST(SnapNearColour, SnapsOnlyNearPixelsAndReportsEveryColumn) {
    const auto page = bmp24(3, 2, {0xFAFAF9, 0xF5F5F5, kWhite, 0x123456, 0xFFFFFE, 0x000000});
    RecordingProgress progress;
    const auto result = SnapNearColour(page, 0x123456, false, 20, progress);
    EXPECT_EQ(pixels(result),
              (std::vector<Colour>{kWhite, 0xF5F5F5, kWhite, 0x123456, kWhite, 0x000000}));
    EXPECT_EQ(progress.events, (std::vector<std::string>{"begin", "33%", "67%", "100%", "end"}));
}

TEST(SnapNearColour, UsesTheGivenKeyWhenAsked) {
    const auto page = bmp24(2, 1, {0x000005, 0xFAFAF9});
    RecordingProgress progress;
    const auto result = SnapNearColour(page, 0x000000, true, 20, progress);
    EXPECT_EQ(pixels(result), (std::vector<Colour>{0x000000, 0xFAFAF9}));
}

TEST(SnapNearColour, ToleranceZeroChangesNothingAndOneColumnShowsHundred) {
    const auto page = bmp24(1, 3, {0xFFFFFE, kWhite, 0x101010});
    RecordingProgress progress;
    const auto result = SnapNearColour(page, 0, false, 0, progress);
    EXPECT_EQ(result, page);
    EXPECT_EQ(progress.events, (std::vector<std::string>{"begin", "100%", "end"}));
}

TEST(SnapNearColour, WidePageMatchesThePerPixelLoop) {
    // Wider than one column block, with odd rows so the stride has padding.
    const int width = 1031;
    const int height = 7;
    std::vector<Colour> topDown;
    for (int i = 0; i < width * height; ++i) {
        const auto v = static_cast<std::uint32_t>(0xF0 + i % 16);
        topDown.push_back(v | (v << 8) | (0xFFu << 16));
    }
    const auto page = bmp24(width, height, topDown);
    RecordingProgress progress;
    const auto result = SnapNearColour(page, 0, false, 20, progress);

    imaging::Bitmap reference;
    reference.loadData(page);
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < reference.getHeight(); ++y) {
            if (IsNearColour(reference.getPixel(x, y), kWhite, 20)) {
                reference.setPixel(x, y, kWhite);
            }
        }
    }
    EXPECT_EQ(result, reference.getData());
    EXPECT_EQ(progress.events.size(), static_cast<std::size_t>(width + 2));
    EXPECT_EQ(progress.events[515], "50%"); // 515 of 1031 columns: 0.4995 rounds to 0.50
}

TEST(SnapNearColour, UnreadablePageVisitsNothing) {
    const std::vector<std::uint8_t> junk = {'B', 'M', 1, 2, 3};
    RecordingProgress progress;
    EXPECT_TRUE(SnapNearColour(junk, 0, false, 20, progress).empty());
    EXPECT_EQ(progress.events, (std::vector<std::string>{"begin", "end"}));
}

TEST(ProgressText, RoundsTheRatioToTwoDecimalsHalvesUp) {
    EXPECT_EQ(progressText(1, 3), "33%");
    EXPECT_EQ(progressText(2, 3), "67%");
    EXPECT_EQ(progressText(1, 8), "13%");  // 0.125 rounds up to 0.13
    EXPECT_EQ(progressText(1, 200), "1%"); // 0.005 rounds up to 0.01
    EXPECT_EQ(progressText(1, 201), "0%");
    EXPECT_EQ(progressText(7, 7), "100%");
}

} // namespace
} // namespace vantrel::workflows
