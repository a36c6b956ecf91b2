// The scanner component end to end: our source manager library over SANE's virtual test scanner,
// with the project's own SANE configuration. Pages must match what `scanimage` gives for the same
// settings, and a failing scan must end the acquisition without a page and without hanging.

#include "devices/twain_control.h"
#include "tests/support/sandbox.h"
#include "tests/support/sane_config.h"
#include "ui/window.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace vantrel::test {
namespace {

using devices::AcquisitionEnd;
using devices::ManagerLibrary;
using devices::TwainControl;

constexpr int kWaitMs = 60000; // a generous bound: a hang fails the test instead of blocking it

struct Image {
    int width = 0;
    int height = 0;
    int channels = 0;                 // 1 grey or black-and-white, 3 colour (RGB order)
    std::vector<std::uint8_t> pixels; // top-down, one byte per sample (0/255 for 1-bit)
};

// A PNM file from scanimage (P4, P5 or P6) as samples; P4's 1 is black. `linePadding`: bytes
// scanimage copied from the end of each of the scanner's lines that hold no pixel (it writes the
// lines as they come, padding included, though its header counts only the pixels).
Image parsePnm(const QByteArray& data, int linePadding = 0) {
    std::istringstream in(data.toStdString());
    std::string magic;
    in >> magic;
    auto next = [&] {
        in >> std::ws;
        while (in.peek() == '#') {
            std::string comment;
            std::getline(in, comment);
            in >> std::ws;
        }
        int v = 0;
        in >> v;
        return v;
    };
    Image image;
    image.width = next();
    image.height = next();
    if (magic != "P4") {
        next(); // maximum value
    }
    in.get(); // the single blank before the samples
    const std::string rest(std::istreambuf_iterator<char>(in), {});
    image.channels = magic == "P6" ? 3 : 1;
    if (magic == "P4") {
        const std::size_t rowBytes = (static_cast<std::size_t>(image.width) + 7) / 8;
        for (int y = 0; y < image.height; ++y) {
            for (int x = 0; x < image.width; ++x) {
                const auto byte = static_cast<std::uint8_t>(rest.at(y * rowBytes + x / 8));
                image.pixels.push_back((byte >> (7 - x % 8)) & 1 ? 0 : 255);
            }
        }
    } else {
        const std::size_t row = static_cast<std::size_t>(image.width) * image.channels;
        for (int y = 0; y < image.height; ++y) {
            const auto start = rest.begin() + static_cast<long>(y * (row + linePadding));
            image.pixels.insert(image.pixels.end(), start, start + static_cast<long>(row));
        }
    }
    return image;
}

std::uint32_t le32(std::span<const std::uint8_t> b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// The page's BMP bytes decoded through its own colour table into the same sample layout.
Image decodeBmp(std::span<const std::uint8_t> bmp) {
    Image image;
    image.width = static_cast<int>(le32(bmp, 18));
    image.height = static_cast<int>(le32(bmp, 22));
    const int bits = bmp[28] | bmp[29] << 8;
    const std::uint32_t rows = le32(bmp, 10);
    const std::size_t stride = (static_cast<std::size_t>(bits) * image.width + 31) / 32 * 4;
    image.channels = bits == 24 ? 3 : 1;
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* row = bmp.data() + rows + (image.height - 1 - y) * stride;
        for (int x = 0; x < image.width; ++x) {
            if (bits == 24) {
                image.pixels.insert(image.pixels.end(),
                                    {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
            } else {
                const int index = bits == 8 ? row[x] : (row[x / 8] >> (7 - x % 8)) & 1;
                image.pixels.push_back(bmp[54 + 4 * index]); // grey tables: any channel
            }
        }
    }
    return image;
}

class SaneScanTest : public ::testing::Test {
protected:
    static const std::string& configDir() { return saneTestConfigDir(); }

    void useConfig(const std::vector<SaneSetting>& settings = {}) {
        useSaneTestConfig(settings);
        configured_ = true;
    }

    TwainControl& control() {
        if (!control_) {
            if (!configured_) {
                useConfig();
            }
            component_.attach(&events_);
            control_ = std::make_unique<TwainControl>(
                &component_, ManagerLibrary::fromFile(VANTREL_TWAIN_DSM_PATH));
            control_->setAcquisitionEndedHandler(
                [this](const AcquisitionEnd& end) { ends_.push_back(end); });
        }
        return *control_;
    }

    // What the program does for a scan: choose, set resolution and pixel type, acquire.
    bool scan(int source, int resolution, int pixelType) {
        EXPECT_EQ(control().SelectSource(false, source), 1);
        control().setSourceIndex(source);
        control().setXResolution(resolution);
        control().setYResolution(control().XResolution());
        control().setPixelType(pixelType);
        const std::size_t ended = ends_.size();
        if (!control().Acquire(false)) {
            return false;
        }
        return QTest::qWaitFor([&] { return ends_.size() > ended; }, kWaitMs);
    }

    QByteArray scanimage(const QStringList& arguments) {
        QProcess process;
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(u"SANE_CONFIG_DIR"_s, QString::fromStdString(configDir()));
        process.setProcessEnvironment(env);
        process.start(u"scanimage"_s, arguments);
        EXPECT_TRUE(process.waitForFinished(kWaitMs));
        return process.readAllStandardOutput();
    }

    struct Recorder final : ui::EventSink {
        void deliverEvent(std::string_view, ui::EventKind kind, const ui::EventArgs& a) override {
            if (kind == ui::EventKind::PictureAcquired) {
                pages.push_back({a.bytes.begin(), a.bytes.end()});
                sizes.emplace_back(a.width, a.height);
            }
        }
        std::vector<std::vector<std::uint8_t>> pages;
        std::vector<std::pair<int, int>> sizes;
    };

    bool configured_ = false;
    Recorder events_;
    ui::Component component_{"数码设备1", ""};
    std::vector<AcquisitionEnd> ends_;
    std::unique_ptr<TwainControl> control_;
};

TEST_F(SaneScanTest, ListsEveryTestScannerUnderItsOwnName) {
    ASSERT_TRUE(control().Initialize());
    ASSERT_EQ(control().SourceCount(), 2);
    std::vector<std::string> names;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(control().setSourceIndex(i));
        names.push_back(control().SourceName());
        EXPECT_LE(names.back().size(), 33u);
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"frontend-tester (test:0)", "frontend-tester (test:1)"}));
}

struct PageCase {
    const char* name;
    int pixelType;
    int resolution;
    std::vector<std::pair<std::string, std::string>> config; // extra test.conf settings
    QStringList scanimageArguments;
    int bitCount;
    int scanimageLinePadding = 0;
};

void PrintTo(const PageCase& row, std::ostream* os) {
    *os << row.name;
}

std::vector<PageCase> pageCases() {
    return {
        {"Colour", 2, 50, {}, {u"--mode"_s, u"Color"_s, u"--resolution"_s, u"50"_s}, 24},
        {"Grey", 1, 75, {}, {u"--mode"_s, u"Gray"_s, u"--resolution"_s, u"75"_s}, 8},
        {"BlackAndWhite",
         0,
         100,
         {},
         {u"--mode"_s, u"Gray"_s, u"--depth"_s, u"1"_s, u"--resolution"_s, u"100"_s},
         1},
        {"ThreePassColour",
         2,
         40,
         {{"three-pass", "true"}},
         {u"--mode"_s, u"Color"_s, u"--resolution"_s, u"40"_s},
         24},
        {"HandScannerGrey",
         1,
         30,
         {{"hand-scanner", "true"}},
         {u"--mode"_s, u"Gray"_s, u"--resolution"_s, u"30"_s},
         8},
        // Drivers that are awkward in the ways real ones are: parameters that change once the
        // scan starts, lines shorter than announced, data in one-byte pieces.
        {"FuzzyParameters",
         2,
         50,
         {{"fuzzy-parameters", "true"}},
         {u"--mode"_s, u"Color"_s, u"--resolution"_s, u"50"_s},
         24},
        {"LinesShorterThanAnnounced",
         1,
         50,
         {{"ppl-loss", "7"}},
         {u"--mode"_s, u"Gray"_s, u"--resolution"_s, u"50"_s},
         8,
         7},
        {"OneByteReads",
         1,
         10,
         {{"read-limit", "true"}, {"read-limit-size", "1"}},
         {u"--mode"_s, u"Gray"_s, u"--resolution"_s, u"10"_s},
         8},
    };
}

class SanePageTest : public SaneScanTest, public ::testing::WithParamInterface<PageCase> {};

TEST_P(SanePageTest, SameSizeAndPixelsAsScanimage) {
    const PageCase& c = GetParam();
    useConfig(c.config);
    ASSERT_TRUE(control().Initialize());
    ASSERT_TRUE(scan(0, c.resolution, c.pixelType));
    ASSERT_EQ(events_.pages.size(), 1u);
    ASSERT_EQ(ends_.size(), 1u);
    EXPECT_EQ(ends_[0].reason, AcquisitionEnd::Reason::Completed);
    EXPECT_EQ(control().session().twainState(), 3);

    const auto& bmp = events_.pages[0];
    EXPECT_EQ(bmp[28], c.bitCount);
    EXPECT_EQ(le32(bmp, 2), bmp.size());

    QStringList arguments = {u"-d"_s, u"test:0"_s, u"--format=pnm"_s};
    arguments += c.scanimageArguments;
    const Image expected = parsePnm(scanimage(arguments), c.scanimageLinePadding);
    const Image actual = decodeBmp(bmp);
    ASSERT_GT(expected.width, 0);
    EXPECT_EQ(events_.sizes[0], std::make_pair(expected.width, expected.height));
    EXPECT_EQ(actual.width, expected.width);
    EXPECT_EQ(actual.height, expected.height);
    EXPECT_EQ(actual.channels, expected.channels);
    EXPECT_TRUE(actual.pixels == expected.pixels) << "pixels differ from scanimage's";
}

INSTANTIATE_TEST_SUITE_P(Modes, SanePageTest, ::testing::ValuesIn(pageCases()),
                         [](const auto& row) { return std::string(row.param.name); });

// A scan the device ends with an error: no page, the reason the device gave, and the scanner
// usable for the next scan.
struct FailedScanCase {
    const char* status; // what the test driver's sane_read returns
    AcquisitionEnd::Fault fault;
};

class FailedScanTest : public SaneScanTest, public ::testing::WithParamInterface<FailedScanCase> {};

TEST_P(FailedScanTest, EndsWithoutAPageSayingWhyAndTheScannerStaysUsable) {
    useConfig({{"read-status-code", std::string("\"") + GetParam().status + "\""}});
    ASSERT_TRUE(control().Initialize());
    ASSERT_TRUE(scan(0, 30, 1));
    EXPECT_TRUE(events_.pages.empty());
    ASSERT_EQ(ends_.size(), 1u);
    EXPECT_EQ(ends_[0].reason, AcquisitionEnd::Reason::ClosedBySource);
    EXPECT_EQ(ends_[0].pages, 0);
    EXPECT_EQ(ends_[0].fault, GetParam().fault);
    EXPECT_EQ(control().session().twainState(), 3);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, FailedScanTest,
    ::testing::Values(FailedScanCase{"SANE_STATUS_JAMMED", AcquisitionEnd::Fault::PaperJam},
                      FailedScanCase{"SANE_STATUS_NO_DOCS", AcquisitionEnd::Fault::NoPaper},
                      FailedScanCase{"SANE_STATUS_COVER_OPEN", AcquisitionEnd::Fault::CoverOpen},
                      FailedScanCase{"SANE_STATUS_CANCELLED", AcquisitionEnd::Fault::Cancelled},
                      FailedScanCase{"SANE_STATUS_IO_ERROR", AcquisitionEnd::Fault::DeviceError}),
    [](const auto& row) { return std::string(row.param.status).substr(12); });

TEST_F(SaneScanTest, ClosingWhileTheScanRunsCancelsIt) {
    // Slow reads so that the scan is still running when the program gives up on it.
    useConfig({{"read-delay", "true"}, {"read-delay-duration", "200000"}});
    ASSERT_TRUE(control().Initialize());
    ASSERT_EQ(control().SelectSource(false, 0), 1);
    control().setXResolution(300);
    ASSERT_TRUE(control().Acquire(false));
    QTest::qWait(50);
    ASSERT_EQ(control().SelectSource(false, 1), 1); // disables and closes the running scan
    EXPECT_EQ(control().session().twainState(), 4);
    ASSERT_EQ(ends_.size(), 1u);
    EXPECT_EQ(ends_[0].reason, AcquisitionEnd::Reason::Abandoned);
    QTest::qWait(50); // a message the cancelled scan might still post must do nothing
    EXPECT_TRUE(events_.pages.empty());
}

// The scanner helper processes this test process has started and that still exist.
std::vector<pid_t> scannerHelpers() {
    std::vector<pid_t> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        // pid (comm) state ppid ...: the command may hold blanks, the last ')' ends it.
        const auto close = line.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream rest(line.substr(close + 1));
        std::string state;
        pid_t parent = 0;
        rest >> state >> parent;
        std::error_code error;
        const auto exe = std::filesystem::read_symlink(entry.path() / "exe", error);
        if (parent == getpid() && !error && exe.filename() == "vantrel-sane-helper") {
            found.push_back(std::stoi(name));
        }
    }
    return found;
}

// A driver that crashes (SIGKILL) or stops answering (SIGSTOP) in the middle of a page: the
// acquisition ends without a page and says the driver was lost, the helper is gone, and the
// next scan works with a new helper.
class HelperFaultTest : public SaneScanTest, public ::testing::WithParamInterface<int> {};

TEST_P(HelperFaultTest, EndsTheScanAndTheNextOneWorks) {
    useConfig({{"read-delay", "true"}, {"read-delay-duration", "20000"}});
    ASSERT_TRUE(control().Initialize());
    ASSERT_EQ(control().SelectSource(false, 0), 1);
    control().setXResolution(300);
    control().setPixelType(2);
    ASSERT_TRUE(control().Acquire(false));
    QTest::qWait(300);
    const auto helpers = scannerHelpers();
    ASSERT_EQ(helpers.size(), 1u);
    ::kill(helpers[0], GetParam());
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ends_.empty(); }, kWaitMs));
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(ends_[0].reason, AcquisitionEnd::Reason::ClosedBySource);
    EXPECT_EQ(ends_[0].pages, 0);
    EXPECT_EQ(ends_[0].fault, AcquisitionEnd::Fault::DriverLost);
    EXPECT_TRUE(events_.pages.empty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return scannerHelpers().empty(); }, 5000));

    ends_.clear();
    ASSERT_TRUE(scan(0, 30, 1));
    ASSERT_EQ(ends_.size(), 1u);
    EXPECT_EQ(ends_[0].reason, AcquisitionEnd::Reason::Completed);
    EXPECT_EQ(ends_[0].fault, AcquisitionEnd::Fault::None);
    EXPECT_EQ(events_.pages.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Signals, HelperFaultTest, ::testing::Values(SIGKILL, SIGSTOP),
                         [](const auto& row) {
                             return std::string(row.param == SIGKILL ? "Crash" : "Stopped");
                         });

TEST_F(SaneScanTest, TheHelperServesTheWholeProgramWhicheverThreadStartedIt) {
    // The window reads the device list on a worker thread that ends right after.
    control();
    std::thread lookup([&] { control().Initialize(); });
    lookup.join();
    QTest::qWait(200);
    const auto started = scannerHelpers();
    ASSERT_EQ(started.size(), 1u);
    ASSERT_TRUE(scan(0, 30, 1));
    EXPECT_EQ(events_.pages.size(), 1u);
    EXPECT_EQ(scannerHelpers(), started);
}

TEST_F(SaneScanTest, ASlowDriverIsNotMistakenForAHungOne) {
    // Each piece of the page comes late, for longer than the helper may go without answering
    // in all: the helper still answers, so the page arrives whole.
    useConfig({{"read-delay", "true"}, {"read-delay-duration", "2200000"}});
    ASSERT_TRUE(control().Initialize());
    ASSERT_TRUE(scan(0, 3, 1));
    ASSERT_EQ(ends_.size(), 1u);
    EXPECT_EQ(ends_[0].reason, AcquisitionEnd::Reason::Completed);
    EXPECT_EQ(events_.pages.size(), 1u);
}

TEST_F(SaneScanTest, CancellingAScanThatWaitsOnTheDriverEndsItAtOnce) {
    // A read that waits for minutes: choosing another source must not wait for it.
    useConfig({{"read-delay", "true"}, {"read-delay-duration", "60000000"}});
    ASSERT_TRUE(control().Initialize());
    ASSERT_EQ(control().SelectSource(false, 0), 1);
    ASSERT_TRUE(control().Acquire(false));
    QTest::qWait(200);
    QElapsedTimer timer;
    timer.start();
    ASSERT_EQ(control().SelectSource(false, 1), 1);
    EXPECT_LT(timer.elapsed(), 3000);
    ASSERT_EQ(ends_.size(), 1u);
    EXPECT_EQ(ends_[0].reason, AcquisitionEnd::Reason::Abandoned);
}

TEST_F(SaneScanTest, FortyPagesInOneProcess) {
    ASSERT_TRUE(control().Initialize());
    for (int page = 1; page <= 40; ++page) {
        ASSERT_TRUE(scan(page % 2, 30, page % 3)) << "page " << page;
        ASSERT_EQ(events_.pages.size(), static_cast<std::size_t>(page));
        EXPECT_EQ(ends_.back().reason, AcquisitionEnd::Reason::Completed) << "page " << page;
    }
    EXPECT_EQ(scannerHelpers().size(), 1u); // one helper served them all
}

// The helper writes every page into one buffer that it keeps from page to page. A page after a
// larger one, and a three-pass page (filled one colour at a time) after a grey one, must each
// hold exactly their own pixels and zero row padding, as a page in a fresh buffer does.
TEST_F(SaneScanTest, PagesThroughTheKeptBufferAreEachTheirOwn) {
    useConfig({{"three-pass", "true"}});
    ASSERT_TRUE(control().Initialize());
    struct Step {
        int pixelType;
        int resolution;
        QStringList scanimage;
    };
    const Step steps[] = {
        {2, 60, {u"--mode"_s, u"Color"_s, u"--resolution"_s, u"60"_s}}, // a new buffer
        {1, 75, {u"--mode"_s, u"Gray"_s, u"--resolution"_s, u"75"_s}},  // smaller: the same
        // Over the grey page's bytes, with two bytes of padding in each row.
        {2, 55, {u"--mode"_s, u"Color"_s, u"--resolution"_s, u"55"_s}},
        {0, 150, {u"--mode"_s, u"Gray"_s, u"--depth"_s, u"1"_s, u"--resolution"_s, u"150"_s}},
    };
    for (const Step& step : steps) {
        ASSERT_TRUE(scan(0, step.resolution, step.pixelType)) << step.resolution;
        const std::vector<std::uint8_t>& bmp = events_.pages.back();
        const Image expected = parsePnm(
            scanimage(QStringList{u"-d"_s, u"test:0"_s, u"--format=pnm"_s} + step.scanimage));
        const Image actual = decodeBmp(bmp);
        EXPECT_EQ(actual.width, expected.width) << step.resolution;
        EXPECT_EQ(actual.height, expected.height) << step.resolution;
        EXPECT_TRUE(actual.pixels == expected.pixels) << step.resolution << " dpi: other pixels";
        const int bits = bmp[28];
        const std::size_t stride = (static_cast<std::size_t>(bits) * actual.width + 31) / 32 * 4;
        const std::size_t used = (static_cast<std::size_t>(bits) * actual.width + 7) / 8;
        std::size_t padding = 0;
        for (int y = 0; y < actual.height; ++y) {
            const std::uint8_t* row = bmp.data() + le32(bmp, 10) + y * stride;
            for (std::size_t i = used; i < stride; ++i) {
                padding += row[i] != 0;
            }
        }
        EXPECT_EQ(padding, 0u) << step.resolution << " dpi: row padding not zero";
    }
    EXPECT_EQ(scannerHelpers().size(), 1u);
}

// Run in a child process by the test below: scans that the scanner ends at once, then the
// component closes as the window does when it is closed.
TEST_F(SaneScanTest, ScanThatEndsAtOnceThenClose_InChild) {
    if (!std::getenv("VANTREL_SCAN_CLOSE_CHILD")) {
        GTEST_SKIP() << "run by ScanThatEndsAtOnceThenCloseExitsQuickly";
    }
    useConfig({{"read-status-code", "\"SANE_STATUS_EOF\""}});
    ASSERT_TRUE(control().Initialize());
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(scan(0, 30, 1));
    }
    std::printf("closing\n");
    std::fflush(stdout);
    control_.reset();
}

// Run in a child process by the test below: a scan in progress when the program is killed.
TEST_F(SaneScanTest, KilledWhileScanning_InChild) {
    if (!std::getenv("VANTREL_KILLED_CHILD")) {
        GTEST_SKIP() << "run by TheHelperEndsWithAKilledProgram";
    }
    useConfig({{"read-delay", "true"}, {"read-delay-duration", "60000000"}});
    ASSERT_TRUE(control().Initialize());
    ASSERT_EQ(control().SelectSource(false, 0), 1);
    ASSERT_TRUE(control().Acquire(false));
    QTest::qWait(300);
    const auto helpers = scannerHelpers();
    ASSERT_EQ(helpers.size(), 1u);
    std::printf("helper %d\n", helpers[0]);
    std::fflush(stdout);
    QTest::qWait(60000); // killed long before
}

// Whether a process is gone (a zombie that nobody reaps counts as gone).
bool processGone(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return true;
    }
    const auto close = line.rfind(')');
    return close != std::string::npos && line.size() > close + 2 && line[close + 2] == 'Z';
}

TEST_F(SaneScanTest, TheHelperEndsWithAKilledProgram) {
    QProcess child;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert(u"VANTREL_KILLED_CHILD"_s, u"1"_s);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {u"--gtest_filter=SaneScanTest.KilledWhileScanning_InChild"_s});
    ASSERT_TRUE(child.waitForStarted());
    QByteArray output;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            output += child.readAllStandardOutput();
            return output.contains("helper ") || child.state() == QProcess::NotRunning;
        },
        kWaitMs));
    const auto at = output.indexOf("helper ");
    ASSERT_GE(at, 0) << output.toStdString();
    const pid_t helper = output.mid(at + 7).trimmed().toInt();
    ASSERT_GT(helper, 0);
    child.kill(); // SIGKILL: no destructor, no goodbye to the helper
    child.waitForFinished();
    EXPECT_TRUE(QTest::qWaitFor([&] { return processGone(helper); }, 5000))
        << "the helper outlived the program";
}

TEST_F(SaneScanTest, ScanThatEndsAtOnceThenCloseExitsQuickly) {
    for (int run = 0; run < 20; ++run) {
        QProcess child;
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(u"VANTREL_SCAN_CLOSE_CHILD"_s, u"1"_s);
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
                    {u"--gtest_filter=SaneScanTest.ScanThatEndsAtOnceThenClose_InChild"_s});
        ASSERT_TRUE(child.waitForStarted());
        QByteArray output;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                output += child.readAllStandardOutput();
                return output.contains("closing") || child.state() == QProcess::NotRunning;
            },
            kWaitMs))
            << "run " << run;
        ASSERT_TRUE(output.contains("closing")) << "run " << run << ": " << output.toStdString();
        QElapsedTimer timer;
        timer.start();
        // The child may have ended while its output was read: waitForFinished() then says false.
        const bool exited = child.state() == QProcess::NotRunning || child.waitForFinished(10000);
        if (!exited) {
            child.kill();
            child.waitForFinished();
        }
        ASSERT_TRUE(exited) << "run " << run << " hangs on close";
        EXPECT_LT(timer.elapsed(), 2000) << "run " << run;
        EXPECT_EQ(child.exitCode(), 0) << "run " << run;
    }
}

// A scanner shared by saned on this machine, reached through SANE's net backend as a network
// scanner would be. Each test process takes a loopback address of its own (all of 127/8 is
// loopback, and the net backend takes no port), and stops only the saned it started.
class NetworkScannerTest : public SaneScanTest {
protected:
    void SetUp() override {
        address_ = "127.0.0." + std::to_string(2 + getpid() % 250);
        const std::string source = std::string(VANTREL_TEST_SOURCE_DIR) + "/sane";
        std::filesystem::create_directories(folder_ / "server");
        std::filesystem::create_directories(folder_ / "client");
        folder_.write("server/dll.conf", "test\n");
        std::filesystem::copy_file(source + "/test.conf", folder_ / "server/test.conf");
        folder_.write("server/saned.conf", "127.0.0.0/8\n");
        folder_.write("client/dll.conf", "net\n");
        folder_.write("client/net.conf", address_ + "\n");
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(u"SANE_CONFIG_DIR"_s, QString::fromStdString((folder_ / "server").string()));
        saned_.setProcessEnvironment(env);
        saned_.start(u"saned"_s, {u"-l"_s, u"-e"_s, u"-b"_s, QString::fromStdString(address_),
                                  u"-p"_s, u"6566"_s});
        ASSERT_TRUE(saned_.waitForStarted()) << "saned (Debian's sane-utils) is needed";
        ASSERT_TRUE(QTest::qWaitFor([&] { return listening(); }, 10000)) << "saned not listening";
        setenv("SANE_CONFIG_DIR", (folder_ / "client").c_str(), 1);
        configured_ = true;
    }
    void TearDown() override {
        saned_.kill();
        saned_.waitForFinished();
    }

    bool listening() const {
        QProcess probe; // bash's /dev/tcp: no client library needed
        probe.start(u"bash"_s,
                    {u"-c"_s, QString::fromStdString("exec 3<>/dev/tcp/" + address_ + "/6566")});
        return probe.waitForFinished(2000) && probe.exitCode() == 0;
    }

    QByteArray networkScanimage(const QStringList& arguments) {
        QProcess process;
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(u"SANE_CONFIG_DIR"_s, QString::fromStdString((folder_ / "client").string()));
        process.setProcessEnvironment(env);
        process.start(u"scanimage"_s, arguments);
        EXPECT_TRUE(process.waitForFinished(kWaitMs));
        return process.readAllStandardOutput();
    }

    Sandbox folder_;
    std::string address_;
    QProcess saned_;
};

TEST_F(NetworkScannerTest, ListedWithItsHostAndScansAsScanimageDoes) {
    ASSERT_TRUE(control().Initialize());
    ASSERT_EQ(control().SourceCount(), 2);
    ASSERT_TRUE(control().setSourceIndex(0));
    const std::string name = control().SourceName();
    EXPECT_NE(name.find(address_), std::string::npos) << name;
    EXPECT_NE(name.find("test:0"), std::string::npos) << name;
    EXPECT_LE(name.size(), 32u);
    ASSERT_TRUE(control().setSourceIndex(1));
    EXPECT_NE(control().SourceName(), name);

    ASSERT_TRUE(scan(0, 300, 2)); // A4 colour, 300 dpi
    ASSERT_EQ(events_.pages.size(), 1u);
    EXPECT_EQ(ends_.back().reason, AcquisitionEnd::Reason::Completed);
    const Image expected = parsePnm(networkScanimage(
        {u"-d"_s, QString::fromStdString("net:" + address_ + ":test:0"), u"--format=pnm"_s,
         u"--mode"_s, u"Color"_s, u"--resolution"_s, u"300"_s}));
    const Image actual = decodeBmp(events_.pages[0]);
    ASSERT_GT(expected.width, 2000);
    EXPECT_EQ(actual.width, expected.width);
    EXPECT_EQ(actual.height, expected.height);
    EXPECT_TRUE(actual.pixels == expected.pixels) << "pixels differ from scanimage's";
}

// The manager's state machine answers calls out of sequence with a failure and TWCC_SEQERROR.
class SourceManagerSequenceTest : public SaneScanTest {
protected:
    void SetUp() override {
        useConfig();
        library_ = dlopen(VANTREL_TWAIN_DSM_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_, nullptr);
        entry_ = reinterpret_cast<DSMENTRYPROC>(dlsym(library_, "DSM_Entry"));
        ASSERT_NE(entry_, nullptr);
    }
    void TearDown() override { dlclose(library_); }

    TW_UINT16 call(pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
        return entry_(&app_, dest, dg, dat, msg, data);
    }
    TW_UINT16 condition(pTW_IDENTITY dest) {
        TW_STATUS status{};
        call(dest, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
        return status.ConditionCode;
    }
    void expectSequenceError(pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                             void* data) {
        EXPECT_EQ(call(dest, dg, dat, msg, data), TWRC_FAILURE) << dat << "/" << msg;
        EXPECT_EQ(condition(dest), TWCC_SEQERROR) << dat << "/" << msg;
    }

    void* library_ = nullptr;
    DSMENTRYPROC entry_ = nullptr;
    TW_IDENTITY app_{};
};

TEST_F(SourceManagerSequenceTest, OutOfSequenceCallsFailWithSeqError) {
    std::vector<std::uint32_t> posted;
    VantrelMessageTarget target{&posted,
                                [](void* context, std::uint32_t, std::uintptr_t, std::intptr_t) {
                                    return static_cast<int>(context != nullptr);
                                }};
    VantrelMessageTarget* parent = &target;
    TW_IDENTITY source{};
    TW_USERINTERFACE ui{};
    TW_HANDLE dib = nullptr;
    TW_PENDINGXFERS pending{};
    TW_IMAGEINFO info{};

    // State 2: nothing but opening the manager.
    TW_IDENTITY identity{};
    EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &identity), TWRC_FAILURE);
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent), TWRC_SUCCESS);
    expectSequenceError(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent);

    // State 3.
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &source), TWRC_SUCCESS);
    expectSequenceError(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source);
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source), TWRC_SUCCESS);

    // State 4.
    expectSequenceError(&source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib);
    expectSequenceError(&source, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info);
    expectSequenceError(&source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    expectSequenceError(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent);
    ASSERT_EQ(call(&source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);

    // State 5: no capability changes, no transfer before MSG_XFERREADY, no closing.
    TW_CAPABILITY cap{ICAP_PIXELTYPE, TWON_ONEVALUE, nullptr};
    expectSequenceError(&source, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
    expectSequenceError(&source, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
    expectSequenceError(&source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
    expectSequenceError(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source);

    ASSERT_EQ(call(&source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source), TWRC_SUCCESS);
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent), TWRC_SUCCESS);
}

} // namespace
} // namespace vantrel::test
