// Scanner path, A4 colour through our source manager, its scanner helper process and SANE's test
// scanner, against `scanimage` scanning the same page to a PNM file in the same run:
//   - Acquire -> PictureAcquired at 300 and 600 dpi with the helper running;
//     goal <= 1.2 x scanimage + 20 ms
//   - the first and the second scan of a fresh process (goal as above), the first both half a
//     second after the device list (a user's pause before the button) and right after it (a
//     script's), and its first page from the start (helper start, sane_init, the device list,
//     open, scan), measured in child processes; goal <= scanimage's whole process + 100 ms
//   - the peak memory one 300 dpi transfer adds to the program and the helper together
//     (proportional set sizes, so the page they share counts once); goal <= 2 x the page
//   - the longest the event loop stands still while the device list is read; goal <= 100 ms
// The heap is set up as the program sets it up (platform::keepPageMemory), and no otherwise.

#include "bench/child_runs.h"
#include "bench/goal.h"
#include "bench/process_memory.h"
#include "bench/test_scanner.h"
#include "platform/page_memory.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using vantrel::bench::median;
using vantrel::bench::TestScanner;
using vantrel::bench::useSaneTestScanner;

TestScanner* scanner = nullptr;
std::map<int, double> scannerSeconds;   // by resolution
std::map<int, double> scanimageSeconds; // by resolution, whole process

void BM_AcquireToPictureAcquired(benchmark::State& state) {
    const int dpi = static_cast<int>(state.range(0));
    scanner->setResolution(dpi);
    scanner->scanOnce(); // the device at this resolution once before timing
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!scanner->scanOnce()) {
            state.SkipWithError("no page");
            return;
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["page_MB"] = static_cast<double>(scanner->lastPageSize()) / 1e6;
}
BENCHMARK(BM_AcquireToPictureAcquired)
    ->Arg(300)
    ->Arg(600)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

std::string scanimageCommand(int dpi) {
    return "SANE_CONFIG_DIR=" + useSaneTestScanner() +
           " scanimage -d test:0 --mode Color --resolution " + std::to_string(dpi) +
           " --format=pnm -o " + useSaneTestScanner() + "/page.pnm";
}

void BM_ScanimagePnm(benchmark::State& state) {
    const std::string command = scanimageCommand(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("scanimage failed");
            return;
        }
    }
}
BENCHMARK(BM_ScanimagePnm)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond)->Iterations(10);

// Collects the mean time of each benchmark for the summary.
class Collector final : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations <= 0) {
                continue;
            }
            const double seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
            const std::string name = run.benchmark_name();
            const int dpi = std::atoi(name.substr(name.find('/') + 1).c_str());
            (name.find("Scanimage") != std::string::npos ? scanimageSeconds : scannerSeconds)[dpi] =
                seconds;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

// Proportional set size of a process in KiB (-1 when it is gone).
long pssKilobytes(pid_t pid) {
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    for (std::string line; std::getline(rollup, line);) {
        if (line.rfind("Pss:", 0) == 0) {
            return std::strtol(line.c_str() + 4, nullptr, 10);
        }
    }
    return -1;
}

// The helper this process started.
pid_t helperPid() {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::error_code error;
        const auto exe = std::filesystem::read_symlink(entry.path() / "exe", error);
        if (error || exe.filename() != "vantrel-sane-helper") {
            continue;
        }
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const auto close = line.rfind(')');
        char state = 0;
        pid_t parent = 0;
        if (close != std::string::npos &&
            std::sscanf(line.c_str() + close + 1, " %c %d", &state, &parent) == 2 &&
            parent == getpid()) {
            return std::stoi(entry.path().filename().string());
        }
    }
    return -1;
}

// The peak of program + helper during one transfer, sampled every millisecond, minus what they
// held before it.
double peakAddedBytes() {
    const pid_t helper = helperPid();
    const auto total = [&] { return pssKilobytes(getpid()) + std::max(0L, pssKilobytes(helper)); };
    const long before = total();
    std::atomic<bool> done{false};
    std::atomic<long> peak{before};
    std::thread sampler([&] {
        while (!done) {
            const long now = total();
            long seen = peak.load();
            while (now > seen && !peak.compare_exchange_weak(seen, now)) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    scanner->scanOnce();
    done = true;
    sampler.join();
    return static_cast<double>(peak.load() - before) * 1024.0;
}

// Child mode: a fresh process as the program runs it (its heap set up and a first page's memory
// made ready, as the window does while it waits): the component is created and reads the device
// list, then scans twice. Prints the first page from the creation on, and Acquire ->
// PictureAcquired of the first and of the second scan. With `idle` (the window's case: a user
// picks the device, then presses the button) the process waits half a second before the first
// scan, and the first page from the creation on leaves that half second out; without it (a
// script's case) the first scan follows the device list at once.
int firstPageChild(bool idle) {
    vantrel::platform::warmPageMemory(vantrel::platform::kFirstPageMemory);
    QElapsedTimer timer;
    timer.start();
    TestScanner instance(300);
    double idleMs = 0;
    if (idle) {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 500) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        idleMs = static_cast<double>(waited.nsecsElapsed()) / 1e6;
    }
    QElapsedTimer scan;
    scan.start();
    bool scanned = instance.scanOnce();
    const double first = static_cast<double>(scan.nsecsElapsed()) / 1e6;
    const double whole = static_cast<double>(timer.nsecsElapsed()) / 1e6 - idleMs;
    scan.restart();
    scanned = scanned && instance.scanOnce();
    const double second = static_cast<double>(scan.nsecsElapsed()) / 1e6;
    std::printf("%.3f %.3f %.3f\n", whole, first, second);
    return scanned ? 0 : 1;
}

struct FirstPages {
    double whole = 0;     // the first page from the component's creation on, scanned at once
    double wholeIdle = 0; // the same, a user's half second before the first scan left out
    double firstScan = 0; // Acquire -> PictureAcquired, first scan of the process (after idle)
    double secondScan = 0;
    double firstAtOnce = 0; // the first scan right after the device list
    double scanimage = 0;   // scanimage's whole process
};

// The first pages of five fresh processes (medians), in milliseconds, and scanimage's whole
// process the same way.
FirstPages firstPages(const char* self) {
    std::vector<double> whole, wholeIdle, first, second, atOnce, theirs;
    const auto child = [&](const char* mode, double& w, double& f, double& s) {
        QProcess process;
        process.start(QString::fromLocal8Bit(self),
                      {QStringLiteral("--first-page-child"), QString::fromLatin1(mode)});
        return process.waitForFinished(120000) && process.exitCode() == 0 &&
               std::sscanf(process.readAllStandardOutput().constData(), "%lf %lf %lf", &w, &f,
                           &s) == 3;
    };
    for (int i = 0; i < 5; ++i) {
        double w = 0, f = 0, s = 0;
        if (!child("idle", w, f, s)) {
            return {};
        }
        wholeIdle.push_back(w);
        first.push_back(f);
        second.push_back(s);
        if (!child("at-once", w, f, s)) {
            return {};
        }
        whole.push_back(w);
        atOnce.push_back(f);
        QElapsedTimer timer;
        timer.start();
        if (std::system(scanimageCommand(300).c_str()) != 0) {
            return {};
        }
        theirs.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    return {median(whole),  median(wholeIdle), median(first),
            median(second), median(atOnce),    median(theirs)};
}

// A saned that takes its time: it accepts the net backend's connection, waits, and hangs up, as
// a network scanner that is slow to answer does.
class SlowNetworkScanner {
public:
    explicit SlowNetworkScanner(const char* address) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(6566);
        inet_pton(AF_INET, address, &at.sin_addr);
        ok_ = bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
              listen(listener_, 4) == 0;
        thread_ = std::thread([this] {
            for (;;) {
                const int peer = accept(listener_, nullptr, nullptr);
                if (peer < 0) {
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1500));
                close(peer);
            }
        });
    }
    ~SlowNetworkScanner() {
        shutdown(listener_, SHUT_RDWR);
        close(listener_);
        thread_.join();
    }
    bool ok() const { return ok_; }

private:
    int listener_ = -1;
    bool ok_ = false;
    std::thread thread_;
};

// Child mode: the longest gap between 10 ms timer ticks while the device list is read as the
// window reads it (the lookup on a worker, then the names on this thread), with the test
// scanner and a network scanner that is slow to answer.
int refreshGapChild() {
    const std::string dir = useSaneTestScanner() + "/slow";
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/dll.conf") << "test\nnet\n";
    std::filesystem::copy_file(useSaneTestScanner() + "/test.conf", dir + "/test.conf");
    std::ofstream(dir + "/net.conf") << "connect_timeout = 5\n127.0.0.5\n";
    setenv("SANE_CONFIG_DIR", dir.c_str(), 1);
    SlowNetworkScanner slow("127.0.0.5");
    if (!slow.ok()) {
        return 1;
    }
    TestScanner instance(300, false, false);
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.elapsed();
    qint64 longest = 0;
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    ticks.start(10);
    std::atomic<bool> done{false};
    std::thread lookup([&] {
        instance.initialize();
        done = true;
    });
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    lookup.join();
    const qint64 listStart = clock.elapsed();
    const auto names = instance.listNames();
    longest = std::max(longest, clock.elapsed() - listStart);
    std::printf("%lld %lld %zu\n", static_cast<long long>(longest),
                static_cast<long long>(clock.elapsed()), names.size());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    vantrel::platform::keepPageMemory(); // first, as the program does
    useSaneTestScanner();
    QCoreApplication application(argc, argv);
    if (argc > 2 && std::strcmp(argv[1], "--first-page-child") == 0) {
        return firstPageChild(std::strcmp(argv[2], "idle") == 0);
    }
    if (argc > 1 && std::strcmp(argv[1], "--refresh-gap-child") == 0) {
        return refreshGapChild();
    }
    benchmark::Initialize(&argc, argv);
    const FirstPages fresh = firstPages(argv[0]);
    TestScanner instance(300);
    scanner = &instance;
    instance.scanOnce(); // warm-up
    const double added = peakAddedBytes();
    const double pageBytes = static_cast<double>(instance.lastPageSize());
    // The refresh in a process of its own, where SANE reads the configuration with the slow
    // network scanner.
    QProcess refresh;
    refresh.start(QString::fromLocal8Bit(argv[0]), {QStringLiteral("--refresh-gap-child")});
    double gap = -1;
    double refreshMs = 0;
    int refreshSources = 0;
    if (refresh.waitForFinished(120000) && refresh.exitCode() == 0) {
        std::sscanf(refresh.readAllStandardOutput().constData(), "%lf %lf %d", &gap, &refreshMs,
                    &refreshSources);
    }

    Collector reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    using vantrel::bench::limitGoal;
    std::printf("\nscanner summary (A4 colour, test:0)\n");
    for (int dpi : {300, 600}) {
        const double theirs = scanimageSeconds.count(dpi) ? scanimageSeconds[dpi] * 1e3 : 0;
        const double limit = 1.2 * theirs + 20;
        const std::string how =
            "1.2 x scanimage " + std::to_string(std::lround(theirs)) + " ms + 20 ms";
        limitGoal("Acquire -> PictureAcquired " + std::to_string(dpi) + " dpi, steady",
                  scannerSeconds.count(dpi) ? scannerSeconds[dpi] * 1e3 : 0, limit, how);
        if (dpi == 300) {
            limitGoal("the same, first scan of a process (half a second after the device list)",
                      fresh.firstScan, limit, how);
            limitGoal("the same, first scan of a process right after the device list",
                      fresh.firstAtOnce, limit, how);
            limitGoal("the same, second scan of a process", fresh.secondScan, limit, how);
        }
    }
    const std::string wholeHow = "scanimage's whole process " +
                                 std::to_string(std::lround(fresh.scanimage)) + " ms + 100 ms";
    limitGoal("first page of a fresh process, helper start and device list included", fresh.whole,
              fresh.scanimage + 100, wholeHow);
    limitGoal("the same, a user's half second before the first scan left out", fresh.wholeIdle,
              fresh.scanimage + 100, wholeHow);
    vantrel::bench::ratioGoal("peak memory added by one 300 dpi transfer, program and helper",
                              added / 1024, "the page", pageBytes / 1024, 2.0, "KiB");
    limitGoal("longest event-loop gap while the device list is read (a network scanner slow to "
              "answer)",
              gap, 100,
              std::to_string(refreshSources) + " sources in " +
                  std::to_string(std::lround(refreshMs)) + " ms");
    std::filesystem::remove_all(useSaneTestScanner());
    return 0;
}
