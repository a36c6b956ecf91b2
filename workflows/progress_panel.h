#pragma once
// The progress panel 图片框3 shown during a near-colour pass: the percentage in 标签11 after every
// column, and the window's messages processed once per column so that the spinner keeps moving
// and the window stays responsive.

#include "workflows/near_colour.h"

namespace vantrel::ui {
class Window;
}

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
    void hide();

private:
    ui::Window& window_;
    AtEnd atEnd_;
};

} // namespace vantrel::workflows
