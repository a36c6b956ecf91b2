// The drawing panel's pixel class: DrawPicture with copy modes and exact-colour transparency,
// natural size versus stretch, PNG alpha over white, Clear, GetPicture's sizes, resizing and
// coordinate units. Pictures are made by the tests themselves.

#include "imaging/drawing_surface.h"
#include "imaging/picture_registry.h"

#include <QBuffer>
#include <QImage>
#include <gtest/gtest.h>

namespace vantrel::imaging {
namespace {

using Colour = std::uint32_t; // 0x00BBGGRR
constexpr Colour kWhite = 0xFFFFFF;
constexpr Colour kBackground = 0x336699;

std::uint32_t le32At(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t{b[at + 3]} << 24;
}

class Panel : public testing::Test {
protected:
    ~Panel() override {
        for (PictureHandle h : loaded_) {
            UnloadPicture(h);
        }
    }

    // A 24-bit BMP picture of `colours`, rows top first.
    PictureHandle picture(int width, int height, const std::vector<Colour>& colours) {
        platform::Raster raster(width, height, 0);
        for (int i = 0; i < width * height; ++i) {
            raster.row(i / width)[i % width] = platform::toPixel(colours[std::size_t(i)]);
        }
        return keep(LoadPicture(rasterToBmp(raster)));
    }
    PictureHandle keep(PictureHandle h) {
        EXPECT_NE(h, 0u);
        loaded_.push_back(h);
        return h;
    }
    Colour at(int x, int y) const { return platform::toColourRef(surface_.bitmap().pixel(x, y)); }
    void useBackground(Colour colour) {
        surface_.setBackgroundColour(colour);
        surface_.clear();
    }

    DrawingSurface surface_{598, 774};
    std::vector<PictureHandle> loaded_;
};

TEST_F(Panel, NegativeWhiteModeLeavesExactlyWhitePixelsOut) {
    useBackground(kBackground);
    const PictureHandle h = picture(3, 1, {kWhite, 0xFEFEFE, 0xFFFFFE});
    surface_.drawPicture(h, 0, 0, {}, {}, DrawMode::fromCopyMode(-16777215));
    EXPECT_EQ(at(0, 0), kBackground);
    EXPECT_EQ(at(1, 0), 0xFEFEFEu); // one step below white is drawn
    EXPECT_EQ(at(2, 0), 0xFFFFFEu);
    EXPECT_EQ(at(3, 0), kBackground);
}

TEST_F(Panel, BlackIsTransparentWhenAskedForExplicitly) {
    useBackground(kBackground);
    const PictureHandle h = picture(2, 1, {0x000000, 0x123456});
    surface_.drawPicture(h, 0, 0, {}, {}, DrawMode::transparent(0x000000));
    EXPECT_EQ(at(0, 0), kBackground);
    EXPECT_EQ(at(1, 0), 0x123456u);
}

TEST_F(Panel, ModeZeroIsARasterOperationNotACopy) {
    useBackground(kBackground);
    const PictureHandle h = picture(2, 1, {0x000000, 0x123456});
    surface_.drawPicture(h, 0, 0, {}, {}, DrawMode::fromCopyMode(0));
    EXPECT_EQ(at(1, 0), 0x000000u); // raster operation 0 paints black
    surface_.drawPicture(h, 0, 0, {}, {}, DrawMode::fromCopyMode(std::nullopt));
    EXPECT_EQ(at(0, 0), 0x000000u);
    EXPECT_EQ(at(1, 0), 0x123456u);
}

struct ModeCase {
    const char* name;
    std::optional<std::int32_t> mode;
    Colour expected; // picture 0x0F0F0F drawn over 0x3C3CFF
};

void PrintTo(const ModeCase& c, std::ostream* os) {
    *os << c.name;
}

class CopyModes : public Panel, public testing::WithParamInterface<ModeCase> {};

TEST_P(CopyModes, CombinePictureAndPanel) {
    useBackground(0x3C3CFF);
    surface_.drawPicture(picture(1, 1, {0x0F0F0F}), 0, 0, {}, {},
                         DrawMode::fromCopyMode(GetParam().mode));
    EXPECT_EQ(at(0, 0), GetParam().expected);
    EXPECT_EQ(at(1, 0), 0x3C3CFFu);
}

const ModeCase kModeCases[] = {
    {"omitted_copies", std::nullopt, 0x0F0F0F},
    {"1_copies", 1, 0x0F0F0F},
    {"2_inverts_the_picture", 2, 0xF0F0F0},
    {"3_xors", 3, 0x3333F0},
    {"4_ors", 4, 0x3F3FFF},
    {"5_ands", 5, 0x0C0C0F},
    {"whiteness", 0x00FF0062, 0xFFFFFF},
    {"dstinvert", 0x00550009, 0xC3C300},
    {"mergepaint", 0x00BB0226, 0xFCFCFF}, // ~picture | panel
};

INSTANTIATE_TEST_SUITE_P(Modes, CopyModes, testing::ValuesIn(kModeCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(Panel, NaturalSizeCopiesAndAGivenSizeStretches) {
    const std::vector<Colour> quad = {0x0000FF, 0x00FF00, 0xFF0000, 0x000000};
    const PictureHandle h = picture(2, 2, quad);
    surface_.drawPicture(h, 5, 7);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(at(5 + i % 2, 7 + i / 2), quad[std::size_t(i)]) << i;
    }
    EXPECT_EQ(at(7, 7), kWhite);
    EXPECT_EQ(at(5, 9), kWhite);

    surface_.drawPicture(h, 0, 0, 4, 4); // enlarged: every pixel repeated
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(at(x, y), quad[std::size_t(y / 2 * 2 + x / 2)]) << x << "," << y;
        }
    }
    surface_.drawPicture(h, 10, 0, 1, 1); // shrunk: the average, rounded
    EXPECT_EQ(at(10, 0), 0x404040u);
}

TEST_F(Panel, StretchedTransparencyStaysExact) {
    useBackground(kBackground);
    const PictureHandle h = picture(2, 1, {kWhite, 0x000000});
    surface_.drawPicture(h, 0, 0, 4, 2, DrawMode::transparent(kWhite));
    EXPECT_EQ(at(0, 0), kBackground);
    EXPECT_EQ(at(1, 1), kBackground);
    EXPECT_EQ(at(2, 0), 0x000000u);
    EXPECT_EQ(at(3, 1), 0x000000u);
}

TEST_F(Panel, NoPictureMeansNothingDrawn) {
    const auto before = surface_.getPicture();
    surface_.drawPicture(0, 0, 0);
    const PictureHandle h = picture(1, 1, {0});
    UnloadPicture(h);
    surface_.drawPicture(h, 0, 0, 598, 774);
    UnloadPicture(0);
    EXPECT_EQ(surface_.getPicture(), before);
}

TEST_F(Panel, PngAlphaBlendsOverWhite) {
    QImage image(4, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(0, 0, 0, 128));
    image.setPixel(1, 0, qRgba(0, 0, 0, 1));
    image.setPixel(2, 0, qRgba(0, 0, 0, 0));
    image.setPixel(3, 0, qRgba(200, 100, 50, 255));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(image.save(&buffer, "PNG"));
    const PictureHandle h = keep(LoadPicture(std::span(
        reinterpret_cast<const std::uint8_t*>(png.constData()), std::size_t(png.size()))));
    useBackground(kBackground);
    surface_.drawPicture(h, 0, 0);
    EXPECT_EQ(at(0, 0), 0x7E7E7Eu); // 126
    EXPECT_EQ(at(1, 0), 0xFDFDFDu); // 253
    EXPECT_EQ(at(2, 0), kWhite);
    EXPECT_EQ(at(3, 0), 0x3264C8u); // opaque: unchanged
}

struct SizeCase {
    const char* name;
    int width, height;
    std::uint32_t expectedWidth, expectedHeight;
};

void PrintTo(const SizeCase& c, std::ostream* os) {
    *os << c.name;
}

class PictureSizes : public Panel, public testing::WithParamInterface<SizeCase> {};

TEST_P(PictureSizes, FollowTheArguments) {
    const SizeCase& c = GetParam();
    const auto bmp = surface_.getPicture(c.width, c.height);
    ASSERT_GE(bmp.size(), 54u);
    const std::size_t stride = (c.expectedWidth * 3 + 3) & ~3u;
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(le32At(bmp, 2), bmp.size());
    EXPECT_EQ(bmp.size(), 54 + stride * c.expectedHeight);
    EXPECT_EQ(le32At(bmp, 10), 54u); // pixel offset
    EXPECT_EQ(le32At(bmp, 14), 40u);
    EXPECT_EQ(le32At(bmp, 18), c.expectedWidth);
    EXPECT_EQ(le32At(bmp, 22), c.expectedHeight); // positive: bottom-up
    EXPECT_EQ(bmp[28], 24);
    EXPECT_EQ(le32At(bmp, 30), 0u); // no compression
}

const SizeCase kSizeCases[] = {
    {"omitted", 0, 0, 598, 774},  {"minus_5_counts_as_10_percent", -5, 0, 60, 774},
    {"half", -50, -50, 299, 387}, {"double_height", 0, -200, 598, 1548},
    {"given", 100, 20, 100, 20},
};

INSTANTIATE_TEST_SUITE_P(GetPicture, PictureSizes, testing::ValuesIn(kSizeCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(Panel, GetPictureRefusesSizesItCannotMake) {
    EXPECT_TRUE(surface_.getPicture(1 << 30, 1 << 30).empty());
    EXPECT_TRUE(DrawingSurface(1, 1).getPicture(-5, -5).empty()); // 10% of 1 rounds to 0
    EXPECT_TRUE(DrawingSurface(4, 4).getPicture(-10, 0).empty());
    EXPECT_FALSE(DrawingSurface(5, 5).getPicture(-10, 0).empty()); // a half rounds up
}

TEST_F(Panel, SharedPictureIsReadBackOncePerStateWhileSomeoneHoldsIt) {
    auto first = surface_.sharedPicture();
    EXPECT_EQ(*first, surface_.getPicture());
    EXPECT_EQ(surface_.sharedPicture(), first); // unchanged and still held: the same bytes

    surface_.drawPicture(picture(1, 1, {0x0000FF}), 0, 0);
    const auto drawn = surface_.sharedPicture();
    EXPECT_NE(drawn, first);
    EXPECT_EQ(*drawn, surface_.getPicture());

    surface_.clear();
    EXPECT_EQ(*surface_.sharedPicture(), *first); // cleared: the first content again, read anew

    first.reset();
    EXPECT_EQ(*surface_.sharedPicture(), surface_.getPicture()); // nobody held it: made afresh
}

TEST_F(Panel, EnlargingKeepsTheContentAtTheTopLeft) {
    surface_.drawPicture(picture(1, 1, {0x0000FF}), 0, 0, 598, 774);
    surface_.resize(700, 900);
    EXPECT_EQ(surface_.width(), 700);
    EXPECT_EQ(at(597, 773), 0x0000FFu);
    EXPECT_EQ(at(598, 0), kWhite);
    EXPECT_EQ(at(0, 774), kWhite);
    // The read-back holds both parts, pixel for pixel.
    const PictureHandle back = keep(LoadPicture(surface_.getPicture()));
    DrawingSurface copy(700, 900, 0);
    copy.drawPicture(back, 0, 0);
    EXPECT_EQ(copy.getPicture(), surface_.getPicture());

    surface_.resize(10, 10);
    surface_.resize(20, 20);
    EXPECT_EQ(at(9, 9), 0x0000FFu);
    EXPECT_EQ(at(10, 10), kWhite);
    surface_.resize(0, -3);
    EXPECT_EQ(surface_.width(), 1);
    EXPECT_EQ(surface_.height(), 1);
}

TEST_F(Panel, ClearMakesEverythingWhiteAndARectangleOnlyThere) {
    surface_.drawPicture(picture(1, 1, {0x102030}), 0, 0, 598, 774);
    surface_.clear(10, 20, 5, 6);
    EXPECT_EQ(at(10, 20), kWhite);
    EXPECT_EQ(at(14, 25), kWhite);
    EXPECT_EQ(at(15, 25), 0x102030u);
    EXPECT_EQ(at(14, 26), 0x102030u);
    EXPECT_EQ(surface_.currentPosition(), (std::pair{10, 20}));

    surface_.clear();
    const auto bmp = surface_.getPicture();
    const std::size_t stride = (598 * 3 + 3) & ~3u;
    for (std::size_t row = 0; row < 774; ++row) {
        for (std::size_t i = 0; i < 598 * 3; ++i) {
            ASSERT_EQ(bmp[54 + row * stride + i], 0xFF) << row << "," << i;
        }
    }
}

struct UnitCase {
    const char* name;
    CoordinateUnit unit;
    int one; // one inch (96 pixels) in the unit
};

void PrintTo(const UnitCase& c, std::ostream* os) {
    *os << c.name;
}

class Units : public Panel, public testing::WithParamInterface<UnitCase> {};

TEST_P(Units, ScalePositionsAndSizes) {
    surface_.setUnit(GetParam().unit);
    const int inch = GetParam().one;
    surface_.drawPicture(picture(1, 1, {0x0000FF}), inch, inch / 2, inch / 4, inch / 4);
    EXPECT_EQ(at(96, 48), 0x0000FFu);
    EXPECT_EQ(at(119, 71), 0x0000FFu);
    EXPECT_EQ(at(120, 48), kWhite);
    EXPECT_EQ(at(95, 48), kWhite);
}

const UnitCase kUnitCases[] = {
    {"pixels", CoordinateUnit::Pixels, 96},
    {"tenth_mm", CoordinateUnit::TenthMillimetres, 254},
    {"hundredth_mm", CoordinateUnit::HundredthMillimetres, 2540},
    {"hundredth_inch", CoordinateUnit::HundredthInches, 100},
    {"thousandth_inch", CoordinateUnit::ThousandthInches, 1000},
    {"twips", CoordinateUnit::Twips, 1440},
};

INSTANTIATE_TEST_SUITE_P(Coordinates, Units, testing::ValuesIn(kUnitCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(Panel, BackgroundPictureFillsClearTiledOrCentred) {
    platform::Raster tile(2, 1, platform::toPixel(0x0000FF));
    tile.row(0)[1] = platform::toPixel(0x00FF00);
    const auto bytes = rasterToBmp(tile);
    DrawingSurface panel(5, 3, kBackground);
    panel.setBackgroundPicture(bytes, BackgroundMode::Tiled);
    panel.clear();
    for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(platform::toColourRef(panel.bitmap().pixel(x, 2)), x % 2 ? 0x00FF00u : 0x0000FFu);
    }
    panel.setBackgroundPicture(bytes, BackgroundMode::CentredShrunk);
    panel.clear();
    EXPECT_EQ(platform::toColourRef(panel.bitmap().pixel(1, 1)), 0x0000FFu);
    EXPECT_EQ(platform::toColourRef(panel.bitmap().pixel(2, 1)), 0x00FF00u);
    EXPECT_EQ(platform::toColourRef(panel.bitmap().pixel(0, 1)), kBackground);
    EXPECT_EQ(platform::toColourRef(panel.bitmap().pixel(1, 0)), kBackground);
}

TEST_F(Panel, EveryChangeIsReported) {
    std::vector<platform::PixelRect> changes;
    surface_.setChangeListener([&](platform::PixelRect r) { changes.push_back(r); });
    surface_.drawPicture(picture(3, 2, std::vector<Colour>(6, 0)), 4, 5);
    surface_.clear();
    surface_.resize(10, 10);
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[0].x, 4);
    EXPECT_EQ(changes[0].width, 3);
    EXPECT_EQ(changes[1].width, 598);
    EXPECT_EQ(changes[2].height, 10);
}

} // namespace
} // namespace vantrel::imaging
