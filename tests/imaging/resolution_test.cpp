// A picture's resolution travels from the source file into the converter's target, and from the
// drawing panel into the BMP it gives back. Sources are written and targets read back by the
// real libraries (libjpeg's JFIF fields, libpng's pHYs, libtiff's resolution tags); BMP fields
// are read from the header bytes.

#include "imaging/converter.h"
#include "imaging/drawing_surface.h"
#include "imaging/resolution.h"
#include "tests/imaging/bmp_builder.h"
#include "tests/support/sandbox.h"
#include "tests/support/temporary_folder.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <jpeglib.h>
#include <optional>
#include <png.h>
#include <string>
#include <tiffio.h>

namespace vantrel::imaging {

void PrintTo(const Resolution& r, std::ostream* os) {
    *os << r.xPerMetre << "x" << r.yPerMetre << " pixels per metre";
}

namespace {

namespace fs = std::filesystem;
using test::BmpSpec;
using test::Bytes;

constexpr std::uint32_t kWidth = 12;
constexpr std::uint32_t kHeight = 9;

void writeFile(const fs::path& file, const Bytes& bytes) {
    std::FILE* out = std::fopen(file.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
    std::fclose(out);
}

// ---- sources, written by the libraries themselves ----

Bytes bmpSource(std::int32_t xPerMetre, std::int32_t yPerMetre, bool topDown = false) {
    const auto rows = static_cast<std::int32_t>(kHeight);
    Bytes b = test::buildBmp({.width = kWidth, .height = topDown ? -rows : rows});
    test::put32(b, 38, static_cast<std::uint32_t>(xPerMetre));
    test::put32(b, 42, static_cast<std::uint32_t>(yPerMetre));
    return b;
}

// A grey JPEG with the given JFIF density (unit 0: aspect ratio only).
void writeJpeg(const fs::path& file, int unit, int x, int y) {
    std::FILE* out = std::fopen(file.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    jpeg_compress_struct codec;
    jpeg_error_mgr errors;
    codec.err = jpeg_std_error(&errors);
    jpeg_create_compress(&codec);
    jpeg_stdio_dest(&codec, out);
    codec.image_width = kWidth;
    codec.image_height = kHeight;
    codec.input_components = 1;
    codec.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&codec);
    codec.density_unit = static_cast<UINT8>(unit);
    codec.X_density = static_cast<UINT16>(x);
    codec.Y_density = static_cast<UINT16>(y);
    jpeg_start_compress(&codec, TRUE);
    Bytes row(kWidth, 128);
    while (codec.next_scanline < codec.image_height) {
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&codec, &p, 1);
    }
    jpeg_finish_compress(&codec);
    jpeg_destroy_compress(&codec);
    std::fclose(out);
}

// An RGB PNG, with a pHYs chunk when `unit` is given.
void writePng(const fs::path& file, std::optional<int> unit, png_uint_32 x, png_uint_32 y) {
    std::FILE* out = std::fopen(file.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, out);
    png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (unit) {
        png_set_pHYs(png, info, x, y, *unit);
    }
    png_write_info(png, info);
    Bytes row(kWidth * 3, 200);
    for (std::uint32_t i = 0; i < kHeight; ++i) {
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(out);
}

// An RGB TIFF with the given resolution tags.
void writeTiff(const fs::path& file, std::uint16_t unit, float x, float y) {
    TIFF* tif = TIFFOpen(file.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kHeight);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, x);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, y);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, unit);
    Bytes row(kWidth * 3, 90);
    for (std::uint32_t i = 0; i < kHeight; ++i) {
        ASSERT_EQ(TIFFWriteScanline(tif, row.data(), i, 0), 1);
    }
    TIFFClose(tif);
}

// ---- targets, read back by the libraries ----

struct Jfif {
    bool marker = false;
    int unit = -1;
    int x = 0, y = 0;
    bool operator==(const Jfif&) const = default;
};

void PrintTo(const Jfif& j, std::ostream* os) {
    *os << "JFIF marker " << j.marker << " unit " << j.unit << " " << j.x << "x" << j.y;
}

struct JumpingErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

std::optional<Jfif> readJfif(const fs::path& file) {
    std::FILE* in = std::fopen(file.c_str(), "rb");
    if (!in) {
        return std::nullopt;
    }
    jpeg_decompress_struct codec;
    JumpingErrors errors;
    codec.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = [](j_common_ptr c) {
        std::longjmp(reinterpret_cast<JumpingErrors*>(c->err)->jump, 1);
    };
    std::optional<Jfif> result;
    if (setjmp(errors.jump) == 0) {
        jpeg_create_decompress(&codec);
        jpeg_stdio_src(&codec, in);
        jpeg_read_header(&codec, TRUE);
        result =
            Jfif{codec.saw_JFIF_marker != 0, codec.density_unit, codec.X_density, codec.Y_density};
    }
    jpeg_destroy_decompress(&codec);
    std::fclose(in);
    return result;
}

struct Phys {
    bool present = false;
    png_uint_32 x = 0, y = 0;
    int unit = -1;
    bool operator==(const Phys&) const = default;
};

void PrintTo(const Phys& p, std::ostream* os) {
    *os << "pHYs " << (p.present ? "" : "absent ") << p.x << "x" << p.y << " unit " << p.unit;
}

std::optional<Phys> readPhys(const fs::path& file) {
    std::FILE* in = std::fopen(file.c_str(), "rb");
    if (!in) {
        return std::nullopt;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::optional<Phys> result;
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, in);
        png_read_info(png, info);
        Phys p;
        p.present = png_get_pHYs(png, info, &p.x, &p.y, &p.unit) != 0;
        result = p;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(in);
    return result;
}

Resolution bmpFields(const fs::path& file) {
    const std::string s = test::Sandbox::read(file);
    if (s.size() < 54) {
        return {9, 9}; // no header at all: matches no expectation
    }
    const Bytes b(s.begin(), s.end());
    return {test::get32(b, 38), test::get32(b, 42)};
}

// ---- every kind of source into every target ----

struct SourceRow {
    const char* name;
    std::function<void(const fs::path&)> make;
    Resolution expected; // pixels per metre carried to PNG and BMP; {} none
    Jfif jfif;           // what a JPEG target says
};

const Jfif kJfifUnknown{true, 0, 1, 1}; // the library's default: square pixels, no unit

const SourceRow kSources[] = {
    {"Bmp300Dpi",
     [](auto& f) { writeFile(f, bmpSource(11811, 11811)); },
     {11811, 11811},
     {true, 1, 300, 300}},
    // Top-down rows take the decoding path instead of the row copy.
    {"TopDownBmp300x600Dpi",
     [](auto& f) { writeFile(f, bmpSource(11811, 23622, true)); },
     {11811, 23622},
     {true, 1, 300, 600}},
    {"BmpWithoutResolution", [](auto& f) { writeFile(f, bmpSource(0, 0)); }, {}, kJfifUnknown},
    {"BmpWithOneAxisOnly", [](auto& f) { writeFile(f, bmpSource(11811, 0)); }, {}, kJfifUnknown},
    {"BmpNegative", [](auto& f) { writeFile(f, bmpSource(-11811, -11811)); }, {}, kJfifUnknown},
    // 76200 dpi does not fit JFIF's 16-bit density: the JPEG keeps the default fields.
    {"BmpTooFineForJfif",
     [](auto& f) { writeFile(f, bmpSource(3000000, 3000000)); },
     {3000000, 3000000},
     kJfifUnknown},
    {"JpegDotsPerInch",
     [](auto& f) { writeJpeg(f, 1, 300, 300); },
     {11811, 11811},
     {true, 1, 300, 300}},
    {"JpegDotsPerCentimetre",
     [](auto& f) { writeJpeg(f, 2, 118, 236); },
     {11800, 23600},
     {true, 1, 300, 599}},
    {"JpegAspectRatioOnly", [](auto& f) { writeJpeg(f, 0, 2, 1); }, {}, kJfifUnknown},
    {"PngPhysInMetres",
     [](auto& f) { writePng(f, PNG_RESOLUTION_METER, 11811, 11811); },
     {11811, 11811},
     {true, 1, 300, 300}},
    {"PngPhysWithoutUnit",
     [](auto& f) { writePng(f, PNG_RESOLUTION_UNKNOWN, 2, 1); },
     {},
     kJfifUnknown},
    {"PngWithoutPhys", [](auto& f) { writePng(f, std::nullopt, 0, 0); }, {}, kJfifUnknown},
    {"TiffDotsPerInch",
     [](auto& f) { writeTiff(f, RESUNIT_INCH, 300, 300); },
     {11811, 11811},
     {true, 1, 300, 300}},
    {"TiffDotsPerCentimetre",
     [](auto& f) { writeTiff(f, RESUNIT_CENTIMETER, 120, 120); },
     {12000, 12000},
     {true, 1, 305, 305}},
    {"TiffWithoutUnit", [](auto& f) { writeTiff(f, RESUNIT_NONE, 72, 72); }, {}, kJfifUnknown},
};

enum class Target { Jpeg, GreyJpeg, Png, Bmp };

const Target kTargets[] = {Target::Jpeg, Target::GreyJpeg, Target::Png, Target::Bmp};

std::string targetName(Target t) {
    switch (t) {
    case Target::Jpeg:
        return "Jpeg";
    case Target::GreyJpeg:
        return "GreyJpeg";
    case Target::Png:
        return "Png";
    case Target::Bmp:
        return "Bmp";
    }
    return "";
}

class ResolutionInConversion : public ::testing::TestWithParam<std::tuple<SourceRow, Target>> {
protected:
    test::Sandbox sandbox_;
    test::TemporaryFolderOverride tmpdir_{sandbox_ / "tmp"};
};

TEST_P(ResolutionInConversion, ReachesTheTargetOrLeavesTheDefaultFields) {
    const auto& [row, target] = GetParam();
    const std::string source = (sandbox_ / "source").string();
    row.make(source);
    ASSERT_TRUE(fs::exists(source));
    const std::string out = (sandbox_ / "out").string();
    switch (target) {
    case Target::Jpeg:
    case Target::GreyJpeg: {
        ASSERT_EQ(toJpeg(source, out, target == Target::GreyJpeg, 90, true, 0), kConvertOk)
            << lastConversionError();
        const auto jfif = readJfif(out);
        ASSERT_TRUE(jfif.has_value());
        EXPECT_EQ(*jfif, row.jfif);
        break;
    }
    case Target::Png: {
        ASSERT_EQ(toPng(source, out, 24), kConvertOk) << lastConversionError();
        const auto phys = readPhys(out);
        ASSERT_TRUE(phys.has_value());
        const Phys expected =
            row.expected.known()
                ? Phys{true, row.expected.xPerMetre, row.expected.yPerMetre, PNG_RESOLUTION_METER}
                : Phys{};
        EXPECT_EQ(*phys, expected);
        break;
    }
    case Target::Bmp:
        ASSERT_EQ(toBmp(source, out), kConvertOk) << lastConversionError();
        EXPECT_EQ(bmpFields(out), row.expected);
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, ResolutionInConversion,
                         ::testing::Combine(::testing::ValuesIn(kSources),
                                            ::testing::ValuesIn(kTargets)),
                         [](const auto& row) {
                             return std::string(std::get<0>(row.param).name) + "To" +
                                    targetName(std::get<1>(row.param));
                         });

// A 300 dpi page through every format in turn keeps 300 dpi at every step.
TEST(ResolutionRoundTrip, BmpToJpegToPngToBmpKeeps300Dpi) {
    test::Sandbox sandbox;
    test::TemporaryFolderOverride tmpdir{sandbox / "tmp"};
    const fs::path bmp = sandbox / "page.bmp";
    const fs::path jpg = sandbox / "page.jpg";
    const fs::path png = sandbox / "page.png";
    writeFile(bmp, bmpSource(11811, 11811));
    ASSERT_EQ(toJpeg(bmp.string(), jpg.string(), false, 100, true, 0), kConvertOk);
    EXPECT_EQ(readJfif(jpg), (Jfif{true, 1, 300, 300}));
    ASSERT_EQ(toPng(jpg.string(), png.string(), 24), kConvertOk);
    EXPECT_EQ(readPhys(png), (Phys{true, 11811, 11811, PNG_RESOLUTION_METER}));
    ASSERT_EQ(toBmp(png.string(), (sandbox / "back.bmp").string()), kConvertOk);
    EXPECT_EQ(bmpFields(sandbox / "back.bmp"), (Resolution{11811, 11811}));
}

// ---- the drawing panel ----

Resolution headerOf(const std::vector<std::uint8_t>& bmp) {
    return bmp.size() < 54 ? Resolution{9, 9}
                           : Resolution{test::get32(bmp, 38), test::get32(bmp, 42)};
}

TEST(PanelResolution, IsUnknownUntilSetAndThenInEveryPictureItGives) {
    DrawingSurface panel(200, 100);
    EXPECT_EQ(headerOf(panel.getPicture()), (Resolution{0, 0}));
    const auto before = panel.sharedPicture();

    panel.setResolution({11811, 11811});
    EXPECT_EQ(headerOf(panel.getPicture()), (Resolution{11811, 11811}));
    // The picture made before is still held, yet its bytes no longer say what the panel holds.
    EXPECT_EQ(headerOf(*panel.sharedPicture()), (Resolution{11811, 11811}));
    EXPECT_EQ(headerOf(*before), (Resolution{0, 0}));

    // Drawing, clearing and resizing keep it.
    panel.clear();
    panel.resize(300, 150);
    EXPECT_EQ(headerOf(panel.getPicture()), (Resolution{11811, 11811}));

    panel.setResolution({11811, 0}); // one axis only: unknown
    EXPECT_EQ(panel.resolution(), (Resolution{}));
    EXPECT_EQ(headerOf(*panel.sharedPicture()), (Resolution{0, 0}));
}

TEST(PanelResolution, FollowsAStretchedReadBackSoThePhysicalSizeStays) {
    DrawingSurface panel(200, 100);
    panel.setResolution({11811, 23622});
    // Half the width, a quarter of the height: 5905.5 and 5905.5 pixels per metre, rounded.
    EXPECT_EQ(headerOf(panel.getPicture(-50, -25)), (Resolution{5906, 5906}));
    EXPECT_EQ(headerOf(panel.getPicture(400, 100)), (Resolution{23622, 23622}));
}

TEST(PanelResolution, PanelPageSavedAsJpegKeepsItsDpi) {
    test::Sandbox sandbox;
    test::TemporaryFolderOverride tmpdir{sandbox / "tmp"};
    DrawingSurface panel(40, 30);
    const Bytes scanned = bmpSource(23622, 23622); // a 600 dpi page
    panel.setResolution(bmpResolution(scanned));
    const auto content = panel.sharedPicture();
    const fs::path scratch = sandbox / "photo.tem";
    writeFile(scratch, *content);
    ASSERT_EQ(toJpeg(scratch.string(), (sandbox / "page.jpg").string(), false, 80, true, 0),
              kConvertOk);
    EXPECT_EQ(readJfif(sandbox / "page.jpg"), (Jfif{true, 1, 600, 600}));
}

// ---- reading a BMP file's resolution ----

struct HeaderRow {
    const char* name;
    std::function<Bytes()> bytes;
    Resolution expected;
};

const HeaderRow kHeaders[] = {
    {"InfoHeader", [] { return bmpSource(11811, 11812); }, {11811, 11812}},
    {"Version5Header",
     [] {
         Bytes b = test::buildBmp({.width = 2, .height = 2, .headerSize = 124});
         test::put32(b, 38, 3937);
         test::put32(b, 42, 3937);
         return b;
     },
     {3937, 3937}},
    {"CoreHeaderHasNone",
     [] {
         Bytes b = test::buildBmp({.width = 2, .height = 2, .headerSize = 12});
         b.resize(60);
         test::put32(b, 38, 11811); // where an info header keeps its fields
         test::put32(b, 42, 11811);
         return b;
     },
     {}},
    {"CutShortInItsFields",
     [] {
         Bytes b = bmpSource(11811, 11811);
         b.resize(44);
         return b;
     },
     {}},
    {"NotABmp",
     [] {
         Bytes b = bmpSource(11811, 11811);
         b[0] = 'P';
         return b;
     },
     {}},
    {"Zero", [] { return bmpSource(0, 0); }, {}},
    {"Negative", [] { return bmpSource(-1, -1); }, {}},
    {"Empty", [] { return Bytes{}; }, {}},
};

class BmpResolutionReader : public ::testing::TestWithParam<HeaderRow> {};

TEST_P(BmpResolutionReader, ReadsTheInfoHeaderFields) {
    EXPECT_EQ(bmpResolution(GetParam().bytes()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Files, BmpResolutionReader, ::testing::ValuesIn(kHeaders),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace vantrel::imaging
