#pragma once
// Folder of the public test images for the imaging tests: the environment's choice when set,
// otherwise the folder this build was configured with (the tests may run from any directory).

#include "tests/support/sandbox.h"

#include <cstdlib>
#include <filesystem>

namespace vantrel::test {

inline std::filesystem::path imagingCorpusDir() {
    if (std::getenv("VANTREL_CORPUS_DIR")) {
        return corpusDir();
    }
    return VANTREL_IMAGING_CORPUS_DIR;
}

} // namespace vantrel::test
