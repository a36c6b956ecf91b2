// The converter's TIFF reader, which reads a band of strips or tiles at a time, against libtiff's
// own whole-picture RGBA reader on files the test writes with libtiff: every layout (strips of
// any height, tiles with partial edge tiles, separate planes), every orientation and the usual
// sample kinds must give the same pixels. A damaged strip fails the file.

#include "imaging/converter.h"
#include "tests/support/sandbox.h"
#include "tests/support/temporary_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <tiffio.h>
#include <vector>

namespace vantrel::imaging {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

struct TiffCase {
    const char* name;
    std::uint32_t width = 37;
    std::uint32_t height = 29;
    std::uint16_t samples = 3;
    std::uint16_t bits = 8;
    std::uint16_t photometric = PHOTOMETRIC_RGB;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint32_t rowsPerStrip = 5;
    std::uint32_t tile = 0; // tile width and length; 0 for strips
};

void PrintTo(const TiffCase& c, std::ostream* os) {
    *os << c.name;
}

// A sample that tells pixels, rows and channels apart.
std::uint16_t sampleAt(const TiffCase& c, std::uint32_t x, std::uint32_t y, unsigned s) {
    const unsigned v = (x * 7 + y * 13 + s * 85) & 0xFF;
    return static_cast<std::uint16_t>(c.bits == 16 ? v * 257 + x : v);
}

void putSample(const TiffCase& c, Bytes& buffer, std::size_t index, std::uint16_t v) {
    if (c.bits == 16) {
        std::memcpy(&buffer[2 * index], &v, 2);
    } else {
        buffer[index] = static_cast<std::uint8_t>(v);
    }
}

void writeTiff(const TiffCase& c, const fs::path& path) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, c.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, c.height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, c.samples);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, c.bits);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, c.photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, c.planar);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, c.orientation);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, c.compression);
    if (c.samples == 4) {
        const std::uint16_t alpha = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &alpha);
    }
    if (c.photometric == PHOTOMETRIC_PALETTE) {
        std::vector<std::uint16_t> red(256), green(256), blue(256);
        for (unsigned i = 0; i < 256; ++i) {
            red[i] = static_cast<std::uint16_t>(i * 257);
            green[i] = static_cast<std::uint16_t>((255 - i) * 257);
            blue[i] = static_cast<std::uint16_t>((i * 3 & 0xFF) * 257);
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
    }
    const bool separate = c.planar == PLANARCONFIG_SEPARATE;
    const unsigned perPixel = separate ? 1 : c.samples;
    const unsigned planes = separate ? c.samples : 1;
    const std::size_t bytesPerSample = c.bits / 8;
    if (c.tile == 0) {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, c.rowsPerStrip);
        Bytes line(std::size_t{c.width} * perPixel * bytesPerSample);
        for (unsigned plane = 0; plane < planes; ++plane) {
            for (std::uint32_t y = 0; y < c.height; ++y) {
                for (std::uint32_t x = 0; x < c.width; ++x) {
                    for (unsigned s = 0; s < perPixel; ++s) {
                        putSample(c, line, x * perPixel + s, sampleAt(c, x, y, plane + s));
                    }
                }
                ASSERT_EQ(TIFFWriteScanline(tif, line.data(), y, static_cast<std::uint16_t>(plane)),
                          1);
            }
        }
    } else {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, c.tile);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, c.tile);
        Bytes block(std::size_t{c.tile} * c.tile * perPixel * bytesPerSample);
        for (unsigned plane = 0; plane < planes; ++plane) {
            for (std::uint32_t ty = 0; ty < c.height; ty += c.tile) {
                for (std::uint32_t tx = 0; tx < c.width; tx += c.tile) {
                    std::fill(block.begin(), block.end(), 0);
                    for (std::uint32_t y = ty; y < std::min(ty + c.tile, c.height); ++y) {
                        for (std::uint32_t x = tx; x < std::min(tx + c.tile, c.width); ++x) {
                            for (unsigned s = 0; s < perPixel; ++s) {
                                putSample(c, block, ((y - ty) * c.tile + (x - tx)) * perPixel + s,
                                          sampleAt(c, x, y, plane + s));
                            }
                        }
                    }
                    ASSERT_GT(TIFFWriteTile(tif, block.data(), tx, ty, 0,
                                            static_cast<std::uint16_t>(plane)),
                              0);
                }
            }
        }
    }
    TIFFClose(tif);
}

// libtiff's reading of the whole picture, top row first: red, green, blue.
Bytes libtiffRgb(const fs::path& path, std::uint32_t width, std::uint32_t height) {
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    std::vector<std::uint32_t> raster(std::size_t{width} * height);
    EXPECT_TRUE(tif && TIFFReadRGBAImageOriented(tif, width, height, raster.data(),
                                                 ORIENTATION_TOPLEFT, 1));
    if (tif) {
        TIFFClose(tif);
    }
    Bytes rgb;
    for (const std::uint32_t p : raster) {
        rgb.insert(rgb.end(),
                   {static_cast<std::uint8_t>(TIFFGetR(p)), static_cast<std::uint8_t>(TIFFGetG(p)),
                    static_cast<std::uint8_t>(TIFFGetB(p))});
    }
    return rgb;
}

std::uint32_t le32(const std::string& b, std::size_t at) {
    auto u = [&](std::size_t i) { return std::uint32_t{static_cast<std::uint8_t>(b[at + i])}; };
    return u(0) | u(1) << 8 | u(2) << 16 | u(3) << 24;
}

class TiffReading : public ::testing::TestWithParam<TiffCase> {
protected:
    void TearDown() override { EXPECT_TRUE(fs::is_empty(tmp_)) << "working files left behind"; }

    // The converter's picture of `source` as red, green, blue rows, top row first; empty when the
    // conversion fails.
    Bytes convertedRgb(const fs::path& source, std::uint32_t& width, std::uint32_t& height) {
        const fs::path target = sandbox_ / "out.bmp";
        if (toBmp(source.string(), target.string()) != 1) {
            return {};
        }
        const std::string b = test::Sandbox::read(target);
        width = le32(b, 18);
        height = le32(b, 22);
        const std::size_t stride = (3 * std::size_t{width} + 3) / 4 * 4;
        Bytes rgb;
        for (std::uint32_t y = 0; y < height; ++y) {
            const std::size_t at = 54 + (height - 1 - y) * stride;
            for (std::uint32_t x = 0; x < width; ++x) {
                for (int c = 2; c >= 0; --c) {
                    rgb.push_back(static_cast<std::uint8_t>(b[at + 3 * x + c]));
                }
            }
        }
        return rgb;
    }

    test::Sandbox sandbox_;
    fs::path tmp_ = sandbox_ / "tmp";
    test::TemporaryFolderOverride tmpdir_{tmp_};
};

TEST_P(TiffReading, GivesLibtiffsWholePicturePixels) {
    const TiffCase& c = GetParam();
    const fs::path file = sandbox_ / "picture.tif";
    writeTiff(c, file);
    std::uint32_t width = 0, height = 0;
    const Bytes ours = convertedRgb(file, width, height);
    ASSERT_FALSE(ours.empty()) << "not converted";
    ASSERT_EQ(width, c.width);
    ASSERT_EQ(height, c.height);
    const Bytes reference = libtiffRgb(file, c.width, c.height);
    ASSERT_EQ(ours.size(), reference.size());
    int bad = 0;
    for (std::size_t i = 0; i < ours.size(); ++i) {
        if (ours[i] != reference[i] && ++bad <= 3) {
            ADD_FAILURE() << "pixel " << i / 3 % c.width << "," << i / 3 / c.width << " channel "
                          << i % 3 << ": " << int{ours[i]} << " vs " << int{reference[i]};
        }
    }
    EXPECT_EQ(bad, 0);
}

const TiffCase kTiffCases[] = {
    {.name = "strips_of_five_rows_last_one_short"},
    {.name = "strips_of_one_row", .rowsPerStrip = 1},
    {.name = "one_deflate_strip", .compression = COMPRESSION_ADOBE_DEFLATE, .rowsPerStrip = 29},
    {.name = "lzw_strips", .compression = COMPRESSION_LZW, .rowsPerStrip = 8},
    {.name = "separate_planes_in_strips", .planar = PLANARCONFIG_SEPARATE, .rowsPerStrip = 4},
    {.name = "tiles_with_partial_edge_tiles", .tile = 16},
    {.name = "tiles_in_separate_planes", .planar = PLANARCONFIG_SEPARATE, .tile = 16},
    {.name = "rgb_alpha_tiles", .samples = 4, .tile = 32},
    {.name = "grey_16_bit", .samples = 1, .bits = 16, .photometric = PHOTOMETRIC_MINISBLACK},
    {.name = "rgb_16_bit_one_strip", .bits = 16, .rowsPerStrip = 29},
    {.name = "palette", .samples = 1, .photometric = PHOTOMETRIC_PALETTE, .rowsPerStrip = 3},
    {.name = "top_right", .orientation = ORIENTATION_TOPRIGHT},
    {.name = "bottom_right", .orientation = ORIENTATION_BOTRIGHT},
    {.name = "bottom_left", .orientation = ORIENTATION_BOTLEFT},
    {.name = "left_top", .orientation = ORIENTATION_LEFTTOP},
    {.name = "right_top", .orientation = ORIENTATION_RIGHTTOP},
    {.name = "right_bottom", .orientation = ORIENTATION_RIGHTBOT},
    {.name = "left_bottom", .orientation = ORIENTATION_LEFTBOT},
    {.name = "bottom_left_tiles", .orientation = ORIENTATION_BOTLEFT, .tile = 16},
    {.name = "bottom_right_tiles", .orientation = ORIENTATION_BOTRIGHT, .tile = 16},
    {.name = "top_right_tiles", .orientation = ORIENTATION_TOPRIGHT, .tile = 16},
};

INSTANTIATE_TEST_SUITE_P(Layouts, TiffReading, ::testing::ValuesIn(kTiffCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(TiffReading, DamagedStripFailsTheFile) {
    const TiffCase c{
        .name = "deflate", .compression = COMPRESSION_ADOBE_DEFLATE, .rowsPerStrip = 8};
    const fs::path file = sandbox_ / "damaged.tif";
    writeTiff(c, file);
    std::uint32_t width = 0, height = 0;
    ASSERT_FALSE(convertedRgb(file, width, height).empty());
    // libtiff writes the first strip right after the 8-byte header: spoil its zlib stream.
    std::string bytes = test::Sandbox::read(file);
    for (std::size_t i = 8; i < 24; ++i) {
        bytes[i] = static_cast<char>(0xA5);
    }
    sandbox_.write("damaged.tif", bytes);
    EXPECT_TRUE(convertedRgb(file, width, height).empty());
}

} // namespace
} // namespace vantrel::imaging
