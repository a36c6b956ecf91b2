#include "ui/range_controls.h"

#include <QSignalBlocker>
#include <algorithm>

namespace vantrel::ui {

Slider::Slider(std::string_view name, QWidget* parent)
    : QSlider(Qt::Horizontal, parent)
    , Control(name) {
    setTickPosition(QSlider::TicksBelow);
    setTickInterval(1);
    connect(this, &QSlider::valueChanged, this, [this] { raiseEvent(EventKind::PositionChanged); });
}

void Slider::setPosition(int position) {
    const QSignalBlocker blocker(this);
    setValue(std::clamp(position, minimum(), maximum()));
}

ScrollBar::ScrollBar(std::string_view name, Qt::Orientation orientation, QWidget* parent)
    : QScrollBar(orientation, parent)
    , Control(name) {
    setRange(0, 0);
    connect(this, &QScrollBar::valueChanged, this,
            [this] { raiseEvent(EventKind::PositionChanged); });
}

void ScrollBar::setPosition(int position) {
    const QSignalBlocker blocker(this);
    setValue(std::clamp(position, minimum(), maximum()));
}

void ScrollBar::setMaximumPosition(int maximum) {
    const QSignalBlocker blocker(this);
    setRange(0, std::clamp(maximum, 0, kLimit));
}

} // namespace vantrel::ui
