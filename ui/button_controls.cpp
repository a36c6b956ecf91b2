#include "ui/button_controls.h"

#include "platform/dialogs.h"
#include "ui/colour_value.h"

#include <QPainter>
#include <QSignalBlocker>
#include <QStyleOptionButton>

using namespace Qt::StringLiterals;

namespace vantrel::ui {

Button::Button(std::string_view name, QWidget* parent)
    : QPushButton(parent)
    , Control(name) {
    setAutoDefault(false);
    connect(this, &QPushButton::clicked, this, [this] { raiseEvent(EventKind::Click); });
}

CheckBox::CheckBox(std::string_view name, QWidget* parent)
    : QCheckBox(parent)
    , Control(name) {
    // toggled, not clicked: assistive technology's toggle action changes the state without a
    // click, and it must reach the same handler as a mouse click or the space bar.
    connect(this, &QCheckBox::toggled, this, [this] { raiseEvent(EventKind::Click); });
}

void CheckBox::setCheckedQuietly(bool checked) {
    const QSignalBlocker blocker(this);
    setChecked(checked);
}

ColourPicker::ColourPicker(std::string_view name, QWidget* parent)
    : QPushButton(parent)
    , Control(name) {
    setAutoDefault(false);
    connect(this, &QPushButton::clicked, this, &ColourPicker::choose);
    setColour(0);
}

void ColourPicker::setColour(std::uint32_t colour) {
    colour_ = colour & 0xFFFFFFu;
    const QColor c = toQColor(colour_);
    setToolTip(u"RGB(%1, %2, %3)"_s.arg(c.red()).arg(c.green()).arg(c.blue()));
    update();
}

void ColourPicker::choose() {
    const auto chosen = platform::dialogs().chooseColour(colour_);
    if (chosen && (*chosen & 0xFFFFFFu) != colour_) {
        setColour(*chosen);
        raiseEvent(EventKind::ColourChanged);
    }
}

void ColourPicker::paintEvent(QPaintEvent* event) {
    QPushButton::paintEvent(event);
    QPainter painter(this);
    const QRect swatch = rect().adjusted(4, 4, -4, -4);
    QColor fill = toQColor(colour_);
    QColor edge = palette().color(QPalette::WindowText);
    if (!isEnabled()) {
        // A disabled picker shows its colour faded, as the rest of a disabled control is.
        fill.setAlpha(90);
        edge = palette().color(QPalette::Disabled, QPalette::WindowText);
    }
    painter.fillRect(swatch, fill);
    painter.setPen(edge);
    painter.drawRect(swatch.adjusted(0, 0, -1, -1));
}

} // namespace vantrel::ui
