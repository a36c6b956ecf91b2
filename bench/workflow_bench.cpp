// Workflow timings on the real main window (offscreen), each against a reference measured in the
// same run: the near-colour pass with its per-column progress and event processing against a bare
// branchless near-white loop over the bytes; a page's way from PictureAcquired to the preview in
// overlay mode; and the peak memory of a 600 dpi page through overlay and saving.
//   vantrel_workflow_bench            timings and ratios
//   vantrel_workflow_bench --memory   (internal) one 600 dpi page, prints its peak memory

#include "app/main_window.h"
#include "bench/process_memory.h"
#include "tests/workflows/bmp_fixture.h"
#include "ui/button_controls.h"
#include "ui/list_controls.h"
#include "ui/window.h"
#include "workflows/control_names.h"
#include "workflows/near_colour.h"
#include "workflows/progress_panel.h"
#include "workflows/scan_workflow.h"
#include "workflows/workflow_state.h"

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace vantrel;
using bench::statusKilobytes;

namespace {

constexpr int kTolerance = 20;

// A4 at `dpi`: paper with a little noise, dark text strokes.
std::vector<std::uint8_t> a4Page(int dpi) {
    const int width = 2480 * dpi / 300;
    const int height = 3508 * dpi / 300;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
    std::mt19937 random(7);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto n = static_cast<std::uint32_t>(random() % 12);
            const bool ink = (y / 40) % 3 == 0 && (x / 7) % 5 < 3;
            const std::uint32_t v = ink ? 30 + n : 243 + n;
            pixels[static_cast<std::size_t>(y) * width + x] = v | v << 8 | v << 16;
        }
    }
    return test::bmp24(width, height, pixels);
}

double millisecondsOf(const std::function<void()>& run, int repeats) {
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void bareLoop(std::vector<std::uint8_t>& bytes, int width, int height) {
    const std::size_t stride = (3 * static_cast<std::size_t>(width) + 3) / 4 * 4;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* px = bytes.data() + 54 + static_cast<std::size_t>(y) * stride;
        for (int x = 0; x < width; ++x, px += 3) {
            const unsigned d = 765u - px[0] - px[1] - px[2];
            const auto near = static_cast<std::uint8_t>(-static_cast<int>(d - 1 < kTolerance));
            px[0] |= near;
            px[1] |= near;
            px[2] |= near;
        }
    }
}

struct Window {
    fs::path dir;
    std::unique_ptr<app::MainWindow> main;
    explicit Window(bool overlay) {
        char pattern[] = "/tmp/vantrel-bench-XXXXXX";
        dir = mkdtemp(pattern);
        std::ofstream(dir / "boot.ini") << "[\xC9\xE8\xD6\xC3]\r\n\xC9\xAB\xB2\xEE\xD6\xB5=20\r\n"
                                        << (overlay ? "\xC9\xA8\xC3\xE8\xB5\xFE\xBC\xD3=1\r\n" : "")
                                        << "\xB0\xD7\xC9\xAB\xCD\xB8\xC3\xF7=16777215\r\n";
        main = std::make_unique<app::MainWindow>(app::ProgramPaths(dir));
        main->create();
    }
    ~Window() {
        main.reset();
        fs::remove_all(dir);
    }
};

// One 600 dpi page as a scan delivers it: the page's bytes live while PictureAcquired is handled
// (overlay mode) and are gone before the page is saved as JPG, as with the scanner component.
// Prints the resident memory the program had before the page arrived and its peak afterwards.
int memoryRun() {
    Window window(true);
    auto page = a4Page(600);
    const long pageKb = static_cast<long>(page.size() / 1024);
    std::ofstream("/proc/self/clear_refs") << "5"; // the peak restarts from what is resident now
    const long before = statusKilobytes("VmRSS") - pageKb;
    {
        auto& workflow = window.main->scanWorkflow();
        workflow.OnPageAcquired(page, 4960, 7016);
        page = std::vector<std::uint8_t>(); // the scanner component frees the page here
        window.main->window().control<ui::DropDownList>(control::kFormatList).setSelection(0);
        window.main->window().control<ui::Button>(control::kSaveButton).click();
    }
    std::printf("%ld %ld\n", before, statusKilobytes("VmHWM"));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    if (argc > 1 && std::string(argv[1]) == "--memory") {
        return memoryRun();
    }

    const auto page = a4Page(300);
    const int width = 2480;
    const int height = 3508;
    std::printf("A4 300 dpi, %d x %d, 24-bit\n", width, height);

    std::vector<std::uint8_t> copy;
    const double bare = millisecondsOf(
        [&] {
            copy = page;
            bareLoop(copy, width, height);
        },
        7);
    const double copyOnly = millisecondsOf([&] { copy = page; }, 7);

    Window plain(false);
    plain.main->window().show();
    workflows::ProgressPanel progress(plain.main->window());
    const double pass =
        millisecondsOf([&] { workflows::SnapNearColour(page, 0, false, kTolerance, progress); }, 7);

    struct Silent final : workflows::PassProgress {
        void begin() override {}
        void columnDone(std::int32_t, std::int32_t) override {}
        void end() override {}
    } silent;
    const double passAlone =
        millisecondsOf([&] { workflows::SnapNearColour(page, 0, false, kTolerance, silent); }, 7);
    std::printf("  (pass without progress display   %8.1f ms)\n", passAlone);
    const double progressAlone = millisecondsOf(
        [&] {
            progress.begin();
            for (int x = 1; x <= width; ++x) {
                progress.columnDone(x, width);
            }
            progress.end();
        },
        7);
    std::printf("  (progress display alone          %8.1f ms)\n", progressAlone);

    Window overlay(true);
    overlay.main->window().show();
    auto& workflow = overlay.main->scanWorkflow();
    const double onPage = millisecondsOf([&] { workflow.OnPageAcquired(page, width, height); }, 5);

    const double bareNet = bare - copyOnly;
    std::printf("  bare near-white loop              %8.1f ms (page copy %.1f ms not counted)\n",
                bareNet, copyOnly);
    std::printf("  SnapNearColour, progress, events  %8.1f ms = %.2fx bare  (bar 2.00x) %s\n", pass,
                pass / bareNet, pass / bareNet <= 2.0 ? "ok" : "OVER");
    std::printf("  PictureAcquired -> preview, overlay %6.1f ms          (bar 120 ms) %s\n", onPage,
                onPage <= 120 ? "ok" : "OVER");

    const std::string self = fs::read_symlink("/proc/self/exe").string();
    std::FILE* child = popen((self + " --memory").c_str(), "r");
    long before = -1;
    long peak = -1;
    if (child && std::fscanf(child, "%ld %ld", &before, &peak) == 2) {
        const double pageKb = 3.0 * 4960 * 7016 / 1024.0;
        const double ratio = (peak - before) / pageKb;
        std::printf("  600 dpi page through overlay and JPG save: peak +%ld KiB = %.2fx page, "
                    "the page included (bar 5x) %s\n",
                    peak - before, ratio, ratio <= 5.0 ? "ok" : "OVER");
    }
    if (child) {
        pclose(child);
    }
    return 0;
}
