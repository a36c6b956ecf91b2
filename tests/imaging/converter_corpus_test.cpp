// The converter's decoders over the public corpus: results against the libraries' own readers or
// the reference files that ship with the suites, clean refusal of bad files, and no crash on any
// file of the corpus.

#include "imaging/converter.h"
#include "tests/imaging/corpus_path.h"
#include "tests/support/sandbox.h"

#include <QImage>
#include <QString>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::imaging {
namespace {

namespace fs = std::filesystem;

struct Rgb {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint8_t> pixels; // red, green, blue, rows top-down
};

std::uint32_t le32(const std::string& b, std::size_t at) {
    auto u = [&](std::size_t i) { return std::uint32_t{static_cast<std::uint8_t>(b[at + i])}; };
    return u(0) | u(1) << 8 | u(2) << 16 | u(3) << 24;
}

// Converts `file` to BMP with the converter and reads the result back as RGB.
class Decoded {
public:
    int run(const fs::path& file) {
        const fs::path out = sandbox_ / "out.bmp";
        fs::remove(out);
        const int code = toBmp(file.string(), out.string());
        if (code == 1) {
            const std::string b = test::Sandbox::read(out);
            rgb.width = le32(b, 18);
            rgb.height = le32(b, 22);
            const std::size_t stride = (3 * std::size_t{rgb.width} + 3) / 4 * 4;
            rgb.pixels.clear();
            for (std::uint32_t y = 0; y < rgb.height; ++y) {
                const std::size_t at = 54 + (rgb.height - 1 - y) * stride;
                for (std::uint32_t x = 0; x < rgb.width; ++x) {
                    rgb.pixels.push_back(static_cast<std::uint8_t>(b[at + 3 * x + 2]));
                    rgb.pixels.push_back(static_cast<std::uint8_t>(b[at + 3 * x + 1]));
                    rgb.pixels.push_back(static_cast<std::uint8_t>(b[at + 3 * x]));
                }
            }
        }
        return code;
    }
    Rgb rgb;

private:
    test::Sandbox sandbox_;
};

// Qt's reader as the reference for PNG: it keeps the stored samples (no gamma conversion).
std::optional<Rgb> qtRgb(const fs::path& file) {
    QImage image(QString::fromStdString(file.string()));
    if (image.isNull()) {
        return std::nullopt;
    }
    image = image.convertToFormat(QImage::Format_RGB888);
    Rgb out{
        static_cast<std::uint32_t>(image.width()), static_cast<std::uint32_t>(image.height()), {}};
    for (int y = 0; y < image.height(); ++y) {
        const uchar* line = image.constScanLine(y);
        out.pixels.insert(out.pixels.end(), line, line + 3 * image.width());
    }
    return out;
}

// Binary PPM (P6) or PGM (P5) with maxval 255.
std::optional<Rgb> netpbmRgb(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string magic;
    unsigned maxval = 0;
    Rgb out;
    in >> magic >> out.width >> out.height >> maxval;
    in.get();
    if ((magic != "P6" && magic != "P5") || maxval != 255) {
        return std::nullopt;
    }
    const std::size_t n = std::size_t{out.width} * out.height;
    std::vector<std::uint8_t> raw(magic == "P6" ? 3 * n : n);
    in.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(raw.size()));
    if (magic == "P6") {
        out.pixels = raw;
    } else {
        for (std::uint8_t v : raw) {
            out.pixels.insert(out.pixels.end(), {v, v, v});
        }
    }
    return out;
}

void expectSamePixels(const Rgb& got, const Rgb& want, int tolerance = 0) {
    ASSERT_EQ(got.width, want.width);
    ASSERT_EQ(got.height, want.height);
    ASSERT_EQ(got.pixels.size(), want.pixels.size());
    int bad = 0;
    for (std::size_t i = 0; i < got.pixels.size(); ++i) {
        if (std::abs(int{got.pixels[i]} - int{want.pixels[i]}) > tolerance && ++bad <= 3) {
            ADD_FAILURE() << "pixel " << i / 3 % got.width << "," << i / 3 / got.width
                          << " channel " << i % 3 << ": " << int{got.pixels[i]} << " vs "
                          << int{want.pixels[i]};
        }
    }
    EXPECT_EQ(bad, 0);
}

fs::path corpus(const char* relative) {
    return test::imagingCorpusDir() / relative;
}

// ---- acceptance and refusal, file by file ----

struct FileCase {
    const char* file;
    int expected;
};
class ConverterCorpus : public ::testing::TestWithParam<FileCase> {};

TEST_P(ConverterCorpus, GivesTheExpectedCode) {
    Decoded decoded;
    EXPECT_EQ(decoded.run(corpus(GetParam().file)), GetParam().expected);
}

const FileCase kFiles[] = {
    {"libjpeg-turbo-testimages/testorig.jpg", 1},
    {"libjpeg-turbo-testimages/testimgint.jpg", 1},
    {"libjpeg-turbo-testimages/testimgari.jpg", 1},
    {"libjpeg-turbo-testimages/monkey12.jpg", -3}, // 12-bit samples: refused, never exit()
    {"pillow/jpeg/pil_sample_cmyk.jpg", -3},       // four components
    {"pillow/jpeg/hopper_gray.jpg", 1},
    {"zigimg/jpeg/subsampling_410.jpg", 1},
    {"zigimg/jpeg/tuba_restart_prog.jpg", 1},
    {"image-rs/regression/jpg/oss-fuzz-36829.jpeg", -3}, // corrupt scan header
    {"bmpsuite/g/rgb24.bmp", 1},
    {"bmpsuite/g/pal8.bmp", -3}, // the BMP decoder takes 24 bits only
    {"bmpsuite/g/pal8rle.bmp", -3},
    {"bmpsuite/q/rgb24rle24.bmp", -3},
    {"bmpsuite/b/reallybig.bmp", -3},
    {"bmpsuite/b/badbitssize.bmp", -3},
    {"bmpsuite/b/shortfile.bmp", -3},
    {"image-rs/bad/bmp/Bad_width.bmp", -3},
    {"libtiff-test-images/rgb-3c-8b.tiff", 1},
    {"libtiff-test-images/palette-1c-4b.tiff", 1},
    {"libtiff-test-images/testfax4.tiff", 1},
    {"libtiff-test-images/test_ifd_loop_to_self.tif", 1},
    {"pillow/tiff/libtiff_segfault.tif", -3},
    // Strips that libtiff cannot decode whole fail the file instead of leaving garbage rows:
    {"libtiff-test-images/testfax3_bug54_1dnoEOL.tif", -3}, // fax lines end early
    {"libtiff-test-images/testfax3_bug_513.tiff", -3},      // fax line overruns the width
    {"pillow/tiff/crash-2020-10-test.tif", -3},             // broken deflate data
    {"pngsuite/basi2c08.png", 1},
    {"pngsuite/basn6a16.png", 1},
    {"pngsuite/xcsn0g01.png", -3},
    {"libpng-testpngs/crashers/huge_IDAT.png", -3},
    {"zigimg/pcx/test-bpp8.pcx", 1},
    {"zigimg/pcx/test-bpp24.pcx", 1},
    {"zigimg/pcx/test-bpp1.pcx", -3}, // 1 bit x 1 plane: not a PCX this converter reads
    {"pillow/pcx/odd_stride.pcx", 1},
    {"pillow/pcx/pcx_overrun.bin", -3},
    {"pillow/pcx/pcx_overrun2.bin", -3},
    {"sdl-image-samples/sample.jpg", 1},
    {"pygif-suite/max-size.gif", -3}, // no GIF decoder in the converter
};
INSTANTIATE_TEST_SUITE_P(Files, ConverterCorpus, ::testing::ValuesIn(kFiles), [](const auto& row) {
    std::string name = fs::path(row.param.file).stem().string();
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    return name + (row.param.expected == 1 ? "_decodes" : "_refused");
});

// ---- pixels ----

TEST(ConverterPixels, OnePictureInFourFormatsDecodesToTheSamePixels) {
    Decoded bmp, other;
    ASSERT_EQ(bmp.run(corpus("sdl-image-samples/sample.bmp")), 1);
    for (const char* file : {"sdl-image-samples/sample.pcx", "sdl-image-samples/sample.png",
                             "sdl-image-samples/sample.tif"}) {
        SCOPED_TRACE(file);
        ASSERT_EQ(other.run(corpus(file)), 1);
        expectSamePixels(other.rgb, bmp.rgb);
    }
    ASSERT_EQ(other.run(corpus("sdl-image-samples/sample.jpg")), 1);
    expectSamePixels(other.rgb, bmp.rgb, 12); // lossy
}

TEST(ConverterPixels, BmpTiffAndPcxMatchTheirReferences) {
    Decoded d;
    ASSERT_EQ(d.run(corpus("bmpsuite/g/rgb24.bmp")), 1);
    expectSamePixels(d.rgb, *qtRgb(corpus("bmpsuite/reference/rgb24.png")));
    ASSERT_EQ(d.run(corpus("libtiff-test-images/rgb-3c-8b.tiff")), 1);
    expectSamePixels(d.rgb, *netpbmRgb(corpus("libtiff-test-images/rgb-3c-8b.ppm")));
    ASSERT_EQ(d.run(corpus("libtiff-test-images/minisblack-1c-8b.tiff")), 1);
    expectSamePixels(d.rgb, *netpbmRgb(corpus("libtiff-test-images/minisblack-1c-8b.pgm")));
    SCOPED_TRACE("pcx");
    Decoded eight;
    ASSERT_EQ(d.run(corpus("zigimg/pcx/test-bpp24.pcx")), 1);
    ASSERT_EQ(eight.run(corpus("zigimg/pcx/test-bpp8.pcx")), 1);
    expectSamePixels(eight.rgb, d.rgb, 32); // the same picture reduced to 256 colours
}

// Every PngSuite file decodes, except the corrupt "x" files; those without transparency or more
// than 8 bits per sample must give Qt's pixels exactly.
TEST(ConverterPixels, PngSuiteAgainstLibpng) {
    Decoded d;
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(corpus("pngsuite"))) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".png") {
            continue;
        }
        SCOPED_TRACE(name);
        const int code = d.run(entry.path());
        if (name[0] == 'x') {
            EXPECT_EQ(code, -3);
            continue;
        }
        ASSERT_EQ(code, 1);
        const std::string kind = name.substr(4, 4); // e.g. "0g04", "2c08", "3p08"
        const bool plain = (kind[1] == 'g' || kind[1] == 'c' || kind[1] == 'p') && kind[0] != '4' &&
                           kind[0] != '6' && kind.substr(2) != "16" && name[0] != 't';
        if (plain) {
            ++compared;
            expectSamePixels(d.rgb, *qtRgb(entry.path()));
        }
    }
    EXPECT_GT(compared, 60);
}

TEST(ConverterPixels, PhotoCdOnlyWithItsSignature) {
    test::Sandbox box;
    // A flat PhotoYCC pack: luma 100 and neutral chroma (156, 137) give grey 136.
    std::string pack(0x30000 + 768 * 512 * 3 / 2, '\0');
    pack.resize(1048576, '\0');
    for (std::size_t pair = 0; pair < 256; ++pair) {
        const std::size_t at = 0x30000 + pair * 3072;
        std::fill_n(pack.begin() + static_cast<std::ptrdiff_t>(at), 1536, char{100});
        std::fill_n(pack.begin() + static_cast<std::ptrdiff_t>(at + 1536), 384,
                    static_cast<char>(156));
        std::fill_n(pack.begin() + static_cast<std::ptrdiff_t>(at + 1920), 384,
                    static_cast<char>(137));
    }
    const fs::path unsigned_ = box.write("large.bin", pack);
    pack.replace(0x800, 7, "PCD_IPI");
    const fs::path signed_ = box.write("photo.pcd", pack);
    Decoded d;
    EXPECT_EQ(d.run(unsigned_), -3);
    ASSERT_EQ(d.run(signed_), 1);
    EXPECT_EQ(d.rgb.width, 768u);
    EXPECT_EQ(d.rgb.height, 512u);
    EXPECT_EQ(d.rgb.pixels[0], 136);
    EXPECT_EQ(d.rgb.pixels[1], 136);
    EXPECT_EQ(d.rgb.pixels[2], 136);
    pack.resize(1048575);
    EXPECT_EQ(d.run(box.write("short.pcd", pack)), -3);
}

// ---- robustness: every file of the corpus gives 1 or -3, within the sanitizers ----

TEST(ConverterRobustness, EveryCorpusFileDecodesOrIsRefused) {
    Decoded d;
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(test::imagingCorpusDir())) {
        if (!entry.is_regular_file()) {
            continue;
        }
        ++files;
        const int code = d.run(entry.path());
        EXPECT_TRUE(code == 1 || code == -3) << entry.path() << " gave " << code;
    }
    EXPECT_GT(files, 1000);
}

} // namespace
} // namespace vantrel::imaging
