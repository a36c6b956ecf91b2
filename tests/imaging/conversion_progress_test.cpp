// Conversions on a worker thread: the progress they report while a page is decoded and encoded,
// and their independence from the thread that keeps drawing (the GUI thread in the program).
//
// The codecs are watched through a stream of the test's own (fopencookie) that notes the figure
// at every read or write they make, so what they report while they work is seen without any
// timing; whole conversions are watched from another thread, as the program's progress panel
// watches them.

#include "imaging/codecs.h"
#include "imaging/converter.h"
#include "imaging/drawing_surface.h"
#include "imaging/picture_registry.h"
#include "tests/imaging/bmp_builder.h"
#include "tests/support/sandbox.h"
#include "tests/support/temporary_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>
#include <tiffio.h>
#include <vector>

namespace vantrel::imaging {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

// A stream over memory that notes the progress figure each time the codec reads or writes.
class ProbeStream {
public:
    ProbeStream(const ConversionProgress& progress, Bytes data = {})
        : progress_(progress)
        , data_(std::move(data)) {}

    std::FILE* open(const char* mode) {
        const cookie_io_functions_t io{&ProbeStream::read, &ProbeStream::write, &ProbeStream::seek,
                                       [](void*) { return 0; }};
        return fopencookie(this, mode, io);
    }
    const Bytes& data() const { return data_; }
    const std::vector<int>& seen() const { return seen_; }

private:
    static ssize_t read(void* self, char* into, std::size_t n) {
        auto& s = *static_cast<ProbeStream*>(self);
        s.note();
        const std::size_t got = std::min(n, s.data_.size() - std::min(s.at_, s.data_.size()));
        std::memcpy(into, s.data_.data() + s.at_, got);
        s.at_ += got;
        return static_cast<ssize_t>(got);
    }
    static ssize_t write(void* self, const char* from, std::size_t n) {
        auto& s = *static_cast<ProbeStream*>(self);
        s.note();
        if (s.data_.size() < s.at_ + n) {
            s.data_.resize(s.at_ + n);
        }
        std::memcpy(s.data_.data() + s.at_, from, n);
        s.at_ += n;
        return static_cast<ssize_t>(n);
    }
    static int seek(void* self, off64_t* offset, int whence) {
        auto& s = *static_cast<ProbeStream*>(self);
        const off64_t base = whence == SEEK_SET   ? 0
                             : whence == SEEK_CUR ? static_cast<off64_t>(s.at_)
                                                  : static_cast<off64_t>(s.data_.size());
        if (base + *offset < 0) {
            return -1;
        }
        s.at_ = static_cast<std::size_t>(base + *offset);
        *offset = static_cast<off64_t>(s.at_);
        return 0;
    }
    void note() { seen_.push_back(progress_.permille.load(std::memory_order_relaxed)); }

    const ConversionProgress& progress_;
    Bytes data_;
    std::size_t at_ = 0;
    std::vector<int> seen_;
};

// A page-like picture that compresses to many output blocks: every row differs.
ImageBuffer texturedPage(std::uint32_t width, std::uint32_t height) {
    ImageBuffer image;
    EXPECT_TRUE(image.create(24, width, height));
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint8_t* p = image.row(y);
        for (std::uint32_t x = 0; x < width; ++x, p += 3) {
            p[0] = static_cast<std::uint8_t>(x * 7 + y * 13);
            p[1] = static_cast<std::uint8_t>((x ^ y) * 5);
            p[2] = static_cast<std::uint8_t>(x * y >> 3);
        }
    }
    return image;
}

// What a codec's share [from, to] showed at each read or write: never lower than before, inside
// its share, moving while the data went through (no figure held over half of the reads or writes,
// as a figure that jumps at the end, or runs ahead of the work and waits, would be), and close to
// the end of the share when the codec is done.
void expectSteadyRise(const std::vector<int>& seen, int finalValue, int from, int to) {
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_GE(seen.front(), 0);
    EXPECT_LE(seen.back(), to);
    std::size_t longest = 0;
    for (auto run = seen.begin(); run != seen.end();) {
        const auto end = std::find_if(run, seen.end(), [&](int v) { return v != *run; });
        longest = std::max(longest, static_cast<std::size_t>(end - run));
        run = end;
    }
    EXPECT_LT(longest, seen.size() / 2)
        << "one figure held through " << longest << " of " << seen.size() << " reads or writes";
    EXPECT_GE(finalValue, from + (to - from) * 9 / 10);
    EXPECT_LE(finalValue, to);
}

constexpr int kFrom = 100;
constexpr int kTo = 900;
constexpr std::uint32_t kWidth = 1200;
constexpr std::uint32_t kHeight = 1000; // 3.6 MB of pixels: several of the BMP codec's chunks

struct EncoderRow {
    const char* name;
    std::function<bool(const ImageBuffer&, std::FILE*, const RowProgress&)> encode;
};

const EncoderRow kEncoders[] = {
    // With optimised tables every byte is written by the second pass, in jpeg_finish_compress.
    {"JpegOptimised",
     [](auto& image, auto* out, auto& p) {
         return encodeJpeg(image, out, {false, 90, true, 0}, p);
     }},
    {"Jpeg",
     [](auto& image, auto* out, auto& p) {
         return encodeJpeg(image, out, {false, 90, false, 0}, p);
     }},
    {"GreyJpeg",
     [](auto& image, auto* out, auto& p) {
         return encodeJpeg(image, out, {true, 90, true, 0}, p);
     }},
    // Seven interlace passes over the same rows.
    {"Png", [](auto& image, auto* out, auto& p) { return encodePng(image, out, p); }},
    {"Bmp", [](auto& image, auto* out, auto& p) { return encodeBmp(image, out, p); }},
};

class EncoderProgress : public ::testing::TestWithParam<EncoderRow> {
protected:
    test::Sandbox sandbox_;
    test::TemporaryFolderOverride tmpdir_{sandbox_ / "tmp"};
};

TEST_P(EncoderProgress, RisesAsTheFileIsWritten) {
    const ImageBuffer page = texturedPage(kWidth, kHeight);
    ConversionProgress progress;
    ProbeStream target(progress);
    std::FILE* out = target.open("wb");
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(GetParam().encode(page, out, RowProgress(&progress, kFrom, kTo)));
    ASSERT_EQ(std::fclose(out), 0);
    expectSteadyRise(target.seen(), progress.permille.load(), kFrom, kTo);
}

INSTANTIATE_TEST_SUITE_P(Encoders, EncoderProgress, ::testing::ValuesIn(kEncoders),
                         [](const auto& row) { return std::string(row.param.name); });

struct DecoderRow {
    const char* name;
    // The source file's bytes, made from the page.
    std::function<Bytes(const ImageBuffer&, const fs::path& scratch)> source;
};

Bytes encoded(const ImageBuffer& page,
              const std::function<bool(const ImageBuffer&, std::FILE*)>& encode) {
    ConversionProgress none;
    ProbeStream file(none);
    std::FILE* out = file.open("wb");
    EXPECT_TRUE(encode(page, out));
    std::fclose(out);
    return file.data();
}

// A TIFF of strips of 64 rows, written by libtiff.
Bytes tiffOf(const ImageBuffer& page, const fs::path& scratch) {
    const fs::path file = scratch / "page.tif";
    TIFF* tif = TIFFOpen(file.c_str(), "w");
    EXPECT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, page.width());
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, page.height());
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 64);
    for (std::uint32_t y = 0; y < page.height(); ++y) {
        TIFFWriteScanline(tif, page.row(y), y, 0);
    }
    TIFFClose(tif);
    const std::string s = test::Sandbox::read(file);
    return {s.begin(), s.end()};
}

const DecoderRow kDecoders[] = {
    {"Bmp", [](auto& page,
               auto&) { return encoded(page, [](auto& i, auto* o) { return encodeBmp(i, o); }); }},
    {"Jpeg",
     [](auto& page, auto&) {
         return encoded(page, [](auto& i, auto* o) { return encodeJpeg(i, o, {}); });
     }},
    {"InterlacedPng",
     [](auto& page, auto&) {
         return encoded(page, [](auto& i, auto* o) { return encodePng(i, o); });
     }},
    {"Tiff", tiffOf},
};

class DecoderProgress : public ::testing::TestWithParam<DecoderRow> {
protected:
    test::Sandbox sandbox_;
    test::TemporaryFolderOverride tmpdir_{sandbox_ / "tmp"};
};

TEST_P(DecoderProgress, RisesAsTheFileIsRead) {
    const Bytes file = GetParam().source(texturedPage(kWidth, kHeight), sandbox_.path());
    ASSERT_FALSE(file.empty());
    ConversionProgress progress;
    ProbeStream source(progress, file);
    std::FILE* in = source.open("rb");
    ASSERT_NE(in, nullptr);
    ImageBuffer decoded;
    const bool ok = decodePicture(in, file.size(), decoded, RowProgress(&progress, kFrom, kTo));
    std::fclose(in);
    ASSERT_TRUE(ok);
    EXPECT_EQ(decoded.height(), kHeight);
    expectSteadyRise(source.seen(), progress.permille.load(), kFrom, kTo);
}

INSTANTIATE_TEST_SUITE_P(Decoders, DecoderProgress, ::testing::ValuesIn(kDecoders),
                         [](const auto& row) { return std::string(row.param.name); });

// ---- whole conversions on a worker thread ----

// A 24-bit BMP page of `width` x `height` with varied pixels; top-down rows when asked.
Bytes bmpPage(std::int32_t width, std::int32_t height, bool topDown = false) {
    test::BmpSpec spec{.width = width, .height = topDown ? -height : height};
    const std::size_t stride = test::bmpStride(width, 24);
    spec.pixels.resize(stride * static_cast<std::size_t>(height));
    for (std::size_t i = 0; i < spec.pixels.size(); ++i) {
        spec.pixels[i] = static_cast<std::uint8_t>(i * 2654435761u >> 24);
    }
    return test::buildBmp(spec);
}

struct ConversionRow {
    const char* name;
    bool topDown;
    std::function<int(const std::string&, const std::string&, ConversionProgress*)> convert;
};

const ConversionRow kConversions[] = {
    {"Jpeg", false, [](auto& s, auto& t, auto* p) { return toJpeg(s, t, false, 100, true, 0, p); }},
    {"Png", false, [](auto& s, auto& t, auto* p) { return toPng(s, t, 24, p); }},
    // A bottom-up 24-bit source is copied row for row; a top-down one is decoded and encoded.
    {"BmpCopied", false, [](auto& s, auto& t, auto* p) { return toBmp(s, t, p); }},
    {"BmpFromTopDown", true, [](auto& s, auto& t, auto* p) { return toBmp(s, t, p); }},
};

constexpr DrawingSurface::Colour kBlue = 0xFF0000; // 0x00BBGGRR

class WorkerConversion : public ::testing::TestWithParam<ConversionRow> {
protected:
    // Runs the conversion on a worker thread while this thread samples the progress and keeps
    // drawing on a panel, as the GUI thread does while a save runs. Returns the result.
    int runWatched(const std::string& source, const std::string& target) {
        ConversionProgress progress;
        progress.permille = 777; // a figure left from an earlier save: the conversion restarts it
        std::atomic<bool> done{false};
        int result = 0;
        const auto& convert = GetParam().convert;
        std::thread worker([&] {
            result = convert(source, target, &progress);
            done = true;
        });
        DrawingSurface panel(64, 48);
        const auto tile = rasterToBmp(platform::Raster(8, 8, platform::toPixel(kBlue)));
        bool first = true;
        while (!done) {
            const int now = progress.permille.load(std::memory_order_relaxed);
            if (first && now == 777) {
                continue; // not started yet
            }
            first = false;
            samples_.push_back(now);
            const PictureHandle picture = LoadPicture(tile);
            panel.drawPicture(picture, 0, 0, 64, 48);
            UnloadPicture(picture);
            drawn_ = panel.getPicture();
            std::this_thread::yield();
        }
        worker.join();
        samples_.push_back(progress.permille.load());
        return result;
    }

    test::Sandbox sandbox_;
    test::TemporaryFolderOverride tmpdir_{sandbox_ / "tmp"};
    std::vector<int> samples_;
    std::vector<std::uint8_t> drawn_;
};

TEST_P(WorkerConversion, ReportsARisingFigureThatEndsAtOneThousand) {
    const fs::path source = sandbox_ / "page.bmp";
    const Bytes page = bmpPage(1600, 1200, GetParam().topDown);
    sandbox_.write("page.bmp",
                   std::string_view(reinterpret_cast<const char*>(page.data()), page.size()));
    ASSERT_EQ(runWatched(source.string(), (sandbox_ / "out").string()), kConvertOk)
        << lastConversionError();
    EXPECT_TRUE(std::is_sorted(samples_.begin(), samples_.end()));
    EXPECT_GE(samples_.front(), 0);
    EXPECT_EQ(samples_.back(), 1000);
    // The panel drew and read back whole while the worker converted: blue everywhere.
    ASSERT_EQ(drawn_.size(), 54u + 64 * 3 * 48);
    for (std::size_t i = 54; i < drawn_.size(); i += 3) {
        ASSERT_EQ(drawn_[i] << 16 | drawn_[i + 1] << 8 | drawn_[i + 2], 0xFF0000) << "at " << i;
    }
}

TEST_P(WorkerConversion, FailureStopsShortOfOneThousand) {
    const Bytes page = bmpPage(300, 200, GetParam().topDown);
    sandbox_.write("page.bmp",
                   std::string_view(reinterpret_cast<const char*>(page.data()), page.size()));
    EXPECT_EQ(
        runWatched((sandbox_ / "page.bmp").string(), (sandbox_ / "no-folder" / "out").string()),
        kTargetNotWritten);
    EXPECT_TRUE(std::is_sorted(samples_.begin(), samples_.end()));
    EXPECT_LT(samples_.back(), 1000);
}

INSTANTIATE_TEST_SUITE_P(Formats, WorkerConversion, ::testing::ValuesIn(kConversions),
                         [](const auto& row) { return std::string(row.param.name); });

// The reason for a failure belongs to the thread whose conversion failed.
TEST(ConversionThreads, EachThreadKeepsItsOwnLastError) {
    test::Sandbox sandbox;
    test::TemporaryFolderOverride tmpdir{sandbox / "tmp"};
    const Bytes page = bmpPage(400, 300);
    sandbox.write("page.bmp",
                  std::string_view(reinterpret_cast<const char*>(page.data()), page.size()));
    sandbox.write("text.bmp", "not a picture");
    ASSERT_EQ(toBmp((sandbox / "text.bmp").string(), (sandbox / "a.bmp").string()),
              kSourceUnreadable);
    const std::string mine = lastConversionError();
    ASSERT_FALSE(mine.empty());

    struct Outcome {
        int result = 0;
        std::string error;
        int errorNumber = -1;
    };
    Outcome missing, converted;
    std::thread a([&] {
        for (int i = 0; i < 20; ++i) {
            missing.result =
                toPng((sandbox / "none.bmp").string(), (sandbox / "b.png").string(), 24);
            missing.error = lastConversionError();
            missing.errorNumber = lastConversionErrno();
        }
    });
    std::thread b([&] {
        for (int i = 0; i < 20; ++i) {
            converted.result = toPng((sandbox / "page.bmp").string(),
                                     (sandbox / ("c" + std::to_string(i) + ".png")).string(), 24);
            converted.error = lastConversionError();
            converted.errorNumber = lastConversionErrno();
        }
    });
    a.join();
    b.join();
    EXPECT_EQ(missing.result, kSourceMissing);
    EXPECT_NE(missing.error.find("none.bmp: no such file"), std::string::npos) << missing.error;
    EXPECT_EQ(converted.result, kConvertOk);
    EXPECT_EQ(converted.error, "");
    EXPECT_EQ(converted.errorNumber, 0);
    EXPECT_EQ(lastConversionError(), mine);
}

} // namespace
} // namespace vantrel::imaging
