#pragma once
// The slot behind each of the program's seams (dialogs, desktop, print dialogs): the
// implementation in force, a silent fallback until one is installed, and installing that hands
// back the one it replaces (nullptr for the fallback), so a test can put the earlier one back.

namespace vantrel::platform {

template <class Interface>
class Seam {
public:
    // constexpr: a seam over a global fallback is ready before any other static object runs.
    constexpr explicit Seam(Interface& fallback)
        : fallback_(fallback)
        , current_(&fallback) {}

    Interface& current() const { return *current_; }

    // Installs `seam` (not owned; nullptr restores the fallback) and returns the previous one.
    Interface* install(Interface* seam) {
        Interface* previous = current_ == &fallback_ ? nullptr : current_;
        current_ = seam ? seam : &fallback_;
        return previous;
    }

private:
    Interface& fallback_;
    Interface* current_;
};

} // namespace vantrel::platform
