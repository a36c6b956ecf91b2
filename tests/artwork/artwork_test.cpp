// Loads every generated picture through Qt's resource system, as the program does, and checks what
// the main window relies on: sizes, transparency, visible drawing, and a busy animation that both
// Qt and giflib read as a forever-looping, multi-frame GIF.
#include "tools/artwork/artwork_resources.h"

#include <QColor>
#include <QFile>
#include <QImage>
#include <QMovie>
#include <QString>

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

using namespace Qt::StringLiterals;

namespace vantrel::artwork {
namespace {

const QString kBusy = u":/artwork/busy.gif"_s;

struct PictureCase {
    const char* name; // resource file under :/artwork/
    int size;         // width and height in pixels
};

void PrintTo(const PictureCase& c, std::ostream* os) {
    *os << c.name;
}

const PictureCase kPictures[] = {
    {"program-icon-16.png", 16},
    {"program-icon-32.png", 32},
    {"program-icon-48.png", 48},
    {"program-icon-128.png", 128},
    {"toolbar-0.png", 32},
    {"toolbar-1.png", 32},
    {"toolbar-2.png", 32},
    {"toolbar-3.png", 32},
    {"toolbar-4.png", 32},
    {"toolbar-5.png", 32},
    {"toolbar-6.png", 32},
    {"toolbar-7.png", 32},
    {"toolbar-8.png", 32},
    {"toolbar-9.png", 32},
    {"button-choose-background.png", 20},
    {"button-clear-background.png", 20},
};

QString resourcePath(const char* name) {
    return u":/artwork/"_s + QString::fromLatin1(name);
}

QImage loadPicture(const char* name) {
    return QImage(resourcePath(name)).convertToFormat(QImage::Format_ARGB32);
}

class Picture : public testing::TestWithParam<PictureCase> {};

// Linking the library alone must register the resources: no initResources() call here.
TEST_P(Picture, IsRegisteredAndHasItsSize) {
    ASSERT_TRUE(QFile::exists(resourcePath(GetParam().name)));
    const QImage image(resourcePath(GetParam().name));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), GetParam().size);
    EXPECT_EQ(image.height(), GetParam().size);
    EXPECT_TRUE(image.hasAlphaChannel());
}

// A transparent corner, nearly opaque pixels, a dark outline, and a drawing that spans most of the
// square one way and at least half of it the other: catches a lost alpha channel, an empty or
// wrongly scaled drawing and a missing outline.
TEST_P(Picture, IsADrawingOnTransparency) {
    const QImage image = loadPicture(GetParam().name);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);

    int left = image.width(), right = -1, top = image.height(), bottom = -1;
    int transparent = 0, strong = 0, dark = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            transparent += qAlpha(p) == 0;
            strong += qAlpha(p) >= 192;
            dark += qAlpha(p) >= 192 && qGray(p) < 80;
            if (qAlpha(p) > 0) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    EXPECT_GT(transparent, 0);
    EXPECT_GT(strong, image.width());
    EXPECT_GT(dark, image.width() / 2);
    const int wide = right - left + 1;
    const int high = bottom - top + 1;
    EXPECT_GE(std::max(wide, high), image.width() * 3 / 4);
    EXPECT_GE(std::min(wide, high), image.width() / 2);
}

// "toolbar-3.png" becomes the test name "toolbar_3".
std::string caseName(const testing::TestParamInfo<PictureCase>& row) {
    std::string name = row.param.name;
    name = name.substr(0, name.find('.'));
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Artwork, Picture, testing::ValuesIn(kPictures), caseName);

TEST(ProgramIcon, UsesTheThemeColourAtEverySize) {
    const QColor theme(123, 158, 189);
    for (int size : {16, 32, 48, 128}) {
        const QImage image = loadPicture(qPrintable(u"program-icon-%1.png"_s.arg(size)));
        int close = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = image.pixel(x, y);
                close += qAlpha(p) == 255 && std::abs(qRed(p) - theme.red()) <= 12 &&
                         std::abs(qGreen(p) - theme.green()) <= 12 &&
                         std::abs(qBlue(p) - theme.blue()) <= 12;
            }
        }
        EXPECT_GE(close, size) << "size " << size;
    }
}

// Each toolbar button gets its own picture; a wiring slip in the generator would repeat one.
TEST(ToolbarIcons, AreAllDifferent) {
    std::vector<QImage> icons;
    for (int i = 0; i < 10; ++i) {
        icons.push_back(loadPicture(qPrintable(u"toolbar-%1.png"_s.arg(i))));
    }
    for (size_t a = 0; a < icons.size(); ++a) {
        for (size_t b = a + 1; b < icons.size(); ++b) {
            EXPECT_NE(icons[a], icons[b]) << "toolbar-" << a << " and toolbar-" << b;
        }
    }
}

TEST(BusyAnimation, QtPlaysItForeverOnGrey) {
    QMovie movie(kBusy);
    ASSERT_TRUE(movie.isValid());
    EXPECT_EQ(movie.loopCount(), -1); // -1: loops forever
    const int frames = movie.frameCount();
    EXPECT_GE(frames, 8);

    QImage previous;
    for (int i = 0; i < frames; ++i) {
        ASSERT_TRUE(movie.jumpToFrame(i)) << "frame " << i;
        const QImage frame = movie.currentImage().convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(frame.size(), QSize(108, 108)) << "frame " << i;
        EXPECT_EQ(QColor(frame.pixel(0, 0)), QColor(192, 192, 192)) << "frame " << i;
        EXPECT_EQ(QColor(frame.pixel(54, 54)), QColor(192, 192, 192)) << "frame " << i;
        EXPECT_GE(movie.nextFrameDelay(), 60) << "frame " << i;
        EXPECT_LE(movie.nextFrameDelay(), 100) << "frame " << i;
        EXPECT_NE(frame, previous) << "frame " << i << " repeats the one before";
        previous = frame;
    }
}

// giflib's slurp reader is strict about structure; it must find every frame, a global palette,
// the NETSCAPE2.0 loop block with count 0 and a delay on every frame.
TEST(BusyAnimation, GiflibReadsEveryFrameAndTheLoop) {
    QFile file(kBusy);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray bytes = file.readAll();
    struct Reader {
        QByteArray* data;
        qsizetype at = 0;
    } reader{&bytes};
    auto read = [](GifFileType* gif, GifByteType* out, int length) {
        auto* r = static_cast<Reader*>(gif->UserData);
        const int n = int(std::min<qsizetype>(length, r->data->size() - r->at));
        std::memcpy(out, r->data->constData() + r->at, size_t(n));
        r->at += n;
        return n;
    };
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, read, &error);
    ASSERT_NE(gif, nullptr) << GifErrorString(error);
    EXPECT_EQ(DGifSlurp(gif), GIF_OK) << GifErrorString(gif->Error);
    EXPECT_EQ(gif->SWidth, 108);
    EXPECT_EQ(gif->SHeight, 108);
    ASSERT_NE(gif->SColorMap, nullptr);
    const GifColorType bg = gif->SColorMap->Colors[gif->SBackGroundColor];
    EXPECT_EQ(QColor(bg.Red, bg.Green, bg.Blue), QColor(192, 192, 192));
    EXPECT_EQ(gif->ImageCount, QMovie(kBusy).frameCount());

    bool loopsForever = false;
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& image = gif->SavedImages[i];
        for (int e = 0; e + 1 < image.ExtensionBlockCount; ++e) {
            const ExtensionBlock& app = image.ExtensionBlocks[e];
            const ExtensionBlock& data = image.ExtensionBlocks[e + 1];
            if (app.Function == APPLICATION_EXT_FUNC_CODE && app.ByteCount == 11 &&
                std::memcmp(app.Bytes, "NETSCAPE2.0", 11) == 0 && data.ByteCount == 3) {
                loopsForever = data.Bytes[0] == 1 && data.Bytes[1] == 0 && data.Bytes[2] == 0;
            }
        }
        GraphicsControlBlock control{};
        ASSERT_EQ(DGifSavedExtensionToGCB(gif, i, &control), GIF_OK) << "frame " << i;
        EXPECT_EQ(control.DelayTime, 8) << "frame " << i;
    }
    EXPECT_TRUE(loopsForever);
    DGifCloseFile(gif, &error);
}

TEST(ArtworkResources, ExplicitInitialisationIsHarmless) {
    initResources();
    initResources();
    EXPECT_FALSE(QImage(resourcePath("toolbar-0.png")).isNull());
    EXPECT_TRUE(QMovie(kBusy).isValid());
}

} // namespace
} // namespace vantrel::artwork
