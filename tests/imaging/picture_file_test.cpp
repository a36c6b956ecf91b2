// LoadPicture of a file the user picked: only regular files are read, and only after their first
// bytes name a picture kind and their size fits within the decode limits, so a FIFO, a device or
// a huge file costs neither a wait nor memory.

#include "imaging/picture_registry.h"
#include "tests/support/sandbox.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel::imaging {
namespace {

namespace fs = std::filesystem;

struct FileCase {
    const char* name;
    std::function<fs::path(const test::Sandbox&)> make;
};

class PictureFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(PictureFile, IsRefusedAtOnceWithoutReadingIt) {
    test::Sandbox sandbox;
    const fs::path file = GetParam().make(sandbox);
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(LoadPicture(file), 0u);
    EXPECT_EQ(pictureRegistry().size(), 0u);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    // Nothing was read: no wait on a writer, and the resident size did not grow by the file.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024); // KiB
}

// A sparse file of `size` bytes that starts with `head`.
fs::path sparse(const test::Sandbox& box, const char* name, std::string_view head, off_t size) {
    const fs::path file = box.write(name, head);
    if (::truncate(file.c_str(), size) != 0) {
        ADD_FAILURE() << "cannot make the sparse file";
    }
    return file;
}

const FileCase kFileCases[] = {
    {"Fifo",
     [](const test::Sandbox& box) {
         const fs::path fifo = box / "pipe.bmp";
         ::mkfifo(fifo.c_str(), 0600); // no writer: a read would block for ever
         return fifo;
     }},
    {"Device", [](const test::Sandbox&) { return fs::path("/dev/zero"); }},
    {"Folder", [](const test::Sandbox& box) { return box.path(); }},
    {"HugeBmp",
     [](const test::Sandbox& box) {
         // Larger than any picture within the decode limits can be.
         return sparse(box, "huge.bmp", "BM", off_t{5} << 30);
     }},
    {"NoPictureSignature",
     [](const test::Sandbox& box) { return sparse(box, "notes.bmp", "hello", off_t{300} << 20); }},
};
INSTANTIATE_TEST_SUITE_P(Files, PictureFile, ::testing::ValuesIn(kFileCases),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace vantrel::imaging
