#pragma once
// A fresh temporary folder for one test, removed with everything in it when the test ends.

#include <filesystem>
#include <string>
#include <string_view>

namespace vantrel::test {

class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::filesystem::path& path() const { return root_; }
    std::filesystem::path operator/(std::string_view name) const { return root_ / name; }

    // Writes `bytes` to the file `name` inside the sandbox and returns its path.
    std::filesystem::path write(std::string_view name, std::string_view bytes) const;
    // The whole content of a file, or an empty string when it cannot be read.
    static std::string read(const std::filesystem::path& file);

private:
    std::filesystem::path root_;
};

// Folder of the public test images (shared/corpus), from the environment set by ctest.
std::filesystem::path corpusDir();

} // namespace vantrel::test
