#pragma once
// A toolbar of push buttons that show a picture above their caption. A click raises
// ToolbarButtonClick with the button's zero-based index, separators counted.

#include "ui/control.h"

#include <QToolBar>
#include <vector>

class QAction;

namespace vantrel::ui {

class Toolbar final : public QToolBar, public Control {
    Q_OBJECT
public:
    Toolbar(std::string_view name, QWidget* parent);

    // Adds the buttons in order; `pictures` are resource paths indexed by each button's picture.
    void addButtons(std::span<const ToolbarButtonDefinition> buttons,
                    std::span<const std::string_view> pictures);
    int buttonCount() const { return static_cast<int>(entries_.size()); }
    QAction* actionAt(int index) const; // nullptr for a separator or an index out of range
    QWidget* buttonWidget(int index) const;

private:
    std::vector<QAction*> entries_; // one per index; separators included
};

} // namespace vantrel::ui
