#pragma once
// Plays an animated picture (a GIF of more than one frame) on a thread of its own: the thread
// decodes each frame with Qt's reader, keeps it as the current frame and waits out the frame's
// delay, looping for ever. The owner is told through `frameReady` (called on the animation
// thread, at most once until the owner has taken the frame) and paints currentFrame() on the GUI
// thread. So the animation keeps its own clock while the GUI thread is busy; it is shown each
// time the GUI thread processes its events, as a long pixel pass does after every column. The
// thread runs for the object's life: owners keep one only while the picture can be seen.

#include <QByteArray>
#include <QImage>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace vantrel::ui {

class PictureAnimation {
public:
    // True when `bytes` hold a picture format Qt animates with more than one frame.
    static bool isAnimated(const QByteArray& bytes);

    PictureAnimation(QByteArray bytes, std::function<void()> frameReady);
    ~PictureAnimation(); // stops the thread and waits for it
    PictureAnimation(const PictureAnimation&) = delete;
    PictureAnimation& operator=(const PictureAnimation&) = delete;

    // The newest frame (a copy), and the number of frames decoded so far.
    QImage takeFrame();
    int framesDecoded() const { return frames_.load(); }

private:
    void run();

    const QByteArray bytes_;
    const std::function<void()> frameReady_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    QImage frame_;
    std::atomic<int> frames_{0};
    std::atomic<bool> notified_{false};
    std::thread thread_;
};

} // namespace vantrel::ui
