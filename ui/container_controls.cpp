#include "ui/container_controls.h"

#include "imaging/draw_picture.h"
#include "imaging/picture_decoders.h"
#include "ui/colour_value.h"
#include "ui/picture_animation.h"

#include <QHideEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QShowEvent>

namespace vantrel::ui {
namespace {

// A view of a raster as a Qt image (no copy; valid while the raster is unchanged).
QImage view(const platform::Raster& raster) {
    return QImage(reinterpret_cast<const uchar*>(raster.row(0)), raster.width(), raster.height(),
                  qsizetype(raster.strideBytes()), QImage::Format_RGB32);
}

} // namespace

GroupBox::GroupBox(std::string_view name, QWidget* parent)
    : QGroupBox(parent)
    , Control(name) {}

PictureBox::PictureBox(std::string_view name, QWidget* parent)
    : QFrame(parent)
    , Control(name) {
    setFrameStyle(QFrame::NoFrame);
    setAutoFillBackground(true);
    setBackground(background_);
}

PictureBox::~PictureBox() = default;

void PictureBox::setBackground(std::uint32_t colour) {
    background_ = colour & 0xFFFFFFu;
    QPalette p = palette();
    p.setColor(QPalette::Window, toQColor(background_));
    setPalette(p);
    renderStill();
}

void PictureBox::setBordered(bool bordered) {
    setFrameStyle(bordered ? (QFrame::Box | QFrame::Plain) : QFrame::NoFrame);
    setLineWidth(1);
    renderStill();
}

void PictureBox::setDisplayMode(DisplayMode mode) {
    mode_ = mode;
    renderStill();
}

void PictureBox::setAnimated(bool animated) {
    if (animated != animated_) {
        animated_ = animated;
        restart();
    }
}

void PictureBox::setPictureBytes(const QByteArray& bytes) {
    const std::span view(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                         std::size_t(bytes.size()));
    showPicture(imaging::decodePictureBytes(view), bytes);
}

void PictureBox::setPicture(std::vector<std::uint8_t>&& bytes) {
    // Moving the vector into shared ownership keeps its buffer where it is.
    setPicture(std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes)));
}

void PictureBox::setPicture(std::shared_ptr<const std::vector<std::uint8_t>> bytes) {
    QByteArray gif;
    if (bytes && imaging::detectPictureKind(*bytes) == imaging::PictureKind::Gif) {
        gif = QByteArray(reinterpret_cast<const char*>(bytes->data()), qsizetype(bytes->size()));
    }
    showPicture(imaging::decodePictureBytes(std::move(bytes)), gif);
}

void PictureBox::clearPicture() {
    showPicture(nullptr, {});
}

void PictureBox::showPicture(std::unique_ptr<imaging::PictureObject> picture, QByteArray gifBytes) {
    animation_.reset(); // before the bytes it plays from go
    picture_ = std::move(picture);
    gifBytes_ = {};
    gifAnimates_ = false;
    if (picture_ && picture_->kind == imaging::PictureKind::Gif) {
        gifBytes_ = std::move(gifBytes);
        gifBytes_.detach(); // a private copy, whatever the caller does with its buffer
        gifAnimates_ = PictureAnimation::isAnimated(gifBytes_);
    }
    restart();
}

void PictureBox::restart() {
    stopAnimation();
    startAnimation();
    renderStill();
}

void PictureBox::startAnimation() {
    if (animation_ || !shown_ || !animated_ || !picture_ || !gifAnimates_) {
        return;
    }
    frame_ = QImage();
    framesShown_ = 0;
    QPointer<PictureBox> self(this);
    animation_ = std::make_unique<PictureAnimation>(gifBytes_, [self] {
        // On the animation thread: ask the GUI thread to show the new frame. A frame that
        // arrives after the animation stopped is dropped.
        QMetaObject::invokeMethod(
            self.data(),
            [self] {
                if (self && self->animation_) {
                    self->frame_ = self->animation_->takeFrame();
                    ++self->framesShown_;
                    self->update();
                }
            },
            Qt::QueuedConnection);
    });
    renderStill(); // the frames take the still's place
}

void PictureBox::stopAnimation() {
    if (!animation_) {
        return;
    }
    animation_.reset();
    frame_ = QImage();
    renderStill(); // the first frame stands still until the animation plays again
}

void PictureBox::showEvent(QShowEvent* event) {
    QFrame::showEvent(event);
    shown_ = true;
    startAnimation();
}

void PictureBox::hideEvent(QHideEvent* event) {
    QFrame::hideEvent(event);
    shown_ = false;
    stopAnimation();
}

QRect PictureBox::placement(QSize picture) const {
    const QSize client = contentsRect().size();
    switch (mode_) {
    case DisplayMode::NaturalTopLeft:
        return QRect(QPoint(0, 0), picture);
    case DisplayMode::Stretched:
        return QRect(QPoint(0, 0), client);
    case DisplayMode::CentredShrunk: {
        QSize size = picture;
        if (size.width() > client.width() || size.height() > client.height()) {
            size = picture.scaled(client, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
        }
        return QRect(
            QPoint((client.width() - size.width()) / 2, (client.height() - size.height()) / 2),
            size);
    }
    }
    return {};
}

void PictureBox::renderStill() {
    // Drawn when next needed (painted or read): a picture replaced before the box is painted,
    // as in a run of scans, is never drawn, and the drawing waits for the event loop.
    still_ = QImage();
    stillStale_ = true;
    update();
}

void PictureBox::drawStillIfStale() const {
    if (!stillStale_) {
        return;
    }
    stillStale_ = false;
    const QSize client = contentsRect().size();
    if (!picture_ || animation_ || client.isEmpty()) {
        return;
    }
    // Drawn as the panel draws pictures, over the background colour.
    platform::Raster raster(client.width(), client.height(), platform::toPixel(background_));
    const QRect r = placement(QSize(picture_->width, picture_->height));
    imaging::DrawPictureToDC(*picture_, raster, r.x(), r.y(), r.width(), r.height(),
                             imaging::DrawMode::copy());
    still_ = view(raster).copy();
}

QImage PictureBox::clientImage() const {
    drawStillIfStale();
    QImage image(contentsRect().size(), QImage::Format_RGB32);
    image.fill(toQColor(background_));
    QPainter painter(&image);
    if (!still_.isNull()) {
        painter.drawImage(0, 0, still_);
    } else if (!frame_.isNull()) {
        painter.drawImage(placement(frame_.size()), frame_);
    }
    return image;
}

void PictureBox::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QRect client = contentsRect();
    painter.setClipRect(client);
    drawStillIfStale();
    if (!still_.isNull()) {
        painter.drawImage(client.topLeft(), still_);
    } else if (!frame_.isNull()) {
        painter.drawImage(placement(frame_.size()).translated(client.topLeft()), frame_);
    }
}

void PictureBox::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    renderStill();
}

DrawingSurfaceWidget::DrawingSurfaceWidget(std::string_view name, QWidget* parent)
    : QWidget(parent)
    , Control(name)
    , surface_(std::max(width(), 1), std::max(height(), 1)) {
    // The surface paints every pixel, so Qt need not clear the background first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    surface_.setChangeListener(
        [this](platform::PixelRect r) { update(QRect(r.x, r.y, r.width, r.height)); });
}

imaging::DrawingSurface& DrawingSurfaceWidget::surface() {
    // A hidden widget gets its resize event only when shown; the size itself is current.
    surface_.resize(width(), height());
    return surface_;
}

void DrawingSurfaceWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    surface_.resize(width(), height());
}

void DrawingSurfaceWidget::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect r = event->rect() & QRect(0, 0, surface_.width(), surface_.height());
    painter.drawImage(r.topLeft(), view(surface_.bitmap()), r);
}

} // namespace vantrel::ui
