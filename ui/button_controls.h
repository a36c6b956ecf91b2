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

// Click is raised by the user only; setting the checked state from code raises nothing.
class CheckBox final : public QCheckBox, public Control {
    Q_OBJECT
public:
    CheckBox(std::string_view name, QWidget* parent);
    void setCheckedQuietly(bool checked);
};

// Shows a colour swatch; clicking it asks the dialog seam for a new colour. ColourChanged is
// raised when the user picks a different colour, never when code sets one.
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
