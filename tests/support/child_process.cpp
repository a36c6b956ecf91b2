#include "tests/support/child_process.h"

#include <csignal>
#include <cstdio>
#include <fstream>
#include <malloc.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vantrel::test {
namespace {

ChildResult resultOf(int status) {
    ChildResult result;
    if (WIFEXITED(status)) {
        result.exited = true;
        result.code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

pid_t start(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        int code = 125;
        try {
            code = body();
        } catch (...) {
            code = 124;
        }
        ::_exit(code);
    }
    return pid;
}

} // namespace

std::string ChildResult::describe() const {
    return exited ? "exit " + std::to_string(code) : "signal " + std::to_string(signal);
}

ChildResult runInChild(const std::function<int()>& body, std::chrono::milliseconds timeout) {
    const pid_t pid = start(body);
    if (pid < 0) {
        return {};
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return resultOf(status);
}

ChildResult killChildAfter(const std::function<int()>& body, std::chrono::microseconds delay) {
    const pid_t pid = start(body);
    if (pid < 0) {
        return {};
    }
    std::this_thread::sleep_for(delay);
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return resultOf(status);
}

bool mountPrivateTmpfs(const std::filesystem::path& folder, std::size_t bytes) {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return false;
    }
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
    return ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

bool privateTmpfsAvailable() {
    static const bool available = [] {
        char pattern[] = "/tmp/vantrel-mount-XXXXXX";
        if (!::mkdtemp(pattern)) {
            return false;
        }
        const auto result = runInChild([&] { return mountPrivateTmpfs(pattern, 1 << 20) ? 0 : 1; });
        ::rmdir(pattern);
        return result.exited && result.code == 0;
    }();
    return available;
}

void limitAddressSpaceAboveCurrent(std::size_t bytes) {
    // Free memory at the top of the heap would let later allocations succeed within the old
    // size: give it back first, so the limit leaves only `bytes` to allocate.
    ::malloc_trim(0);
    std::ifstream status("/proc/self/status");
    std::string key;
    std::size_t kib = 0;
    while (status >> key) {
        if (key == "VmSize:") {
            status >> kib;
            break;
        }
    }
    rlimit limit{};
    ::getrlimit(RLIMIT_AS, &limit);
    limit.rlim_cur = static_cast<rlim_t>(kib * 1024 + bytes);
    ::setrlimit(RLIMIT_AS, &limit);
}

} // namespace vantrel::test
