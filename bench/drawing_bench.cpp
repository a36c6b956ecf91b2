// Speed of the drawing panel on an A4 page at 300 dpi (2480 x 3508, 24-bit), as ratios against
// references measured in the same run:
//   keyed 1:1 draw onto the 32-bit panel      vs  a plain keyed loop over the same bytes  (<= 1.5x;
//                                                 <= 3x a memory copy of the page as a stretch
//                                                 goal)
//   GetPicture (32-bit panel to BMP bytes)     vs  a plain 32-to-24-bit loop (<= 1.5x) LoadPicture
//   of the page's BMP bytes        vs  a memory copy of the page                (<= 2x)
// The references write into buffers allocated once; ours allocate what they return, as the
// program does.

#include "bench/goal.h"
#include "imaging/drawing_surface.h"
#include "imaging/picture_registry.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace vantrel;

constexpr int kWidth = 2480;
constexpr int kHeight = 3508;
constexpr std::uint32_t kWhite = 0xFFFFFF;

// A scanned page as BMP bytes: white paper (the key) with about a third of the pixels marked by
// dark text strokes and a coloured photograph, so the keyed draw cannot skip whole rows.
const std::vector<std::uint8_t>& page() {
    static const std::vector<std::uint8_t> bytes = [] {
        platform::Raster raster(kWidth, kHeight, platform::toPixel(kWhite));
        std::uint32_t seed = 7;
        for (int y = 0; y < kHeight; ++y) {
            std::uint32_t* row = raster.row(y);
            for (int x = 0; x < kWidth; ++x) {
                seed = seed * 1664525u + 1013904223u;
                if (y < kHeight / 4 && x > kWidth / 8 && x < kWidth * 7 / 8) {
                    row[x] = platform::kOpaque | (std::uint32_t(x) * 97 + std::uint32_t(y) * 31) |
                             (seed >> 24);
                } else if ((y / 40) % 2 == 0 && (seed >> 28) < 4) {
                    row[x] = platform::kOpaque | 0x101010u * (seed >> 29);
                }
            }
        }
        return imaging::rasterToBmp(raster);
    }();
    return bytes;
}

const std::uint8_t* pageRows() {
    return page().data() + 54;
}
constexpr std::size_t kStride = (kWidth * 3 + 3) & ~3;

void MemoryCopy(benchmark::State& state) {
    std::vector<std::uint8_t> target(page().size(), 1);
    for (auto _ : state) {
        std::memcpy(target.data(), page().data(), page().size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
}

// The plain loop a careful programmer writes first: each 24-bit pixel compared with the key
// and, when it differs, written as a 32-bit pixel.
void PlainKeyedLoop(benchmark::State& state) {
    platform::Raster target(kWidth, kHeight, 0xFF000000u);
    for (auto _ : state) {
        for (int y = 0; y < kHeight; ++y) {
            const std::uint8_t* in = pageRows() + std::size_t(kHeight - 1 - y) * kStride;
            std::uint32_t* out = target.row(y);
            for (int x = 0; x < kWidth; ++x, in += 3) {
                const std::uint32_t colour = in[2] | in[1] << 8 | in[0] << 16;
                if (colour != kWhite) {
                    out[x] = 0xFF000000u | in[2] << 16 | in[1] << 8 | in[0];
                }
            }
        }
        benchmark::DoNotOptimize(target.row(0));
        benchmark::ClobberMemory();
    }
}

void KeyedDraw(benchmark::State& state) {
    imaging::DrawingSurface panel(kWidth, kHeight);
    const imaging::PictureHandle handle = imaging::LoadPicture(page());
    for (auto _ : state) {
        panel.drawPicture(handle, 0, 0, kWidth, kHeight, imaging::DrawMode::transparent(kWhite));
        benchmark::DoNotOptimize(panel.bitmap().row(0));
        benchmark::ClobberMemory();
    }
    imaging::UnloadPicture(handle);
}

// The plain read-back: each 32-bit pixel's three colour bytes, rows bottom-up, padded rows.
void PlainReadBackLoop(benchmark::State& state) {
    platform::Raster source(kWidth, kHeight, 0xFF123456u);
    std::vector<std::uint8_t> out(page().size());
    for (auto _ : state) {
        for (int y = 0; y < kHeight; ++y) {
            const std::uint32_t* in = source.row(kHeight - 1 - y);
            std::uint8_t* o = out.data() + 54 + std::size_t(y) * kStride;
            for (int x = 0; x < kWidth; ++x) {
                o[x * 3] = std::uint8_t(in[x]);
                o[x * 3 + 1] = std::uint8_t(in[x] >> 8);
                o[x * 3 + 2] = std::uint8_t(in[x] >> 16);
            }
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}

void GetPicture(benchmark::State& state) {
    imaging::DrawingSurface panel(kWidth, kHeight);
    for (auto _ : state) {
        const std::vector<std::uint8_t> bytes = panel.getPicture();
        benchmark::DoNotOptimize(bytes.data());
    }
}

void LoadPictureFromBmp(benchmark::State& state) {
    for (auto _ : state) {
        const imaging::PictureHandle handle = imaging::LoadPicture(page());
        benchmark::DoNotOptimize(handle);
        imaging::UnloadPicture(handle);
    }
}

// Each the median of five repetitions.
#define PAGE_BENCHMARK(fn)                                                                         \
    BENCHMARK(fn)                                                                                  \
        ->Unit(benchmark::kMillisecond)                                                            \
        ->UseRealTime()                                                                            \
        ->Repetitions(5)                                                                           \
        ->ReportAggregatesOnly(true)
PAGE_BENCHMARK(MemoryCopy);
PAGE_BENCHMARK(PlainKeyedLoop);
PAGE_BENCHMARK(KeyedDraw);
PAGE_BENCHMARK(PlainReadBackLoop);
PAGE_BENCHMARK(GetPicture);
PAGE_BENCHMARK(LoadPictureFromBmp);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // With repetitions, the median stands for the benchmark.
            const bool aggregate = run.run_type == Run::RT_Aggregate;
            if (!run.error_occurred && (!aggregate || run.aggregate_name == "median")) {
                std::string name = run.benchmark_name();
                seconds[name.substr(0, name.find('/'))] = run.GetAdjustedRealTime();
            }
        }
    }
    std::map<std::string, double> seconds;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto ratio = [&](const char* ours, const char* reference, double bar) {
        const auto a = reporter.seconds.find(ours), b = reporter.seconds.find(reference);
        vantrel::bench::ratioGoal(std::string(ours) + " (A4 300 dpi, median of 5)",
                                  a == reporter.seconds.end() ? 0 : a->second, reference,
                                  b == reporter.seconds.end() ? 0 : b->second, bar);
    };
    std::printf("\nRatios (same run):\n");
    ratio("KeyedDraw", "PlainKeyedLoop", 1.5);
    ratio("KeyedDraw", "MemoryCopy", 3.0);
    ratio("GetPicture", "PlainReadBackLoop", 1.5);
    ratio("LoadPictureFromBmp", "MemoryCopy", 2.0);
    benchmark::Shutdown();
    return 0;
}
