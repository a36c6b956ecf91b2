#pragma once
// Start-up of the UI runtime: Qt's own dialogs in Chinese, the program's default font, and the
// themed drawing of the standard controls.

class QApplication;

namespace vantrel::ui {

// Loads Qt's Chinese translations and sets the default style and font. Call once, right after the
// QApplication exists and before any window is built.
void initialiseRuntime(QApplication& application);

// Switches on themed drawing of the standard controls for every window of the program. Schemes:
// 1 blue-grey (frames RGB 123,158,189), 2 olive, 3 silver; any other value selects 1.
void applyThemedDrawing(int scheme);

} // namespace vantrel::ui
