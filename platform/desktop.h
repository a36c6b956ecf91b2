#pragma once
// Opening files, folders and web addresses with the desktop's default handler. The real
// implementation (ui/qt_desktop.h) hands the path or address to the desktop as one argument,
// never through a shell; tests install a recording one.

#include <string>

namespace vantrel::platform {

class Desktop {
public:
    virtual ~Desktop() = default;
    // A local file or folder, as it stands. Returns whether the desktop accepted it.
    virtual bool openPath(const std::string& path) = 0;
    // A web address.
    virtual bool openUrl(const std::string& url) = 0;
};

// The desktop in force; until one is installed, nothing is opened and every call returns false.
Desktop& desktop();

// Installs `seam` (not owned; nullptr restores the default) and returns the previous one.
Desktop* installDesktop(Desktop* seam);

} // namespace vantrel::platform
