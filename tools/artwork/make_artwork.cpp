// make_artwork: draws Vantrel's own icons and busy animation and writes them into one folder.
//
// Run at build time (tools/artwork/CMakeLists.txt) as `make_artwork <output-folder>`. Every picture
// is vector drawing with QPainter on a QImage: it is drawn at four times its final size with
// antialiasing and then scaled down with area averaging, which gives clean edges at 16 px as well
// as at 128 px. The busy spinner is written with giflib because Qt can read GIF but not write it.
// No text is drawn, so no fonts and no QGuiApplication are needed.

#include <QColor>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>
#include <QSaveFile>
#include <QString>
#include <QTransform>

#include <gif_lib.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <numbers>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int kSupersample = 4;

// One palette for everything, built around the program's theme colour.
namespace colour {
const QColor ink(38, 52, 68);      // outlines
const QColor theme(123, 158, 189); // the program's frame colour
const QColor themeLight(190, 210, 228);
const QColor themePale(226, 236, 245);
const QColor themeDark(74, 106, 138);
const QColor paper(253, 254, 255);
const QColor paperShade(232, 238, 244);
const QColor textLine(150, 172, 194);
const QColor glass(96, 200, 240);
const QColor glassDeep(40, 130, 200);
const QColor led(70, 190, 90);
const QColor green(52, 160, 80);
const QColor folderBack(222, 164, 52);
const QColor folderFront(248, 202, 92);
const QColor folderFrontLight(252, 224, 140);
const QColor megaphone(226, 88, 64);
const QColor megaphoneLight(246, 150, 96);
const QColor helpBlue(70, 132, 200);
const QColor helpBlueDeep(40, 92, 160);
} // namespace colour

using Painter = std::function<void(QPainter&)>;

// Draws `draw` in a square coordinate system of `units` per side onto a transparent size x size
// image. Drawing happens at kSupersample times the size in premultiplied ARGB so the smooth
// downscale blends edges without dark fringes.
QImage render(int size, double units, const Painter& draw) {
    const int big = size * kSupersample;
    QImage canvas(big, big, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        QPainter p(&canvas);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(big / units, big / units);
        draw(p);
    }
    return canvas.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_ARGB32);
}

QPen outline(double width, const QColor& c = colour::ink) {
    QPen pen(c, width);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    return pen;
}

QLinearGradient vertical(double top, double bottom, const QColor& a, const QColor& b) {
    QLinearGradient g(0, top, 0, bottom);
    g.setColorAt(0, a);
    g.setColorAt(1, b);
    return g;
}

void line(QPainter& p, QPointF a, QPointF b, const QPen& pen) {
    p.setPen(pen);
    p.drawLine(a, b);
}

// A sheet with a folded top-right corner and optional text lines; coordinates in the caller's grid.
void drawSheet(QPainter& p, const QRectF& r, double fold, double penWidth, const QBrush& fill,
               int textLines) {
    QPainterPath sheet;
    sheet.moveTo(r.topLeft());
    sheet.lineTo(r.right() - fold, r.top());
    sheet.lineTo(r.right(), r.top() + fold);
    sheet.lineTo(r.bottomRight());
    sheet.lineTo(r.bottomLeft());
    sheet.closeSubpath();
    p.setPen(outline(penWidth));
    p.setBrush(fill);
    p.drawPath(sheet);

    QPainterPath ear;
    ear.moveTo(r.right() - fold, r.top());
    ear.lineTo(r.right() - fold, r.top() + fold);
    ear.lineTo(r.right(), r.top() + fold);
    p.setBrush(colour::paperShade);
    p.drawPath(ear);

    const double margin = r.width() * 0.2;
    const double step = (r.height() - fold - margin) / (textLines + 1);
    for (int i = 0; i < textLines; ++i) {
        const double y = r.top() + fold + step * (i + 0.6);
        const double right = (i == textLines - 1) ? r.center().x() : r.right() - margin;
        line(p, {r.left() + margin, y}, {right, y}, outline(penWidth * 0.75, colour::textLine));
    }
}

// A portrait silhouette (head and shoulders) clipped to `frame`.
void drawPortrait(QPainter& p, const QRectF& frame, double penWidth) {
    p.setPen(outline(penWidth * 0.5, colour::themeDark));
    p.setBrush(colour::themeLight);
    p.drawRect(frame);
    p.save();
    p.setClipRect(frame);
    p.setPen(Qt::NoPen);
    p.setBrush(colour::themeDark);
    const double cx = frame.center().x();
    const double w = frame.width();
    p.drawEllipse(QPointF(cx, frame.top() + frame.height() * 0.36), w * 0.24, w * 0.24);
    p.drawEllipse(QPointF(cx, frame.bottom() + w * 0.1), w * 0.44, w * 0.42);
    p.restore();
}

// An identity card: rounded body, portrait at the left and lines of text at the right.
void drawIdCard(QPainter& p, const QRectF& r, const QColor& fill) {
    p.setPen(outline(2));
    p.setBrush(vertical(r.top(), r.bottom(), fill.lighter(108), fill));
    p.drawRoundedRect(r, 2.5, 2.5);
    const QRectF photo(r.left() + 3, r.top() + 3.5, r.width() * 0.3, r.height() - 7);
    drawPortrait(p, photo, 2);
    const double x0 = photo.right() + 3;
    const double x1 = r.right() - 3;
    const QPen text = outline(2, colour::themeDark);
    line(p, {x0, photo.top() + 1.5}, {x1, photo.top() + 1.5}, text);
    line(p, {x0, photo.center().y()}, {x1, photo.center().y()}, outline(2, colour::textLine));
    line(p, {x0, photo.bottom() - 1.5}, {(x0 + x1) / 2, photo.bottom() - 1.5},
         outline(2, colour::textLine));
}

// A circular arrow going clockwise around `c`.
void drawCycleArrow(QPainter& p, QPointF c, double radius, double width, const QColor& col) {
    const QRectF box(c.x() - radius, c.y() - radius, radius * 2, radius * 2);
    QPainterPath arc;
    arc.arcMoveTo(box, 100);
    arc.arcTo(box, 100, -250);
    p.setBrush(Qt::NoBrush);
    p.setPen(outline(width, col));
    p.drawPath(arc);

    // Arrow head at the end of the arc (angle 100 - 250 = -150 degrees), pointing along the motion.
    const double a = -150.0 * std::numbers::pi / 180.0;
    const QPointF tip(c.x() + radius * std::cos(a), c.y() - radius * std::sin(a));
    const QPointF tangent(std::sin(a), std::cos(a)); // clockwise direction in screen space
    const QPointF normal(tangent.y(), -tangent.x());
    const double h = width * 1.3;
    QPolygonF head;
    head << tip + tangent * h * 0.9 << tip - tangent * h * 0.3 + normal * h
         << tip - tangent * h * 0.3 - normal * h;
    p.setPen(outline(width * 0.4, col));
    p.setBrush(col);
    p.drawPolygon(head);
}

// ---- program icon
// --------------------------------------------------------------------------------

// The program icon in a 64-unit grid. Line widths are chosen in final pixels so the small sizes
// keep a visible outline and the large ones do not look heavy.
void drawProgramIcon(QPainter& p, int size) {
    const double px = 64.0 / size; // one final pixel in grid units
    const double lw = (size <= 32 ? 1.25 : size <= 48 ? 1.75 : 2.5) * px;

    if (size >= 48) {
        QRadialGradient shadow(QPointF(32, 58), 28);
        shadow.setColorAt(0, QColor(0, 0, 0, 70));
        shadow.setColorAt(1, QColor(0, 0, 0, 0));
        p.save();
        p.translate(32, 58);
        p.scale(1, 0.16);
        p.translate(-32, -58);
        p.setPen(Qt::NoPen);
        p.setBrush(shadow);
        p.drawEllipse(QPointF(32, 58), 30, 30);
        p.restore();
    }

    // Top face of the scanner, seen slightly from above.
    QPolygonF top;
    top << QPointF(11, 27) << QPointF(53, 27) << QPointF(60, 37) << QPointF(4, 37);
    p.setPen(outline(lw));
    p.setBrush(vertical(27, 37, colour::themePale, colour::themeLight));
    p.drawPolygon(top);

    // The sheet comes out of a slot across the top face.
    const double slotY = 31;
    const QRectF sheet(18, 3, 28, slotY - 3);
    drawSheet(p, sheet, 8, lw, vertical(3, slotY, colour::paper, colour::paperShade),
              size >= 48 ? 4 : 3);
    line(p, {13, slotY}, {51, slotY}, outline(std::max(lw, 2.5 * px) * 1.2));

    // Front of the body in the theme colour, with the scan window and a power light.
    const QRectF body(4, 37, 56, 19);
    p.setPen(outline(lw));
    p.setBrush(
        vertical(body.top(), body.bottom(), colour::theme.lighter(112), colour::theme.darker(108)));
    p.drawRoundedRect(body, 3, 3);

    const QRectF window(10, 42.5, 34, 7);
    QLinearGradient glow(window.topLeft(), window.bottomLeft());
    glow.setColorAt(0, colour::glass.lighter(130));
    glow.setColorAt(0.5, colour::glass);
    glow.setColorAt(1, colour::glassDeep);
    p.setPen(outline(lw * 0.8));
    p.setBrush(glow);
    p.drawRoundedRect(window, 1.5, 1.5);

    QRadialGradient light(QPointF(51.5, 45), 4);
    light.setColorAt(0, colour::led.lighter(150));
    light.setColorAt(1, colour::led);
    p.setBrush(light);
    p.drawEllipse(QPointF(51.5, 46), 2.8, 2.8);
}

// The 16 px program icon in its own 16-unit grid: the same picture reduced to one-pixel lines that
// sit on pixel centres, because the large drawing scaled down turns to mush at this size.
void drawProgramIconSmall(QPainter& p) {
    const QPen ink = outline(1);
    QPolygonF top;
    top << QPointF(3, 6.5) << QPointF(13, 6.5) << QPointF(15.5, 9.5) << QPointF(0.5, 9.5);
    p.setPen(ink);
    p.setBrush(colour::themePale);
    p.drawPolygon(top);

    QPainterPath sheet;
    sheet.moveTo(4.5, 7.5);
    sheet.lineTo(4.5, 0.5);
    sheet.lineTo(9.5, 0.5);
    sheet.lineTo(11.5, 2.5);
    sheet.lineTo(11.5, 7.5);
    p.setBrush(colour::paper);
    p.drawPath(sheet);
    p.setPen(Qt::NoPen);
    p.setBrush(colour::textLine);
    p.drawRect(QRectF(6, 3, 4, 1));
    p.drawRect(QRectF(6, 5, 3, 1));
    line(p, {3, 7.5}, {13, 7.5}, QPen(colour::ink, 1, Qt::SolidLine, Qt::FlatCap));

    p.setPen(ink);
    p.setBrush(colour::theme);
    p.drawRoundedRect(QRectF(0.5, 9.5, 15, 5), 1, 1);
    p.setPen(Qt::NoPen);
    p.setBrush(colour::glass);
    p.drawRect(QRectF(2, 11, 8, 2));
    p.setBrush(colour::led);
    p.drawRect(QRectF(12, 11, 2, 2));
}

// ---- toolbar icons, 32-unit grid
// -----------------------------------------------------------------

void drawScanner(QPainter& p) {
    QPolygonF lid;
    lid << QPointF(7, 9) << QPointF(25, 9) << QPointF(29, 15) << QPointF(3, 15);
    p.setPen(outline(2));
    p.setBrush(vertical(9, 15, colour::themePale, colour::themeLight));
    p.drawPolygon(lid);

    p.setBrush(vertical(15, 26, colour::theme.lighter(110), colour::theme.darker(108)));
    p.drawRoundedRect(QRectF(3, 15, 26, 11), 2, 2);

    QLinearGradient glow(0, 18.5, 0, 22.5);
    glow.setColorAt(0, colour::glass.lighter(130));
    glow.setColorAt(1, colour::glassDeep);
    p.setPen(outline(1));
    p.setBrush(glow);
    p.drawRoundedRect(QRectF(6.5, 18.5, 14, 4), 1, 1);

    p.setBrush(colour::led);
    p.drawEllipse(QPointF(24.5, 20.5), 1.6, 1.6);
}

void drawCopier(QPainter& p) {
    drawSheet(p, QRectF(4, 3, 15, 19), 5, 2, vertical(3, 22, colour::themePale, colour::themeLight),
              0);
    drawSheet(p, QRectF(13, 10, 15, 19), 5, 2, vertical(10, 29, colour::paper, colour::paperShade),
              3);
}

void drawIdCopy(QPainter& p) {
    drawIdCard(p, QRectF(3, 7, 26, 18), colour::themePale);
}

// An open folder: the back with its tab, a sheet inside, and the front flap tilted open.
void drawOpenFolderIcon(QPainter& p) {
    QPainterPath back;
    back.moveTo(3, 26);
    back.lineTo(3, 7);
    back.lineTo(11, 7);
    back.lineTo(13.5, 10);
    back.lineTo(26, 10);
    back.lineTo(26, 26);
    back.closeSubpath();
    p.setPen(outline(2));
    p.setBrush(vertical(7, 26, colour::folderBack.lighter(110), colour::folderBack));
    p.drawPath(back);

    p.setBrush(colour::paper);
    p.drawRect(QRectF(7, 12, 15, 8));

    QPolygonF front;
    front << QPointF(8, 15) << QPointF(30, 15) << QPointF(26, 26) << QPointF(3, 26);
    p.setBrush(vertical(15, 26, colour::folderFrontLight, colour::folderFront));
    p.drawPolygon(front);
}

void drawContinuousScan(QPainter& p) {
    drawSheet(p, QRectF(10, 2, 16, 19), 0.01, 2, colour::themeLight, 0);
    drawSheet(p, QRectF(7, 5, 16, 19), 0.01, 2, colour::themePale, 0);
    drawSheet(p, QRectF(4, 8, 16, 19), 5, 2, vertical(8, 27, colour::paper, colour::paperShade), 3);

    const QPointF c(23, 23);
    p.setPen(outline(2));
    p.setBrush(QColor(250, 252, 250));
    p.drawEllipse(c, 7.5, 7.5);
    drawCycleArrow(p, c, 3.9, 2.2, colour::green);
}

void drawContinuousIdScan(QPainter& p) {
    drawIdCard(p, QRectF(7, 4, 22, 16), colour::themeLight);
    drawIdCard(p, QRectF(3, 11, 22, 16), colour::themePale);
}

// A megaphone pointing right, with a handle below and two sound waves.
void drawMegaphone(QPainter& p) {
    p.setPen(outline(2));
    QPolygonF handle;
    handle << QPointF(11, 18) << QPointF(15.5, 18) << QPointF(15, 29) << QPointF(11.5, 29);
    p.setBrush(vertical(18, 29, colour::themeLight, colour::theme));
    p.drawPolygon(handle);

    p.setBrush(vertical(12, 20, colour::themeLight, colour::theme));
    p.drawRoundedRect(QRectF(3, 12, 5, 8), 1.5, 1.5);

    QPolygonF cone;
    cone << QPointF(8, 12) << QPointF(20, 5) << QPointF(20, 27) << QPointF(8, 20);
    p.setBrush(vertical(5, 27, colour::megaphoneLight, colour::megaphone));
    p.drawPolygon(cone);

    p.setBrush(vertical(5, 27, colour::megaphone.lighter(110), colour::megaphone.darker(115)));
    p.drawEllipse(QRectF(18, 5, 4, 22));

    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(20.5, 11, 6, 10), -55 * 16, 110 * 16);
    p.drawArc(QRectF(21, 7, 9, 18), -55 * 16, 110 * 16);
}

// A shopping cart seen from the side.
void drawCart(QPainter& p) {
    QPolygonF basket;
    basket << QPointF(7, 8) << QPointF(29, 8) << QPointF(26, 20) << QPointF(10, 20);
    p.setPen(outline(2));
    p.setBrush(vertical(8, 20, colour::themePale, colour::themeLight));
    p.drawPolygon(basket);

    const QPen grid = outline(1.2, colour::themeDark);
    line(p, {8.5, 14}, {27.5, 14}, grid);
    for (double x : {13.0, 18.0, 23.0}) {
        line(p, {x + 0.6, 8}, {x, 20}, grid);
    }

    QPainterPath frame;
    frame.moveTo(2, 4);
    frame.lineTo(5.5, 4);
    frame.lineTo(10, 20);
    frame.lineTo(8.5, 23.5);
    frame.lineTo(27, 23.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(outline(2));
    p.drawPath(frame);

    p.setBrush(colour::themeDark);
    p.drawEllipse(QPointF(11, 27), 2.2, 2.2);
    p.drawEllipse(QPointF(24, 27), 2.2, 2.2);
}

// A headset: band over the head, two ear cups and a microphone on a boom.
void drawHeadset(QPainter& p) {
    p.setBrush(Qt::NoBrush);
    p.setPen(outline(4.5));
    p.drawArc(QRectF(5, 4, 22, 22), 10 * 16, 160 * 16);
    p.setPen(outline(2.2, colour::theme.lighter(115)));
    p.drawArc(QRectF(5, 4, 22, 22), 12 * 16, 156 * 16);

    QPainterPath boom;
    boom.moveTo(26, 22);
    boom.cubicTo(26, 27, 23, 28, 18, 28);
    p.setPen(outline(2));
    p.drawPath(boom);

    p.setPen(outline(2));
    p.setBrush(vertical(13, 25, colour::themeLight, colour::theme));
    p.drawRoundedRect(QRectF(2.5, 13, 6.5, 11), 2.5, 2.5);
    p.drawRoundedRect(QRectF(23, 13, 6.5, 11), 2.5, 2.5);

    p.setBrush(colour::themeDark);
    p.drawRoundedRect(QRectF(13, 26, 6, 4), 2, 2);
}

// A question mark in a blue disc; the mark is a stroked hook and a dot, not a glyph.
void drawHelp(QPainter& p) {
    QRadialGradient disc(QPointF(12, 10), 18);
    disc.setColorAt(0, colour::helpBlue.lighter(125));
    disc.setColorAt(1, colour::helpBlueDeep);
    p.setPen(outline(2));
    p.setBrush(disc);
    p.drawEllipse(QPointF(16, 16), 13, 13);

    const QRectF hook(11.5, 7.5, 9, 9);
    QPainterPath mark;
    mark.arcMoveTo(hook, 165);
    mark.arcTo(hook, 165, -225);
    mark.quadTo(16, 16.5, 16, 19);
    p.setBrush(Qt::NoBrush);
    p.setPen(outline(3.2, Qt::white));
    p.drawPath(mark);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(16, 23.5), 2, 2);
}

// ---- button glyphs, 20-unit grid, lines only
// -----------------------------------------------------

void drawFolderGlyph(QPainter& p) {
    QPainterPath folder;
    folder.moveTo(2.5, 15.5);
    folder.lineTo(2.5, 4.5);
    folder.lineTo(7.5, 4.5);
    folder.lineTo(9.5, 6.5);
    folder.lineTo(17.5, 6.5);
    folder.lineTo(17.5, 15.5);
    folder.closeSubpath();
    folder.moveTo(2.5, 8.5);
    folder.lineTo(17.5, 8.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(outline(1.5));
    p.drawPath(folder);
}

// A broom leaning to the right: handle, binding and a fan of bristles, drawn upright and rotated.
void drawBroomGlyph(QPainter& p) {
    p.translate(10.5, 9.5);
    p.rotate(40);
    p.setBrush(Qt::NoBrush);
    p.setPen(outline(1.5));
    p.drawLine(QPointF(0, -11), QPointF(0, -3.5));
    p.drawRect(QRectF(-2.5, -3.5, 5, 3));

    QPainterPath bristles;
    bristles.moveTo(-2.5, -0.5);
    bristles.lineTo(-5, 8);
    bristles.quadTo(0, 9, 5, 8);
    bristles.lineTo(2.5, -0.5);
    p.drawPath(bristles);
    p.setPen(outline(1.1));
    p.drawLine(QPointF(0, 1.5), QPointF(0, 7.5));
}

// ---- busy spinner
// --------------------------------------------------------------------------------

constexpr int kSpinnerSize = 108;
constexpr int kSpinnerFrames = 12;
constexpr int kSpinnerDelayCs = 8; // GIF delays are in hundredths of a second: 80 ms
const QColor kSpinnerBackground(192, 192, 192);

// Colour of a dot `age` steps behind the highlight: dark theme blue fading to a soft grey-blue.
QColor spinnerTint(int age) {
    const QColor head(44, 84, 124);
    const QColor tail(160, 172, 184);
    const double t = std::pow(double(age) / (kSpinnerFrames - 1), 0.7);
    return QColor::fromRgbF(float(head.redF() + (tail.redF() - head.redF()) * t),
                            float(head.greenF() + (tail.greenF() - head.greenF()) * t),
                            float(head.blueF() + (tail.blueF() - head.blueF()) * t));
}

QImage spinnerFrame(int frame) {
    const int big = kSpinnerSize * kSupersample;
    QImage canvas(big, big, QImage::Format_RGB32);
    canvas.fill(kSpinnerBackground);
    {
        QPainter p(&canvas);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(kSupersample, kSupersample);
        p.setPen(Qt::NoPen);
        for (int dot = 0; dot < kSpinnerFrames; ++dot) {
            const int age = (frame - dot + kSpinnerFrames) % kSpinnerFrames;
            const double angle = 2 * std::numbers::pi * dot / kSpinnerFrames;
            const QPointF c(54 + 38 * std::sin(angle), 54 - 38 * std::cos(angle));
            const double radius = 7.5 - 3.0 * age / (kSpinnerFrames - 1);
            p.setBrush(spinnerTint(age));
            p.drawEllipse(c, radius, radius);
        }
    }
    return canvas.scaled(kSpinnerSize, kSpinnerSize, Qt::IgnoreAspectRatio,
                         Qt::SmoothTransformation);
}

// Every pixel of a frame is the background blended with one dot tint, so the palette holds the
// background plus each tint at 20 coverage steps; this stays within GIF's 256 colours.
std::vector<QRgb> spinnerPalette() {
    std::vector<QRgb> palette{kSpinnerBackground.rgb()};
    constexpr int steps = 20;
    for (int age = 0; age < kSpinnerFrames; ++age) {
        const QColor tint = spinnerTint(age);
        for (int s = 1; s <= steps; ++s) {
            const double a = double(s) / steps;
            auto mix = [&](int bg, int fg) { return int(std::lround(bg + (fg - bg) * a)); };
            palette.push_back(qRgb(mix(kSpinnerBackground.red(), tint.red()),
                                   mix(kSpinnerBackground.green(), tint.green()),
                                   mix(kSpinnerBackground.blue(), tint.blue())));
        }
    }
    while (palette.size() < 256) {
        palette.push_back(kSpinnerBackground.rgb());
    }
    return palette;
}

class IndexMapper {
public:
    explicit IndexMapper(const std::vector<QRgb>& palette)
        : palette_(palette) {}

    GifPixelType operator()(QRgb c) {
        const auto known = cache_.constFind(c);
        if (known != cache_.cend()) {
            return *known;
        }
        int best = 0;
        int bestDistance = INT32_MAX;
        for (int i = 0; i < int(palette_.size()); ++i) {
            const int dr = qRed(c) - qRed(palette_[i]);
            const int dg = qGreen(c) - qGreen(palette_[i]);
            const int db = qBlue(c) - qBlue(palette_[i]);
            const int d = dr * dr + dg * dg + db * db;
            if (d < bestDistance) {
                bestDistance = d;
                best = i;
            }
        }
        cache_.insert(c, GifPixelType(best));
        return GifPixelType(best);
    }

private:
    const std::vector<QRgb>& palette_;
    QHash<QRgb, GifPixelType> cache_;
};

bool gifFailed(int status, GifFileType* gif, const char* step) {
    if (status == GIF_OK) {
        return false;
    }
    std::fprintf(stderr, "make_artwork: giflib failed at %s: %s\n", step,
                 GifErrorString(gif->Error));
    return true;
}

int writeToSaveFile(GifFileType* gif, const GifByteType* bytes, int length) {
    auto* file = static_cast<QSaveFile*>(gif->UserData);
    return int(file->write(reinterpret_cast<const char*>(bytes), length));
}

// Writes a looping GIF89a: global palette, NETSCAPE2.0 loop count 0 (forever), and for every frame
// a graphic control extension with the delay followed by a full-size image. The file appears only
// when complete.
bool writeGif(const QString& path, const std::vector<QImage>& frames,
              const std::vector<QRgb>& palette, int delayCs) {
    QSaveFile file(path);
    int error = 0;
    GifFileType* gif =
        file.open(QIODevice::WriteOnly) ? EGifOpen(&file, writeToSaveFile, &error) : nullptr;
    if (!gif) {
        std::fprintf(stderr, "make_artwork: cannot create %s: %s\n", qPrintable(path),
                     error ? GifErrorString(error) : qPrintable(file.errorString()));
        return false;
    }
    EGifSetGifVersion(gif, true);

    std::array<GifColorType, 256> colours{};
    for (size_t i = 0; i < colours.size(); ++i) {
        colours[i] = {GifByteType(qRed(palette[i])), GifByteType(qGreen(palette[i])),
                      GifByteType(qBlue(palette[i]))};
    }
    ColorMapObject* map = GifMakeMapObject(256, colours.data());
    const int width = frames.front().width();
    const int height = frames.front().height();
    bool ok = map && !gifFailed(EGifPutScreenDesc(gif, width, height, 8, 0, map), gif, "screen");
    GifFreeMapObject(map);

    if (ok) {
        static const char netscape[] = "NETSCAPE2.0";
        const GifByteType loop[3] = {1, 0, 0}; // sub-block 1, loop count 0 = forever
        ok = !gifFailed(EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE), gif, "loop") &&
             !gifFailed(EGifPutExtensionBlock(gif, 11, netscape), gif, "loop") &&
             !gifFailed(EGifPutExtensionBlock(gif, 3, loop), gif, "loop") &&
             !gifFailed(EGifPutExtensionTrailer(gif), gif, "loop");
    }

    IndexMapper toIndex(palette);
    std::vector<GifPixelType> row(size_t(width), 0);
    for (const QImage& frame : frames) {
        if (!ok) {
            break;
        }
        GraphicsControlBlock control{};
        control.DisposalMode = DISPOSE_DO_NOT;
        control.DelayTime = delayCs;
        control.TransparentColor = NO_TRANSPARENT_COLOR;
        GifByteType extension[4];
        const size_t length = EGifGCBToExtension(&control, extension);
        ok = !gifFailed(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(length), extension), gif,
                        "frame control") &&
             !gifFailed(EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr), gif,
                        "frame header");
        for (int y = 0; ok && y < height; ++y) {
            const auto* pixels = reinterpret_cast<const QRgb*>(frame.constScanLine(y));
            for (int x = 0; x < width; ++x) {
                row[size_t(x)] = toIndex(pixels[x]);
            }
            ok = !gifFailed(EGifPutLine(gif, row.data(), width), gif, "frame rows");
        }
    }

    if (EGifCloseFile(gif, &error) != GIF_OK) {
        std::fprintf(stderr, "make_artwork: cannot finish %s: %s\n", qPrintable(path),
                     GifErrorString(error));
        ok = false;
    }
    if (ok && !file.commit()) {
        std::fprintf(stderr, "make_artwork: cannot write %s: %s\n", qPrintable(path),
                     qPrintable(file.errorString()));
        ok = false;
    }
    return ok;
}

// ---- output
// --------------------------------------------------------------------------------------

bool savePng(const QDir& dir, const QString& name, const QImage& image) {
    const QString path = dir.filePath(name);
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "make_artwork: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_artwork <output-folder>\n");
        return 2;
    }
    const QDir dir(QFile::decodeName(argv[1]));
    if (!QDir().mkpath(dir.path())) {
        std::fprintf(stderr, "make_artwork: cannot create folder %s\n", argv[1]);
        return 1;
    }

    bool ok = true;
    for (int size : {16, 32, 48, 128}) {
        const QImage icon =
            size == 16 ? render(16, 16, drawProgramIconSmall)
                       : render(size, 64, [size](QPainter& p) { drawProgramIcon(p, size); });
        ok &= savePng(dir, u"program-icon-%1.png"_s.arg(size), icon);
    }

    const std::array<Painter, 10> toolbar{
        drawScanner,          drawCopier,    drawIdCopy, drawOpenFolderIcon, drawContinuousScan,
        drawContinuousIdScan, drawMegaphone, drawCart,   drawHeadset,        drawHelp};
    for (size_t i = 0; i < toolbar.size(); ++i) {
        ok &= savePng(dir, u"toolbar-%1.png"_s.arg(i), render(32, 32, toolbar[i]));
    }

    ok &= savePng(dir, u"button-choose-background.png"_s, render(20, 20, drawFolderGlyph));
    ok &= savePng(dir, u"button-clear-background.png"_s, render(20, 20, drawBroomGlyph));

    std::vector<QImage> frames;
    for (int f = 0; f < kSpinnerFrames; ++f) {
        frames.push_back(spinnerFrame(f));
    }
    ok &= writeGif(dir.filePath(u"busy.gif"_s), frames, spinnerPalette(), kSpinnerDelayCs);

    return ok ? 0 : 1;
}
