// The `vantrel` command: `convert` runs in its own process without Qt, anything else becomes the
// window program beside it, with the same arguments.

#include "tests/support/sandbox.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>

namespace vantrel::test {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out; // stdout and stderr together
};

Outcome run(const std::string& command) {
    Outcome result;
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) {
        return result;
    }
    std::array<char, 4096> buffer{};
    while (const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe)) {
        result.out.append(buffer.data(), n);
    }
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// The launcher alone in a folder of its own, beside whatever the test puts there.
fs::path launcherIn(const Sandbox& box) {
    const fs::path launcher = box / "vantrel";
    fs::copy_file(VANTREL_LAUNCHER_PATH, launcher);
    return launcher;
}

TEST(Launcher, ConvertLoadsNoQt) {
    // What the dynamic loader would map for the launcher, without running it.
    const Outcome libraries = run("LD_TRACE_LOADED_OBJECTS=1 '" VANTREL_LAUNCHER_PATH "'");
    EXPECT_NE(libraries.out.find("libjpeg"), std::string::npos) << libraries.out;
    EXPECT_EQ(libraries.out.find("libQt"), std::string::npos) << libraries.out;

    Sandbox box;
    std::string bmp = "BM";
    const auto put32 = [&bmp](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            bmp.push_back(static_cast<char>(v >> (8 * i)));
        }
    };
    put32(54 + 8);
    put32(0);
    put32(54);
    put32(40);
    put32(2); // width
    put32(1); // height
    bmp += std::string("\x01\x00\x18\x00", 4);
    bmp += std::string(24, '\0');
    bmp += std::string("\x10\x20\x30\x40\x50\x60\x00\x00", 8);
    const fs::path source = box.write("page.bmp", bmp);
    const Outcome converted = run("'" VANTREL_LAUNCHER_PATH "' convert --to bmp '" +
                                  source.string() + "' '" + (box / "copy.bmp").string() + "'");
    EXPECT_EQ(converted.status, 0) << converted.out;
    EXPECT_EQ(converted.out, "1\n");
    EXPECT_TRUE(fs::exists(box / "copy.bmp"));
}

TEST(Launcher, AnythingElseBecomesTheWindowProgramWithTheSameArguments) {
    Sandbox box;
    const fs::path launcher = launcherIn(box);
    // A stand-in for the window program that says how it was started.
    const fs::path desktop = box.write("vantrel-desktop", "#!/bin/sh\necho \"$0|$*\"\nexit 7\n");
    fs::permissions(desktop, fs::perms::owner_all);
    const Outcome started = run("'" + launcher.string() + "' --some-option 'two words'");
    EXPECT_EQ(started.status, 7) << started.out;
    EXPECT_EQ(started.out, desktop.string() + "|--some-option two words\n");
}

TEST(Launcher, AMissingWindowProgramIsReported) {
    Sandbox box;
    const fs::path launcher = launcherIn(box);
    const Outcome started = run("'" + launcher.string() + "'");
    EXPECT_EQ(started.status, 1);
    EXPECT_EQ(started.out, "vantrel: cannot start the window (" +
                               (box / "vantrel-desktop").string() +
                               "): No such file or directory\n");
}

} // namespace
} // namespace vantrel::test
