#include "workflows/progress_panel.h"

#include "ui/container_controls.h"
#include "ui/text_controls.h"
#include "ui/window.h"
#include "workflows/control_names.h"

#include <QCoreApplication>

namespace vantrel::workflows {

ui::Label& ProgressPanel::percentLabel() const {
    return window_.control<ui::Label>(control::kProgressPercent);
}

void ProgressPanel::begin() {
    label_ = &percentLabel();
    label_->setCaption(QStringLiteral("0%"));
    shownPercent_ = 0;
    sinceEvents_.invalidate(); // the first column shows the panel
    auto& panel = window_.control<ui::PictureBox>(control::kProgressPanel);
    panel.raise();
    panel.show();
}

void ProgressPanel::columnDone(std::int32_t done, std::int32_t width) {
    // The text changes at most about a hundred times a pass; only then is it formatted and set.
    const std::int64_t percent = progressPercent(done, width);
    if (percent != shownPercent_) {
        shownPercent_ = percent;
        if (!label_) {
            label_ = &percentLabel();
        }
        label_->setCaption(QString::fromStdString(progressText(done, width)));
    }
    constexpr qint64 kFrameMs = 16;
    if (!sinceEvents_.isValid() || done >= width || sinceEvents_.elapsed() >= kFrameMs) {
        QCoreApplication::processEvents();
        sinceEvents_.start();
    }
}

void ProgressPanel::end() {
    if (atEnd_ == AtEnd::Hide) {
        hide();
    }
}

void ProgressPanel::setText(const char* text) {
    shownPercent_ = -1;
    percentLabel().setCaption(QString::fromUtf8(text));
}

void ProgressPanel::setPercent(std::int64_t percent) {
    if (percent != shownPercent_) {
        shownPercent_ = percent;
        percentLabel().setCaption(QString::number(percent) + QLatin1Char('%'));
    }
}

void ProgressPanel::hide() {
    window_.control<ui::PictureBox>(control::kProgressPanel).hide();
}

} // namespace vantrel::workflows
