#pragma once
// Where the scanner component finds the TWAIN source manager: a shared library loaded at run time
// and its DSM_Entry looked up by name (ELF has no ordinals), or, for tests, an entry function
// given directly.

#include "platform/twain/twain.h"

#include <filesystem>
#include <memory>

namespace vantrel::devices {

// File name of our source manager library, placed beside the executable by the build.
inline constexpr const char* kManagerFileName = "libvantrel_twain_dsm.so";
// Environment variable that names another source manager library (tests, packagers).
inline constexpr const char* kManagerPathVariable = "VANTREL_TWAIN_DSM";

// $VANTREL_TWAIN_DSM when set, otherwise kManagerFileName in the running executable's folder.
std::filesystem::path defaultManagerPath();

class ManagerLibrary {
public:
    virtual ~ManagerLibrary() = default;
    // Loads the library; false when it cannot be loaded. entry() is then null.
    virtual bool load() = 0;
    // DSM_Entry of the loaded library, or null when the library has none.
    virtual DSMENTRYPROC entry() const = 0;
    virtual void unload() = 0;
    virtual bool loaded() const = 0;

    static std::unique_ptr<ManagerLibrary> fromFile(std::filesystem::path file);
    // "Loading" always succeeds and yields `entry` (which may be null to simulate a library
    // without DSM_Entry).
    static std::unique_ptr<ManagerLibrary> fromEntry(DSMENTRYPROC entry);
};

} // namespace vantrel::devices
