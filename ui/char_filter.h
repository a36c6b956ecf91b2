#pragma once
// Limits the characters a user can type into an edit field, as a typed-character filter: keys
// that produce other printable characters are swallowed, while editing keys (Backspace, Delete,
// arrows) and shortcuts such as paste still work. Text set by code is never filtered.

#include <QString>

class QWidget;

namespace vantrel::ui {

// Installs the filter on `field`; it is owned by the field.
void installCharFilter(QWidget* field, const QString& allowedCharacters);

} // namespace vantrel::ui
