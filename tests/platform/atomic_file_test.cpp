#include "platform/atomic_file.h"

#include "tests/support/child_process.h"
#include "tests/support/sandbox.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vantrel::platform {
namespace {

namespace fs = std::filesystem;
using test::Sandbox;

std::vector<std::byte> pattern(std::size_t size) {
    std::vector<std::byte> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::byte>((i * 7 + i / 251) & 0xFF);
    }
    return bytes;
}

std::string asString(const std::vector<std::byte>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

fs::perms permsOf(const fs::path& file) {
    return fs::status(file).permissions() & fs::perms::mask;
}

// Everything under `root`: each entry with its kind, permission bits and content.
std::map<std::string, std::string> snapshot(const fs::path& root) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const fs::path& path = entry.path();
        std::string description;
        if (entry.is_symlink()) {
            description = "link to " + fs::read_symlink(path).string();
        } else {
            description = std::to_string(static_cast<unsigned>(permsOf(path))) +
                          (entry.is_directory() ? " folder" : " file " + Sandbox::read(path));
        }
        entries[path.lexically_relative(root).string()] = description;
    }
    return entries;
}

TEST(AtomicFile, ReplacesContentAndKeepsModeAndLink) {
    Sandbox box;
    const fs::path target = box.write("picture.bin", "earlier");
    fs::permissions(target, fs::perms(0604));
    const fs::path link = box / "link.bin";
    fs::create_symlink("picture.bin", link);

    const auto bytes = pattern(300000);
    ASSERT_TRUE(writeFileAtomically(link, bytes));
    EXPECT_EQ(Sandbox::read(target), asString(bytes));
    EXPECT_EQ(permsOf(target), fs::perms(0604));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(snapshot(box.path()).size(), 2U) << "temporary file left";
}

TEST(AtomicFile, NewFileGetsModeFromUmask) {
    Sandbox box;
    const mode_t old = ::umask(027);
    const bool written = writeFileAtomically(box / "new.bin", std::string_view("x"));
    ::umask(old);
    ASSERT_TRUE(written);
    EXPECT_EQ(permsOf(box / "new.bin"), fs::perms(0640));
}

// Lowers the file size limit so that writing a file fails with EFBIG part way through.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lower = old_;
        lower.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lower);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
};

struct FailureCase {
    std::string name;
    // Prepares the sandbox and returns the target to write.
    std::function<fs::path(const Sandbox&)> arrange;
    bool failWhileWriting = false;
    friend void PrintTo(const FailureCase& row, std::ostream* out) { *out << row.name; }
};

class AtomicFileFailure : public ::testing::TestWithParam<FailureCase> {};

// A failed write leaves every file exactly as it was and no temporary file behind.
TEST_P(AtomicFileFailure, LeavesEverythingAsItWas) {
    const FailureCase& row = GetParam();
    Sandbox box;
    box.write("earlier.bin", "earlier content");
    const fs::path target = row.arrange(box);
    const auto before = snapshot(box.path());

    bool written = true;
    {
        std::optional<FileSizeLimit> limit;
        if (row.failWhileWriting) {
            limit.emplace(1000);
        }
        written = writeFileAtomically(target, pattern(65536));
    }
    EXPECT_FALSE(written);
    EXPECT_EQ(snapshot(box.path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    AtomicFile, AtomicFileFailure,
    ::testing::Values(FailureCase{"FolderMissing",
                                  [](const Sandbox& box) { return box / "missing/earlier.bin"; }},
                      FailureCase{"WriteFailsMidway",
                                  [](const Sandbox& box) { return box / "earlier.bin"; }, true},
                      FailureCase{"ReadOnlyTarget",
                                  [](const Sandbox& box) {
                                      fs::permissions(box / "earlier.bin", fs::perms(0444));
                                      return box / "earlier.bin";
                                  }},
                      FailureCase{"FolderWithoutWriteBit",
                                  [](const Sandbox& box) {
                                      fs::create_directory(box / "locked");
                                      box.write("locked/old.bin", "old");
                                      fs::permissions(box / "locked", fs::perms(0555));
                                      return box / "locked/old.bin";
                                  }},
                      FailureCase{"TargetIsFolder",
                                  [](const Sandbox& box) {
                                      fs::create_directory(box / "folder");
                                      box.write("folder/inside.bin", "inside");
                                      return box / "folder";
                                  }},
                      FailureCase{"SymlinkLoop",
                                  [](const Sandbox& box) {
                                      fs::create_symlink("b", box / "a");
                                      fs::create_symlink("a", box / "b");
                                      return box / "a";
                                  }}),
    [](const auto& param) { return std::string(param.param.name); });

// ---- new files never replace, abandoned working files are swept ----

class WorkingFileKinds : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { allowUnnamedWorkingFiles(GetParam()); }
    void TearDown() override { allowUnnamedWorkingFiles(true); }
};

bool writeNew(const fs::path& target, std::string_view bytes) {
    AtomicFile file(target, Placement::NewOnly);
    return file.open() &&
           ::write(file.fd(), bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
           file.commit();
}

TEST_P(WorkingFileKinds, NewFileNeverReplacesAnythingOfItsName) {
    Sandbox box;
    const fs::path earlier = box.write("scan.png", "earlier");
    fs::create_symlink("elsewhere.png", box / "link.png"); // dangling: must not be followed
    const auto before = snapshot(box.path());

    EXPECT_FALSE(writeNew(earlier, "new"));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_FALSE(writeNew(box / "link.png", "new"));
    EXPECT_EQ(snapshot(box.path()), before);

    ASSERT_TRUE(writeNew(box / "fresh.png", "new"));
    EXPECT_EQ(Sandbox::read(box / "fresh.png"), "new");
}

TEST_P(WorkingFileKinds, FreeNameIsTheFirstNotTakenWhenTheFileIsComplete) {
    Sandbox box;
    box.write("p.png", "one");
    AtomicFile file(box / "p.png", Placement::NewOnly);
    ASSERT_TRUE(file.open());
    ASSERT_EQ(::write(file.fd(), "three", 5), 5);
    // Taken after the writer started: still never replaced.
    box.write("p-2.png", "two");
    const auto name = file.commitUnderFreeName(
        [&](int n) { return box / (n == 1 ? "p.png" : "p-" + std::to_string(n) + ".png"); }, 10);
    ASSERT_TRUE(name.has_value());
    EXPECT_EQ(*name, box / "p-3.png");
    EXPECT_EQ(Sandbox::read(box / "p.png"), "one");
    EXPECT_EQ(Sandbox::read(box / "p-2.png"), "two");
    EXPECT_EQ(Sandbox::read(box / "p-3.png"), "three");
    EXPECT_EQ(snapshot(box.path()).size(), 3U) << "working file left";
}

TEST_P(WorkingFileKinds, ReplacingKeepsNoWorkingFileAndRefusesReadOnly) {
    Sandbox box;
    const fs::path target = box.write("boot.ini", "old");
    ASSERT_TRUE(writeFileAtomically(target, std::string_view("new")));
    EXPECT_EQ(Sandbox::read(target), "new");
    EXPECT_EQ(snapshot(box.path()).size(), 1U);
    fs::permissions(target, fs::perms(0444));
    EXPECT_FALSE(writeFileAtomically(target, std::string_view("lost")));
    EXPECT_EQ(Sandbox::read(target), "new");
}

// A writer killed at any instant leaves the earlier file or the new one whole, and whatever it
// left besides is gone after the next write into the folder.
TEST_P(WorkingFileKinds, KillAtAnyInstantLeavesOldOrNewAndNothingAfterTheNextWrite) {
    Sandbox box;
    const std::string earlier(512 << 10, 'e');
    const std::string next(512 << 10, 'n');
    const fs::path target = box.write("page.bmp", earlier);
    const bool unnamed = GetParam();
    std::mt19937 random(7);
    for (int round = 0; round < 12; ++round) {
        const auto delay = std::chrono::microseconds(random() % 20000);
        test::killChildAfter(
            [&] {
                allowUnnamedWorkingFiles(unnamed);
                for (;;) {
                    writeFileAtomically(target, next);
                    AtomicFile file(box / "new.bmp", Placement::NewOnly);
                    if (file.open()) {
                        ::write(file.fd(), next.data(), next.size());
                        file.commitUnderFreeName(
                            [&](int n) { return box / ("new-" + std::to_string(n) + ".bmp"); },
                            1000);
                    }
                }
                return 0;
            },
            delay);
        const std::string now = Sandbox::read(target);
        EXPECT_TRUE(now == earlier || now == next) << "round " << round << ": " << now.size();
        for (const auto& entry : fs::directory_iterator(box.path())) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("new-")) {
                EXPECT_EQ(Sandbox::read(entry.path()), next) << name;
            }
        }
    }
    ASSERT_TRUE(writeFileAtomically(target, earlier));
    for (const auto& entry : fs::directory_iterator(box.path())) {
        EXPECT_FALSE(entry.path().filename().string().starts_with("."))
            << "left behind: " << entry.path();
    }
}

INSTANTIATE_TEST_SUITE_P(AtomicFile, WorkingFileKinds, ::testing::Values(true, false),
                         [](const auto& param) { return param.param ? "Unnamed" : "Named"; });

TEST(AbandonedWorkingFiles, OnlyUnlockedOnesOfOursAreRemoved) {
    Sandbox box;
    const auto make = [&](const std::string& name, int ageMinutes) {
        const fs::path file = box.write(name, "x");
        fs::last_write_time(file,
                            fs::file_time_type::clock::now() - std::chrono::minutes(ageMinutes));
        return file;
    };
    make(".20261210.png.k3j9x0a8b7c6.part", 0);   // ours, unlocked: its writer died
    make(".20261210.png.0badcafe.part", 30);      // an earlier version's, long untouched
    make(".20261210.png.0badcafe.part.keep", 30); // not a working name
    make(".20261210.png.1badcafe.part", 1);       // an earlier version's, maybe still written
    make(".20261210.png.K3J9X0A8B7C6.part", 0);   // not our alphabet
    make("20261210.png.k3j9x0a8b7c6.part", 0);    // not hidden
    make("..k3j9x0a8b7c6.part", 0);               // no name inside
    const fs::path held = make(".held.png.a1b2c3d4e5f6.part", 0);
    const int fd = ::open(held.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0); // a live writer's lock

    EXPECT_EQ(removeAbandonedWorkingFiles(box.path()), 2);
    ::close(fd);
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(box.path())) {
        left.insert(entry.path().filename().string());
    }
    EXPECT_EQ(left, (std::set<std::string>{
                        ".20261210.png.0badcafe.part.keep", ".20261210.png.1badcafe.part",
                        ".20261210.png.K3J9X0A8B7C6.part", "20261210.png.k3j9x0a8b7c6.part",
                        "..k3j9x0a8b7c6.part", ".held.png.a1b2c3d4e5f6.part"}));
}

// A full disk fails the write; the earlier file and the folder stay as they were.
TEST(AtomicFile, FullDiskFailsAndKeepsTheEarlierFile) {
    if (!test::privateTmpfsAvailable()) {
        GTEST_SKIP() << "no private tmpfs here (needs root)";
    }
    Sandbox box;
    const auto result = test::runInChild([&] {
        if (!test::mountPrivateTmpfs(box.path(), 256 << 10)) {
            return 2;
        }
        const fs::path target = box / "boot.ini";
        if (!writeFileAtomically(target, std::string(1000, 'a'))) {
            return 3;
        }
        // A small block, and a page-sized one that is written in pieces.
        for (const auto& [unnamed, size] :
             {std::pair{true, 400 << 10}, std::pair{false, 400 << 10}, std::pair{true, 5 << 20}}) {
            allowUnnamedWorkingFiles(unnamed);
            if (writeFileAtomically(target, std::string(static_cast<std::size_t>(size), 'b')) ||
                errno != ENOSPC) {
                return 4;
            }
            if (Sandbox::read(target) != std::string(1000, 'a')) {
                return 5;
            }
            if (std::distance(fs::directory_iterator(box.path()), fs::directory_iterator()) != 1) {
                return 6;
            }
        }
        return 0;
    });
    EXPECT_TRUE(result.exited && result.code == 0) << result.describe();
}

} // namespace
} // namespace vantrel::platform
