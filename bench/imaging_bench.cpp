// Speed of the imaging layer on a scanned A4 page (2480 x 3508 at 300 dpi, 4960 x 7016 at 600 dpi,
// 24-bit), as ratios against references measured in the same run:
//   toJpeg quality 100 optimised   vs  cjpeg -quality 100 -optimize -baseline   (at most 1.15x)
//   toPng                          vs  ImageMagick convert -interlace PNG       (at most 0.5x; the
//                                      file at most 1.10x)
//   toBmp                          vs  cp of the BMP                            (at most 2.5x)
//   `vantrel convert`, whole process, against the same tools' whole processes (same goals)
//   near-white pass, whole image   vs  a bare branchless loop over the bytes    (at most 2x)
//   near-white pass, per pixel     vs  the same bare loop, walked in the same   (at most 4x)
//                                      order (rows, or down the columns)
// each pass also as the first pass of a fresh process, and the peak memory of each conversion
// against the page's pixel bytes (at most 2.5x). The passes use the program's tolerance (20) and
// key (white) on a page whose paper straddles the tolerance, as scanned paper does: with the
// sensor's noise some paper pixels are near white and their neighbours are not, so no branch on
// a pixel's nearness can be predicted.
// A save is on disk when it is reported done (the file and its folder flushed), so each
// reference tool's output is flushed the same way, inside the timed run.
// External references that are not installed are reported as missing, not guessed.

#include "bench/child_runs.h"
#include "bench/goal.h"
#include "bench/tool_runs.h"
#include "imaging/bitmap.h"
#include "imaging/converter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using vantrel::bench::flushToDisk;
using vantrel::bench::median;
using vantrel::bench::runTool;
using vantrel::bench::wholeProcessMs;
using vantrel::imaging::Bitmap;
using vantrel::imaging::Colour;

constexpr int kTolerance = 20; // the program's near-colour tolerance

struct Page {
    int width, height;
    fs::path bmp;
    std::vector<std::uint8_t> bytes;
};

fs::path workDir() {
    static const fs::path dir = [] {
        std::string pattern = (fs::temp_directory_path() / "vantrel-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            std::abort();
        }
        return fs::path(pattern);
    }();
    return dir;
}

// A scanned office page: off-white paper with sensor noise (about three quarters of it within
// the tolerance of white), lines of dark text strokes, and a photograph (smooth colour fields with
// noise) in the upper third.
Page makePage(int dpi) {
    Page page{
        dpi * 2480 / 300, dpi * 3508 / 300, workDir() / ("a4-" + std::to_string(dpi) + ".bmp"), {}};
    const std::size_t stride = (3 * static_cast<std::size_t>(page.width) + 3) / 4 * 4;
    const std::size_t size = 54 + stride * static_cast<std::size_t>(page.height);
    page.bytes.assign(size, 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(&page.bytes[at], &v, 4); };
    page.bytes[0] = 'B';
    page.bytes[1] = 'M';
    put32(2, static_cast<std::uint32_t>(size));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(page.width));
    put32(22, static_cast<std::uint32_t>(page.height));
    page.bytes[26] = 1;
    page.bytes[28] = 24;
    std::uint32_t seed = 12345;
    auto noise = [&](int amplitude) {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int>((seed >> 16) % static_cast<unsigned>(2 * amplitude + 1)) -
               amplitude;
    };
    const int margin = page.width / 10;
    const int lineHeight = dpi / 6; // about 12 point lines
    for (int y = 0; y < page.height; ++y) {
        std::uint8_t* row =
            &page.bytes[54 + static_cast<std::size_t>(page.height - 1 - y) * stride];
        const bool photoRow = y > page.height / 12 && y < page.height / 3;
        const bool textRow = !photoRow && y > margin && y < page.height - margin &&
                             (y % lineHeight) < lineHeight * 6 / 10;
        for (int x = 0; x < page.width; ++x) {
            int r = 251, g = 250, b = 247; // paper, 17 from white before the noise
            if (photoRow && x > margin && x < page.width - margin) {
                r = 90 + 80 * x / page.width + (y % 97);
                g = 60 + 120 * y / page.height + (x % 53);
                b = 140 - 60 * x / page.width;
                r += noise(6), g += noise(6), b += noise(6);
            } else if (textRow && x > margin && x < page.width - margin &&
                       ((x / (dpi / 30) + y / lineHeight) * 2654435761u >> 29) < 5) {
                r = g = b = 35; // a glyph stroke
            }
            r += noise(3), g += noise(3), b += noise(3);
            row[3 * x] = static_cast<std::uint8_t>(std::clamp(b, 0, 255));
            row[3 * x + 1] = static_cast<std::uint8_t>(std::clamp(g, 0, 255));
            row[3 * x + 2] = static_cast<std::uint8_t>(std::clamp(r, 0, 255));
        }
    }
    std::ofstream(page.bmp, std::ios::binary)
        .write(reinterpret_cast<const char*>(page.bytes.data()),
               static_cast<std::streamsize>(size));
    return page;
}

const Page& page(int dpi) {
    static std::map<int, Page> pages;
    auto it = pages.find(dpi);
    if (it == pages.end()) {
        it = pages.emplace(dpi, makePage(dpi)).first;
    }
    return it->second;
}

std::string findTool(std::initializer_list<const char*> candidates) {
    for (const char* c : candidates) {
        if (access(c, X_OK) == 0) {
            return c;
        }
    }
    return {};
}

std::string out(const char* name, int dpi) {
    return (workDir() / (std::string(name) + "-" + std::to_string(dpi))).string();
}

// Every run writes a new file, as a save does: the previous output is removed untimed.
void freshTarget(benchmark::State& state, const std::string& target) {
    state.PauseTiming();
    std::error_code ignored;
    fs::remove(target, ignored);
    state.ResumeTiming();
}

// ---- conversions and their references ----

void ToJpeg(benchmark::State& state) {
    const Page& p = page(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        freshTarget(state, out("ours.jpg", p.width));
        if (vantrel::imaging::toJpeg(p.bmp.string(), out("ours.jpg", p.width), false, 100, true,
                                     0) != 1) {
            state.SkipWithError("toJpeg failed");
        }
    }
}
void Cjpeg(benchmark::State& state) {
    const Page& p = page(static_cast<int>(state.range(0)));
    const std::string cjpeg = findTool({"/usr/bin/cjpeg", "/usr/local/bin/cjpeg"});
    if (cjpeg.empty()) {
        state.SkipWithError("cjpeg not installed (libjpeg-turbo-progs)");
        return;
    }
    for (auto _ : state) {
        freshTarget(state, out("cjpeg.jpg", p.width));
        runTool({cjpeg, "-quality", "100", "-optimize", "-baseline", "-outfile",
                 out("cjpeg.jpg", p.width), p.bmp.string()});
        flushToDisk(out("cjpeg.jpg", p.width));
    }
}
void ToPng(benchmark::State& state) {
    const Page& p = page(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        freshTarget(state, out("ours.png", p.width));
        if (vantrel::imaging::toPng(p.bmp.string(), out("ours.png", p.width), 24) != 1) {
            state.SkipWithError("toPng failed");
        }
    }
}
void ConvertPng(benchmark::State& state) {
    const Page& p = page(static_cast<int>(state.range(0)));
    const std::string convert = findTool({"/usr/bin/convert"});
    if (convert.empty()) {
        state.SkipWithError("ImageMagick convert not installed");
        return;
    }
    for (auto _ : state) {
        freshTarget(state, out("magick.png", p.width));
        runTool(
            {convert, p.bmp.string(), "-interlace", "PNG", "PNG24:" + out("magick.png", p.width)});
        flushToDisk(out("magick.png", p.width));
    }
}
void ToBmp(benchmark::State& state) {
    const Page& p = page(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        freshTarget(state, out("ours.bmp", p.width));
        if (vantrel::imaging::toBmp(p.bmp.string(), out("ours.bmp", p.width)) != 1) {
            state.SkipWithError("toBmp failed");
        }
    }
}
void CopyFile(benchmark::State& state) {
    const Page& p = page(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        freshTarget(state, out("copy.bmp", p.width));
        runTool({"/bin/cp", p.bmp.string(), out("copy.bmp", p.width)});
        flushToDisk(out("copy.bmp", p.width));
    }
}

// ---- the near-white pass ----

// The reference: a branchless near-white snap straight over the pixel bytes, row by row or down
// each column in turn. Down a column every step lands on another cache line (and at 600 dpi on
// another 4 KiB page), so that walk is several times slower however the pixel is reached: a
// per-pixel pass down the columns is held against this walk, not against the row walk.
void snapBare(std::uint8_t* px) {
    const unsigned d = 765u - px[0] - px[1] - px[2];
    const auto near = static_cast<std::uint8_t>(-static_cast<int>(d - 1 < kTolerance));
    px[0] |= near;
    px[1] |= near;
    px[2] |= near;
}

void bareLoop(std::vector<std::uint8_t>& bytes, int width, int height, bool columns = false) {
    const std::size_t stride = (3 * static_cast<std::size_t>(width) + 3) / 4 * 4;
    std::uint8_t* first = bytes.data() + 54;
    if (columns) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* px = first + 3 * static_cast<std::size_t>(x);
            for (int y = 0; y < height; ++y, px += stride) {
                snapBare(px);
            }
        }
        return;
    }
    for (int y = 0; y < height; ++y) {
        std::uint8_t* px = first + static_cast<std::size_t>(y) * stride;
        for (int x = 0; x < width; ++x, px += 3) {
            snapBare(px);
        }
    }
}

void BareLoop(benchmark::State& state) {
    const Page& p = page(static_cast<int>(state.range(0)));
    const bool columns = state.range(1) != 0;
    std::vector<std::uint8_t> bytes = p.bytes;
    for (auto _ : state) {
        bareLoop(bytes, p.width, p.height, columns);
        benchmark::DoNotOptimize(bytes.data());
        state.PauseTiming();
        bytes = p.bytes;
        state.ResumeTiming();
    }
}

bool nearWhite(Colour c) {
    const int d = 765 - static_cast<int>(c & 0xFF) - static_cast<int>((c >> 8) & 0xFF) -
                  static_cast<int>((c >> 16) & 0xFF);
    return d > 0 && d <= kTolerance;
}

void BitmapWholeImagePass(benchmark::State& state) {
    const Page& p = page(static_cast<int>(state.range(0)));
    Bitmap bitmap;
    bitmap.loadData(p.bytes);
    for (auto _ : state) {
        bitmap.forEachPixel([](Colour c) { return nearWhite(c) ? 0xFFFFFFu : c; });
        state.PauseTiming();
        bitmap.loadData(p.bytes);
        state.ResumeTiming();
    }
}

// The getPixel/setPixel loop a caller of the component writes, row by row or (as the workflows
// order it) column by column.
void perPixelPass(Bitmap& bitmap, bool columns) {
    const std::int32_t w = bitmap.getWidth();
    const std::int32_t h = bitmap.getHeight();
    for (std::int32_t a = 0; a < (columns ? w : h); ++a) {
        for (std::int32_t b = 0; b < (columns ? h : w); ++b) {
            const std::int32_t x = columns ? a : b;
            const std::int32_t y = columns ? b : a;
            if (nearWhite(bitmap.getPixel(x, y))) {
                bitmap.setPixel(x, y, 0xFFFFFF);
            }
        }
    }
}

void BitmapPerPixelPass(benchmark::State& state) {
    const Page& p = page(static_cast<int>(state.range(0)));
    const bool columns = state.range(1) != 0;
    Bitmap bitmap;
    bitmap.loadData(p.bytes);
    for (auto _ : state) {
        perPixelPass(bitmap, columns);
        state.PauseTiming();
        bitmap.loadData(p.bytes);
        state.ResumeTiming();
    }
}

#define A4(fn)                                                                                     \
    BENCHMARK(fn)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime()
// Both pages, each walked along the rows (0) and down the columns (1).
#define A4_BOTH_ORDERS(fn)                                                                         \
    BENCHMARK(fn)                                                                                  \
        ->Args({300, 0})                                                                           \
        ->Args({300, 1})                                                                           \
        ->Args({600, 0})                                                                           \
        ->Args({600, 1})                                                                           \
        ->Unit(benchmark::kMillisecond)                                                            \
        ->MinTime(1.0)                                                                             \
        ->UseRealTime()
A4(ToJpeg);
A4(Cjpeg);
A4(ToPng);
A4(ConvertPng);
A4(ToBmp);
A4(CopyFile);
A4_BOTH_ORDERS(BareLoop);
A4(BitmapWholeImagePass);
A4_BOTH_ORDERS(BitmapPerPixelPass);

// Remembers each run's time so the ratios can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (!run.error_occurred) {
                std::string name = run.benchmark_name();
                name = name.substr(0, name.find("/min_time"));
                name = name.substr(0, name.find("/real_time"));
                seconds[name] = run.GetAdjustedRealTime() / 1e3;
            }
        }
    }
    std::map<std::string, double> seconds;
};

// Peak resident memory of one conversion, in a fresh process of its own (this one holds pages),
// which reports its own high-water mark.
long peakKilobytes(const char* format, const std::string& source, const std::string& target) {
    const std::string command = fs::read_symlink("/proc/self/exe").string() + " --convert-once " +
                                format + " '" + source + "' '" + target + "'";
    std::FILE* child = popen(command.c_str(), "r");
    long kb = -1;
    if (child && std::fscanf(child, "%ld", &kb) != 1) {
        kb = -1;
    }
    if (child && pclose(child) != 0) {
        kb = -1;
    }
    return kb;
}

int convertOnce(const std::string& format, const std::string& source, const std::string& target) {
    int code = 0;
    if (format == "jpg") {
        code = vantrel::imaging::toJpeg(source, target, false, 100, true, 0);
    } else if (format == "png") {
        code = vantrel::imaging::toPng(source, target, 24);
    } else {
        code = vantrel::imaging::toBmp(source, target);
    }
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            std::printf("%ld\n", std::strtol(line.c_str() + 6, nullptr, 10));
        }
    }
    return code == 1 ? 0 : 1;
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// Child mode: one pass ("whole", "rows", "columns", "bare" or "bare-columns") over a freshly loaded
// page in this fresh process; prints its milliseconds.
int firstPass(const std::string& kind, int dpi) {
    const Page& p = page(dpi);
    Bitmap bitmap;
    bitmap.loadData(p.bytes);
    std::vector<std::uint8_t> bytes = p.bytes;
    const auto start = std::chrono::steady_clock::now();
    if (kind == "whole") {
        bitmap.forEachPixel([](Colour c) { return nearWhite(c) ? 0xFFFFFFu : c; });
    } else if (kind == "bare" || kind == "bare-columns") {
        bareLoop(bytes, p.width, p.height, kind == "bare-columns");
    } else {
        perPixelPass(bitmap, kind == "columns");
    }
    std::printf("%.3f\n", millisecondsSince(start));
    benchmark::DoNotOptimize(bytes.data());
    fs::remove_all(workDir());
    return 0;
}

// The first pass of five fresh processes (median), in milliseconds.
double firstPassMs(const std::string& kind, int dpi) {
    return vantrel::bench::medianOfChildren(fs::read_symlink("/proc/self/exe").string() +
                                            " --first-pass " + kind + " " + std::to_string(dpi));
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--convert-once") {
        return convertOnce(argv[2], argv[3], argv[4]);
    }
    if (argc == 4 && std::string(argv[1]) == "--first-pass") {
        return firstPass(argv[2], std::atoi(argv[3]));
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto ms = [&](const std::string& name) {
        const auto it = reporter.seconds.find(name);
        return it == reporter.seconds.end() ? 0.0 : it->second * 1e3;
    };
    using vantrel::bench::ratioGoal;

    std::printf("\nConversions in this process, against the tools' whole processes:\n");
    for (int dpi : {300, 600}) {
        const std::string d = "/" + std::to_string(dpi);
        const std::string at = " " + std::to_string(dpi) + " dpi";
        ratioGoal("toJpeg" + at, ms("ToJpeg" + d), "cjpeg", ms("Cjpeg" + d), 1.15);
        ratioGoal("toPng" + at, ms("ToPng" + d), "convert", ms("ConvertPng" + d), 0.5);
        ratioGoal("toBmp" + at, ms("ToBmp" + d), "cp", ms("CopyFile" + d), 2.5);
        const Page& p = page(dpi);
        const auto ours = out("ours.png", p.width);
        const auto magick = out("magick.png", p.width);
        const auto kib = [](const std::string& file) {
            std::error_code missing;
            const auto bytes = fs::file_size(file, missing);
            return missing ? 0.0 : static_cast<double>(bytes) / 1024;
        };
        ratioGoal("PNG file size" + at, kib(ours), "convert's", kib(magick), 1.10, "KiB");
    }

    std::printf("\nThe near-white pass (tolerance %d, key white) against the bare loop:\n",
                kTolerance);
    for (int dpi : {300, 600}) {
        const std::string d = "/" + std::to_string(dpi);
        const std::string at = " " + std::to_string(dpi) + " dpi";
        const double bare = ms("BareLoop" + d + "/0");
        const double bareColumns = ms("BareLoop" + d + "/1");
        const double columns = ms("BitmapPerPixelPass" + d + "/1");
        ratioGoal("forEachPixel pass" + at, ms("BitmapWholeImagePass" + d), "bare loop", bare, 2.0);
        ratioGoal("getPixel/setPixel rows" + at, ms("BitmapPerPixelPass" + d + "/0"), "bare loop",
                  bare, 4.0);
        ratioGoal("getPixel/setPixel columns" + at, columns, "bare loop down the columns",
                  bareColumns, 4.0);
        std::printf("         (the bare loop down the columns takes %.2fx its time along the rows;"
                    " the getPixel/setPixel columns pass %.2fx)\n",
                    bare > 0 ? bareColumns / bare : 0.0, bare > 0 ? columns / bare : 0.0);
        ratioGoal("first forEachPixel pass of a process" + at, firstPassMs("whole", dpi),
                  "bare loop", bare, 2.0);
        ratioGoal("first getPixel/setPixel rows pass of a process" + at, firstPassMs("rows", dpi),
                  "bare loop", bare, 4.0);
        ratioGoal("first getPixel/setPixel columns pass of a process" + at,
                  firstPassMs("columns", dpi), "bare loop down the columns", bareColumns, 4.0);
    }

#ifdef VANTREL_PROGRAM_PATH
    std::printf("\n`vantrel convert`, whole process, against the tools' whole processes:\n");
    const std::string cjpeg = findTool({"/usr/bin/cjpeg", "/usr/local/bin/cjpeg"});
    const std::string convert = findTool({"/usr/bin/convert"});
    for (int dpi : {300, 600}) {
        const Page& p = page(dpi);
        const std::string src = p.bmp.string();
        const std::string at = " " + std::to_string(dpi) + " dpi";
        const auto target = [&](const char* name) { return out(name, dpi); };
        auto vantrel = [&](const char* format, const std::string& to) {
            return wholeProcessMs({VANTREL_PROGRAM_PATH, "convert", "--to", format, src, to}, to);
        };
        ratioGoal("vantrel convert --to jpg" + at, vantrel("jpg", target("cli.jpg")), "cjpeg",
                  cjpeg.empty()
                      ? 0
                      : wholeProcessMs({cjpeg, "-quality", "100", "-optimize", "-baseline",
                                        "-outfile", target("cli-ref.jpg"), src},
                                       target("cli-ref.jpg")),
                  1.15);
        ratioGoal("vantrel convert --to png" + at, vantrel("png", target("cli.png")), "convert",
                  convert.empty() ? 0
                                  : wholeProcessMs({convert, src, "-interlace", "PNG",
                                                    "PNG24:" + target("cli-ref.png")},
                                                   target("cli-ref.png")),
                  0.5);
        ratioGoal("vantrel convert --to bmp" + at, vantrel("bmp", target("cli.bmp")), "cp",
                  wholeProcessMs({"/bin/cp", src, target("cli-ref.bmp")}, target("cli-ref.bmp")),
                  2.5);
    }
#endif

    std::printf("\nPeak memory of one conversion against the page's pixel bytes:\n");
    for (int dpi : {300, 600}) {
        const Page& p = page(dpi);
        const double pageKb = 3.0 * p.width * p.height / 1024.0;
        const std::string src = p.bmp.string();
        for (const char* format : {"jpg", "png", "bmp"}) {
            const long kb = peakKilobytes(format, src, out("mem", dpi) + "." + format);
            ratioGoal(std::string("peak memory of a ") + format + " conversion " +
                          std::to_string(dpi) + " dpi",
                      static_cast<double>(kb), "the page", pageKb, 2.5, "KiB");
        }
    }
    fs::remove_all(workDir());
    benchmark::Shutdown();
    return 0;
}
