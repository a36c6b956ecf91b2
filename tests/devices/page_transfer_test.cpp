// A page's way from the scanner helper into the program: assembled in the helper's kept buffer,
// written into the kept memfd, read back into a handle of the program's own.

#include "platform/twain/page_transfer.h"
#include "platform/twain/twain_handle.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vantrel::twain {
namespace {

std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 31 + seed);
    }
    return bytes;
}

std::vector<std::uint8_t> bytesOf(TW_HANDLE handle) {
    const auto* data = static_cast<const std::uint8_t*>(twHandleLock(handle));
    std::vector<std::uint8_t> out(data, data + twHandleSize(handle));
    twHandleUnlock(handle);
    return out;
}

// One page of `size` bytes through the buffer and the memfd, as the helper and the program pass
// it: a buffer asked for zeros must hold zeros, and the page must arrive as it was assembled.
void carryPage(PageAssemblyBuffer& buffer, PageFile& file, std::size_t size, bool zeroFill,
               std::uint8_t seed) {
    TW_HANDLE assembled = buffer.allocate(size, zeroFill);
    ASSERT_NE(assembled, nullptr);
    ASSERT_EQ(twHandleSize(assembled), size);
    auto* data = static_cast<std::uint8_t*>(twHandleLock(assembled));
    if (zeroFill) {
        EXPECT_EQ(std::vector<std::uint8_t>(data, data + size), std::vector<std::uint8_t>(size, 0));
    }
    const std::vector<std::uint8_t> page = pattern(size, seed);
    std::copy(page.begin(), page.end(), data);
    const int fd = file.write(data, size);
    twHandleUnlock(assembled);
    twHandleFree(assembled); // borrowed: the buffer stays
    ASSERT_GE(fd, 0);

    struct stat info {};
    ASSERT_EQ(fstat(fd, &info), 0);
    EXPECT_LE(static_cast<std::size_t>(info.st_size), std::max<std::size_t>(2 * size, 40u << 20));
    TW_HANDLE received = readPageFile(fd, size);
    ASSERT_NE(received, nullptr);
    EXPECT_EQ(bytesOf(received), page);
    twHandleFree(received);
}

// Pages of changing sizes through one buffer and one memfd, as a run of scans sends them: each
// arrives whole and as it was, and none shows bytes of the page before it.
TEST(PageTransfer, EachPageArrivesAsItWasAssembled) {
    PageAssemblyBuffer buffer;
    PageFile file;
    struct Case {
        std::size_t size;
        bool zeroFill;
    };
    // Same size (reused); larger (a new buffer); less than half of a large buffer, zeros asked
    // for (a new one); smaller pages in a small buffer (reused: zeros asked for must be zeros).
    const Case cases[] = {{3u << 20, false}, {3u << 20, false}, {40u << 20, false},
                          {3u << 20, true},  {1u << 20, false}, {900u << 10, true},
                          {54, false}};
    std::uint8_t seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        carryPage(buffer, file, c.size, c.zeroFill, seed++);
    }
}

// Memory made ready before the first scan carries pages as fresh memory does.
TEST(PageTransfer, PreparedMemoryCarriesPagesAsFreshMemoryDoes) {
    PageAssemblyBuffer buffer;
    PageFile file;
    buffer.prepare(kPreparedPageBytes);
    file.prepare(kPreparedPageBytes);
    for (const std::size_t size : {std::size_t{26} << 20, std::size_t{3} << 20}) {
        SCOPED_TRACE(size);
        carryPage(buffer, file, size, true, 7);
    }
}

TEST(PageTransfer, AShortOrMissingFileGivesNoPage) {
    const int fd = memfd_create("page", MFD_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "BM", 2), 2);
    EXPECT_EQ(readPageFile(fd, 3), nullptr); // promises more than the file holds
    TW_HANDLE two = readPageFile(fd, 2);
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(bytesOf(two), (std::vector<std::uint8_t>{'B', 'M'}));
    twHandleFree(two);
    EXPECT_EQ(readPageFile(-1, 2), nullptr);
    close(fd);
    EXPECT_EQ(readPageFile(fd, 2), nullptr); // closed
}

} // namespace
} // namespace vantrel::twain
