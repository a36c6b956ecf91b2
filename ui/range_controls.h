#pragma once
// Sliders and scroll bars. Both raise PositionChanged for every change the user makes, whatever
// the route: dragging, the mouse wheel, the keyboard, or assistive technology setting the value
// through its value interface. Positions and ranges set by code are clamped and raise nothing.
// While disabled, a control keeps its position: a value set from outside the program then (only
// assistive technology can still reach it) is undone and raises nothing.

#include "ui/control.h"

#include <QScrollBar>
#include <QSlider>

namespace vantrel::ui {

class Slider final : public QSlider, public Control {
    Q_OBJECT
public:
    Slider(std::string_view name, QWidget* parent);
    int position() const { return value(); }
    void setPosition(int position); // clamped into the range

private:
    void valueChangedBySomeone(int value);
    int accepted_ = 0;
};

// A scroll bar keeps its minimum, maximum and position within 0 … 32767, as the native control
// does.
class ScrollBar final : public QScrollBar, public Control {
    Q_OBJECT
public:
    static constexpr int kLimit = 32767;
    ScrollBar(std::string_view name, Qt::Orientation orientation, QWidget* parent);
    int position() const { return value(); }
    void setPosition(int position);
    void setMaximumPosition(int maximum); // a negative maximum becomes 0

private:
    void valueChangedBySomeone(int value);
    int accepted_ = 0;
};

} // namespace vantrel::ui
