#include "ui/message_window.h"

#include <QCoreApplication>
#include <QEvent>
#include <mutex>
#include <vector>

namespace vantrel::ui {

namespace {

const QEvent::Type kMessageEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

class MessageEvent final : public QEvent {
public:
    MessageEvent(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)
        : QEvent(kMessageEventType)
        , message_(message)
        , wParam_(wParam)
        , lParam_(lParam) {}
    std::uint32_t message_;
    std::uintptr_t wParam_;
    std::intptr_t lParam_;
};

} // namespace

// The state a C handle points to. The window clears `window` under the mutex when it dies, so a
// post racing with destruction either lands before (and Qt drops the queued event with the
// object) or finds no window. The block itself is retired to a list that lives as long as the
// process, so a stale handle never reaches freed memory; there is one per control window, so the
// list stays tiny.
struct MessageWindowShared {
    std::mutex mutex;
    MessageWindow* window = nullptr;
    VantrelMessageTarget target{};

    static int post(void* context, std::uint32_t message, std::uintptr_t wParam,
                    std::intptr_t lParam) {
        auto* shared = static_cast<MessageWindowShared*>(context);
        std::lock_guard lock(shared->mutex);
        if (!shared->window) {
            return 0;
        }
        QCoreApplication::postEvent(shared->window, new MessageEvent(message, wParam, lParam));
        return 1;
    }
};

namespace {

std::mutex& retiredMutex() {
    static std::mutex mutex;
    return mutex;
}

std::vector<std::unique_ptr<MessageWindowShared>>& retired() {
    static auto* list = new std::vector<std::unique_ptr<MessageWindowShared>>();
    return *list;
}

} // namespace

MessageWindow::MessageWindow(Procedure procedure, QObject* parent)
    : QObject(parent)
    , shared_(new MessageWindowShared)
    , procedure_(std::move(procedure)) {
    shared_->window = this;
    shared_->target.context = shared_;
    shared_->target.post = &MessageWindowShared::post;
}

MessageWindow::~MessageWindow() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->window = nullptr;
    }
    std::lock_guard lock(retiredMutex());
    retired().emplace_back(shared_);
}

bool MessageWindow::postMessage(std::uint32_t message, std::uintptr_t wParam,
                                std::intptr_t lParam) {
    return MessageWindowShared::post(shared_, message, wParam, lParam) != 0;
}

std::intptr_t MessageWindow::sendMessage(std::uint32_t message, std::uintptr_t wParam,
                                         std::intptr_t lParam) {
    return procedure_ ? procedure_(message, wParam, lParam) : 0;
}

VantrelMessageTarget* MessageWindow::handle() const {
    return &shared_->target;
}

void MessageWindow::customEvent(QEvent* event) {
    if (event->type() == kMessageEventType) {
        const auto* m = static_cast<MessageEvent*>(event);
        sendMessage(m->message_, m->wParam_, m->lParam_);
        return;
    }
    QObject::customEvent(event);
}

} // namespace vantrel::ui
