#pragma once
// What every control of a built window shares: its name from the window definition and the way it
// raises events. Events go to the window's EventSink, which calls the handler bound to that control
// name and event kind, if any.

#include "ui/window_definition.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

class QWidget;

namespace vantrel::ui {

struct EventArgs {
    int index = 0;                       // toolbar button index
    std::span<const std::uint8_t> bytes; // picture acquired: BMP file bytes
    int width = 0;                       // picture acquired: size in pixels
    int height = 0;
};

class EventSink {
public:
    virtual void deliverEvent(std::string_view control, EventKind kind, const EventArgs& args) = 0;

protected:
    ~EventSink() = default;
};

class Control {
public:
    explicit Control(std::string_view name)
        : name_(name) {}
    virtual ~Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    const std::string& name() const { return name_; }
    void attach(EventSink* sink) { sink_ = sink; }

protected:
    void raiseEvent(EventKind kind, const EventArgs& args = {}) const {
        if (sink_) {
            sink_->deliverEvent(name_, kind, args);
        }
    }

private:
    std::string name_;
    EventSink* sink_ = nullptr;
};

} // namespace vantrel::ui
