// The picture box (display modes, private copy, undecodable bytes, an animation that keeps
// moving while the GUI thread works) and the drawing panel's widget (shows its surface, keeps
// the content when resized).

#include "imaging/picture_registry.h"
#include "ui/container_controls.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <gtest/gtest.h>
#include <set>

namespace vantrel::ui {
namespace {

using Colour = std::uint32_t; // 0x00BBGGRR
constexpr Colour kRed = 0x0000FF, kBlue = 0xFF0000, kGrey = 0x808080;

QByteArray bmp(int width, int height, Colour left, Colour right) {
    platform::Raster raster(width, height, platform::toPixel(left));
    raster.fill({width / 2, 0, width - width / 2, height}, platform::toPixel(right));
    const auto bytes = imaging::rasterToBmp(raster);
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

Colour colourAt(const QImage& image, int x, int y) {
    return platform::toColourRef(image.pixel(x, y));
}

// A 1 x 1 GIF of two frames (red, then blue), looping for ever; each frame's delay in hundredths
// of a second (20 ms each unless told).
QByteArray twoFrameGif(std::uint8_t redDelay = 2, std::uint8_t blueDelay = 2) {
    const unsigned char bytes[] = {'G',  'I',  'F',  '8',  '9',       'a',      1,   0,   1,
                                   0,    0x80, 0,    0, // screen, 2-colour table
                                   0xFF, 0,    0,    0,    0,         0xFF, // red, blue
                                   0x21, 0xFF, 11,   'N',  'E',       'T',      'S', 'C', 'A',
                                   'P',  'E',  '2',  '.',  '0',       3,        1,   0,   0,
                                   0,    0x21, 0xF9, 4,    0,         redDelay, 0,   0,   0, //
                                   0x2C, 0,    0,    0,    0,         1,        0,   1,   0,
                                   0,    2,    2,    0x44, 0x01,      0,                // index 0
                                   0x21, 0xF9, 4,    0,    blueDelay, 0,        0,   0, //
                                   0x2C, 0,    0,    0,    0,         1,        0,   1,   0,
                                   0,    2,    2,    0x4C, 0x01,      0, // index 1
                                   0x3B};
    return QByteArray(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

// Lets the event loop run until `done` holds or a generous limit has passed; returns `done()`.
template <typename Condition>
bool processEventsUntil(Condition done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

struct ModeCase {
    const char* name;
    PictureBox::DisplayMode mode;
    QSize picture;
    QRect expected; // where the picture lands in the 8 x 8 client area
};

void PrintTo(const ModeCase& c, std::ostream* os) {
    *os << c.name;
}

class DisplayModes : public testing::TestWithParam<ModeCase> {};

TEST_P(DisplayModes, PlaceThePicture) {
    const ModeCase& c = GetParam();
    PictureBox box("图片框2", nullptr);
    box.resize(8, 8);
    box.setBackground(kGrey);
    box.setDisplayMode(c.mode);
    box.setPictureBytes(bmp(c.picture.width(), c.picture.height(), kRed, kBlue));
    const QImage shown = box.clientImage();
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            const QRect& r = c.expected;
            const Colour expected = !r.contains(x, y)           ? kGrey
                                    : x < r.x() + r.width() / 2 ? kRed
                                                                : kBlue;
            ASSERT_EQ(colourAt(shown, x, y), expected) << x << "," << y;
        }
    }
}

const ModeCase kModeCases[] = {
    {"natural_at_top_left", PictureBox::DisplayMode::NaturalTopLeft, {4, 2}, {0, 0, 4, 2}},
    {"stretched", PictureBox::DisplayMode::Stretched, {4, 2}, {0, 0, 8, 8}},
    {"centred_not_enlarged", PictureBox::DisplayMode::CentredShrunk, {4, 2}, {2, 3, 4, 2}},
    {"centred_and_shrunk", PictureBox::DisplayMode::CentredShrunk, {16, 4}, {0, 3, 8, 2}},
};

INSTANTIATE_TEST_SUITE_P(PictureBox, DisplayModes, testing::ValuesIn(kModeCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(PictureBox, KeepsItsOwnCopyAndShowsOnlyTheBackgroundForBadBytes) {
    PictureBox box("图片框2", nullptr);
    box.resize(4, 4);
    QByteArray caller = bmp(2, 2, kRed, kRed);
    std::vector<char> raw(caller.begin(), caller.end());
    box.setPictureBytes(QByteArray::fromRawData(raw.data(), qsizetype(raw.size())));
    std::fill(raw.begin(), raw.end(), 0);                   // the caller reuses its buffer
    box.setDisplayMode(PictureBox::DisplayMode::Stretched); // drawn again from what the box kept
    EXPECT_EQ(colourAt(box.clientImage(), 3, 3), kRed);

    box.setPictureBytes(QByteArray("BM not a bitmap"));
    EXPECT_FALSE(box.hasPicture());
    EXPECT_EQ(colourAt(box.clientImage(), 0, 0), 0xFFFFFFu);
}

TEST(PictureBox, TakesOverBuffersAndLetsThePictureGo) {
    PictureBox box("图片框2", nullptr);
    box.resize(4, 4);
    const QByteArray red = bmp(2, 2, kRed, kRed);
    box.setPicture(std::vector<std::uint8_t>(red.begin(), red.end()));
    EXPECT_EQ(colourAt(box.clientImage(), 3, 3), kRed);

    const QByteArray gif = twoFrameGif();
    box.show();
    box.setPicture(std::vector<std::uint8_t>(gif.begin(), gif.end()));
    EXPECT_TRUE(box.isAnimating()); // the box kept the GIF's bytes for its frames

    box.clearPicture();
    EXPECT_FALSE(box.hasPicture());
    EXPECT_FALSE(box.isAnimating());
    EXPECT_EQ(colourAt(box.clientImage(), 3, 3), 0xFFFFFFu);
}

TEST(PictureBox, AnimationKeepsMovingWhileTheGuiThreadWorks) {
    PictureBox box("图片框4", nullptr);
    box.resize(4, 4);
    box.setPictureBytes(twoFrameGif());
    box.show();
    ASSERT_TRUE(box.isAnimating());
    // A long pixel loop that lets pending events through after each column, as the
    // near-colour pass does: the frames still change at their own pace.
    QElapsedTimer clock;
    clock.start();
    volatile std::uint64_t work = 0;
    std::set<Colour> seen;
    while (clock.elapsed() < 600 && (box.framesShown() < 6 || seen.size() < 2)) {
        for (int i = 0; i < 20000; ++i) {
            work = work + std::uint64_t(i);
        }
        QCoreApplication::processEvents();
        if (box.framesShown() > 0) {
            seen.insert(colourAt(box.clientImage(), 0, 0));
        }
    }
    EXPECT_GE(box.framesShown(), 6);
    EXPECT_EQ(seen, (std::set<Colour>{kRed, kBlue}));

    box.setAnimated(false); // the flag off: the first frame stands still
    EXPECT_FALSE(box.isAnimating());
    EXPECT_EQ(colourAt(box.clientImage(), 0, 0), kRed);
}

TEST(PictureBox, PlaysOnlyWhileShownAndStartsOverFromTheFirstFrame) {
    QWidget panel; // the progress panel, hidden until a workflow shows it
    panel.resize(8, 8);
    auto* spinner = new PictureBox("图片框4", &panel);
    spinner->resize(4, 4);
    // Red for a second, then blue for a long time: which frame shows tells where the clock is.
    spinner->setPictureBytes(twoFrameGif(100, 250));
    QCoreApplication::processEvents();
    EXPECT_FALSE(spinner->isAnimating()); // no thread decodes frames for a hidden box
    EXPECT_EQ(spinner->framesShown(), 0);
    EXPECT_EQ(colourAt(spinner->clientImage(), 0, 0), kRed); // its first frame stands still

    panel.show();
    EXPECT_TRUE(spinner->isAnimating());
    ASSERT_TRUE(processEventsUntil([&] { return colourAt(spinner->clientImage(), 0, 0) == kBlue; }))
        << "the animation did not reach its second frame";

    panel.hide();
    EXPECT_FALSE(spinner->isAnimating());
    const int shownBeforeHiding = spinner->framesShown();
    QCoreApplication::processEvents();
    EXPECT_EQ(spinner->framesShown(), shownBeforeHiding); // a frame on its way is dropped
    EXPECT_EQ(colourAt(spinner->clientImage(), 0, 0), kRed);

    panel.show(); // from the first frame again, not from where it was hidden
    EXPECT_TRUE(spinner->isAnimating());
    ASSERT_TRUE(processEventsUntil([&] { return spinner->framesShown() > 0; }));
    EXPECT_EQ(colourAt(spinner->clientImage(), 0, 0), kRed);
}

TEST(DrawingPanel, ShowsItsSurfaceAndKeepsItWhenResized) {
    QWidget frame;
    frame.resize(100, 100);
    auto* panel = new DrawingSurfaceWidget("画板1", &frame);
    panel->setGeometry(0, 0, 40, 30);
    const auto bytes = bmp(10, 10, kRed, kBlue);
    const imaging::PictureHandle h = imaging::LoadPicture(std::span(
        reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())));
    panel->surface().drawPicture(h, 0, 0);
    imaging::UnloadPicture(h);
    EXPECT_EQ(colourAt(panel->grab().toImage(), 2, 2), kRed);
    EXPECT_EQ(colourAt(panel->grab().toImage(), 7, 2), kBlue);
    EXPECT_EQ(colourAt(panel->grab().toImage(), 20, 20), 0xFFFFFFu);

    panel->resize(200, 300); // larger than the frame: scrolled by moving it
    EXPECT_EQ(panel->surface().width(), 200);
    EXPECT_EQ(panel->surface().height(), 300);
    panel->move(-5, -1);
    const QImage shown = panel->grab().toImage();
    EXPECT_EQ(colourAt(shown, 7, 2), kBlue);
    EXPECT_EQ(colourAt(shown, 150, 250), 0xFFFFFFu);
}

} // namespace
} // namespace vantrel::ui
