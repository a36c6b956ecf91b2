#pragma once
// Points TMPDIR at a folder of the test's own for as long as the object lives, so the working
// files of the code under test land where the test can watch them; the earlier value comes back
// afterwards.

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace vantrel::test {

class TemporaryFolderOverride {
public:
    explicit TemporaryFolderOverride(const std::filesystem::path& folder) {
        if (const char* old = std::getenv("TMPDIR")) {
            old_ = old;
        }
        std::filesystem::create_directories(folder);
        ::setenv("TMPDIR", folder.c_str(), 1);
    }
    ~TemporaryFolderOverride() {
        if (old_) {
            ::setenv("TMPDIR", old_->c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }
    TemporaryFolderOverride(const TemporaryFolderOverride&) = delete;
    TemporaryFolderOverride& operator=(const TemporaryFolderOverride&) = delete;

private:
    std::optional<std::string> old_;
};

} // namespace vantrel::test
