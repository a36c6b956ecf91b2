#include "ui/command_lock.h"

#include "ui/window.h"

#include <QMenuBar>

namespace vantrel::ui {
namespace {

bool takesInput(ControlKind kind) {
    switch (kind) {
    case ControlKind::EditBox:
    case ControlKind::DropDownList:
    case ControlKind::Button:
    case ControlKind::PictureButton:
    case ControlKind::CheckBox:
    case ControlKind::ColourPicker:
    case ControlKind::Slider:
    case ControlKind::Toolbar:
        return true;
    default:
        return false;
    }
}

} // namespace

CommandLock::CommandLock(Window& window) {
    auto disable = [this](QWidget* widget) {
        // A control disabled on its own (or by an outer lock) keeps that state when we end.
        if (widget && !widget->testAttribute(Qt::WA_ForceDisabled)) {
            widget->setEnabled(false);
            disabled_.emplace_back(widget);
        }
    };
    for (const ControlDefinition& control : window.definition().controls) {
        if (takesInput(control.kind)) {
            disable(dynamic_cast<QWidget*>(window.find(control.name)));
        }
    }
    disable(window.menuWidget());
}

CommandLock::~CommandLock() {
    for (const auto& widget : disabled_) {
        if (widget) {
            widget->setEnabled(true);
        }
    }
}

} // namespace vantrel::ui
