#include "ui/container_controls.h"

#include "ui/colour_value.h"

#include <QBuffer>
#include <QImage>
#include <QMovie>
#include <QPainter>

namespace vantrel::ui {

GroupBox::GroupBox(std::string_view name, QWidget* parent)
    : QGroupBox(parent)
    , Control(name) {}

PictureBox::PictureBox(std::string_view name, QWidget* parent)
    : QFrame(parent)
    , Control(name) {
    setFrameStyle(QFrame::NoFrame);
    setAutoFillBackground(true);
}

PictureBox::~PictureBox() {
    stopAnimation();
}

void PictureBox::setBackground(std::uint32_t colour) {
    QPalette p = palette();
    p.setColor(QPalette::Window, toQColor(colour));
    setPalette(p);
}

void PictureBox::setBordered(bool bordered) {
    setFrameStyle(bordered ? (QFrame::Box | QFrame::Plain) : QFrame::NoFrame);
    setLineWidth(1);
}

void PictureBox::setPictureBytes(const QByteArray& bytes) {
    stopAnimation();
    bytes_ = bytes;
    still_ = QImage();
    if (bytes_.isEmpty()) {
        update();
        return;
    }
    buffer_ = new QBuffer(&bytes_, this);
    buffer_->open(QIODevice::ReadOnly);
    movie_ = new QMovie(buffer_, QByteArray(), this);
    if (movie_->isValid() && movie_->frameCount() > 1) {
        connect(movie_, &QMovie::frameChanged, this, [this] { update(); });
        movie_->start();
    } else {
        stopAnimation();
        still_ = QImage::fromData(bytes_);
    }
    update();
}

bool PictureBox::isAnimating() const {
    return movie_ && movie_->state() == QMovie::Running;
}

void PictureBox::stopAnimation() {
    delete movie_;
    movie_ = nullptr;
    delete buffer_;
    buffer_ = nullptr;
}

void PictureBox::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QPoint origin = contentsRect().topLeft();
    if (movie_) {
        painter.drawPixmap(origin, movie_->currentPixmap());
    } else if (!still_.isNull()) {
        painter.drawImage(origin, still_);
    }
}

DrawingSurfaceWidget::DrawingSurfaceWidget(std::string_view name, QWidget* parent)
    : QWidget(parent)
    , Control(name) {
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
}

} // namespace vantrel::ui
