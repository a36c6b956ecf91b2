#pragma once
// A file written beside its final name and renamed into place only when complete: a failed or
// interrupted write never leaves a truncated file under the final name and never replaces an
// earlier file of that name. The working file ".<name>.<random>.part" is created exclusively in
// the target's folder (so the rename stays within one file system) with the mode a plain
// creation would get (0666 less the umask; an existing target's own bits), and is removed on every
// failure path. A symbolic link as the target is followed, as platform/atomic_file.h does.
//
// The platform layer's writeFileAtomically() takes the whole content in memory; this class
// streams, so a page is never held twice while it is encoded.

#include <cstdio>
#include <string>

namespace vantrel::imaging {

class AtomicOutputFile {
public:
    explicit AtomicOutputFile(std::string target);
    ~AtomicOutputFile(); // discards the working file unless committed
    AtomicOutputFile(const AtomicOutputFile&) = delete;
    AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;

    // Creates the working file; false when the folder cannot take it.
    bool open();
    std::FILE* stream() const { return stream_; }
    // Flushes and closes the working file and renames it over the target; false (and the working
    // file removed, the target untouched) when any of those steps fails.
    bool commit();

private:
    void discard();
    std::string target_;
    std::string working_;
    std::FILE* stream_ = nullptr;
};

} // namespace vantrel::imaging
