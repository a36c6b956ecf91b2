// Workflow timings on the real main window (offscreen), each against a reference measured in the
// same run, each in the steady state and as the first of a fresh process:
//   - the near-colour pass with its per-column progress and event processing, on a page freshly
//     delivered as a scan delivers it, against a bare branchless near-white loop (goal <= 2x);
//   - a page's way from PictureAcquired in overlay mode until the preview and the thumbnail have
//     been painted (goal <= 120 ms);
//   - the whole save behind 手动保存, from the panel through the temporary picture to the final
//     file on disk, against cjpeg, ImageMagick's convert and cp writing that page
//     (goals 1.15x, 0.5x, 2.5x);
//   - the peak memory of a 600 dpi page through overlay and saving (goal <= 5x the page).
//   vantrel_workflow_bench                 timings and goals
//   vantrel_workflow_bench --first WHAT    (internal) the first WHAT of this process, in ms;
//                                          "overlay-steps" prints each step's time and faults
//   vantrel_workflow_bench --memory        (internal) one 600 dpi page, prints its peak memory

#include "app/main_window.h"
#include "bench/child_runs.h"
#include "bench/goal.h"
#include "bench/process_memory.h"
#include "bench/tool_runs.h"
#include "imaging/draw_picture.h"
#include "platform/page_memory.h"
#include "tests/workflows/bmp_fixture.h"
#include "ui/button_controls.h"
#include "ui/list_controls.h"
#include "ui/range_controls.h"
#include "ui/text_controls.h"
#include "ui/window.h"
#include "workflows/control_names.h"
#include "workflows/near_colour.h"
#include "workflows/panel.h"
#include "workflows/progress_panel.h"
#include "workflows/scan_workflow.h"
#include "workflows/workflow_state.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace vantrel;
using bench::limitGoal;
using bench::median;
using bench::ratioGoal;
using bench::statusKilobytes;

namespace {

constexpr int kTolerance = 20;
constexpr int kWidth = 2480;
constexpr int kHeight = 3508;

// A4 at `dpi`: grey paper with noise (half of it within the tolerance of white, as scanned paper
// straddles it), dark text strokes.
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

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The median of `repeats` runs of `run`; `prepare` runs untimed before each.
double millisecondsOf(const std::function<void()>& run, int repeats,
                      const std::function<void()>& prepare = {}) {
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        if (prepare) {
            prepare();
        }
        const auto start = Clock::now();
        run();
        times.push_back(millisecondsSince(start));
    }
    return median(times);
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

// Counts the paint events of a widget.
class PaintCounter final : public QObject {
public:
    explicit PaintCounter(QWidget& widget) { widget.installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
    int paints = 0;
};

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
        main->start(); // as the program starts it
    }
    // The window as the user meets it before the first page: shown, painted and idle for half a
    // second (the user chooses the scanner and presses a button, and the scanner scans, well
    // after the window came up).
    void settle() {
        QElapsedTimer idle;
        idle.start();
        while (idle.elapsed() < 500) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
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
    window.settle();
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

// The page handed to the workflow as a scan hands it over: a buffer of its own, made untimed.
struct Delivery {
    const std::vector<std::uint8_t>& page;
    std::vector<std::uint8_t> fresh;
    void next() {
        fresh = std::vector<std::uint8_t>(); // the last page is gone before the next arrives
        fresh = page;
    }
};

// PictureAcquired in overlay mode until the preview and the thumbnail have been painted.
double overlayToPaintedMs(Window& window, const std::vector<std::uint8_t>& page) {
    ui::Window& w = window.main->window();
    PaintCounter preview(w.control<QWidget>(control::kPreviewSurface));
    PaintCounter thumbnail(w.control<QWidget>(control::kThumbnail));
    const auto start = Clock::now();
    window.main->scanWorkflow().OnPageAcquired(page, kWidth, kHeight);
    QElapsedTimer limit;
    limit.start();
    while ((preview.paints == 0 || thumbnail.paints == 0) && limit.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const double ms = millisecondsSince(start);
    return preview.paints > 0 && thumbnail.paints > 0 ? ms : 0;
}

// The formats of the format list, in its order.
struct SaveFormat {
    int index;
    const char* name;
    const char* extension;
};
constexpr SaveFormat kSaveFormats[] = {{0, "JPG", ".jpg"}, {2, "PNG", ".png"}, {1, "BMP", ".bmp"}};

// A window whose panel holds the page (a plain scan), saving at quality 100 into its folder.
void prepareSave(Window& window, const std::vector<std::uint8_t>& page, int format) {
    ui::Window& w = window.main->window();
    w.control<ui::Slider>(control::kQualitySlider).setPosition(10);
    w.control<ui::DropDownList>(control::kFormatList).setSelection(format);
    fs::create_directories(window.dir / "saved");
    w.control<ui::EditBox>(control::kSaveFolderBox)
        .setContent(QString::fromStdString((window.dir / "saved").string()));
    window.main->scanWorkflow().OnPageAcquired(page, kWidth, kHeight);
}

// One press of 手动保存 until the file is on disk; 0 when no file was saved.
double saveMs(Window& window, const char* extension) {
    for (const auto& old : fs::directory_iterator(window.dir / "saved")) {
        fs::remove(old.path());
    }
    const auto start = Clock::now();
    window.main->window().control<ui::Button>(control::kSaveButton).click();
    const double ms = millisecondsSince(start);
    for (const auto& saved : fs::directory_iterator(window.dir / "saved")) {
        if (saved.path().extension() == extension && fs::file_size(saved.path()) > 0) {
            return ms;
        }
    }
    return 0;
}

// Child mode: the first of `what` in this fresh process, in milliseconds.
int firstRun(const std::string& what) {
    const auto page = a4Page(300);
    if (what == "snap") {
        Window window(false);
        window.settle();
        workflows::ProgressPanel progress(window.main->window());
        Delivery delivery{page, {}};
        delivery.next();
        const auto start = Clock::now();
        workflows::SnapNearColour(delivery.fresh, 0, false, kTolerance, progress);
        std::printf("%.3f\n", millisecondsSince(start));
        return 0;
    }
    if (what == "overlay-steps") {
        Window window(true);
        window.settle();
        Delivery delivery{page, {}};
        delivery.next();
        ui::Window& w = window.main->window();
        auto t = Clock::now();
        struct rusage ru;
        getrusage(RUSAGE_SELF, &ru);
        long faults = ru.ru_minflt;
        auto lap = [&](const char* name) {
            getrusage(RUSAGE_SELF, &ru);
            std::fprintf(stderr, "  %-12s %6.1f ms %6ld faults\n", name, millisecondsSince(t),
                         ru.ru_minflt - faults);
            faults = ru.ru_minflt;
            t = Clock::now();
        };
        workflows::sizePanelToPage(w, kWidth, kHeight);
        lap("size panel");
        workflows::ProgressPanel progress(w);
        auto snapped =
            workflows::SnapNearColour(delivery.fresh, 0xFFFFFF, true, kTolerance, progress);
        lap("snap");
        const auto picture = imaging::LoadPicture(std::move(snapped));
        lap("load");
        workflows::drawOnPanel(w, picture, imaging::DrawMode::transparent(0xFFFFFF));
        lap("draw");
        workflows::showPanelInThumbnail(w);
        lap("thumbnail");
        PaintCounter preview(w.control<QWidget>(control::kPreviewSurface));
        PaintCounter thumbnail(w.control<QWidget>(control::kThumbnail));
        while (preview.paints == 0 || thumbnail.paints == 0) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        lap("paint");
        return 0;
    }
    if (what == "overlay") {
        Window window(true);
        window.settle();
        Delivery delivery{page, {}};
        delivery.next();
        std::printf("%.3f\n", overlayToPaintedMs(window, delivery.fresh));
        return 0;
    }
    for (const SaveFormat& format : kSaveFormats) {
        if (what == std::string("save-") + format.name) {
            Window window(false);
            window.settle();
            prepareSave(window, page, format.index);
            std::printf("%.3f\n", saveMs(window, format.extension));
            return 0;
        }
    }
    return 1;
}

// The first `what` of five fresh processes (median), in milliseconds; 0 when one failed.
double firstOfProcesses(const std::string& what) {
    return bench::medianOfChildren(fs::read_symlink("/proc/self/exe").string() + " --first " +
                                   what);
}

// A reference tool's whole process writing `target`, flushed as a save is: median of three.
double toolMs(const std::vector<std::string>& args, const std::string& target) {
    if (access(args[0].c_str(), X_OK) != 0) {
        std::printf("  (%s is not installed)\n", args[0].c_str());
        return 0;
    }
    return bench::wholeProcessMs(args, target, 3);
}

} // namespace

int main(int argc, char** argv) {
    platform::keepPageMemory(); // first, as the program does
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    if (argc > 1 && std::string(argv[1]) == "--memory") {
        return memoryRun();
    }
    if (argc > 2 && std::string(argv[1]) == "--first") {
        return firstRun(argv[2]);
    }

    const auto page = a4Page(300);
    std::printf("A4 300 dpi, %d x %d, 24-bit, tolerance %d\n", kWidth, kHeight, kTolerance);

    std::vector<std::uint8_t> copy;
    const double bare =
        millisecondsOf([&] { bareLoop(copy, kWidth, kHeight); }, 7, [&] { copy = page; });

    Window plain(false);
    plain.settle();
    workflows::ProgressPanel progress(plain.main->window());
    Delivery delivery{page, {}};
    const double pass = millisecondsOf(
        [&] { workflows::SnapNearColour(delivery.fresh, 0, false, kTolerance, progress); }, 7,
        [&] { delivery.next(); });
    struct Silent final : workflows::PassProgress {
        void begin() override {}
        void columnDone(std::int32_t, std::int32_t) override {}
        void end() override {}
    } silent;
    const double passAlone = millisecondsOf(
        [&] { workflows::SnapNearColour(delivery.fresh, 0, false, kTolerance, silent); }, 7,
        [&] { delivery.next(); });
    std::printf("  (the pass without its progress display %.1f ms)\n", passAlone);
    ratioGoal("SnapNearColour with progress, a freshly delivered page", pass, "bare loop", bare,
              2.0);
    ratioGoal("the same, first of a process", firstOfProcesses("snap"), "bare loop", bare, 2.0);

    Window overlay(true);
    overlay.settle();
    QCoreApplication::processEvents();
    std::vector<double> overlays;
    for (int i = 0; i < 5; ++i) {
        delivery.next();
        overlays.push_back(overlayToPaintedMs(overlay, delivery.fresh));
    }
    limitGoal("PictureAcquired -> preview and thumbnail painted, overlay", median(overlays), 120,
              "a fixed bound");
    limitGoal("the same, first page of a process", firstOfProcesses("overlay"), 120,
              "a fixed bound");

    // The whole save against the tools writing the same page from its BMP file.
    const fs::path source = plain.dir / "page.bmp";
    std::ofstream(source, std::ios::binary)
        .write(reinterpret_cast<const char*>(page.data()),
               static_cast<std::streamsize>(page.size()));
    const std::string ref = (plain.dir / "reference").string();
    const double cjpeg = toolMs({"/usr/bin/cjpeg", "-quality", "100", "-optimize", "-baseline",
                                 "-outfile", ref + ".jpg", source.string()},
                                ref + ".jpg");
    const double magick =
        toolMs({"/usr/bin/convert", source.string(), "-interlace", "PNG", "PNG24:" + ref + ".png"},
               ref + ".png");
    const double cp = toolMs({"/bin/cp", source.string(), ref + ".bmp"}, ref + ".bmp");
    const std::map<std::string, std::pair<const char*, std::pair<double, double>>> references = {
        {"JPG", {"cjpeg", {cjpeg, 1.15}}},
        {"PNG", {"convert", {magick, 0.5}}},
        {"BMP", {"cp", {cp, 2.5}}}};
    for (const SaveFormat& format : kSaveFormats) {
        Window saving(false);
        saving.settle();
        prepareSave(saving, page, format.index);
        std::vector<double> saves;
        for (int i = 0; i < 3; ++i) {
            saves.push_back(saveMs(saving, format.extension));
        }
        const auto& [tool, goal] = references.at(format.name);
        ratioGoal(std::string("whole save as ") + format.name + " (手动保存)", median(saves), tool,
                  goal.first, goal.second);
        ratioGoal(std::string("the same, first save of a process"),
                  firstOfProcesses(std::string("save-") + format.name), tool, goal.first,
                  goal.second);
    }

    const std::string self = fs::read_symlink("/proc/self/exe").string();
    std::FILE* child = popen((self + " --memory").c_str(), "r");
    long before = -1;
    long peak = -1;
    if (child && std::fscanf(child, "%ld %ld", &before, &peak) == 2) {
        const double pageKb = 3.0 * 4960 * 7016 / 1024.0;
        ratioGoal("peak memory of a 600 dpi page through overlay and JPG save, the page included",
                  static_cast<double>(peak - before), "the page", pageKb, 5.0, "KiB");
    } else {
        ratioGoal("peak memory of a 600 dpi page through overlay and JPG save", 0, "the page", 0,
                  5.0, "KiB");
    }
    if (child) {
        pclose(child);
    }
    return 0;
}
