#include "tests/support/sandbox.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace vantrel::test {

Sandbox::Sandbox() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vantrel-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        throw std::runtime_error("cannot create a sandbox folder");
    }
    root_ = pattern;
}

Sandbox::~Sandbox() {
    std::error_code ignored;
    // Tests may leave read-only files or folders behind; make them removable first.
    for (auto it = std::filesystem::recursive_directory_iterator(root_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::permissions(root_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(root_, ignored);
}

std::filesystem::path Sandbox::write(std::string_view name, std::string_view bytes) const {
    const auto file = root_ / name;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
}

std::string Sandbox::read(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::filesystem::path corpusDir() {
    const char* dir = std::getenv("VANTREL_CORPUS_DIR");
    return dir ? std::filesystem::path(dir) : std::filesystem::path(VANTREL_TEST_CORPUS_DIR);
}

} // namespace vantrel::test
