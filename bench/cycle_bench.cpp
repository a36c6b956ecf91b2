// Continuous scanning: what one cycle of the loop (prompt answered, scan, page onto the preview,
// JPG save with thumbnail and list row) adds to the scan and the encoding it cannot do without.
// Measured in one run, on the real main window (offscreen) with SANE's test scanner at 300 dpi:
//   scanning alone    Acquire -> PictureAcquired on a bare scanner component
//   encoding alone    the JPG conversion of that page's BMP file, as the save runs it
//   one cycle         from one "continue?" prompt to the next
// Each figure is the median of its pages.
// Goal: cycle - (scanning + encoding) <= 50 ms.

#include "app/main_window.h"
#include "bench/child_runs.h"
#include "bench/goal.h"
#include "bench/test_scanner.h"
#include "imaging/converter.h"
#include "platform/dialogs.h"
#include "platform/page_memory.h"
#include "ui/button_controls.h"
#include "ui/list_controls.h"
#include "ui/range_controls.h"
#include "ui/text_controls.h"
#include "ui/window.h"
#include "workflows/control_names.h"

#include <QApplication>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace vantrel;
using bench::median;

namespace {

constexpr int kResolution = 300;
constexpr int kPages = 5;

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Answers "是否继续扫描" with OK `pages` times, then Cancel, noting when each prompt came (one
// cycle lies between two prompts); counts every other message.
class LoopDialogs final : public platform::Dialogs {
public:
    explicit LoopDialogs(int pages)
        : left_(pages) {}
    platform::DialogAnswer showMessage(const platform::MessageRequest& request) override {
        if (request.text == "是否继续扫描") {
            prompts.push_back(Clock::now());
            return left_-- > 0 ? platform::DialogAnswer::Ok : platform::DialogAnswer::Cancel;
        }
        std::printf("  message: %s\n", request.text.c_str());
        ++otherMessages;
        return platform::DialogAnswer::Ok;
    }
    std::optional<std::string> askText(const platform::InputRequest&) override { return {}; }
    std::optional<std::string> browseFolder(const platform::FolderRequest&) override { return {}; }
    std::optional<std::string> chooseOpenFile(const platform::OpenFileRequest&) override {
        return {};
    }
    std::optional<std::string> chooseSaveFile(const platform::SaveFileRequest&) override {
        return {};
    }
    std::optional<std::uint32_t> chooseColour(std::uint32_t) override { return {}; }
    void beep() override {}

    int otherMessages = 0;
    std::vector<Clock::time_point> prompts;

private:
    int left_;
};

} // namespace

int main(int argc, char** argv) {
    platform::keepPageMemory(); // first, as the program does
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    bench::useSaneTestScanner();
    QApplication application(argc, argv);
    char pattern[] = "/tmp/vantrel-cycle-bench-XXXXXX";
    const fs::path dir = mkdtemp(pattern);

    // Scanning alone, then encoding alone of the page it gave.
    std::vector<double> scans;
    std::string page;
    {
        bench::TestScanner scanner(kResolution, true);
        scanner.scanOnce(); // SANE and the backend set themselves up once
        for (int i = 0; i < kPages; ++i) {
            const auto start = Clock::now();
            if (!scanner.scanOnce()) {
                std::printf("the test scanner gave no page\n");
                return 1;
            }
            scans.push_back(millisecondsSince(start));
        }
        page = scanner.lastPage();
    }

    LoopDialogs dialogs(kPages);
    platform::installDialogs(&dialogs);
    auto main = std::make_unique<app::MainWindow>(
        app::ProgramPaths(dir), devices::ManagerLibrary::fromFile(VANTREL_TWAIN_DSM_PATH));
    main->create();
    main->window().show();
    ui::Window& window = main->window();
    const int quality = window.control<ui::Slider>(control::kQualitySlider).position() * 10;

    const fs::path source = dir / "page.bmp";
    std::ofstream(source, std::ios::binary) << page;
    std::vector<double> encodings;
    for (int i = 0; i < kPages; ++i) {
        const auto start = Clock::now();
        imaging::toJpeg(source.string(), (dir / "page.jpg").string(), false, quality, true, 0);
        encodings.push_back(millisecondsSince(start));
    }

    QTest::mouseClick(&window.control<ui::Button>(control::kRefreshButton), Qt::LeftButton);
    auto& devices = window.control<ui::DropDownList>(control::kDeviceList);
    if (!QTest::qWaitFor([&] { return devices.count() > 0; }, 20000)) {
        std::printf("no device listed\n");
        return 1;
    }
    devices.setSelection(0);
    auto& modes = window.control<ui::DropDownList>(control::kColourModeList);
    for (int i = 0; i < modes.count(); ++i) {
        if (modes.itemValueAt(i) == 2) { // colour
            modes.setSelection(i);
        }
    }
    window.control<ui::EditBox>(control::kResolutionBox).setContent(QString::number(kResolution));
    window.control<ui::EditBox>(control::kSaveFolderBox)
        .setContent(QString::fromStdString((dir / "saved").string()));
    fs::create_directory(dir / "saved");
    window.control<ui::DropDownList>(control::kFormatList).setSelection(0); // JPG

    main->scanWorkflow().OnToolbarClick(4); // 连续扫描
    std::vector<double> cycles;
    for (std::size_t i = 1; i < dialogs.prompts.size(); ++i) {
        cycles.push_back(
            std::chrono::duration<double, std::milli>(dialogs.prompts[i] - dialogs.prompts[i - 1])
                .count());
    }
    const auto saved = static_cast<int>(
        std::distance(fs::directory_iterator(dir / "saved"), fs::directory_iterator()));

    const double scan = median(scans);
    const double encode = median(encodings);
    const double cycle = cycles.empty() ? 0 : median(cycles);
    std::printf("Continuous scan, A4 colour %d dpi, %d pages (%d saved)\n", kResolution, kPages,
                saved);
    std::printf("  scanning alone     %7.1f ms\n", scan);
    std::printf("  encoding alone     %7.1f ms (JPG, quality %d)\n", encode, quality);
    std::printf("  one cycle          %7.1f ms\n", cycle);
    if (saved != kPages || dialogs.otherMessages != 0) {
        std::printf("  the run did not save every page without a message: not measured\n");
    }
    // The cycle against what it cannot do without: it may take less than the sum, as the save's
    // work overlaps the next prompt.
    bench::limitGoal("one continuous-scan cycle",
                     saved == kPages && dialogs.otherMessages == 0 ? cycle : 0, scan + encode + 50,
                     "scanning " + std::to_string(std::lround(scan)) + " ms + encoding " +
                         std::to_string(std::lround(encode)) + " ms + 50 ms");

    main.reset();
    platform::installDialogs(nullptr);
    fs::remove_all(dir);
    fs::remove_all(bench::useSaneTestScanner());
    return 0;
}
