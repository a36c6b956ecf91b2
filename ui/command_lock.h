#pragma once
// Blocks the window's commands while a long operation runs, and only them: the toolbar, buttons,
// check boxes, drop-down lists, edit boxes, slider, colour picker and the menu bar are disabled;
// labels, pictures, the preview and its scroll bars, the saved-file list and the progress panel
// stay as they are, so what the operation shows can still be read. Controls that were disabled
// already stay disabled afterwards. Locks may nest.

#include <QPointer>
#include <QWidget>
#include <vector>

namespace vantrel::ui {

class Window;

class CommandLock {
public:
    explicit CommandLock(Window& window);
    ~CommandLock();
    CommandLock(const CommandLock&) = delete;
    CommandLock& operator=(const CommandLock&) = delete;

private:
    std::vector<QPointer<QWidget>> disabled_; // the controls this lock disabled
};

} // namespace vantrel::ui
