#include "ui/text_controls.h"

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
    connect(this, &QLineEdit::textEdited, this, [this] { raiseEvent(EventKind::TextChanged); });
}

void EditBox::setContent(const QString& text) {
    {
        const QSignalBlocker blocker(this);
        setText(text);
    }
    raiseEvent(EventKind::TextChanged);
}

} // namespace vantrel::ui
