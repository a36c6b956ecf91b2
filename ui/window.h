#pragma once
// A top-level window built from a WindowDefinition. Every control of the definition exists under
// its name; handlers are bound by control name and event kind, and events the user causes are
// delivered to them on the GUI thread. Non-visual components are controls without a widget that
// can raise their own events through the window.

#include "ui/control.h"
#include "ui/window_definition.h"

#include <QMainWindow>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vantrel::ui {

// A non-visual control (scanner, printer, file dialog): it has a name and events, and no widget.
class Component final : public Control {
public:
    Component(std::string_view name, std::string_view text)
        : Control(name)
        , text_(text) {}
    using Control::raiseEvent;
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

class Window final : public QMainWindow, public EventSink {
    Q_OBJECT
public:
    using Handler = std::function<void(const EventArgs&)>;

    explicit Window(const WindowDefinition& definition, QWidget* parent = nullptr);
    ~Window() override;

    const WindowDefinition& definition() const { return definition_; }
    QWidget* clientArea() const { return client_; }

    Control* find(std::string_view name) const;
    // The control `name` as the kind T; throws std::logic_error when there is none of that kind.
    template <typename T>
    T& control(std::string_view name) const {
        if (auto* typed = dynamic_cast<T*>(find(name))) {
            return *typed;
        }
        throw std::logic_error("no control of that kind: " + std::string(name));
    }

    void bind(std::string_view control, EventKind kind, Handler handler);
    // "name:kind" for every event the definition lists that has no handler bound.
    std::vector<std::string> unboundEvents() const;

    // Raises the window's creation event (its handlers see every control already built). Control
    // events reach their handlers only once the creation event has finished, so restoring the
    // controls' content while the window is created runs no handler.
    void finishCreation();
    bool created() const { return created_; }
    // Shows the window with its outer size as defined and centred on the screen.
    void showCentred();

    void deliverEvent(std::string_view control, EventKind kind, const EventArgs& args) override;

protected:
    bool event(QEvent* event) override;

private:
    void build();
    void buildMenus();
    QWidget* createControl(const ControlDefinition& control, QWidget* parent);
    void applyAccessibleNames();
    void fitOuterSize();
    QSize minimumClientSize() const;

    const WindowDefinition& definition_;
    QWidget* client_;
    std::map<std::string, Control*, std::less<>> controls_;
    std::map<std::string, QWidget*, std::less<>> widgets_;
    std::vector<std::unique_ptr<Component>> components_;
    std::map<std::pair<std::string, EventKind>, Handler> handlers_;
    bool created_ = false;
};

} // namespace vantrel::ui
