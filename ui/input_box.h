#pragma once
// A modal dialog asking for one line of text: a prompt above one edit field, and an OK and a
// Cancel button whose captions the caller chooses. The field starts with the given text selected
// in full and can be limited to a set of characters the user may type.

#include "platform/dialogs.h"

#include <QDialog>

class QLineEdit;

namespace vantrel::ui {

class InputBox final : public QDialog {
    Q_OBJECT
public:
    explicit InputBox(const platform::InputRequest& request, QWidget* owner = nullptr);
    QString text() const;
    QLineEdit* field() const { return field_; }

private:
    QLineEdit* field_;
};

} // namespace vantrel::ui
