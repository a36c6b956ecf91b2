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

// An edit box raises TextChanged for every change: each edit by the user, and once for every text
// set by code, even when the text stays the same.
class EditBox final : public QLineEdit, public Control {
    Q_OBJECT
public:
    EditBox(std::string_view name, QWidget* parent);
    void setContent(const QString& text);
    QString content() const { return text(); }
};

} // namespace vantrel::ui
