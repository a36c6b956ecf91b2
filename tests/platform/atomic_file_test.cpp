#include "platform/atomic_file.h"

#include "tests/support/sandbox.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <map>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
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

} // namespace
} // namespace vantrel::platform
