// LoadPicture by file name: the input is written to a file of this process in the private
// temporary folder and loaded by its path (the whole-file read, then format detection and every
// picture decoder), drawn as the panel draws it (picture_drawing.h) and unloaded. The registry
// must be empty again afterwards.

#include "fuzz/fuzz_support.h"
#include "fuzz/picture_drawing.h"
#include "imaging/picture_registry.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

using namespace vantrel::imaging;

namespace {

std::filesystem::path gFile;

void removeFile() {
    std::error_code ignored;
    std::filesystem::remove(gFile, ignored);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vantrel::fuzz::setUp();
    const char* tmp = std::getenv("TMPDIR");
    // The process id keeps parallel fuzzing jobs that share a folder apart.
    gFile = std::filesystem::path(tmp && *tmp ? tmp : "/tmp") /
            ("vantrel-fuzz-picture-" + std::to_string(getpid()));
    std::atexit(removeFile);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(gFile.c_str(), "wb");
    if (!file) {
        std::abort(); // the harness cannot run: say so rather than fuzz nothing
    }
    const bool written = std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written) {
        std::abort();
    }
    vantrel::fuzz::drawAndUnload(LoadPicture(gFile), size > 0 ? data[size - 1] * 0x010101u : 0);
    return 0;
}
