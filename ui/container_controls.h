#pragma once
// Containers and picture areas: group boxes, picture boxes (a background, an optional border, and
// a still or animated picture) and the preview's drawing surface.

#include "ui/control.h"

#include <QByteArray>
#include <QFrame>
#include <QGroupBox>

class QMovie;
class QBuffer;

namespace vantrel::ui {

class GroupBox final : public QGroupBox, public Control {
    Q_OBJECT
public:
    GroupBox(std::string_view name, QWidget* parent);
};

class PictureBox : public QFrame, public Control {
    Q_OBJECT
public:
    PictureBox(std::string_view name, QWidget* parent);
    ~PictureBox() override;

    void setBackground(std::uint32_t colour);
    void setBordered(bool bordered);
    // Shows the picture held in `bytes` (the box keeps its own copy); an animated GIF plays and
    // loops. Empty bytes or undecodable data clear the picture.
    void setPictureBytes(const QByteArray& bytes);
    const QByteArray& pictureBytes() const { return bytes_; }
    bool isAnimating() const;
    // Children stand in the client area, inside the border: their positions are relative to this.
    QPoint clientOrigin() const { return contentsRect().topLeft(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void stopAnimation();
    QByteArray bytes_;
    QImage still_;
    QBuffer* buffer_ = nullptr;
    QMovie* movie_ = nullptr;
};

// The preview panel's widget: white until pictures are drawn on it.
class DrawingSurfaceWidget final : public QWidget, public Control {
    Q_OBJECT
public:
    DrawingSurfaceWidget(std::string_view name, QWidget* parent);
};

} // namespace vantrel::ui
