#include "platform/scratch_file.h"

#include "tests/support/sandbox.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace vantrel::platform {
namespace {

namespace fs = std::filesystem;
using test::Sandbox;

std::string pattern(std::size_t size, char seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(seed + i * 7 + i / 251);
    }
    return bytes;
}

ino_t inodeOf(const fs::path& file) {
    struct stat info {};
    ::stat(file.c_str(), &info);
    return info.st_ino;
}

TEST(ScratchFile, RewritesItsOwnFileInPlaceToExactlyTheNewBytes) {
    Sandbox box;
    const fs::path file = box / "photo.tem";
    // Made by the careful path; a page-sized block is written in pieces.
    const std::string first = pattern((6 << 20) + 5, 'a');
    ASSERT_TRUE(rewriteScratchFile(file, first));
    EXPECT_EQ(Sandbox::read(file), first);
    const ino_t inode = inodeOf(file);
    for (const std::size_t size :
         {std::size_t{(9 << 20) + 3}, std::size_t{300000}, std::size_t{1000}, std::size_t{0}}) {
        const std::string bytes = pattern(size, 'b');
        ASSERT_TRUE(rewriteScratchFile(file, bytes));
        EXPECT_EQ(Sandbox::read(file), bytes) << size; // longer and shorter: nothing left over
        EXPECT_EQ(inodeOf(file), inode);
    }
}

TEST(ScratchFile, OtherNamesOfTheFileKeepTheirContent) {
    Sandbox box;
    const fs::path shared = box.write("letter.txt", "the user's own text");
    const fs::path file = box / "photo.tem";
    fs::create_hard_link(shared, file);
    ASSERT_TRUE(rewriteScratchFile(file, std::string_view("page")));
    EXPECT_EQ(Sandbox::read(file), "page");
    EXPECT_EQ(Sandbox::read(shared), "the user's own text");
}

TEST(ScratchFile, FollowsALinkAsAReplacementAndRefusesWhatCannotBeWritten) {
    Sandbox box;
    const fs::path target = box.write("target.bin", "earlier");
    fs::create_symlink("target.bin", box / "link.tem");
    ASSERT_TRUE(rewriteScratchFile(box / "link.tem", std::string_view("new")));
    EXPECT_TRUE(fs::is_symlink(box / "link.tem"));
    EXPECT_EQ(Sandbox::read(target), "new");

    const fs::path readOnly = box.write("read-only.tem", "kept");
    fs::permissions(readOnly, fs::perms(0444));
    EXPECT_FALSE(rewriteScratchFile(readOnly, std::string_view("lost")));
    EXPECT_EQ(Sandbox::read(readOnly), "kept");

    ASSERT_EQ(::mkfifo((box / "fifo.tem").c_str(), 0600), 0);
    EXPECT_FALSE(rewriteScratchFile(box / "fifo.tem", std::string_view("x"))); // and no hang
    EXPECT_FALSE(rewriteScratchFile(box / "missing/photo.tem", std::string_view("x")));
}

TEST(ScratchFile, AWriteThatFailsPartWayIsReported) {
    Sandbox box;
    const fs::path file = box.write("photo.tem", "earlier");
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lower = old;
    lower.rlim_cur = 1000;
    ::setrlimit(RLIMIT_FSIZE, &lower);
    const bool written = rewriteScratchFile(file, pattern(65536, 'c'));
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
}

} // namespace
} // namespace vantrel::platform
