#include "devices/manager_library.h"

#include <cstdlib>
#include <dlfcn.h>
#include <unistd.h>

namespace vantrel::devices {

namespace {

class FileLibrary final : public ManagerLibrary {
public:
    explicit FileLibrary(std::filesystem::path file)
        : file_(std::move(file)) {}
    ~FileLibrary() override { unload(); }

    bool load() override {
        if (!handle_) {
            handle_ = dlopen(file_.c_str(), RTLD_NOW | RTLD_LOCAL);
        }
        return handle_ != nullptr;
    }
    DSMENTRYPROC entry() const override {
        return handle_ ? reinterpret_cast<DSMENTRYPROC>(dlsym(handle_, "DSM_Entry")) : nullptr;
    }
    void unload() override {
        if (handle_) {
            dlclose(handle_);
            handle_ = nullptr;
        }
    }
    bool loaded() const override { return handle_ != nullptr; }

private:
    std::filesystem::path file_;
    void* handle_ = nullptr;
};

class EntryLibrary final : public ManagerLibrary {
public:
    explicit EntryLibrary(DSMENTRYPROC entryFunction)
        : entry_(entryFunction) {}
    bool load() override { return loaded_ = true; }
    DSMENTRYPROC entry() const override { return loaded_ ? entry_ : nullptr; }
    void unload() override { loaded_ = false; }
    bool loaded() const override { return loaded_; }

private:
    DSMENTRYPROC entry_;
    bool loaded_ = false;
};

} // namespace

std::filesystem::path defaultManagerPath() {
    if (const char* path = std::getenv(kManagerPathVariable); path && *path) {
        return path;
    }
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return (error ? std::filesystem::current_path(error) : executable.parent_path()) /
           kManagerFileName;
}

std::unique_ptr<ManagerLibrary> ManagerLibrary::fromFile(std::filesystem::path file) {
    return std::make_unique<FileLibrary>(std::move(file));
}

std::unique_ptr<ManagerLibrary> ManagerLibrary::fromEntry(DSMENTRYPROC entry) {
    return std::make_unique<EntryLibrary>(entry);
}

} // namespace vantrel::devices
