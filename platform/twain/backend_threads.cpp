#include "platform/twain/backend_threads.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <string>
#include <sys/syscall.h>
#include <thread>

namespace vantrel::twain {

namespace {

// The process's threads, from /proc (sorted).
std::vector<pid_t> liveThreads() {
    std::vector<pid_t> out;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(dir)) {
            if (const long id = std::strtol(entry->d_name, nullptr, 10); id > 0) {
                out.push_back(static_cast<pid_t>(id));
            }
        }
        closedir(dir);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// True when the thread has ended or sleeps. One that runs may be inside the allocator, and one
// that waits on a futex may be waiting for one of its locks.
bool endedOrAsleep(pid_t thread) {
    std::ifstream file("/proc/self/task/" + std::to_string(thread) + "/syscall");
    long call = -1;
    if (!file.is_open()) {
        return true; // ended
    }
    if (!(file >> call)) {
        return false; // "running", or unreadable: not known to be asleep
    }
#ifdef SYS_nanosleep
    if (call == SYS_nanosleep) {
        return true;
    }
#endif
    return call == SYS_clock_nanosleep;
}

} // namespace

BackendThreads::BackendThreads()
    : before_(liveThreads()) {}

bool BackendThreads::ended() const {
    const std::vector<pid_t> now = liveThreads();
    return std::includes(before_.begin(), before_.end(), now.begin(), now.end());
}

bool BackendThreads::settled() const {
    const std::vector<pid_t> now = liveThreads();
    return std::all_of(now.begin(), now.end(), [this](pid_t thread) {
        return std::binary_search(before_.begin(), before_.end(), thread) || endedOrAsleep(thread);
    });
}

bool BackendThreads::waitUntilSettled(std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!settled()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

} // namespace vantrel::twain
