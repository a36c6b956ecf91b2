#include "ui/range_controls.h"

#include <QSignalBlocker>
#include <algorithm>

namespace vantrel::ui {
namespace {

// Sets the value without raising anything; returns the value the control now holds.
int setQuietly(QAbstractSlider& control, int value) {
    const QSignalBlocker blocker(&control);
    control.setValue(std::clamp(value, control.minimum(), control.maximum()));
    return control.value();
}

} // namespace

Slider::Slider(std::string_view name, QWidget* parent)
    : QSlider(Qt::Horizontal, parent)
    , Control(name) {
    setTickPosition(QSlider::TicksBelow);
    setTickInterval(1);
    connect(this, &QSlider::valueChanged, this, &Slider::valueChangedBySomeone);
}

void Slider::setPosition(int position) {
    accepted_ = setQuietly(*this, position);
}

void Slider::valueChangedBySomeone(int value) {
    if (!isEnabled()) {
        accepted_ = setQuietly(*this, accepted_);
        return;
    }
    accepted_ = value;
    raiseEvent(EventKind::PositionChanged);
}

ScrollBar::ScrollBar(std::string_view name, Qt::Orientation orientation, QWidget* parent)
    : QScrollBar(orientation, parent)
    , Control(name) {
    setRange(0, 0);
    connect(this, &QScrollBar::valueChanged, this, &ScrollBar::valueChangedBySomeone);
}

void ScrollBar::setPosition(int position) {
    accepted_ = setQuietly(*this, position);
}

void ScrollBar::setMaximumPosition(int maximum) {
    const QSignalBlocker blocker(this);
    setRange(0, std::clamp(maximum, 0, kLimit));
    accepted_ = value();
}

void ScrollBar::valueChangedBySomeone(int value) {
    if (!isEnabled()) {
        accepted_ = setQuietly(*this, accepted_);
        return;
    }
    accepted_ = value;
    raiseEvent(EventKind::PositionChanged);
}

} // namespace vantrel::ui
