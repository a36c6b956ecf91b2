// JPEG and PCX sources through both of their readers, the converter (toBmp) and LoadPicture:
// a damaged or truncated file fails in both (the converter gives -3, LoadPicture handle 0), a
// header that promises more than the file can hold is refused before any pixel memory is made,
// and the same good file gives the same pixels through both. Every file is made by the test.

#include "imaging/converter.h"
#include "imaging/jpeg_reader.h"
#include "imaging/picture_registry.h"
#include "tests/support/sandbox.h"
#include "tests/support/temporary_folder.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <jpeglib.h>
#include <string>
#include <vector>

namespace vantrel::imaging {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

struct Rgb {
    std::uint32_t width = 0, height = 0;
    Bytes pixels; // red, green, blue, rows top-down
};

std::uint32_t le32(const std::string& b, std::size_t at) {
    auto u = [&](std::size_t i) { return std::uint32_t{static_cast<std::uint8_t>(b[at + i])}; };
    return u(0) | u(1) << 8 | u(2) << 16 | u(3) << 24;
}

// Each test converts in a sandbox of its own, with its own temporary folder for the working
// stores, and checks that no working file outlives a call.
class BrokenSource : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(fs::is_empty(tmp_)) << "working files left behind"; }

    // The converter's code for `bytes` as a source converted to BMP; on success `rgb` holds the
    // picture read back from the BMP.
    int convert(const Bytes& bytes, Rgb* rgb = nullptr) {
        const fs::path source = sandbox_.write("source", std::string(bytes.begin(), bytes.end()));
        const fs::path target = sandbox_ / "out.bmp";
        fs::remove(target);
        const int code = toBmp(source.string(), target.string());
        if (code == 1 && rgb) {
            const std::string b = test::Sandbox::read(target);
            rgb->width = le32(b, 18);
            rgb->height = le32(b, 22);
            const std::size_t stride = (3 * std::size_t{rgb->width} + 3) / 4 * 4;
            rgb->pixels.clear();
            for (std::uint32_t y = 0; y < rgb->height; ++y) {
                const std::size_t at = 54 + (rgb->height - 1 - y) * stride;
                for (std::uint32_t x = 0; x < rgb->width; ++x) {
                    for (int c = 2; c >= 0; --c) {
                        rgb->pixels.push_back(static_cast<std::uint8_t>(b[at + 3 * x + c]));
                    }
                }
            }
        }
        if (code != 1) {
            EXPECT_FALSE(fs::exists(target)) << "a failed conversion left its target";
        }
        return code;
    }

    test::Sandbox sandbox_;
    fs::path tmp_ = sandbox_ / "tmp";
    test::TemporaryFolderOverride tmpdir_{tmp_};
};

// LoadPicture's result for `bytes`: whether it gave a picture (which is then unloaded), and the
// picture for a look at it first.
bool loads(const Bytes& bytes, const std::function<void(const PictureObject&)>& look = {}) {
    const PictureHandle handle = LoadPicture(std::span<const std::uint8_t>(bytes));
    const PictureObject* picture = pictureRegistry().find(handle);
    if (picture && look) {
        look(*picture);
    }
    UnloadPicture(handle);
    return handle != 0;
}

// ---- JPEG ----

struct JpegFixture {
    std::uint32_t width = 64;
    std::uint32_t height = 48;
    int components = 3;
    bool progressive = false;
    bool arithmetic = false;
    bool flat = false; // one grey level instead of a busy texture
};

// Encoded by libjpeg itself. The texture keeps every block busy, so a damaged byte anywhere in
// the entropy-coded data throws the decoder off.
Bytes encodeJpeg(const JpegFixture& fixture) {
    jpeg_compress_struct codec;
    jpeg_error_mgr errors;
    codec.err = jpeg_std_error(&errors);
    jpeg_create_compress(&codec);
    unsigned char* data = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&codec, &data, &size);
    codec.image_width = fixture.width;
    codec.image_height = fixture.height;
    codec.input_components = fixture.components;
    codec.in_color_space = fixture.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&codec);
    jpeg_set_quality(&codec, 90, TRUE);
    codec.arith_code = fixture.arithmetic ? TRUE : FALSE;
    if (fixture.progressive) {
        jpeg_simple_progression(&codec);
    }
    jpeg_start_compress(&codec, TRUE);
    Bytes line(std::size_t{fixture.width} * static_cast<std::size_t>(fixture.components));
    std::uint32_t noise = 7;
    for (std::uint32_t y = 0; y < fixture.height; ++y) {
        for (std::size_t i = 0; i < line.size(); ++i) {
            noise = noise * 1103515245u + 12345u;
            line[i] = fixture.flat ? 90 : static_cast<std::uint8_t>(i * 5 + y * 3 + (noise >> 26));
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

// Offsets of the start-of-scan markers, found by walking the marker segments and skipping each
// scan's entropy-coded data (where 0xFF is followed by a stuffed 0 or a restart marker).
std::vector<std::size_t> scanOffsets(const Bytes& b) {
    std::vector<std::size_t> scans;
    std::size_t at = 2;
    while (at + 4 <= b.size() && b[at] == 0xFF && b[at + 1] != 0xD9) {
        const std::size_t length = std::size_t{b[at + 2]} << 8 | b[at + 3];
        const bool scan = b[at + 1] == 0xDA;
        if (scan) {
            scans.push_back(at);
        }
        at += 2 + length;
        while (scan && at + 1 < b.size() &&
               !(b[at] == 0xFF && b[at + 1] != 0 && (b[at + 1] & 0xF8) != 0xD0)) {
            ++at;
        }
    }
    return scans;
}

// The first scan's entropy-coded data: [first, end).
std::pair<std::size_t, std::size_t> firstScanData(const Bytes& b) {
    const std::size_t sos = scanOffsets(b).at(0);
    const std::size_t first = sos + 2 + (std::size_t{b[sos + 2]} << 8 | b[sos + 3]);
    std::size_t end = first;
    while (end + 1 < b.size() && !(b[end] == 0xFF && b[end + 1] != 0)) {
        ++end;
    }
    return {first, end};
}

struct BrokenJpegCase {
    const char* name;
    bool progressive;
    std::function<void(Bytes&)> damage;
    bool decodes; // the untouched control rows
};

void PrintTo(const BrokenJpegCase& c, std::ostream* os) {
    *os << c.name;
}

// Inverts one byte in the middle of the first scan's entropy-coded data: a byte that is no marker
// prefix, no stuffed zero, and does not become either.
void flipByteInFirstScan(Bytes& b) {
    const auto [first, end] = firstScanData(b);
    std::size_t at = (first + end) / 2;
    while (b[at] == 0x00 || b[at] == 0xFF || b[at - 1] == 0xFF) {
        ++at;
    }
    b[at] = static_cast<std::uint8_t>(~b[at]);
}

const BrokenJpegCase kBrokenJpegs[] = {
    {"baseline_untouched", false, [](Bytes&) {}, true},
    {"progressive_untouched", true, [](Bytes&) {}, true},
    {"baseline_cut_at_half", false, [](Bytes& b) { b.resize(b.size() / 2); }, false},
    {"baseline_first_1000_bytes", false, [](Bytes& b) { b.resize(1000); }, false},
    {"progressive_cut_at_half", true, [](Bytes& b) { b.resize(b.size() / 2); }, false},
    {"progressive_cut_after_first_scan", true, [](Bytes& b) { b.resize(scanOffsets(b).at(1)); },
     false},
    {"baseline_flipped_entropy_byte", false, flipByteInFirstScan, false},
    {"progressive_flipped_byte_in_first_scan", true, flipByteInFirstScan, false},
};

class BrokenJpeg : public BrokenSource, public ::testing::WithParamInterface<BrokenJpegCase> {};

TEST_P(BrokenJpeg, FailsInTheConverterAndInLoadPicture) {
    const BrokenJpegCase& c = GetParam();
    Bytes file = encodeJpeg({.width = 160, .height = 120, .progressive = c.progressive});
    ASSERT_GT(file.size(), 2000u);
    c.damage(file);
    EXPECT_EQ(convert(file), c.decodes ? 1 : -3);
    EXPECT_EQ(loads(file), c.decodes);
}

INSTANTIATE_TEST_SUITE_P(Damage, BrokenJpeg, ::testing::ValuesIn(kBrokenJpegs),
                         [](const auto& row) { return std::string(row.param.name); });

// A baseline JPEG written byte by byte: one grey component of width x height, one Huffman code
// (a single 0 bit) for both a zero DC difference and the end of block, so each 8x8 block costs
// exactly two bits, and `dataBytes` zero bytes of entropy-coded data.
Bytes handMadeJpeg(std::uint16_t width, std::uint16_t height, std::size_t dataBytes) {
    Bytes b = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00};
    b.insert(b.end(), 64, 1);
    const auto hi = [](std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); };
    const auto lo = [](std::uint16_t v) { return static_cast<std::uint8_t>(v); };
    b.insert(b.end(), {0xFF, 0xC0, 0x00, 0x0B, 0x08, hi(height), lo(height), hi(width), lo(width),
                       0x01, 0x01, 0x11, 0x00});
    for (const std::uint8_t table : {0x00, 0x10}) { // DC table 0, AC table 0
        b.insert(b.end(), {0xFF, 0xC4, 0x00, 0x14, table, 1});
        b.insert(b.end(), 15, 0);
        b.push_back(0x00); // the symbol: DC category 0, or AC end of block
    }
    b.insert(b.end(), {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00});
    b.insert(b.end(), dataBytes, 0x00);
    b.insert(b.end(), {0xFF, 0xD9});
    return b;
}

// Records whether the reader ever asked for pixel memory.
class RecordingRows final : public JpegRowSink {
public:
    bool start(const JpegFrame& frame) noexcept override {
        started = true;
        rows.assign(std::size_t{frame.width} * static_cast<std::size_t>(frame.components), 0);
        return true;
    }
    std::uint8_t* row(std::uint32_t) noexcept override { return rows.data(); }
    bool started = false;
    Bytes rows;
};

TEST_F(BrokenSource, JpegHeaderPromisingMoreBlocksThanTheFileHoldsIsRefusedBeforeDecoding) {
    // 64 x 64 is 64 blocks of two bits: 16 bytes of data hold them exactly.
    const Bytes small = handMadeJpeg(64, 64, 16);
    EXPECT_EQ(convert(small), 1);
    EXPECT_TRUE(loads(small));

    // 16000 x 16000 is four million blocks; a file of under 600 bytes holds at most 4800.
    const Bytes huge = handMadeJpeg(16000, 16000, 400);
    ASSERT_LT(huge.size(), 600u);
    EXPECT_EQ(convert(huge), -3);
    EXPECT_FALSE(loads(huge));
    for (const JpegColours colours : {JpegColours::RgbOrGrey, JpegColours::Bgr}) {
        RecordingRows rows;
        EXPECT_EQ(readJpeg(huge, colours, rows), JpegResult::Failed);
        EXPECT_FALSE(rows.started) << "pixel memory was asked for";
    }
}

TEST_F(BrokenSource, ArithmeticCodedJpegMaySpendLessThanOneBitPerBlock) {
    // A flat 2048 x 2048 page: 65536 blocks in fewer than 8192 bytes, which no Huffman-coded file
    // could do.
    const Bytes flat = encodeJpeg(
        {.width = 2048, .height = 2048, .components = 1, .arithmetic = true, .flat = true});
    ASSERT_LT(flat.size(), 65536u / 8);
    Rgb rgb;
    ASSERT_EQ(convert(flat, &rgb), 1);
    EXPECT_EQ(rgb.width, 2048u);
    EXPECT_EQ(rgb.pixels[3 * (2048 * 1000 + 1000)], 90);
    EXPECT_TRUE(loads(flat));
}

// The memory cap follows the output size of the frame padded to whole MCUs: progressive files of
// extreme shapes (one pixel across, where the padding is most of the frame) still decode.
TEST_F(BrokenSource, ProgressiveJpegsOfExtremeShapesDecode) {
    const JpegFixture shapes[] = {
        {.width = 65500, .height = 2, .progressive = true},
        {.width = 1, .height = 65500, .progressive = true},
        {.width = 65500, .height = 1, .components = 1, .progressive = true},
        {.width = 1, .height = 65500, .components = 1, .progressive = true},
    };
    for (const JpegFixture& shape : shapes) {
        SCOPED_TRACE(std::to_string(shape.width) + " x " + std::to_string(shape.height) + " x " +
                     std::to_string(shape.components));
        const Bytes file = encodeJpeg(shape);
        Rgb rgb;
        ASSERT_EQ(convert(file, &rgb), 1);
        EXPECT_EQ(rgb.width, shape.width);
        EXPECT_EQ(rgb.height, shape.height);
        EXPECT_TRUE(loads(file));
    }
}

// ---- PCX ----

struct PcxLayout {
    unsigned version = 5;
    unsigned bitsPerPixel = 8;
    unsigned planes = 1;
    std::uint16_t width = 5;
    std::uint16_t height = 4;
    std::uint16_t bytesPerLine = 6;
};

// The decoded scan lines (all planes, padding included): runs of seven equal bytes, so with lines
// of six bytes nearly every run goes on into the next line (or plane).
Bytes pcxLines(const PcxLayout& s) {
    Bytes lines(std::size_t{s.height} * s.planes * s.bytesPerLine);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        lines[i] = static_cast<std::uint8_t>(i / 7 * 59 + 3);
    }
    return lines;
}

// Run-length encoding that ignores line ends: runs of up to 63, and any byte of 0xC0 or more as
// a run of one.
Bytes encodeRuns(const Bytes& lines) {
    Bytes out;
    for (std::size_t i = 0; i < lines.size();) {
        std::size_t n = 1;
        while (i + n < lines.size() && n < 63 && lines[i + n] == lines[i]) {
            ++n;
        }
        if (n > 1 || lines[i] >= 0xC0) {
            out.push_back(static_cast<std::uint8_t>(0xC0 | n));
        }
        out.push_back(lines[i]);
        i += n;
    }
    return out;
}

std::uint32_t paletteColour(unsigned i) {
    return (i & 0xFF) << 16 | (255 - (i & 0xFF)) << 8 | ((i * 3) & 0xFF);
}

Bytes buildPcx(const PcxLayout& s, const Bytes& data, bool palette) {
    Bytes b(128, 0);
    b[0] = 0x0A;
    b[1] = static_cast<std::uint8_t>(s.version);
    b[2] = 1;
    b[3] = static_cast<std::uint8_t>(s.bitsPerPixel);
    const auto put16 = [&](std::size_t at, unsigned v) {
        b[at] = static_cast<std::uint8_t>(v);
        b[at + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    put16(4, 10); // the bounds need not start at 0
    put16(6, 20);
    put16(8, 10 + s.width - 1u);
    put16(10, 20 + s.height - 1u);
    b[65] = static_cast<std::uint8_t>(s.planes);
    put16(66, s.bytesPerLine);
    b.resize(128 + data.size());
    std::copy(data.begin(), data.end(), b.begin() + 128);
    if (palette) {
        b.push_back(0x0C);
        for (unsigned i = 0; i < 256; ++i) {
            const std::uint32_t c = paletteColour(i);
            b.insert(b.end(), {static_cast<std::uint8_t>(c >> 16),
                               static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c)});
        }
    }
    return b;
}

struct PcxCase {
    const char* name;
    PcxLayout layout;
    bool converterReads; // 8 bits in one or three planes
    bool pictureReads;   // one plane of 8 bits or of 1 bit
};

void PrintTo(const PcxCase& c, std::ostream* os) {
    *os << c.name;
}

const PcxCase kPcxCases[] = {
    {"eight_bits_one_plane", {}, true, true},
    {"eight_bits_three_planes", {.planes = 3}, true, false},
    {"one_bit_one_plane",
     {.version = 3, .bitsPerPixel = 1, .width = 13, .bytesPerLine = 2},
     false,
     true},
};

class PcxRuns : public BrokenSource, public ::testing::WithParamInterface<PcxCase> {};

TEST_P(PcxRuns, CarryAcrossLineEndsInBothReaders) {
    const PcxCase& c = GetParam();
    const PcxLayout& s = c.layout;
    const Bytes lines = pcxLines(s);
    const Bytes file = buildPcx(s, encodeRuns(lines), s.planes == 1 && s.bitsPerPixel == 8);
    const auto sample = [&](std::size_t y, unsigned plane, std::size_t x) {
        return lines[(y * s.planes + plane) * s.bytesPerLine + x];
    };

    Rgb rgb;
    ASSERT_EQ(convert(file, &rgb), c.converterReads ? 1 : -3);
    if (c.converterReads) {
        ASSERT_EQ(rgb.width, s.width);
        ASSERT_EQ(rgb.height, s.height);
        for (std::size_t y = 0; y < s.height; ++y) {
            for (std::size_t x = 0; x < s.width; ++x) {
                const std::uint8_t* p = &rgb.pixels[3 * (y * s.width + x)];
                const std::uint32_t got = std::uint32_t{p[0]} << 16 | p[1] << 8 | p[2];
                const std::uint32_t want = s.planes == 1
                                               ? paletteColour(sample(y, 0, x))
                                               : std::uint32_t{sample(y, 0, x)} << 16 |
                                                     sample(y, 1, x) << 8 | sample(y, 2, x);
                EXPECT_EQ(got, want) << "converter, pixel " << x << "," << y;
            }
        }
    }

    const bool loaded = loads(file, [&](const PictureObject& picture) {
        ASSERT_EQ(picture.width, s.width);
        ASSERT_EQ(picture.height, s.height);
        const std::size_t rowBytes = (std::size_t{s.width} * s.bitsPerPixel + 7) / 8;
        for (std::size_t y = 0; y < s.height; ++y) {
            for (std::size_t x = 0; x < rowBytes; ++x) {
                EXPECT_EQ(picture.pixels.data()[y * picture.stride + x], sample(y, 0, x))
                    << "picture, byte " << x << "," << y;
            }
        }
        if (s.bitsPerPixel == 8) {
            EXPECT_EQ(picture.palette.at(200) & 0xFFFFFF, paletteColour(200));
        }
    });
    EXPECT_EQ(loaded, c.pictureReads);
}

TEST_P(PcxRuns, DataEndingBeforeTheLastRowFailsInBoth) {
    const PcxLayout& s = GetParam().layout;
    const Bytes data = encodeRuns(pcxLines(s));
    for (const std::size_t kept : {data.size() - 1, data.size() / 2, std::size_t{0}}) {
        SCOPED_TRACE(kept);
        const Bytes file =
            buildPcx(s, Bytes(data.begin(), data.begin() + std::ptrdiff_t(kept)), false);
        EXPECT_EQ(convert(file), -3);
        EXPECT_FALSE(loads(file));
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, PcxRuns, ::testing::ValuesIn(kPcxCases),
                         [](const auto& row) { return std::string(row.param.name); });

// The check of the data's length against the header must not refuse the shortest stream: two
// lines of 32 equal bytes are a run of 63 and one literal byte, three bytes in all.
TEST_F(BrokenSource, ShortestPcxStreamDecodesInBoth) {
    const Bytes file =
        buildPcx({.width = 32, .height = 2, .bytesPerLine = 32}, {0xFF, 0x41, 0x41}, false);
    Rgb rgb;
    ASSERT_EQ(convert(file, &rgb), 1);
    EXPECT_EQ(rgb.pixels, Bytes(64 * 3, 0x41));
    EXPECT_TRUE(loads(file, [](const PictureObject& picture) {
        EXPECT_EQ(Bytes(picture.pixels.data(), picture.pixels.data() + 64), Bytes(64, 0x41));
    }));
}

TEST_F(BrokenSource, PcxHeaderTheDataCannotFillFailsInBoth) {
    const PcxLayout s;
    const Bytes good = buildPcx(s, encodeRuns(pcxLines(s)), true);
    ASSERT_EQ(convert(good), 1);
    ASSERT_TRUE(loads(good));
    const auto put16 = [](Bytes& b, std::size_t at, unsigned v) {
        b[at] = static_cast<std::uint8_t>(v);
        b[at + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    const struct {
        const char* name;
        std::function<void(Bytes&)> damage;
    } damages[] = {
        {"right_bound_left_of_left_bound", [&](Bytes& b) { put16(b, 8, 5); }},
        {"bottom_bound_above_top_bound", [&](Bytes& b) { put16(b, 10, 19); }},
        {"line_shorter_than_the_width", [&](Bytes& b) { put16(b, 66, 4); }},
        {"no_line_bytes", [&](Bytes& b) { put16(b, 66, 0); }},
        // 16000 x 16000 (within the decode limits) from a few hundred bytes: refused before the
        // picture is allocated.
        {"far_more_rows_than_the_data_holds",
         [&](Bytes& b) {
             put16(b, 8, 10 + 15999);
             put16(b, 10, 20 + 15999);
             put16(b, 66, 16000);
         }},
    };
    for (const auto& d : damages) {
        SCOPED_TRACE(d.name);
        Bytes file = good;
        d.damage(file);
        EXPECT_EQ(convert(file), -3);
        EXPECT_FALSE(loads(file));
    }
}

} // namespace
} // namespace vantrel::imaging
