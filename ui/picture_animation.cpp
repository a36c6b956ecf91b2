#include "ui/picture_animation.h"

#include <QBuffer>
#include <QImageReader>
#include <chrono>

namespace vantrel::ui {
namespace {

constexpr int kDefaultDelayMs = 100; // frames that give no delay (or 0)

} // namespace

bool PictureAnimation::isAnimated(const QByteArray& bytes) {
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return reader.supportsAnimation() && reader.imageCount() > 1;
}

PictureAnimation::PictureAnimation(QByteArray bytes, std::function<void()> frameReady)
    : bytes_(std::move(bytes))
    , frameReady_(std::move(frameReady)) {
    thread_ = std::thread([this] { run(); });
}

PictureAnimation::~PictureAnimation() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

QImage PictureAnimation::takeFrame() {
    notified_ = false;
    std::lock_guard lock(mutex_);
    return frame_;
}

void PictureAnimation::run() {
    QByteArray data = bytes_;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    auto reader = std::make_unique<QImageReader>(&buffer);
    for (;;) {
        QImage next = reader->read();
        if (next.isNull()) {
            // End of the frames (or a broken one): start again from the first frame.
            buffer.seek(0);
            reader = std::make_unique<QImageReader>(&buffer);
            next = reader->read();
            if (next.isNull()) {
                return;
            }
        }
        const int delay = reader->nextImageDelay();
        {
            std::lock_guard lock(mutex_);
            frame_ = next.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        }
        ++frames_;
        if (!notified_.exchange(true)) {
            frameReady_();
        }
        std::unique_lock lock(mutex_);
        if (wake_.wait_for(lock, std::chrono::milliseconds(delay > 0 ? delay : kDefaultDelayMs),
                           [this] { return stop_; })) {
            return;
        }
    }
}

} // namespace vantrel::ui
