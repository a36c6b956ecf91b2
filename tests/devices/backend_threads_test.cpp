// Which of a backend's threads may be cancelled safely: a thread started after the snapshot
// counts until it has ended or sleeps; one that runs, waits on a lock or waits on a pipe (which
// the backend closes before it cancels) does not.

#include "platform/twain/backend_threads.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace vantrel::test {
namespace {

using namespace std::chrono_literals;
using twain::BackendThreads;

// Spins until told to stop: a thread that may be anywhere, the allocator included.
class BusyThread {
public:
    BusyThread()
        : thread_([this] {
            while (!stop_.load()) {
            }
        }) {}
    ~BusyThread() {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(BackendThreads, ThreadsThatWereThereBeforeDoNotCount) {
    BusyThread earlier;
    const BackendThreads threads;
    EXPECT_TRUE(threads.ended());
    EXPECT_TRUE(threads.waitUntilSettled(0ms));
}

TEST(BackendThreads, RunningThreadIsNotSettledUntilItHasEnded) {
    const BackendThreads threads;
    {
        BusyThread reader;
        EXPECT_FALSE(threads.ended());
        EXPECT_FALSE(threads.waitUntilSettled(50ms));
    }
    EXPECT_TRUE(threads.ended());
    EXPECT_TRUE(threads.waitUntilSettled(0ms));
}

TEST(BackendThreads, SleepingThreadIsSettledButNotEnded) {
    std::atomic<bool> stop{false};
    const BackendThreads threads;
    std::thread sleeper([&] {
        while (!stop.load()) {
            std::this_thread::sleep_for(20ms);
        }
    });
    EXPECT_TRUE(threads.waitUntilSettled(10s));
    EXPECT_FALSE(threads.ended());
    stop = true;
    sleeper.join();
    EXPECT_TRUE(threads.ended());
}

TEST(BackendThreads, ThreadWaitingOnAPipeIsNotSettled) {
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const BackendThreads threads;
    std::thread reader([&] {
        char byte = 0;
        EXPECT_EQ(read(pipeEnds[0], &byte, 1), 1);
    });
    EXPECT_FALSE(threads.waitUntilSettled(100ms));
    ASSERT_EQ(write(pipeEnds[1], "x", 1), 1);
    reader.join();
    EXPECT_TRUE(threads.waitUntilSettled(0ms));
    close(pipeEnds[0]);
    close(pipeEnds[1]);
}

TEST(BackendThreads, ThreadWaitingForALockIsNotSettled) {
    std::mutex lock;
    std::unique_lock held(lock);
    const BackendThreads threads;
    std::thread waiter([&] { std::lock_guard taken(lock); });
    EXPECT_FALSE(threads.waitUntilSettled(100ms));
    held.unlock();
    waiter.join();
    EXPECT_TRUE(threads.waitUntilSettled(0ms));
}

} // namespace
} // namespace vantrel::test
