#pragma once
// Labels and edit boxes.

#include "ui/control.h"

#include <QLabel>
#include <QLineEdit>

namespace vantrel::ui {

class Label final : public QLabel, public Control {
    Q_OBJECT
public:
    Label(std::string_view name, QWidget* parent);
    QString caption() const { return text(); }
    void setCaption(const QString& caption) { setText(caption); }
};

// An edit box raises TextChanged for every change of its text, whatever made it: typing, pasting,
// an input method, or assistive technology replacing or inserting text (a screen reader's or voice
// control's editable-text interface sets the text without any key press). Text set by code
// through setContent raises it exactly once, even when the text stays the same.
//
// A box the user cannot edit (read-only, or disabled) takes text only from setContent: a change
// from anywhere else is undone at once and raises nothing, so a read-only path shows and keeps
// only what the program put there.
class EditBox final : public QLineEdit, public Control {
    Q_OBJECT
public:
    EditBox(std::string_view name, QWidget* parent);
    void setContent(const QString& text);
    QString content() const { return text(); }

private:
    void textChangedBySomeone(const QString& text);
    void refuse(const QString& refused);

    QString accepted_; // the text as last set by the program or accepted from the user
    bool settingContent_ = false;
};

} // namespace vantrel::ui
