#include "ui/toolbar.h"

#include <QAction>
#include <QIcon>

using namespace Qt::StringLiterals;

namespace vantrel::ui {

Toolbar::Toolbar(std::string_view name, QWidget* parent)
    : QToolBar(parent)
    , Control(name) {
    setMovable(false);
    setFloatable(false);
    setIconSize(QSize(32, 32));
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    // Compact, so that a row of pictures with captions fits above the controls below it.
    setContentsMargins(0, 0, 0, 0);
    setStyleSheet(u"QToolBar { border: none; padding: 0; spacing: 2px; }"
                  u"QToolButton { padding: 1px 4px; margin: 0; }"_s);
}

void Toolbar::addButtons(std::span<const ToolbarButtonDefinition> buttons,
                         std::span<const std::string_view> pictures) {
    for (const auto& button : buttons) {
        const int index = static_cast<int>(entries_.size());
        if (button.separator()) {
            entries_.push_back(addSeparator());
            continue;
        }
        QIcon icon;
        if (button.picture >= 0 && static_cast<std::size_t>(button.picture) < pictures.size()) {
            icon = QIcon(QString::fromUtf8(pictures[static_cast<std::size_t>(button.picture)]));
        }
        QAction* action = addAction(icon, QString::fromUtf8(button.caption));
        // The second text travels with the button; it is not shown.
        action->setData(QString::fromUtf8(button.secondText));
        connect(action, &QAction::triggered, this, [this, index] {
            raiseEvent(EventKind::ToolbarButtonClick, EventArgs{.index = index});
        });
        entries_.push_back(action);
    }
}

QAction* Toolbar::actionAt(int index) const {
    if (index < 0 || index >= buttonCount() ||
        entries_[static_cast<std::size_t>(index)]->isSeparator()) {
        return nullptr;
    }
    return entries_[static_cast<std::size_t>(index)];
}

QWidget* Toolbar::buttonWidget(int index) const {
    QAction* action = actionAt(index);
    return action ? widgetForAction(action) : nullptr;
}

} // namespace vantrel::ui
