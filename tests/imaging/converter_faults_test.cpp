// The converter under the faults users meet: a target that must survive (read-only, or a name
// already taken), a full temporary folder or target folder, a kill at any instant, too little
// memory. Each fault must end in the documented code, leave every earlier file as it was and
// leave nothing behind.

#include "imaging/convert_command.h"
#include "imaging/converter.h"
#include "platform/atomic_file.h"
#include "tests/imaging/bmp_builder.h"
#include "tests/support/child_process.h"
#include "tests/support/sandbox.h"
#include "tests/support/temporary_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>

namespace vantrel::imaging {
namespace {

namespace fs = std::filesystem;
using test::Sandbox;

// A page-like BMP: smooth gradients with some noise, so encoders have real work.
std::string pageBmp(std::int32_t width, std::int32_t height) {
    test::BmpSpec spec{.width = width, .height = height, .bitCount = 24};
    const std::size_t stride = test::bmpStride(width, 24);
    spec.pixels.assign(stride * static_cast<std::size_t>(height), 0);
    std::uint32_t noise = 1;
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            noise = noise * 1103515245u + 12345u;
            std::uint8_t* p = &spec.pixels[static_cast<std::size_t>(y) * stride +
                                           3 * static_cast<std::size_t>(x)];
            p[0] = static_cast<std::uint8_t>(200 + (noise >> 28));
            p[1] = static_cast<std::uint8_t>(x + y);
            p[2] = static_cast<std::uint8_t>(x * 3);
        }
    }
    const auto bytes = test::buildBmp(spec);
    return {bytes.begin(), bytes.end()};
}

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

class ConverterFaults : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directory(out_); }
    void TearDown() override { EXPECT_TRUE(fs::is_empty(tmp_)) << "working files left behind"; }
    Sandbox sandbox_;
    fs::path tmp_ = sandbox_ / "tmp";
    test::TemporaryFolderOverride tmpdir_{tmp_};
    fs::path out_ = sandbox_ / "out";
};

TEST_F(ConverterFaults, ReadOnlyTargetIsRefusedAndKept) {
    const fs::path source = sandbox_.write("page.bmp", pageBmp(16, 16));
    const fs::path earlier = sandbox_.write("out/kept.png", "the only copy");
    fs::permissions(earlier, fs::perms(0444));
    EXPECT_EQ(toPng(source.string(), earlier.string(), 24), kTargetNotWritten);
    EXPECT_EQ(Sandbox::read(earlier), "the only copy");
    EXPECT_NE(lastConversionError().find("kept.png"), std::string::npos) << lastConversionError();
    EXPECT_EQ(namesIn(out_), std::set<std::string>{"kept.png"});
}

TEST_F(ConverterFaults, NewFileTakesTheNextFreeNameAndReplacesNothing) {
    const fs::path source = sandbox_.write("page.bmp", pageBmp(16, 16));
    sandbox_.write("out/p.jpg", "first");
    fs::create_symlink(sandbox_ / "victim.jpg", out_ / "p-2.jpg"); // dangling, not followed
    auto target = ConvertTarget::newFile([&](int n) {
        return (out_ / (n == 1 ? "p.jpg" : "p-" + std::to_string(n) + ".jpg")).string();
    });
    ASSERT_EQ(toJpeg(source.string(), target, false, 80, true, 0), kConvertOk);
    EXPECT_EQ(target.path(), (out_ / "p-3.jpg").string());
    EXPECT_EQ(Sandbox::read(out_ / "p.jpg"), "first");
    EXPECT_FALSE(fs::exists(sandbox_ / "victim.jpg"));
    EXPECT_EQ(Sandbox::read(out_ / "p-3.jpg").rfind("\xFF\xD8", 0), 0u);
}

TEST_F(ConverterFaults, ErrorsSayWhichFileAndWhy) {
    EXPECT_EQ(toPng((sandbox_ / "none.bmp").string(), (out_ / "x.png").string(), 24),
              kSourceMissing);
    EXPECT_NE(lastConversionError().find("none.bmp: no such file"), std::string::npos);
    const fs::path text = sandbox_.write("notes.txt", "hello");
    EXPECT_EQ(toPng(text.string(), (out_ / "x.png").string(), 24), kSourceUnreadable);
    EXPECT_NE(lastConversionError().find("notes.txt: not a picture"), std::string::npos);
    ASSERT_EQ(::mkfifo((sandbox_ / "fifo").c_str(), 0600), 0);
    // A pipe is refused without waiting for a writer.
    EXPECT_EQ(toPng((sandbox_ / "fifo").string(), (out_ / "x.png").string(), 24),
              kSourceUnreadable);
    EXPECT_NE(lastConversionError().find("not a regular file"), std::string::npos);
}

// The temporary folder holds each decoded picture; when it is full (or missing) the conversion
// fails with its code instead of the process dying on a write to a mapping without disk space.
TEST_F(ConverterFaults, FullTemporaryFolderFailsWithMinusThree) {
    if (!test::privateTmpfsAvailable()) {
        GTEST_SKIP() << "no private tmpfs here (needs root)";
    }
    const fs::path bmp = sandbox_.write("page.bmp", pageBmp(900, 700)); // 1.9 MB of pixels
    ASSERT_EQ(toJpeg(bmp.string(), (sandbox_ / "page.jpg").string(), false, 90, true, 0), 1);
    const auto result = test::runInChild([&] {
        if (!test::mountPrivateTmpfs(tmp_, 1 << 20)) {
            return 2;
        }
        for (const char* source : {"page.bmp", "page.jpg"}) {
            const std::string from = (sandbox_ / source).string();
            if (toPng(from, (out_ / "a.png").string(), 24) != kSourceUnreadable ||
                toJpeg(from, (out_ / "a.jpg").string(), false, 90, true, 0) != kSourceUnreadable) {
                return 3;
            }
            if (lastConversionError().find("temporary folder") == std::string::npos) {
                return 4;
            }
        }
        return fs::is_empty(tmp_) && fs::is_empty(out_) ? 0 : 5;
    });
    EXPECT_TRUE(result.exited && result.code == 0) << result.describe();
    {
        ::setenv("TMPDIR", (sandbox_ / "no-such-folder").c_str(), 1);
        EXPECT_EQ(toPng(bmp.string(), (out_ / "b.png").string(), 24), kSourceUnreadable);
        ::setenv("TMPDIR", tmp_.c_str(), 1);
    }
}

TEST_F(ConverterFaults, FullTargetFolderFailsWithMinusFourAndKeepsTheEarlierFile) {
    if (!test::privateTmpfsAvailable()) {
        GTEST_SKIP() << "no private tmpfs here (needs root)";
    }
    // The page alone is larger than the folder: both the kernel copy and the encoders stop.
    const fs::path bmp = sandbox_.write("page.bmp", pageBmp(900, 700));
    const auto full = test::runInChild([&] {
        if (!test::mountPrivateTmpfs(out_, 256 << 10)) {
            return 2;
        }
        const fs::path earlier = out_ / "earlier.bmp";
        {
            std::FILE* f = std::fopen(earlier.c_str(), "wb");
            std::fputs("earlier", f);
            std::fclose(f);
        }
        if (toBmp(bmp.string(), earlier.string()) != kTargetNotWritten ||
            toPng(bmp.string(), earlier.string(), 24) != kTargetNotWritten) {
            return 3;
        }
        if (Sandbox::read(earlier) != "earlier" || namesIn(out_).size() != 1) {
            return 4;
        }
        return 0;
    });
    EXPECT_TRUE(full.exited && full.code == 0) << full.describe();
}

// kill -9 at random instants of a save: the earlier target is never corrupted, a new file is
// either absent or whole, and nothing is left once the next save to the folder has run.
TEST_F(ConverterFaults, KilledConversionsLeaveOldOrNewAndTheNextSaveCleansUp) {
    const fs::path bmp = sandbox_.write("page.bmp", pageBmp(700, 500));
    const fs::path reference = sandbox_ / "reference.png";
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(toPng(bmp.string(), reference.string(), 24), kConvertOk);
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - started);
    const std::string whole = Sandbox::read(reference);
    const fs::path target = sandbox_.write("out/page.png", "earlier");

    std::mt19937 random(11);
    for (const bool unnamed : {true, false}) {
        for (int round = 0; round < 10; ++round) {
            const auto delay = std::chrono::microseconds(random() % (took.count() + 1));
            test::killChildAfter(
                [&] {
                    platform::allowUnnamedWorkingFiles(unnamed);
                    toPng(bmp.string(), target.string(), 24);
                    auto fresh = ConvertTarget::newFile([&](int n) {
                        return (out_ / ("new-" + std::to_string(n) + ".png")).string();
                    });
                    toPng(bmp.string(), fresh, 24);
                    ::pause();
                    return 0;
                },
                delay);
            const std::string now = Sandbox::read(target);
            EXPECT_TRUE(now == "earlier" || now == whole) << "size " << now.size();
            for (const auto& name : namesIn(out_)) {
                if (name.starts_with("new-")) {
                    EXPECT_EQ(Sandbox::read(out_ / name), whole) << name;
                }
            }
        }
    }
    fs::remove_all(tmp_); // the killed children's stores were unlinked at once: nothing there
    fs::create_directory(tmp_);
    ASSERT_EQ(toPng(bmp.string(), target.string(), 24), kConvertOk);
    for (const auto& name : namesIn(out_)) {
        EXPECT_FALSE(name.starts_with(".")) << "left behind: " << name;
    }
}

// `vantrel convert`: the code on stdout as before, and on failure one line on stderr naming the
// file and the reason.
TEST_F(ConverterFaults, CommandLineSaysWhatFailedOnStderr) {
    const fs::path page = sandbox_.write("page.bmp", pageBmp(8, 8));
    const fs::path locked = sandbox_.write("out/locked.png", "kept");
    fs::permissions(locked, fs::perms(0444));
    struct Row {
        std::vector<std::string> args;
        std::string code;
        std::string stderrText; // "" for none
    };
    const Row rows[] = {
        {{"--to", "png", page.string(), (out_ / "ok.png").string()}, "1\n", ""},
        {{"--to", "png", (sandbox_ / "gone.bmp").string(), (out_ / "x.png").string()},
         "-1\n",
         "vantrel convert: " + (sandbox_ / "gone.bmp").string() + ": no such file\n"},
        {{"--to", "png", page.string(), locked.string()},
         "-4\n",
         "vantrel convert: " + locked.string() + ": Permission denied\n"},
        {{"--to", "bmp", page.string(), (sandbox_ / "no/such/x.bmp").string()},
         "-4\n",
         "vantrel convert: " + (sandbox_ / "no/such/x.bmp").string() +
             ": No such file or directory\n"},
    };
    for (const Row& row : rows) {
        const fs::path out = sandbox_ / "stdout", err = sandbox_ / "stderr";
        const auto result = test::runInChild([&] {
            if (!std::freopen(out.c_str(), "w", stdout) ||
                !std::freopen(err.c_str(), "w", stderr)) {
                return 100;
            }
            std::vector<std::string> args = row.args;
            args.insert(args.begin(), "convert");
            std::vector<char*> argv;
            for (auto& a : args) {
                argv.push_back(a.data());
            }
            const int status = runConvertCommand(int(argv.size()), argv.data());
            std::fflush(nullptr);
            return status;
        });
        EXPECT_TRUE(result.exited && result.code == (row.code == "1\n" ? 0 : 1))
            << result.describe();
        EXPECT_EQ(Sandbox::read(out), row.code);
        EXPECT_EQ(Sandbox::read(err), row.stderrText);
    }
    EXPECT_EQ(Sandbox::read(locked), "kept");
}

// Too little memory for a page fails the conversion with its code; the process goes on.
TEST_F(ConverterFaults, OutOfMemoryFailsTheConversionOnly) {
    if (!test::kAddressSpaceLimitWorks) {
        GTEST_SKIP() << "address-space limits do not work under AddressSanitizer";
    }
    const fs::path bmp = sandbox_.write("page.bmp", pageBmp(2000, 1500)); // 9 MB of pixels
    ASSERT_EQ(toJpeg(bmp.string(), (sandbox_ / "page.jpg").string(), false, 90, true, 0), 1);
    for (const std::size_t headroom : {std::size_t{1} << 20, std::size_t{6} << 20}) {
        const auto result = test::runInChild([&] {
            test::limitAddressSpaceAboveCurrent(headroom);
            int failures = 0;
            for (const char* source : {"page.bmp", "page.jpg"}) {
                const std::string from = (sandbox_ / source).string();
                const int png = toPng(from, (out_ / "m.png").string(), 24);
                const int jpg = toJpeg(from, (out_ / "m.jpg").string(), false, 90, true, 0);
                for (const int code : {png, jpg}) {
                    if (code != kConvertOk && code != kSourceUnreadable &&
                        code != kTargetNotWritten) {
                        return 3;
                    }
                    failures += code != kConvertOk;
                }
            }
            return failures > 0 ? 0 : 4;
        });
        EXPECT_TRUE(result.exited && result.code == 0)
            << "headroom " << headroom << ": " << result.describe();
    }
    for (const auto& name : namesIn(out_)) {
        EXPECT_FALSE(name.starts_with(".")) << "left behind: " << name;
    }
}

} // namespace
} // namespace vantrel::imaging
