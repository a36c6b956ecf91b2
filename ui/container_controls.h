#pragma once
// Containers and picture areas: group boxes, picture boxes (a background, an optional border, and
// a still or animated picture in a display mode) and the drawing panel's widget, which shows an
// imaging::DrawingSurface and can be moved inside its parent picture box to scroll.

#include "imaging/drawing_surface.h"
#include "imaging/picture.h"
#include "ui/control.h"

#include <QByteArray>
#include <QFrame>
#include <QGroupBox>
#include <QImage>
#include <memory>

namespace vantrel::ui {

class PictureAnimation;

class GroupBox final : public QGroupBox, public Control {
    Q_OBJECT
public:
    GroupBox(std::string_view name, QWidget* parent);
};

class PictureBox : public QFrame, public Control {
    Q_OBJECT
public:
    enum class DisplayMode {
        NaturalTopLeft = 0, // natural size at the top-left corner
        Stretched = 1,      // over the whole client area, aspect ratio ignored
        CentredShrunk = 2,  // centred, shrunk proportionally when larger, never enlarged
    };

    PictureBox(std::string_view name, QWidget* parent);
    ~PictureBox() override;

    void setBackground(std::uint32_t colour); // 0x00BBGGRR
    void setBordered(bool bordered);
    void setDisplayMode(DisplayMode mode);
    DisplayMode displayMode() const { return mode_; }
    // Whether a picture of several frames plays (on a thread of its own) or shows its first. It
    // plays only while the box is shown: hiding the box (or a parent, or minimising the window)
    // stops its thread, so a hidden animation costs nothing; showing it again starts over from the
    // first frame.
    void setAnimated(bool animated);

    // Shows the picture held in `bytes` (BMP, JPEG, PNG, GIF, icon, cursor, PCX; the box keeps
    // the decoded picture, and the bytes of a GIF for its animation, never the caller's buffer).
    // Bytes that do not decode leave only the background showing.
    void setPictureBytes(const QByteArray& bytes);
    // The same, taking over or sharing the buffer: a page-sized BMP becomes the picture without
    // a copy.
    void setPicture(std::vector<std::uint8_t>&& bytes);
    void setPicture(std::shared_ptr<const std::vector<std::uint8_t>> bytes);
    // Lets the picture go (only the background shows), e.g. before a large one is made.
    void clearPicture();
    bool hasPicture() const { return picture_ != nullptr || animation_ != nullptr; }
    bool isAnimating() const { return animation_ != nullptr; } // its frames are playing now
    int framesShown() const { return framesShown_; }           // since the animation last started

    // Children stand in the client area, inside the border: their positions are relative to this.
    QPoint clientOrigin() const { return contentsRect().topLeft(); }
    // The client area as it is painted now (background and picture), for tests and screenshots.
    QImage clientImage() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void showPicture(std::unique_ptr<imaging::PictureObject> picture, QByteArray gifBytes);
    void restart();
    void startAnimation();
    void stopAnimation();
    QRect placement(QSize picture) const; // in client coordinates
    void renderStill();
    void drawStillIfStale() const;

    QByteArray gifBytes_;      // the picture's file when it is a GIF, for the animation
    bool gifAnimates_ = false; // gifBytes_ hold more than one frame
    std::uint32_t background_ = 0xFFFFFF;
    DisplayMode mode_ = DisplayMode::Stretched;
    bool animated_ = true;
    std::unique_ptr<imaging::PictureObject> picture_;
    // The client area with the picture, drawn again after something changed.
    mutable QImage still_;
    mutable bool stillStale_ = false;
    std::unique_ptr<PictureAnimation> animation_; // only while shown
    bool shown_ = false;                          // between a show event and the next hide event
    QImage frame_;
    int framesShown_ = 0;
};

// The preview panel's widget: shows its surface's persistent bitmap and repaints what changes.
// The surface always has the widget's size (resizing the widget resizes it, keeping the content
// at the top-left); moving the widget inside its parent scrolls the view.
class DrawingSurfaceWidget final : public QWidget, public Control {
    Q_OBJECT
public:
    DrawingSurfaceWidget(std::string_view name, QWidget* parent);
    imaging::DrawingSurface& surface();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    imaging::DrawingSurface surface_;
};

} // namespace vantrel::ui
