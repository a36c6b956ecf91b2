#pragma once
// Push buttons (with a caption, or with a picture only), check boxes and the colour picker.

#include "ui/control.h"

#include <QCheckBox>
#include <QPushButton>
#include <cstdint>

namespace vantrel::ui {

class Button final : public QPushButton, public Control {
    Q_OBJECT
public:
    Button(std::string_view name, QWidget* parent);
};

// Click is raised for every change of the checked state the user makes: a mouse click, the space
// bar, or assistive technology's toggle and press actions (Qt refuses those while the box is
// disabled). Setting the checked state from code raises nothing.
class CheckBox final : public QCheckBox, public Control {
    Q_OBJECT
public:
    CheckBox(std::string_view name, QWidget* parent);
    void setCheckedQuietly(bool checked);
};

// Shows a colour swatch; pressing it (mouse, space bar, or assistive technology's press action)
// asks the dialog seam for a new colour. ColourChanged is raised when the user picks a different
// colour, never when code sets one.
class ColourPicker final : public QPushButton, public Control {
    Q_OBJECT
public:
    ColourPicker(std::string_view name, QWidget* parent);
    std::uint32_t colour() const { return colour_; }
    void setColour(std::uint32_t colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void choose();
    std::uint32_t colour_ = 0;
};

} // namespace vantrel::ui
