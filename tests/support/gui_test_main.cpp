// Test main for tests that need widgets: one QApplication on the offscreen platform.
#include <QApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

#if defined(__SANITIZE_ADDRESS__)
volatile std::sig_atomic_t testResult = 0;

// SANE's test backend cancels its reader thread asynchronously, so the thread can die inside the
// sanitizer's allocator and leave one of its locks held. The leak check takes every allocator
// lock and would then wait for ever; once the tests are over, a check that has not finished
// within this time is given up and the tests' own result stands.
constexpr unsigned kLeakCheckSeconds = 30;

extern "C" void leaveWithoutLeakCheck(int) {
    static const char note[] = "leak check given up: a thread cancelled inside the allocator "
                               "left it locked\n";
    [[maybe_unused]] const auto written = write(STDERR_FILENO, note, sizeof note - 1);
    _exit(testResult);
}
#endif

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    testing::InitGoogleTest(&argc, argv);
    int result = 0;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    // A reader thread cancelled while it held a libc lock (locale, malloc) would also make the
    // process's exit handlers wait for ever. The tests are over by now: check for leaks here and
    // leave without those handlers.
    std::fflush(nullptr);
#if defined(__SANITIZE_ADDRESS__)
    testResult = result;
    std::signal(SIGALRM, leaveWithoutLeakCheck);
    alarm(kLeakCheckSeconds);
    if (__lsan_do_recoverable_leak_check() != 0) {
        result = 1;
    }
    alarm(0);
    std::fflush(nullptr);
#endif
    _exit(result);
}
