// Raw scanner frames to a bottom-up DIB, row by row, for each frame format and depth, fed in
// awkward pieces; incomplete pages are never finished.

#include "platform/twain/dib_assembler.h"
#include "platform/twain/twain_handle.h"

#include <gtest/gtest.h>
#include <vector>

namespace vantrel::test {
namespace {

using twain::DibAssembler;
using twain::FrameFormat;
using twain::FrameParameters;

struct Dib {
    TW_BITMAPINFOHEADER header{};
    std::vector<std::uint8_t> table;
    std::vector<std::uint8_t> rows; // as stored: bottom-up
};

Dib take(TW_HANDLE handle) {
    Dib dib;
    const auto* bytes = static_cast<const std::uint8_t*>(twHandleLock(handle));
    std::memcpy(&dib.header, bytes, 40);
    const std::size_t table = dib.header.biClrUsed * 4;
    dib.table.assign(bytes + 40, bytes + 40 + table);
    dib.rows.assign(bytes + 40 + table, bytes + twHandleSize(handle));
    twHandleUnlock(handle);
    twHandleFree(handle);
    return dib;
}

// Feeds `data` in pieces of `piece` bytes.
void feed(DibAssembler& a, const std::vector<std::uint8_t>& data, std::size_t piece) {
    for (std::size_t at = 0; at < data.size(); at += piece) {
        a.append(data.data() + at, std::min(piece, data.size() - at));
    }
}

struct FrameCase {
    const char* name;
    FrameParameters params;
    std::vector<std::uint8_t> input; // top-down scanner lines
    int bitCount;
    std::vector<std::uint8_t> rows; // expected DIB rows, bottom-up, with padding
};

void PrintTo(const FrameCase& row, std::ostream* os) {
    *os << row.name;
}

std::vector<std::uint8_t> le16(std::initializer_list<std::uint16_t> samples) {
    std::vector<std::uint8_t> out;
    for (std::uint16_t s : samples) {
        out.insert(out.end(), {static_cast<std::uint8_t>(s), static_cast<std::uint8_t>(s >> 8)});
    }
    return out;
}

std::vector<FrameCase> frameCases() {
    return {
        // Two lines of 10 pixels: a set bit is black in SANE, index 0 (black) in the DIB.
        {"LineArtInvertedAndPadded",
         {FrameFormat::Gray, true, 2, 10, 2, 1},
         {0xF0, 0xC0, 0x0F, 0x40},
         1,
         {0xF0, 0x80, 0, 0, /* second line first */ 0x0F, 0x00, 0, 0}},
        {"Grey8",
         {FrameFormat::Gray, true, 3, 3, 2, 8},
         {1, 2, 3, 4, 5, 6},
         8,
         {4, 5, 6, 0, 1, 2, 3, 0}},
        {"Grey16KeepsTheHighByte",
         {FrameFormat::Gray, true, 4, 2, 1, 16},
         le16({0x12FF, 0xAB01}),
         8,
         {0x12, 0xAB, 0, 0}},
        {"Rgb8ToBlueGreenRed",
         {FrameFormat::Rgb, true, 6, 2, 1, 8},
         {1, 2, 3, 4, 5, 6},
         24,
         {3, 2, 1, 6, 5, 4, 0, 0}},
        // Wide enough for the vector steps and the plain loop after them.
        {"Rgb8ThirteenPixels",
         {FrameFormat::Rgb, true, 39, 13, 1, 8},
         {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
          21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39},
         24,
         {3,  2,  1,  6,  5,  4,  9,  8,  7,  12, 11, 10, 15, 14, 13, 18, 17, 16, 21, 20,
          19, 24, 23, 22, 27, 26, 25, 30, 29, 28, 33, 32, 31, 36, 35, 34, 39, 38, 37, 0}},
        {"Rgb16",
         {FrameFormat::Rgb, true, 6, 1, 1, 16},
         le16({0x1000, 0x2000, 0x3000}),
         24,
         {0x30, 0x20, 0x10, 0}},
        {"Rgb1",
         {FrameFormat::Rgb, true, 1, 2, 1, 1},
         {0b101'010'00},
         24,
         {255, 0, 255, 0, 255, 0, 0, 0}},
        // Extra bytes at the end of each scanner line (ppl-loss) are skipped.
        {"LongerLinesThanPixels",
         {FrameFormat::Gray, true, 4, 2, 2, 8},
         {1, 2, 99, 99, 3, 4, 99, 99},
         8,
         {3, 4, 0, 0, 1, 2, 0, 0}},
    };
}

class DibAssemblerRows : public ::testing::TestWithParam<FrameCase> {};

TEST_P(DibAssemblerRows, EveryRowInPlaceWhateverThePieces) {
    const FrameCase& c = GetParam();
    for (std::size_t piece : {std::size_t{1}, std::size_t{3}, c.input.size()}) {
        DibAssembler a;
        ASSERT_TRUE(a.begin(c.params, 300, 150));
        feed(a, c.input, piece);
        ASSERT_TRUE(a.frameComplete());
        const TW_IMAGEINFO info = a.imageInfo();
        const Dib dib = take(a.finish());
        EXPECT_EQ(dib.header.biBitCount, c.bitCount);
        EXPECT_EQ(dib.header.biWidth, c.params.pixelsPerLine);
        EXPECT_EQ(dib.header.biHeight, c.params.lines);
        EXPECT_EQ(dib.header.biCompression, 0u);
        EXPECT_EQ(dib.header.biXPelsPerMeter, 11811);
        EXPECT_EQ(dib.rows, c.rows) << "piece " << piece;
        EXPECT_EQ(info.BitsPerPixel, c.bitCount);
        EXPECT_EQ(info.XResolution.Whole, 300);
        EXPECT_EQ(info.YResolution.Whole, 150);
        if (c.bitCount == 1) {
            EXPECT_EQ(dib.table, (std::vector<std::uint8_t>{0, 0, 0, 0, 255, 255, 255, 0}));
        }
        if (c.bitCount == 8) {
            ASSERT_EQ(dib.table.size(), 1024u);
            EXPECT_EQ(dib.table[4 * 200 + 1], 200);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, DibAssemblerRows, ::testing::ValuesIn(frameCases()),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(DibAssembler, ThreeFramesMakeOneColourPage) {
    DibAssembler a;
    ASSERT_TRUE(a.begin({FrameFormat::Green, false, 2, 2, 1, 8}, 100, 100));
    a.append(std::vector<std::uint8_t>{10, 11}.data(), 2);
    ASSERT_TRUE(a.nextFrame({FrameFormat::Red, false, 2, 2, 1, 8}));
    a.append(std::vector<std::uint8_t>{20, 21}.data(), 2);
    EXPECT_EQ(a.framesMissing(), 1);
    ASSERT_TRUE(a.nextFrame({FrameFormat::Blue, true, 2, 2, 1, 8}));
    a.append(std::vector<std::uint8_t>{30, 31}.data(), 2);
    const Dib dib = take(a.finish());
    EXPECT_EQ(dib.rows, (std::vector<std::uint8_t>{30, 10, 20, 31, 11, 21, 0, 0}));
}

TEST(DibAssembler, UnknownHeightCollectsTheLinesThatCame) {
    DibAssembler a;
    ASSERT_TRUE(a.begin({FrameFormat::Gray, true, 1, 1, -1, 8}, 100, 100));
    a.append(std::vector<std::uint8_t>{1, 2, 3}.data(), 3);
    const Dib dib = take(a.finish());
    EXPECT_EQ(dib.header.biHeight, 3);
    EXPECT_EQ(dib.rows, (std::vector<std::uint8_t>{3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0}));
}

struct IncompleteCase {
    const char* name;
    std::vector<FrameParameters> frames;
    std::size_t bytesPerFrame;
};

void PrintTo(const IncompleteCase& row, std::ostream* os) {
    *os << row.name;
}

const IncompleteCase kIncomplete[] = {
    {"ShortFrame", {{FrameFormat::Rgb, true, 6, 2, 3, 8}}, 17},
    {"HalfALine", {{FrameFormat::Gray, true, 4, 4, -1, 8}}, 6},
    {"ThreePassMissingBlue",
     {{FrameFormat::Red, false, 2, 2, 1, 8}, {FrameFormat::Green, true, 2, 2, 1, 8}},
     2},
};

class DibAssemblerIncomplete : public ::testing::TestWithParam<IncompleteCase> {};

TEST_P(DibAssemblerIncomplete, GivesNoPage) {
    const IncompleteCase& c = GetParam();
    DibAssembler a;
    ASSERT_TRUE(a.begin(c.frames[0], 100, 100));
    const std::vector<std::uint8_t> bytes(c.bytesPerFrame, 7);
    a.append(bytes.data(), bytes.size());
    for (std::size_t i = 1; i < c.frames.size(); ++i) {
        ASSERT_TRUE(a.nextFrame(c.frames[i]));
        a.append(bytes.data(), bytes.size());
    }
    EXPECT_EQ(a.finish(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Cases, DibAssemblerIncomplete, ::testing::ValuesIn(kIncomplete),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(DibAssembler, RefusesParametersThatMakeNoPage) {
    const FrameParameters bad[] = {
        {FrameFormat::Gray, true, 0, 4, 4, 8},            // no bytes per line
        {FrameFormat::Gray, true, 4, 4, 4, 12},           // unknown depth
        {FrameFormat::Rgb, true, 5, 2, 4, 8},             // lines shorter than the pixels
        {FrameFormat::Red, false, 4, 4, -1, 8},           // three-pass of unknown height
        {FrameFormat::Rgb, true, 60000, 20000, 60000, 8}, // beyond 2 GiB
    };
    for (const FrameParameters& p : bad) {
        DibAssembler a;
        EXPECT_FALSE(a.begin(p, 100, 100)) << p.bytesPerLine << " " << p.depth;
    }
}

} // namespace
} // namespace vantrel::test
