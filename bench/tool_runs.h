#pragma once
// Reference tools (cjpeg, ImageMagick's convert, cp, and our own command) timed as whole
// processes writing a file, each file then flushed to disk as a save flushes it.

#include "bench/child_runs.h"

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace vantrel::bench {

// Runs a program with its output thrown away; true on exit status 0.
inline bool runTool(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    const bool spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return spawned && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// What a save does beyond writing the file: the file and its folder flushed to disk.
inline void flushToDisk(const std::string& file) {
    for (const std::string& path : {file, std::filesystem::path(file).parent_path().string()}) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            fsync(fd);
            close(fd);
        }
    }
}

// The median of `runs` runs of `args` in fresh processes, in milliseconds, each writing
// `flushed` anew (removed untimed before, flushed inside the time) when it is given; 0 when a
// run failed.
inline double wholeProcessMs(const std::vector<std::string>& args, const std::string& flushed = {},
                             int runs = 5) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        if (!flushed.empty()) {
            std::error_code ignored;
            std::filesystem::remove(flushed, ignored);
        }
        const auto start = std::chrono::steady_clock::now();
        if (!runTool(args)) {
            return 0;
        }
        if (!flushed.empty()) {
            flushToDisk(flushed);
        }
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    return median(times);
}

} // namespace vantrel::bench
