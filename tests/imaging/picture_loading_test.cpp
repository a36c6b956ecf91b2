// LoadPicture against the public corpus: each loadable file decodes to the same pixels as a
// reference (the suite's own rendering, or Qt's decoder of the same file), each refused file gives
// handle 0, and the malformed suites load or fail without a sanitizer report.

#include "imaging/draw_picture.h"
#include "imaging/picture_decoders.h"
#include "imaging/picture_registry.h"
#include "tests/imaging/bmp_builder.h"
#include "tests/support/sandbox.h"

#include <QImage>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace vantrel::imaging {
namespace {

namespace fs = std::filesystem;

// The environment's corpus folder when set, else the one this build was configured with.
fs::path corpus() {
    return std::getenv("VANTREL_CORPUS_DIR") ? test::corpusDir()
                                             : fs::path(VANTREL_PICTURE_CORPUS_DIR);
}

std::vector<std::uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

QImage qimage(const platform::Raster& r) {
    QImage image(r.width(), r.height(), QImage::Format_RGB32);
    for (int y = 0; y < r.height(); ++y) {
        std::memcpy(image.scanLine(y), r.row(y), r.strideBytes());
    }
    return image;
}

// The picture as the panel shows it: drawn at natural size over white.
QImage rendered(const PictureObject& picture) {
    platform::Raster raster(picture.width, picture.height, 0xFFFFFFFFu);
    DrawPictureToDC(picture, raster, 0, 0, -1, -1, DrawMode::copy());
    return qimage(raster);
}

// Largest difference of one channel over all pixels; -1 when the sizes differ.
int maxDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) {
        return -1;
    }
    int most = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            most = std::max({most, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                             std::abs(qBlue(p) - qBlue(q))});
        }
    }
    return most;
}

struct DecodeCase {
    const char* name;
    const char* file;      // under the corpus folder
    const char* reference; // "" refused; "=" Qt's decoding of the same file; else a file
    int tolerance = 0;     // per channel
};

void PrintTo(const DecodeCase& c, std::ostream* os) {
    *os << c.name;
}

class CorpusDecode : public testing::TestWithParam<DecodeCase> {};

TEST_P(CorpusDecode, GivesTheReferencePixelsOrNoPicture) {
    const DecodeCase& c = GetParam();
    const fs::path dir = corpus();
    const PictureHandle handle = LoadPicture(dir / c.file);
    const PictureObject* picture = pictureRegistry().find(handle);
    if (std::string_view(c.reference).empty()) {
        EXPECT_EQ(handle, 0u);
        return;
    }
    ASSERT_NE(picture, nullptr);
    const std::string reference = c.reference == std::string_view("=") ? c.file : c.reference;
    QImage expected;
    if (reference.ends_with(".rgb")) { // raw red, green, blue triples
        const auto raw = readFile(dir / reference);
        ASSERT_EQ(raw.size(), std::size_t(picture->width) * std::size_t(picture->height) * 3);
        expected = QImage(raw.data(), picture->width, picture->height, picture->width * 3,
                          QImage::Format_RGB888)
                       .copy();
    } else {
        ASSERT_TRUE(expected.load(QString::fromStdString((dir / reference).string())));
    }
    if (picture->kind == PictureKind::Png) { // the stored pixels keep their alpha
        const QImage argb = expected.convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(argb.size(), QSize(picture->width, picture->height));
        for (int y = 0; y < picture->height; ++y) {
            ASSERT_EQ(0, std::memcmp(argb.constScanLine(y),
                                     picture->pixels.data() + std::size_t(y) * picture->stride,
                                     std::size_t(picture->width) * 4))
                << "row " << y;
        }
    } else {
        const int difference =
            maxDifference(rendered(*picture), expected.convertToFormat(QImage::Format_RGB32));
        EXPECT_GE(difference, 0) << "size differs";
        EXPECT_LE(difference, c.tolerance);
    }
    UnloadPicture(handle);
    EXPECT_EQ(pictureRegistry().find(handle), nullptr);
}

const DecodeCase kDecodeCases[] = {
    {"bmp_1bit", "bmpsuite/g/pal1.bmp", "bmpsuite/reference/pal1.png"},
    {"bmp_1bit_coloured", "bmpsuite/g/pal1bg.bmp", "bmpsuite/reference/pal1bg.png"},
    {"bmp_4bit", "bmpsuite/g/pal4.bmp", "bmpsuite/reference/pal4.png"},
    {"bmp_8bit", "bmpsuite/g/pal8.bmp", "bmpsuite/reference/pal8.png"},
    {"bmp_8bit_no_colour_count", "bmpsuite/g/pal8-0.bmp", "bmpsuite/reference/pal8.png"},
    {"bmp_8bit_top_down", "bmpsuite/g/pal8topdown.bmp", "bmpsuite/reference/pal8.png"},
    {"bmp_8bit_padding_3", "bmpsuite/g/pal8w125.bmp", "bmpsuite/reference/pal8w125.png"},
    {"bmp_8bit_core_header", "bmpsuite/g/pal8os2.bmp", "bmpsuite/reference/pal8.png"},
    {"bmp_8bit_v5_header", "bmpsuite/g/pal8v5.bmp", "bmpsuite/reference/pal8.png"},
    {"bmp_24bit", "bmpsuite/g/rgb24.bmp", "bmpsuite/reference/rgb24.png"},
    {"bmp_24bit_with_table", "bmpsuite/g/rgb24pal.bmp", "bmpsuite/reference/rgb24.png"},
    {"bmp_32bit", "bmpsuite/g/rgb32.bmp", "bmpsuite/reference/rgb24.png"},
    {"bmp_rle8_refused", "bmpsuite/g/pal8rle.bmp", ""},
    {"bmp_rle4_refused", "bmpsuite/g/pal4rle.bmp", ""},
    {"bmp_16bit_refused", "bmpsuite/g/rgb16.bmp", ""},
    {"bmp_bitfields_refused", "bmpsuite/g/rgb32bf.bmp", ""},
    {"bmp_truncated_refused", "bmpsuite/b/shortfile.bmp", ""},
    {"bmp_huge_refused", "bmpsuite/b/reallybig.bmp", ""},
    {"bmp_negative_width_refused", "bmpsuite/b/badwidth.bmp", ""},
    {"jpeg_baseline", "libjpeg-turbo-testimages/testorig.jpg", "=", 2},
    {"jpeg_progressive", "sdl-image-samples/sample.jpg", "=", 2},
    {"jpeg_grey", "pillow/jpeg/hopper_gray.jpg", "=", 2},
    {"jpeg_12bit_refused", "libjpeg-turbo-testimages/monkey12.jpg", ""},
    {"jpeg_cmyk_refused", "pillow/jpeg/pil_sample_cmyk.jpg", ""},
    {"png_rgb", "pngsuite/f00n2c08.png", "="},
    {"png_rgb_sample", "sdl-image-samples/sample.png", "="},
    {"png_palette_transparency", "pngsuite/tm3n3p02.png", "="},
    {"png_grey_filtered", "pngsuite/f04n0g08.png", "="},

    {"png_bad_colour_type_refused", "pngsuite/xc1n0g08.png", ""},
    {"png_bad_signature_refused", "pngsuite/xs1n0g01.png", ""},
    {"png_missing_data_refused", "pngsuite/xdtn0g01.png", ""},
    {"gif", "giflib-pic/treescap.gif", "giflib-pic/expected-rgb/treescap.rgb"},
    {"gif_interlaced", "giflib-pic/treescap-interlaced.gif",
     "giflib-pic/expected-rgb/treescap.rgb"},
    {"gif_grid", "giflib-pic/gifgrid.gif", "giflib-pic/expected-rgb/gifgrid.rgb"},
    {"gif_zero_width_refused", "pygif-suite/zero-width.gif", ""},
    {"gif_huge_refused", "pygif-suite/max-size.gif", ""},
    {"gif_broken_lzw_refused", "pygif-suite/invalid-code.gif", ""},
    {"icon_24bit", "sdl-image-samples/sample.ico", "sdl-image-samples/sample.bmp"},
    {"cursor_24bit", "sdl-image-samples/sample.cur", "sdl-image-samples/sample.bmp"},
    {"icon_no_entries_refused", "pillow/ico-cur/no_cursors.cur", ""},
    {"icon_bomb_refused", "pillow/ico-cur/decompression_bomb.ico", ""},
    {"pcx_three_planes_refused", "sdl-image-samples/sample.pcx", ""},
    {"pcx_overrun_refused", "pillow/pcx/pcx_overrun.bin", ""},
};

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusDecode, testing::ValuesIn(kDecodeCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(PictureLoading, EmptyBufferEmptyNameAndMissingFileGiveNoHandle) {
    test::Sandbox sandbox;
    EXPECT_EQ(LoadPicture(std::span<const std::uint8_t>()), 0u);
    EXPECT_EQ(LoadPicture(fs::path()), 0u);
    EXPECT_EQ(LoadPicture(sandbox.path() / "missing.bmp"), 0u);
    EXPECT_EQ(LoadPicture(sandbox.path()), 0u); // a folder is not a picture
    const std::uint8_t five[] = {'B', 'M', 0, 0, 0};
    EXPECT_EQ(LoadPicture(five), 0u); // fewer than 6 bytes
    EXPECT_EQ(pictureRegistry().size(), 0u);
    UnloadPicture(0); // nothing registered, nothing to do
}

TEST(PictureLoading, HandlesAreNeverReused) {
    const auto bytes = readFile(corpus() / "bmpsuite/g/pal8.bmp");
    const PictureHandle first = LoadPicture(bytes);
    ASSERT_NE(first, 0u);
    UnloadPicture(first);
    const PictureHandle second = LoadPicture(bytes);
    EXPECT_NE(second, first);
    EXPECT_EQ(pictureRegistry().find(first), nullptr);
    UnloadPicture(first); // a stale handle does not free the new picture
    EXPECT_NE(pictureRegistry().find(second), nullptr);
    UnloadPicture(second);
}

// A page taken over or borrowed must show what a copied one shows; files of another layout are
// copied whatever the caller asked, so their buffer may go at once.
TEST(PictureLoading, TakingOverAndBorrowingGiveTheSamePictureAsCopying) {
    std::vector<std::uint8_t> pixels(test::bmpStride(5, 24) * 3);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<std::uint8_t>(i * 37);
    }
    const auto page = test::buildBmp({.width = 5, .height = 3, .bitCount = 24, .pixels = pixels});
    const auto grey =
        test::buildBmp({.width = 5,
                        .height = -3,
                        .bitCount = 8,
                        .clrUsed = 2,
                        .table = {0x000000, 0x808080},
                        .pixels = std::vector<std::uint8_t>(test::bmpStride(5, 8) * 3, 1)});
    for (const auto& file : {page, grey}) {
        ASSERT_NE(decodePictureBytes(file), nullptr);
        const PictureHandle copied = LoadPicture(std::span<const std::uint8_t>(file));
        auto giveAway = file;
        const PictureHandle taken = LoadPicture(std::move(giveAway));
        auto lent = file;
        const PictureHandle borrowed = LoadPictureBorrowing(lent);
        if (file == grey) {
            lent.assign(lent.size(), 0xFF); // copied, so this cannot reach the picture
        }
        const QImage expected = rendered(*pictureRegistry().find(copied));
        EXPECT_EQ(rendered(*pictureRegistry().find(taken)), expected);
        EXPECT_EQ(rendered(*pictureRegistry().find(borrowed)), expected);
        for (const PictureHandle handle : {copied, taken, borrowed}) {
            UnloadPicture(handle);
        }
    }
}

// An icon file whose entries are 24-bit DIBs of the given sizes and directory colour counts;
// entry i is filled with grey level 10 * (i + 1), except for its transparent first pixel.
std::vector<std::uint8_t> iconFile(const std::vector<std::pair<int, int>>& entries) {
    std::vector<std::uint8_t> file(6 + 16 * entries.size(), 0);
    auto put = [&](std::size_t at, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) {
            file[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
        }
    };
    put(2, 1, 2);
    put(4, std::uint32_t(entries.size()), 2);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto [size, colours] = entries[i];
        const std::size_t xorStride = (std::size_t(size) * 3 + 3) & ~std::size_t{3};
        const std::size_t andStride = (std::size_t(size) + 31) / 32 * 4;
        std::vector<std::uint8_t> dib(40 + (xorStride + andStride) * std::size_t(size), 0);
        dib[0] = 40;
        dib[4] = std::uint8_t(size);
        dib[8] = std::uint8_t(size * 2);
        dib[12] = 1;
        dib[14] = 24;
        std::fill(dib.begin() + 40, dib.begin() + 40 + std::ptrdiff_t(xorStride) * size,
                  std::uint8_t(10 * (i + 1)));
        // The top row is stored last; its first pixel black with its AND bit set (transparent).
        std::fill_n(dib.begin() + 40 + std::ptrdiff_t(xorStride) * (size - 1), 3, 0);
        dib[40 + xorStride * std::size_t(size) + andStride * std::size_t(size - 1)] = 0x80;
        const std::size_t entry = 6 + 16 * i;
        file[entry] = std::uint8_t(size);
        file[entry + 1] = std::uint8_t(size);
        file[entry + 2] = std::uint8_t(colours);
        put(entry + 4, 1, 2);
        put(entry + 6, 24, 2);
        put(entry + 8, std::uint32_t(dib.size()), 4);
        put(entry + 12, std::uint32_t(file.size()), 4);
        file.insert(file.end(), dib.begin(), dib.end());
    }
    return file;
}

TEST(PictureLoading, IconTakesTheFirst32PixelEntryWithMoreThan15ColoursElseTheLast) {
    struct Case {
        std::vector<std::pair<int, int>> entries;
        int width;
        std::uint8_t grey;
    };
    const Case cases[] = {
        {{{16, 16}, {32, 2}, {32, 16}, {32, 0}}, 32, 30}, // 16 colours count as more than 15
        {{{16, 0}, {32, 0}}, 32, 20},                     // 0 in the directory: 256 or more
        {{{16, 0}, {48, 0}, {32, 15}}, 32, 30},           // none qualifies: the last
        {{{32, 2}, {48, 0}}, 48, 20},
    };
    for (const Case& c : cases) {
        const auto bytes = iconFile(c.entries);
        const PictureHandle h = LoadPicture(bytes);
        const PictureObject* icon = pictureRegistry().find(h);
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(icon->kind, PictureKind::Icon);
        EXPECT_EQ(icon->width, c.width);
        // Drawn over blue: the masked first pixel shows the target, the others the entry.
        platform::Raster target(icon->width, icon->height, platform::toPixel(0xFF0000));
        DrawPictureToDC(*icon, target, 0, 0, -1, -1, DrawMode::copy());
        EXPECT_EQ(platform::toColourRef(target.pixel(0, 0)), 0xFF0000u);
        EXPECT_EQ(platform::toColourRef(target.pixel(1, 0)), c.grey * 0x010101u);
        UnloadPicture(h);
    }
}

struct DetectCase {
    const char* name;
    std::vector<std::uint8_t> head;
    std::optional<PictureKind> kind;
};

void PrintTo(const DetectCase& c, std::ostream* os) {
    *os << c.name;
}

class Detection : public testing::TestWithParam<DetectCase> {};

TEST_P(Detection, FollowsTheSignatureTable) {
    std::vector<std::uint8_t> bytes = GetParam().head;
    bytes.resize(8, 0);
    EXPECT_EQ(detectPictureKind(bytes), GetParam().kind);
}

const DetectCase kDetectCases[] = {
    {"bmp", {'B', 'M'}, PictureKind::Bmp},
    {"jpeg", {0xFF, 0xD8}, PictureKind::Jpeg},
    {"png", {0x89, 'P', 'N', 'G'}, PictureKind::Png},
    {"icon", {0, 0, 1, 0, 1, 0}, PictureKind::Icon},
    {"cursor", {0, 0, 2, 0, 3, 0}, PictureKind::Cursor},
    {"icon_without_images", {0, 0, 1, 0, 0, 0}, std::nullopt},
    {"gif87", {'G', 'I', 'F', '8', '7', 'a'}, PictureKind::Gif},
    {"gif89", {'G', 'I', 'F', '8', '9', 'a'}, PictureKind::Gif},
    {"gif88_unknown", {'G', 'I', 'F', '8', '8', 'a'}, std::nullopt},
    {"pcx_8bit_version5", {0x0A, 5, 1, 8}, PictureKind::Pcx8},
    {"pcx_8bit_version6_unknown", {0x0A, 6, 1, 8}, std::nullopt},
    {"pcx_1bit_version3", {0x0A, 3, 1, 1}, PictureKind::Pcx1},
    {"pcx_1bit_version5_unknown", {0x0A, 5, 1, 1}, std::nullopt},
    {"pcx_not_encoded_unknown", {0x0A, 5, 0, 8}, std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Signatures, Detection, testing::ValuesIn(kDetectCases),
                         [](const auto& row) { return std::string(row.param.name); });

// The malformed suites: whatever they claim, loading returns (a handle or 0) with no sanitizer
// report and no huge allocation.
TEST(PictureLoading, MalformedSuitesLoadOrFailCleanly) {
    int files = 0;
    for (const char* folder :
         {"bmpsuite/b", "bmpsuite/q", "libnsgif", "pillow", "image-rs/bad", "image-rs/regression",
          "image-rs/ico", "libpng-testpngs", "pygif-suite", "gif-test-suite", "zigimg"}) {
        for (const auto& entry : fs::recursive_directory_iterator(corpus() / folder)) {
            if (!entry.is_regular_file()) {
                continue;
            }
            UnloadPicture(LoadPicture(entry.path()));
            ++files;
        }
    }
    EXPECT_GT(files, 500);
    EXPECT_EQ(pictureRegistry().size(), 0u);
}

} // namespace
} // namespace vantrel::imaging
