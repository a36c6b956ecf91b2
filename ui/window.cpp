#include "ui/window.h"

#include "platform/dialogs.h"
#include "ui/button_controls.h"
#include "ui/char_filter.h"
#include "ui/container_controls.h"
#include "ui/list_controls.h"
#include "ui/range_controls.h"
#include "ui/text_controls.h"
#include "ui/toolbar.h"

#include <QAction>
#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <new>

namespace vantrel::ui {
namespace {

QString text(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

const char* eventName(EventKind kind) {
    switch (kind) {
    case EventKind::Created:
        return "Created";
    case EventKind::Click:
        return "Click";
    case EventKind::SelectionChanged:
        return "SelectionChanged";
    case EventKind::TextChanged:
        return "TextChanged";
    case EventKind::ColourChanged:
        return "ColourChanged";
    case EventKind::PositionChanged:
        return "PositionChanged";
    case EventKind::ToolbarButtonClick:
        return "ToolbarButtonClick";
    case EventKind::LeftDoubleClick:
        return "LeftDoubleClick";
    case EventKind::PictureAcquired:
        return "PictureAcquired";
    case EventKind::MenuItemChosen:
        return "MenuItemChosen";
    }
    return "?";
}

constexpr EventKind kAllEvents[] = {
    EventKind::Created,
    EventKind::Click,
    EventKind::SelectionChanged,
    EventKind::TextChanged,
    EventKind::ColourChanged,
    EventKind::PositionChanged,
    EventKind::ToolbarButtonClick,
    EventKind::LeftDoubleClick,
    EventKind::PictureAcquired,
    EventKind::MenuItemChosen,
};

QFont controlFont(const ControlDefinition& d, QFont font) {
    if (d.fontPixelSize > 0) {
        font.setPixelSize(d.fontPixelSize);
    }
    if (d.flags & Bold) {
        font.setBold(true);
    }
    return font;
}

} // namespace

Window::Window(const WindowDefinition& definition, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint)
    , definition_(definition)
    , client_(new QWidget(this)) {
    setObjectName(text(definition.name));
    setWindowTitle(text(definition.caption));
    QIcon icon;
    for (std::string_view file : definition.iconFiles) {
        icon.addFile(text(file));
    }
    setWindowIcon(icon);
    setCentralWidget(client_);
    buildMenus();
    build();
    applyAccessibleNames();
    fitOuterSize();
}

Window::~Window() = default;

void Window::buildMenus() {
    for (const MenuDefinition& menu : definition_.menus) {
        QMenu* qmenu = menuBar()->addMenu(text(menu.caption));
        for (const MenuItemDefinition& item : menu.items) {
            auto component = std::make_unique<Component>(item.caption, item.caption);
            component->attach(this);
            Component* raw = component.get();
            QAction* action = qmenu->addAction(text(item.caption));
            connect(action, &QAction::triggered, this,
                    [raw] { raw->raiseEvent(EventKind::MenuItemChosen); });
            controls_.emplace(std::string(item.caption), raw);
            components_.push_back(std::move(component));
        }
    }
}

void Window::build() {
    for (const ControlDefinition& d : definition_.controls) {
        QWidget* parent = client_;
        if (!d.parent.empty()) {
            auto it = widgets_.find(d.parent);
            if (it == widgets_.end()) {
                throw std::logic_error("parent defined after its child: " + std::string(d.name));
            }
            parent = it->second;
        }
        if (d.kind == ControlKind::Component) {
            auto component = std::make_unique<Component>(d.name, d.text);
            component->attach(this);
            controls_.emplace(std::string(d.name), component.get());
            components_.push_back(std::move(component));
            continue;
        }
        QWidget* widget = createControl(d, parent);
        widget->setObjectName(text(d.name));
        widget->setFont(controlFont(d, widget->font()));
        QRect geometry(d.rect.left, d.rect.top, d.rect.width, d.rect.height);
        if (d.kind == ControlKind::Toolbar) {
            // Pictures above captions need more height than a plain button row.
            geometry.setHeight(std::max(geometry.height(), widget->sizeHint().height()));
        }
        if (auto* box = dynamic_cast<PictureBox*>(parent)) {
            geometry.translate(box->clientOrigin());
        }
        widget->setGeometry(geometry);
        if (d.flags & Hidden) {
            widget->hide();
        }
        auto* control = dynamic_cast<Control*>(widget);
        control->attach(this);
        controls_.emplace(std::string(d.name), control);
        widgets_.emplace(std::string(d.name), widget);
    }
}

QWidget* Window::createControl(const ControlDefinition& d, QWidget* parent) {
    switch (d.kind) {
    case ControlKind::Label: {
        auto* w = new Label(d.name, parent);
        w->setCaption(text(d.text));
        return w;
    }
    case ControlKind::EditBox: {
        auto* w = new EditBox(d.name, parent);
        w->setContent(text(d.text));
        w->setReadOnly(d.flags & ReadOnly);
        if (d.flags & CentredText) {
            w->setAlignment(Qt::AlignCenter);
        }
        if (!d.allowedCharacters.empty()) {
            installCharFilter(w, text(d.allowedCharacters));
        }
        return w;
    }
    case ControlKind::DropDownList:
        return new DropDownList(d.name, parent);
    case ControlKind::Button:
    case ControlKind::PictureButton: {
        auto* w = new Button(d.name, parent);
        if (d.kind == ControlKind::PictureButton) {
            // The caption is not displayed; it names the button for tooltips and screen readers.
            w->setIcon(QIcon(text(d.picture)));
            w->setIconSize(QSize(20, 20));
            w->setToolTip(text(d.text));
            w->setAccessibleName(text(d.text));
        } else {
            w->setText(text(d.text));
        }
        return w;
    }
    case ControlKind::CheckBox: {
        auto* w = new CheckBox(d.name, parent);
        w->setText(text(d.text));
        w->setCheckedQuietly(d.flags & Checked);
        return w;
    }
    case ControlKind::ColourPicker:
        return new ColourPicker(d.name, parent);
    case ControlKind::Slider: {
        auto* w = new Slider(d.name, parent);
        w->setRange(d.range.minimum, d.range.maximum);
        w->setSingleStep(d.range.lineStep);
        w->setPageStep(d.range.pageStep);
        w->setPosition(d.range.position);
        return w;
    }
    case ControlKind::HorizontalScrollBar:
        return new ScrollBar(d.name, Qt::Horizontal, parent);
    case ControlKind::VerticalScrollBar:
        return new ScrollBar(d.name, Qt::Vertical, parent);
    case ControlKind::GroupBox: {
        auto* w = new GroupBox(d.name, parent);
        w->setTitle(text(d.text));
        return w;
    }
    case ControlKind::Toolbar: {
        auto* w = new Toolbar(d.name, parent);
        w->addButtons(d.buttons, d.pictures);
        return w;
    }
    case ControlKind::ListView: {
        auto* w = new ListView(d.name, parent);
        QStringList captions;
        for (const auto& column : d.columns) {
            captions << text(column.caption);
        }
        w->setHeaderLabels(captions);
        for (int i = 0; i < static_cast<int>(d.columns.size()); ++i) {
            w->setColumnWidth(i, d.columns[static_cast<std::size_t>(i)].width);
        }
        return w;
    }
    case ControlKind::PictureBox: {
        auto* w = new PictureBox(d.name, parent);
        if (d.background != kNoColour) {
            w->setBackground(d.background);
        }
        w->setBordered(d.flags & Bordered);
        if (!d.picture.empty()) {
            QFile file(text(d.picture));
            if (file.open(QIODevice::ReadOnly)) {
                w->setPictureBytes(file.readAll());
            }
        }
        return w;
    }
    case ControlKind::DrawingSurface:
        return new DrawingSurfaceWidget(d.name, parent);
    case ControlKind::Component:
        break;
    }
    throw std::logic_error("unknown control kind");
}

void Window::applyAccessibleNames() {
    for (const ControlDefinition& d : definition_.controls) {
        auto it = widgets_.find(d.name);
        if (it == widgets_.end()) {
            continue;
        }
        QWidget* widget = it->second;
        if (!d.labelledBy.empty()) {
            auto* label = dynamic_cast<Label*>(find(d.labelledBy));
            if (!label) {
                throw std::logic_error("no label named " + std::string(d.labelledBy));
            }
            label->setBuddy(widget);
            widget->setAccessibleName(label->caption());
        } else if (!d.accessibleName.empty()) {
            widget->setAccessibleName(text(d.accessibleName));
        }
    }
}

Control* Window::find(std::string_view name) const {
    auto it = controls_.find(name);
    return it == controls_.end() ? nullptr : it->second;
}

void Window::bind(std::string_view control, EventKind kind, Handler handler) {
    if (control != definition_.name && !find(control)) {
        throw std::logic_error("binding to an unknown control: " + std::string(control));
    }
    handlers_[{std::string(control), kind}] = std::move(handler);
}

std::vector<std::string> Window::unboundEvents() const {
    std::vector<std::string> missing;
    auto check = [&](std::string_view name, EventSet events) {
        for (EventKind kind : kAllEvents) {
            if (events.contains(kind) && !handlers_.contains({std::string(name), kind})) {
                missing.push_back(std::string(name) + ":" + eventName(kind));
            }
        }
    };
    check(definition_.name, definition_.events);
    for (const auto& menu : definition_.menus) {
        for (const auto& item : menu.items) {
            check(item.caption, item.events);
        }
    }
    for (const auto& d : definition_.controls) {
        check(d.name, d.events);
    }
    return missing;
}

void Window::finishCreation() {
    if (created_) {
        return;
    }
    if (auto it = handlers_.find({std::string(definition_.name), EventKind::Created});
        it != handlers_.end() && it->second) {
        it->second({});
    }
    created_ = true;
}

void Window::deliverEvent(std::string_view control, EventKind kind, const EventArgs& args) {
    if (!created_) {
        return;
    }
    auto it = handlers_.find({std::string(control), kind});
    if (it != handlers_.end() && it->second) {
        // Copy: a handler may rebind while it runs, and it may run re-entrantly.
        Handler handler = it->second;
        try {
            handler(args);
        } catch (const std::bad_alloc&) {
            // The operations that handle pages fail cleanly on their own; whatever else runs
            // out of memory ends that one action, never the program and the pages it shows.
            platform::dialogs().showMessage({.text = "内存不足，操作没有完成"});
        }
    }
}

QSize Window::minimumClientSize() const {
    int right = 0;
    int bottom = 0;
    for (const ControlDefinition& d : definition_.controls) {
        if (d.parent.empty() && d.kind != ControlKind::Component) {
            right = std::max(right, d.rect.left + d.rect.width);
            bottom = std::max(bottom, d.rect.top + d.rect.height);
        }
    }
    return {right, bottom};
}

void Window::fitOuterSize() {
    // The outer size covers frame, caption and menu bar. Without a window manager there is no
    // frame, so the window itself takes the whole outer size; with one, the frame's share is taken
    // off, but never so much that a control is cut off.
    const QSize frame = frameGeometry().size() - geometry().size();
    const QSize minimum = minimumClientSize() + QSize(0, menuBar()->sizeHint().height());
    const QSize content(std::max(definition_.outerWidth - frame.width(), minimum.width()),
                        std::max(definition_.outerHeight - frame.height(), minimum.height()));
    setFixedSize(content);
}

void Window::showCentred() {
    fitOuterSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect whole = screen->geometry();
        const QRect available = screen->availableGeometry();
        int left = whole.left() + (whole.width() - definition_.outerWidth) / 2;
        int top = whole.top() + (whole.height() - definition_.outerHeight) / 2;
        // On a screen smaller than the window, keep the caption and menu reachable.
        left = std::max(left, available.left());
        top = std::max(top, available.top());
        move(left, top);
    }
    show();
}

bool Window::event(QEvent* event) {
    const bool handled = QMainWindow::event(event);
    if (event->type() == QEvent::Show || event->type() == QEvent::WinIdChange) {
        // The window manager reports its frame only after the window is mapped.
        QTimer::singleShot(0, this, [this] { fitOuterSize(); });
    }
    return handled;
}

} // namespace vantrel::ui
