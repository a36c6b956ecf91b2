#pragma once
// The progress panel 图片框3 shown during a near-colour pass: the percentage in 标签11 after every
// column, and the window's messages processed after the first column, the last, and in between
// whenever a frame's time (16 ms) has passed, so that the spinner keeps moving and the window
// stays responsive. (Processing them after each of a page's thousands of columns cost more than
// the pass itself, and showed nothing more: a screen shows one frame per 16 ms.) A save that
// takes long shows the panel too, with its own percentage.

#include "workflows/near_colour.h"

#include <QElapsedTimer>

namespace vantrel::ui {
class Label;
class Window;
} // namespace vantrel::ui

namespace vantrel::workflows {

class ProgressPanel final : public PassProgress {
public:
    enum class AtEnd { Hide, KeepShown };
    explicit ProgressPanel(ui::Window& window, AtEnd atEnd = AtEnd::Hide)
        : window_(window)
        , atEnd_(atEnd) {}
    void begin() override;
    void columnDone(std::int32_t done, std::int32_t width) override;
    void end() override;

    // The panel's label, for the text shown after the pass ("正在画入图片").
    void setText(const char* text);
    // Shows `percent` followed by "%" (for work that is not a pass over columns).
    void setPercent(std::int64_t percent);
    void hide();

private:
    ui::Label& percentLabel() const;

    ui::Window& window_;
    AtEnd atEnd_;
    // During a pass: the label and the percentage it shows, so that a column whose percentage
    // is already shown costs only the event processing.
    ui::Label* label_ = nullptr;
    std::int64_t shownPercent_ = -1;
    QElapsedTimer sinceEvents_; // since the window's messages were last processed
};

} // namespace vantrel::workflows
