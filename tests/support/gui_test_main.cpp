// Test main for tests that need widgets: one QApplication on the offscreen platform.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

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
    // SANE's test backend cancels its reader thread asynchronously; a thread cancelled while it
    // held a libc lock (locale, malloc) makes the process's exit handlers wait for ever. The
    // tests are over by now: check for leaks here and leave without those handlers.
#if defined(__SANITIZE_ADDRESS__)
    if (__lsan_do_recoverable_leak_check() != 0) {
        result = 1;
    }
#endif
    std::fflush(nullptr);
    _exit(result);
}
