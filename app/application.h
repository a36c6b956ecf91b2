#pragma once
// Process entry of the desktop program: sets up the UI runtime, shows the main window and runs
// the message loop until it closes.

namespace vantrel::app {

int runDesktop(int argc, char** argv);

} // namespace vantrel::app
