// The raster layer: its fast paths against plain reference loops on patterned pixels, clipping at
// every edge, and the colour table of indexed sources.

#include "platform/raster.h"

#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace vantrel::platform {
namespace {

// 24-bit bottom-up rows with a few pixels of exactly the key colour.
struct Bgr24Picture {
    int width, height;
    std::size_t stride;
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint32_t> asBgrx; // the same pixels, top-down 32-bit

    Bgr24Picture(int w, int h, std::uint32_t keyPixel)
        : width(w)
        , height(h)
        , stride((std::size_t(w) * 3 + 3) & ~std::size_t{3})
        , bytes(stride * std::size_t(h), 0xEE) // padding that must never be drawn
        , asBgrx(std::size_t(w) * std::size_t(h)) {
        std::mt19937 random(42);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                std::uint32_t p = random() & 0xFFFFFF;
                if (random() % 3 == 0) {
                    p = keyPixel & 0xFFFFFF;
                }
                std::uint8_t* at = bytes.data() + std::size_t(h - 1 - y) * stride + x * 3;
                at[0] = std::uint8_t(p);
                at[1] = std::uint8_t(p >> 8);
                at[2] = std::uint8_t(p >> 16);
                asBgrx[std::size_t(y) * std::size_t(w) + std::size_t(x)] = p | 0x5A000000;
            }
        }
    }
    PixelSource bgr24() const {
        return {PixelSource::Format::Bgr24, width, height,
                bytes.data() + std::size_t(height - 1) * stride, -std::ptrdiff_t(stride)};
    }
    PixelSource bgrx32() const {
        return {PixelSource::Format::Bgrx32, width, height,
                reinterpret_cast<const std::uint8_t*>(asBgrx.data()), std::ptrdiff_t(width) * 4};
    }
};

Raster patterned(int w, int h) {
    Raster r(w, h, 0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            r.row(y)[x] = kOpaque | std::uint32_t(x * 7 + y * 13) * 0x010305u;
        }
    }
    return r;
}

bool same(const Raster& a, const Raster& b) {
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y)) {
                ADD_FAILURE() << "differs at " << x << "," << y;
                return false;
            }
        }
    }
    return true;
}

struct Placement {
    const char* name;
    PixelRect dest; // the size is the picture's
};

void PrintTo(const Placement& p, std::ostream* os) {
    *os << p.name;
}

class KeyedCopy : public testing::TestWithParam<Placement> {};

// Each vector width of the 24-bit rows in turn (the processor's widest, then the narrower ones).
class VectorPaths {
public:
    template <class Body>
    static void each(Body body) {
        for (const VectorPath path :
             {VectorPath::Best, VectorPath::Avx2, VectorPath::Ssse3, VectorPath::Plain}) {
            useVectorPath(path);
            body(path);
        }
        useVectorPath(VectorPath::Best);
    }
};

// The 24-bit 1:1 fast path against the plain per-pixel loop, inside and across every edge. The
// widths give each vector loop (16, 8, then 4 pixels a step) and the scalar tail something to do.
TEST_P(KeyedCopy, MatchesThePlainLoop) {
    VectorPaths::each([](VectorPath path) {
        SCOPED_TRACE(static_cast<int>(path));
        const std::uint32_t key = toPixel(0x00FFFFFF);
        for (int width : {37, 40}) {
            const Bgr24Picture picture(width, 23, key);
            const PixelRect dest{GetParam().dest.x, GetParam().dest.y, width, picture.height};
            Raster fast = patterned(40, 30);
            Raster plain = patterned(40, 30);
            transparentBlt(fast, dest, picture.bgr24(), key, StretchMode::Halftone);
            for (int y = 0; y < picture.height; ++y) {
                for (int x = 0; x < picture.width; ++x) {
                    const int tx = dest.x + x, ty = dest.y + y;
                    const std::uint32_t p = picture.asBgrx[std::size_t(y * picture.width + x)];
                    if (tx >= 0 && ty >= 0 && tx < 40 && ty < 30 &&
                        (p & 0xFFFFFF) != (key & 0xFFFFFF)) {
                        plain.row(ty)[tx] = p | kOpaque;
                    }
                }
            }
            EXPECT_TRUE(same(fast, plain)) << width;
            // The general path (another source format) gives the same pixels.
            Raster general = patterned(40, 30);
            transparentBlt(general, dest, picture.bgrx32(), key, StretchMode::Halftone);
            EXPECT_TRUE(same(general, plain)) << width;
        }
    });
}

TEST_P(KeyedCopy, CopyMatchesThePlainLoop) {
    VectorPaths::each([](VectorPath path) {
        SCOPED_TRACE(static_cast<int>(path));
        for (int width : {37, 40}) {
            const Bgr24Picture picture(width, 23, 0);
            const PixelRect dest{GetParam().dest.x, GetParam().dest.y, width, picture.height};
            Raster fast = patterned(40, 30);
            Raster plain = patterned(40, 30);
            stretchBlt(fast, dest, picture.bgr24(), rop::kSrcCopy, StretchMode::Halftone);
            for (int y = 0; y < picture.height; ++y) {
                for (int x = 0; x < picture.width; ++x) {
                    const int tx = dest.x + x, ty = dest.y + y;
                    if (tx >= 0 && ty >= 0 && tx < 40 && ty < 30) {
                        plain.row(ty)[tx] =
                            picture.asBgrx[std::size_t(y * picture.width + x)] | kOpaque;
                    }
                }
            }
            EXPECT_TRUE(same(fast, plain)) << width;
        }
    });
}

const Placement kPlacements[] = {
    {"inside", {1, 2, 37, 23}},
    {"top_left_cut", {-5, -4, 37, 23}},
    {"bottom_right_cut", {20, 15, 37, 23}},
    {"outside", {40, 0, 37, 23}},
    {"far_negative", {-100, -100, 37, 23}},
};

INSTANTIATE_TEST_SUITE_P(Edges, KeyedCopy, testing::ValuesIn(kPlacements),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(Raster, HalftoneShrinkAveragesAndColorOnColorPicks) {
    Raster source(4, 2, 0);
    const std::uint32_t values[] = {0, 40, 80, 120, 200, 240, 20, 60};
    for (int i = 0; i < 8; ++i) {
        source.row(i / 4)[i % 4] = kOpaque | values[i]; // blue channel only
    }
    Raster halftone(2, 1, 0);
    stretchBlt(halftone, {0, 0, 2, 1}, source.source(), rop::kSrcCopy, StretchMode::Halftone);
    EXPECT_EQ(halftone.pixel(0, 0), kOpaque | 120); // (0+40+200+240)/4
    EXPECT_EQ(halftone.pixel(1, 0), kOpaque | 70);  // (80+120+20+60)/4
    Raster nearest(2, 1, 0);
    stretchBlt(nearest, {0, 0, 2, 1}, source.source(), rop::kSrcCopy, StretchMode::ColorOnColor);
    EXPECT_EQ(nearest.pixel(0, 0), kOpaque | 240); // the pixel under each centre
    EXPECT_EQ(nearest.pixel(1, 0), kOpaque | 60);
}

TEST(Raster, IndexedSourcesReadPastTheTableAsBlack) {
    const std::uint8_t indices[] = {0, 1, 2, 255};
    const std::uint32_t table[] = {0xFF112233, 0xFF445566};
    const PixelSource eight{PixelSource::Format::Indexed8, 4, 1, indices, 4, table};
    std::uint32_t row[4];
    fetchRow(eight, 0, 0, 4, row);
    EXPECT_EQ(row[0], 0xFF112233u);
    EXPECT_EQ(row[1], 0xFF445566u);
    EXPECT_EQ(row[2], kOpaque);
    EXPECT_EQ(row[3], kOpaque);
    const std::uint8_t bits[] = {0b10100000};
    const PixelSource one{PixelSource::Format::Indexed1, 3, 1, bits, 1, table};
    fetchRow(one, 0, 0, 3, row);
    EXPECT_EQ(row[0], 0xFF445566u);
    EXPECT_EQ(row[1], 0xFF112233u);
    EXPECT_EQ(row[2], 0xFF445566u);
}

TEST(Raster, EmptyRectanglesAndSourcesDrawNothing) {
    Raster target = patterned(4, 4);
    const Raster before = patterned(4, 4);
    const Raster source(2, 2, kOpaque);
    stretchBlt(target, {0, 0, 0, 4}, source.source(), rop::kSrcCopy, StretchMode::Halftone);
    stretchBlt(target, {0, 0, 4, -1}, source.source(), rop::kSrcCopy, StretchMode::Halftone);
    stretchBlt(target, {0, 0, 4, 4}, Raster().source(), rop::kSrcCopy, StretchMode::Halftone);
    transparentBlt(target, {-2, -2, 2, 2}, source.source(), 0, StretchMode::Halftone);
    EXPECT_TRUE(same(target, before));
}

} // namespace
} // namespace vantrel::platform
