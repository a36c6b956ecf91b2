#include "workflows/progress_panel.h"

#include "ui/container_controls.h"
#include "ui/text_controls.h"
#include "ui/window.h"
#include "workflows/control_names.h"

#include <QCoreApplication>

namespace vantrel::workflows {

void ProgressPanel::begin() {
    window_.control<ui::Label>(control::kProgressPercent).setCaption(QStringLiteral("0%"));
    auto& panel = window_.control<ui::PictureBox>(control::kProgressPanel);
    panel.raise();
    panel.show();
}

void ProgressPanel::columnDone(std::int32_t done, std::int32_t width) {
    // QLabel repaints only when the text really changes: at most about a hundred times a pass.
    window_.control<ui::Label>(control::kProgressPercent)
        .setCaption(QString::fromStdString(progressText(done, width)));
    QCoreApplication::processEvents();
}

void ProgressPanel::end() {
    if (atEnd_ == AtEnd::Hide) {
        hide();
    }
}

void ProgressPanel::setText(const char* text) {
    window_.control<ui::Label>(control::kProgressPercent).setCaption(QString::fromUtf8(text));
}

void ProgressPanel::hide() {
    window_.control<ui::PictureBox>(control::kProgressPanel).hide();
}

} // namespace vantrel::workflows
