#pragma once
// A control's message queue: a window procedure that receives integer messages on the GUI thread.
// `postMessage` queues a message from any thread; `sendMessage` runs the procedure at once on the
// GUI thread and returns its result. `handle()` is the same queue as a plain C structure
// (platform/message_target.h) for code that has no Qt, such as the TWAIN source manager.
//
// Lifetime: a post through the handle after the window is destroyed queues nothing and touches no
// freed memory (the handle's shared state outlives the window); messages still queued when the
// window dies are dropped.

#include "platform/message_target.h"

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>

namespace vantrel::ui {

struct MessageWindowShared;

class MessageWindow final : public QObject {
    Q_OBJECT
public:
    // Windows' first private message number; the control's own messages count from here.
    static constexpr std::uint32_t kUserMessage = 0x0400;

    using Procedure = std::function<std::intptr_t(std::uint32_t message, std::uintptr_t wParam,
                                                  std::intptr_t lParam)>;

    explicit MessageWindow(Procedure procedure, QObject* parent = nullptr);
    ~MessageWindow() override;
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    // Any thread. False when the window is being destroyed.
    bool postMessage(std::uint32_t message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
    // GUI thread only: runs the procedure now.
    std::intptr_t sendMessage(std::uint32_t message, std::uintptr_t wParam = 0,
                              std::intptr_t lParam = 0);

    VantrelMessageTarget* handle() const;

protected:
    void customEvent(QEvent* event) override;

private:
    MessageWindowShared* shared_; // never freed while a handle may be in use: see the .cpp
    Procedure procedure_;
};

} // namespace vantrel::ui
