#include "ui/text_controls.h"

#include <QAccessible>
#include <QSignalBlocker>

namespace vantrel::ui {

Label::Label(std::string_view name, QWidget* parent)
    : QLabel(parent)
    , Control(name) {
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

EditBox::EditBox(std::string_view name, QWidget* parent)
    : QLineEdit(parent)
    , Control(name) {
    // textChanged, not textEdited: assistive technology sets the text through QLineEdit::setText,
    // which Qt does not count as an edit.
    connect(this, &QLineEdit::textChanged, this, &EditBox::textChangedBySomeone);
}

void EditBox::setContent(const QString& text) {
    settingContent_ = true;
    setText(text);
    settingContent_ = false;
    accepted_ = this->text(); // as the box holds it (it may cut a text that is too long)
    raiseEvent(EventKind::TextChanged);
}

void EditBox::textChangedBySomeone(const QString& text) {
    if (settingContent_) {
        return; // setContent raises the event itself
    }
    if (isReadOnly() || !isEnabled()) {
        refuse(text);
        return;
    }
    accepted_ = text;
    raiseEvent(EventKind::TextChanged);
}

void EditBox::refuse(const QString& refused) {
    {
        const QSignalBlocker blocker(this);
        setText(accepted_);
    }
    if (!QAccessible::isActive()) {
        return;
    }
    // Qt announces the refused text to assistive technology only after this returns (the change
    // that was undone here is reported last), so tell it again, once that has happened, what the
    // box really holds.
    QMetaObject::invokeMethod(
        this,
        [this, refused] {
            if (text() != refused) {
                QAccessibleTextUpdateEvent event(this, 0, refused, text());
                QAccessible::updateAccessibility(&event);
            }
        },
        Qt::QueuedConnection);
}

} // namespace vantrel::ui
