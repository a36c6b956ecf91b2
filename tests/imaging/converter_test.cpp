#include "imaging/bitmap.h"
#include "imaging/converter.h"
#include "tests/imaging/bmp_builder.h"
#include "tests/support/sandbox.h"
#include "tests/support/temporary_folder.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <jpeglib.h>
#include <png.h>
#include <sys/resource.h>

namespace vantrel::imaging {
namespace {

namespace fs = std::filesystem;
using test::BmpSpec;
using test::Bytes;

Bytes readBytes(const fs::path& file) {
    const std::string s = test::Sandbox::read(file);
    return {s.begin(), s.end()};
}

// A 24-bit BMP whose pixels are a pattern that tells rows, columns and channels apart.
Bytes patternBmp(std::int32_t width, std::int32_t height) {
    BmpSpec s{.width = width, .height = height, .bitCount = 24};
    const std::size_t stride = test::bmpStride(width, 24);
    s.pixels.assign(stride * static_cast<std::size_t>(height), 0);
    for (std::int32_t y = 0; y < height; ++y) { // stored row y is picture row height-1-y
        for (std::int32_t x = 0; x < width; ++x) {
            std::uint8_t* p =
                &s.pixels[static_cast<std::size_t>(y) * stride + 3 * static_cast<std::size_t>(x)];
            p[0] = static_cast<std::uint8_t>(x * 7 + y);       // blue
            p[1] = static_cast<std::uint8_t>(y * 11);          // green
            p[2] = static_cast<std::uint8_t>(255 - x * 3 - y); // red
        }
    }
    return buildBmp(s);
}

// Every converter test runs with its own temporary directory, checked empty afterwards: no
// working file "CSWCLASS..." may outlive a call, whatever its result.
class Converter : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directory(out_); }
    void TearDown() override {
        EXPECT_TRUE(fs::is_empty(sandbox_ / "tmp")) << "working files left behind";
        for (const auto& entry : fs::directory_iterator(out_)) {
            EXPECT_EQ(entry.path().filename().string().find(".part"), std::string::npos)
                << "partial target left: " << entry.path();
        }
    }
    fs::path source(const Bytes& bytes, const char* name = "page.bmp") {
        return sandbox_.write(name, std::string(bytes.begin(), bytes.end()));
    }
    fs::path target(const char* name) const { return out_ / name; }

    test::Sandbox sandbox_;
    test::TemporaryFolderOverride tmpdir_{sandbox_ / "tmp"};
    fs::path out_ = sandbox_ / "out";
};

// ---- argument checks and result codes ----

struct CodeCase {
    const char* name;
    std::function<int(const std::string& source, const std::string& target)> call;
    int expected;
};
class ConverterArguments : public Converter, public ::testing::WithParamInterface<CodeCase> {};

TEST_P(ConverterArguments, GiveTheirCodeAndTouchNoFileOnRefusal) {
    const auto& c = GetParam();
    const std::string src = source(patternBmp(4, 3)).string();
    EXPECT_EQ(c.call(src, target("t").string()), c.expected);
    EXPECT_EQ(fs::exists(target("t")), c.expected == 1);
}

const CodeCase kCodes[] = {
    {"jpeg_quality_0", [](auto& s, auto& t) { return toJpeg(s, t, false, 0, true, 0); }, -7},
    {"jpeg_quality_101", [](auto& s, auto& t) { return toJpeg(s, t, false, 101, true, 0); }, -7},
    {"jpeg_smoothing_minus_1", [](auto& s, auto& t) { return toJpeg(s, t, false, 90, true, -1); },
     -7},
    {"jpeg_smoothing_101", [](auto& s, auto& t) { return toJpeg(s, t, false, 90, true, 101); }, -7},
    {"jpeg_no_source_name", [](auto&, auto& t) { return toJpeg("", t, false, 90, true, 0); }, -7},
    {"jpeg_no_target_name", [](auto& s, auto&) { return toJpeg(s, "", false, 90, true, 0); }, -7},
    {"bmp_no_source_name", [](auto&, auto& t) { return toBmp("", t); }, -7},
    {"bmp_no_target_name", [](auto& s, auto&) { return toBmp(s, ""); }, -7},
    {"png_depth_8", [](auto& s, auto& t) { return toPng(s, t, 8); }, -7},
    {"png_depth_32", [](auto& s, auto& t) { return toPng(s, t, 32); }, -7},
    {"png_no_target_name", [](auto& s, auto&) { return toPng(s, "", 24); }, -7},
    {"jpeg_missing_source",
     [](auto& s, auto& t) { return toJpeg(s + ".no", t, false, 90, true, 0); }, -1},
    {"bmp_missing_source", [](auto& s, auto& t) { return toBmp(s + ".no", t); }, -1},
    {"png_missing_source", [](auto& s, auto& t) { return toPng(s + ".no", t, 24); }, -1},
    {"jpeg_quality_1", [](auto& s, auto& t) { return toJpeg(s, t, false, 1, true, 0); }, 1},
    {"jpeg_quality_100", [](auto& s, auto& t) { return toJpeg(s, t, false, 100, true, 0); }, 1},
    {"jpeg_smoothing_100", [](auto& s, auto& t) { return toJpeg(s, t, false, 50, false, 100); }, 1},
    {"bmp", [](auto& s, auto& t) { return toBmp(s, t); }, 1},
    {"png", [](auto& s, auto& t) { return toPng(s, t, 24); }, 1},
    {"target_folder_missing", [](auto& s, auto& t) { return toBmp(s, t + "/no/such/dir/x.bmp"); },
     -4},
};
INSTANTIATE_TEST_SUITE_P(Codes, ConverterArguments, ::testing::ValuesIn(kCodes),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(Converter, SourcesThatAreNoPictureGiveMinusThree) {
    EXPECT_EQ(toBmp(source(test::asBytes("just some text\n"), "notes.txt"), target("a.bmp")), -3);
    // The BMP decoder takes 24-bit files only.
    BmpSpec pal{.width = 4, .height = 2, .bitCount = 8, .table = {0, 0xFFFFFF}};
    EXPECT_EQ(toBmp(source(buildBmp(pal), "pal8.bmp"), target("b.bmp")), -3);
    EXPECT_EQ(toBmp(sandbox_.path().string(), target("c.bmp")), -3); // a folder
    // Large but unknown: never taken for a PhotoCD picture without its signature.
    EXPECT_EQ(toBmp(source(Bytes(1100000, 0x20), "big.bin"), target("d.bmp")), -3);
    EXPECT_TRUE(fs::is_empty(out_));
}

// ---- BMP output ----

TEST_F(Converter, BmpOfOnePixelIsFiftyEightBytes) {
    ASSERT_EQ(toBmp(source(patternBmp(1, 1)), target("one.bmp")), 1);
    const Bytes out = readBytes(target("one.bmp"));
    ASSERT_EQ(out.size(), 58u);
    EXPECT_EQ(test::get32(out, 2), 58u);
    EXPECT_EQ(test::get32(out, 10), 54u);
    EXPECT_EQ(test::get32(out, 14), 40u);
}

TEST_F(Converter, BmpRoundTripIsByteForByteWithZeroPadding) {
    for (std::int32_t width : {1, 2, 3, 4, 5, 33}) {
        const Bytes in = patternBmp(width, 7);
        ASSERT_EQ(toBmp(source(in), target("rt.bmp")), 1);
        EXPECT_EQ(readBytes(target("rt.bmp")), in) << "width " << width;
    }
}

TEST_F(Converter, TopDownSourceComesOutBottomUp) {
    // The same picture stored top-down: rows reversed, negative height.
    const Bytes bottomUp = patternBmp(5, 4);
    Bytes topDown = bottomUp;
    const std::size_t stride = test::bmpStride(5, 24);
    for (std::size_t r = 0; r < 4; ++r) {
        std::copy_n(bottomUp.begin() + static_cast<std::ptrdiff_t>(54 + (3 - r) * stride), stride,
                    topDown.begin() + static_cast<std::ptrdiff_t>(54 + r * stride));
    }
    test::put32(topDown, 22, static_cast<std::uint32_t>(-4));
    ASSERT_EQ(toBmp(source(topDown), target("td.bmp")), 1);
    EXPECT_EQ(readBytes(target("td.bmp")), bottomUp);
}

// ---- PNG output ----

TEST_F(Converter, PngIsAdam7EightBitRgbWithTheSamePixels) {
    const Bytes in = patternBmp(37, 19);
    ASSERT_EQ(toPng(source(in), target("p.png"), 24), 1);
    const Bytes out = readBytes(target("p.png"));
    ASSERT_GT(out.size(), 33u);
    // IHDR right after the signature: width, height, depth, colour type, compression, filter,
    // interlace.
    auto be32 = [&](std::size_t at) {
        return std::uint32_t{out[at]} << 24 | out[at + 1] << 16 | out[at + 2] << 8 | out[at + 3];
    };
    EXPECT_EQ(std::string(out.begin() + 12, out.begin() + 16), "IHDR");
    EXPECT_EQ(be32(16), 37u);
    EXPECT_EQ(be32(20), 19u);
    EXPECT_EQ(out[24], 8); // bits per sample
    EXPECT_EQ(out[25], 2); // RGB
    EXPECT_EQ(out[28], 1); // Adam7

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&image, out.data(), out.size()));
    image.format = PNG_FORMAT_BGR;
    Bytes bgr(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(
        png_image_finish_read(&image, nullptr, bgr.data(), -static_cast<int>(37 * 3), nullptr));
    // Bottom-up BGR rows are the BMP's rows without padding.
    const std::size_t stride = test::bmpStride(37, 24);
    for (std::size_t r = 0; r < 19; ++r) {
        ASSERT_TRUE(std::equal(bgr.begin() + static_cast<std::ptrdiff_t>(r * 111),
                               bgr.begin() + static_cast<std::ptrdiff_t>(r * 111 + 111),
                               in.begin() + static_cast<std::ptrdiff_t>(54 + r * stride)))
            << "row " << r;
    }
}

// ---- JPEG output: byte-identical to the library driven directly with the same settings ----

struct JpegCase {
    const char* name;
    bool grayscale;
    int quality;
    bool optimise;
    int smoothing;
};

// The reference: libjpeg compressing the pattern's top-down RGB (or its BT.601 grey) rows.
Bytes referenceJpeg(const Bytes& bmp, const JpegCase& c) {
    const auto width = static_cast<std::int32_t>(test::get32(bmp, 18));
    const auto height = static_cast<std::int32_t>(test::get32(bmp, 22));
    const std::size_t stride = test::bmpStride(width, 24);
    jpeg_compress_struct codec;
    jpeg_error_mgr errors;
    codec.err = jpeg_std_error(&errors);
    jpeg_create_compress(&codec);
    unsigned char* data = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&codec, &data, &size);
    codec.image_width = static_cast<JDIMENSION>(width);
    codec.image_height = static_cast<JDIMENSION>(height);
    codec.input_components = c.grayscale ? 1 : 3;
    codec.in_color_space = c.grayscale ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&codec);
    codec.optimize_coding = c.optimise;
    codec.smoothing_factor = c.smoothing;
    jpeg_set_quality(&codec, c.quality, TRUE);
    jpeg_start_compress(&codec, TRUE);
    Bytes line(static_cast<std::size_t>(width) * 3);
    for (std::int32_t y = 0; y < height; ++y) {
        const std::uint8_t* p = &bmp[54 + static_cast<std::size_t>(height - 1 - y) * stride];
        for (std::int32_t x = 0; x < width; ++x, p += 3) {
            if (c.grayscale) {
                line[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(
                    (19595u * p[2] + 38470u * p[1] + 7471u * p[0] + 32768u) >> 16);
            } else {
                std::uint8_t* q = &line[3 * static_cast<std::size_t>(x)];
                q[0] = p[2];
                q[1] = p[1];
                q[2] = p[0];
            }
        }
        JSAMPROW row = line.data();
        jpeg_write_scanlines(&codec, &row, 1);
    }
    jpeg_finish_compress(&codec);
    jpeg_destroy_compress(&codec);
    Bytes out(data, data + size);
    std::free(data);
    return out;
}

class ConverterJpeg : public Converter, public ::testing::WithParamInterface<JpegCase> {};

TEST_P(ConverterJpeg, SettingsAreInForce) {
    const JpegCase& c = GetParam();
    const Bytes in = patternBmp(45, 29);
    ASSERT_EQ(toJpeg(source(in), target("j.jpg"), c.grayscale, c.quality, c.optimise, c.smoothing),
              1);
    const Bytes out = readBytes(target("j.jpg"));
    EXPECT_EQ(out, referenceJpeg(in, c));
    // Baseline: a SOF0 frame and no progressive or extended one.
    bool sof0 = false;
    for (std::size_t i = 2; i + 1 < out.size() && !(out[i] == 0xFF && out[i + 1] == 0xDA); ++i) {
        if (out[i] == 0xFF) {
            EXPECT_NE(out[i + 1], 0xC1);
            EXPECT_NE(out[i + 1], 0xC2);
            sof0 = sof0 || out[i + 1] == 0xC0;
        }
    }
    EXPECT_TRUE(sof0);
}

const JpegCase kJpegCases[] = {
    {"program_default_q100_optimised", false, 100, true, 0},
    {"quality_10", false, 10, true, 0},
    {"not_optimised", false, 75, false, 0},
    {"smoothing_60", false, 90, true, 60},
    {"grayscale", true, 80, true, 0},
};
INSTANTIATE_TEST_SUITE_P(Settings, ConverterJpeg, ::testing::ValuesIn(kJpegCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(Converter, JpegAtFullQualityDecodesCloseToTheSource) {
    // A smooth picture (no wrap-around edges), as a scanned page mostly is.
    BmpSpec smooth{.width = 40, .height = 24, .bitCount = 24};
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 40; ++x) {
            smooth.pixels.push_back(static_cast<std::uint8_t>(x * 5));
            smooth.pixels.push_back(static_cast<std::uint8_t>(y * 8));
            smooth.pixels.push_back(static_cast<std::uint8_t>(200 - 2 * x - y));
        }
    }
    const Bytes in = buildBmp(smooth);
    ASSERT_EQ(toJpeg(source(in), target("q.jpg"), false, 100, true, 0), 1);
    ASSERT_EQ(toBmp(target("q.jpg").string(), target("q.bmp").string()), 1);
    const Bytes back = readBytes(target("q.bmp"));
    ASSERT_EQ(back.size(), in.size());
    int worst = 0;
    for (std::size_t i = 54; i < in.size(); ++i) {
        worst = std::max(worst, std::abs(int{back[i]} - int{in[i]}));
    }
    EXPECT_LE(worst, 6); // quality 100 with 2x2 chroma subsampling
}

// ---- failures leave nothing behind and keep earlier files ----

TEST_F(Converter, RenameFailureLeavesTheTargetAndNoPartialFile) {
    // A non-empty folder under the target name: everything succeeds but the final rename.
    fs::create_directory(target("busy.png"));
    sandbox_.write("out/busy.png/keep", "x");
    EXPECT_EQ(toPng(source(patternBmp(8, 8)), target("busy.png"), 24), -4);
    EXPECT_EQ(test::Sandbox::read(target("busy.png") / "keep"), "x");
}

TEST_F(Converter, WriteFailureHalfWayKeepsTheEarlierFile) {
    const fs::path earlier = sandbox_.write("out/page.bmp", "the earlier picture");
    // One pixel per row: the working store needs 3 bytes a row and the BMP 4, so a file-size
    // limit between the two lets the decoding through and stops the write part of the way.
    const fs::path src = source(patternBmp(1, 30000));
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 100000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int code = toBmp(src.string(), earlier.string());
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(code, -4);
    EXPECT_EQ(test::Sandbox::read(earlier), "the earlier picture");
}

TEST_F(Converter, ExistingTargetIsReplacedWhole) {
    const fs::path earlier = sandbox_.write("out/x.bmp", std::string(100000, 'z'));
    const Bytes in = patternBmp(3, 3);
    ASSERT_EQ(toBmp(source(in), earlier.string()), 1);
    EXPECT_EQ(readBytes(earlier), in);
}

TEST_F(Converter, WorkingFilesNeverReplaceSomeoneElsesFile) {
    // A file (or link) already named like a working file must be neither deleted nor followed.
    const fs::path tmp = sandbox_ / "tmp";
    const fs::path victim = sandbox_.write("victim", "precious");
    fs::create_symlink(victim, tmp / "CSWCLASS0.tmp");
    sandbox_.write("tmp/CSWCLASS1.tmp", "theirs");
    ASSERT_EQ(toBmp(source(patternBmp(6, 6)), target("s.bmp")), 1);
    EXPECT_EQ(test::Sandbox::read(victim), "precious");
    EXPECT_EQ(test::Sandbox::read(tmp / "CSWCLASS1.tmp"), "theirs");
    fs::remove(tmp / "CSWCLASS0.tmp");
    fs::remove(tmp / "CSWCLASS1.tmp");
}

} // namespace
} // namespace vantrel::imaging
