#include "resources/Images.h"

#include <QPainter>
#include <QPainterPath>
#include <functional>

#include "resources/Resources.h"

namespace res {

namespace {

using Drawing = std::function<void(QPainter&)>;

// Every image is drawn on a 16-unit square and scaled, so it stays sharp at any size.
QPixmap Render(const Drawing& draw, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 16.0, size / 16.0);
    draw(painter);
    return pixmap;
}

QIcon MakeIcon(const Drawing& draw) {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64}) icon.addPixmap(Render(draw, size));
    return icon;
}

QPen Outline(const QColor& color, double width = 1.0) {
    QPen pen(color, width);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    return pen;
}

void DrawOpen(QPainter& p) {
    // A folder with its lid opening.
    p.setPen(Outline(QColor(0x8a, 0x62, 0x10)));
    p.setBrush(QColor(0xf0, 0xc0, 0x48));
    QPainterPath back;
    back.moveTo(1.5, 3.5);
    back.lineTo(6, 3.5);
    back.lineTo(7.5, 5);
    back.lineTo(13.5, 5);
    back.lineTo(13.5, 13.5);
    back.lineTo(1.5, 13.5);
    back.closeSubpath();
    p.drawPath(back);
    p.setBrush(QColor(0xfb, 0xdc, 0x7a));
    QPainterPath lid;
    lid.moveTo(3.5, 7.5);
    lid.lineTo(15.5, 7.5);
    lid.lineTo(13.5, 13.5);
    lid.lineTo(1.5, 13.5);
    lid.closeSubpath();
    p.drawPath(lid);
}

void DrawSave(QPainter& p) {
    // A diskette: body, label and shutter.
    p.setPen(Outline(QColor(0x1d, 0x3f, 0x7a)));
    p.setBrush(QColor(0x3a, 0x6e, 0xc8));
    QPainterPath body;
    body.moveTo(1.5, 1.5);
    body.lineTo(12.5, 1.5);
    body.lineTo(14.5, 3.5);
    body.lineTo(14.5, 14.5);
    body.lineTo(1.5, 14.5);
    body.closeSubpath();
    p.drawPath(body);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4, 1.5, 7.5, 5));
    p.setBrush(QColor(0x1d, 0x3f, 0x7a));
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(9, 2.5, 1.5, 3));
    p.setBrush(QColor(0xe8, 0xee, 0xf8));
    p.setPen(Outline(QColor(0x1d, 0x3f, 0x7a)));
    p.drawRect(QRectF(3.5, 9, 9, 5.5));
}

void DrawPage(QPainter& p, double x, double y) {
    p.setPen(Outline(QColor(0x55, 0x5b, 0x66)));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(x, y, 8, 10));
    p.setPen(Outline(QColor(0x7d, 0x9c, 0xd4)));
    for (int line = 0; line < 3; ++line) {
        const double ly = y + 2.5 + line * 2.5;
        p.drawLine(QPointF(x + 2, ly), QPointF(x + 6, ly));
    }
}

void DrawCopy(QPainter& p) {
    // Two overlapping pages.
    DrawPage(p, 1.5, 1.5);
    DrawPage(p, 6.5, 4.5);
}

void DrawStart(QPainter& p) {
    // A green play triangle.
    p.setPen(Outline(QColor(0x1b, 0x6e, 0x2a)));
    p.setBrush(QColor(0x36, 0xb0, 0x4c));
    QPainterPath triangle;
    triangle.moveTo(3.5, 2);
    triangle.lineTo(14, 8);
    triangle.lineTo(3.5, 14);
    triangle.closeSubpath();
    p.drawPath(triangle);
}

void DrawStop(QPainter& p) {
    // A red square.
    p.setPen(Outline(QColor(0x8e, 0x1b, 0x1b)));
    p.setBrush(QColor(0xd6, 0x3a, 0x3a));
    p.drawRoundedRect(QRectF(2.5, 2.5, 11, 11), 1.5, 1.5);
}

void DrawWave(QPainter& p, double y, double amplitude) {
    QPainterPath wave;
    wave.moveTo(2.5, y);
    wave.cubicTo(4.5, y - amplitude, 6, y - amplitude, 8, y);
    wave.cubicTo(10, y + amplitude, 11.5, y + amplitude, 13.5, y);
    p.drawPath(wave);
}

void DrawApp(QPainter& p) {
    // A tide gauge: a deep blue disc with two white waves and a watch mark.
    p.setPen(Outline(QColor(0x0d, 0x2c, 0x54), 0.8));
    QRadialGradient sea(QPointF(6, 5), 10);
    sea.setColorAt(0, QColor(0x3f, 0x8f, 0xd8));
    sea.setColorAt(1, QColor(0x12, 0x45, 0x8a));
    p.setBrush(sea);
    p.drawEllipse(QRectF(0.8, 0.8, 14.4, 14.4));
    p.setBrush(Qt::NoBrush);
    p.setPen(Outline(Qt::white, 1.4));
    DrawWave(p, 8.5, 2.0);
    p.setPen(Outline(QColor(0xb8, 0xdc, 0xff), 1.1));
    DrawWave(p, 11.5, 1.4);
    p.setPen(Outline(QColor(0xff, 0xd1, 0x4a), 1.2));
    p.drawLine(QPointF(8, 2.6), QPointF(8, 4.6));
}

void DrawCapturing(QPainter& p) {
    // A green light with a pulse through it.
    p.setPen(Outline(QColor(0x1b, 0x6e, 0x2a)));
    p.setBrush(QColor(0x3c, 0xc0, 0x55));
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setPen(Outline(Qt::white, 1.4));
    QPainterPath pulse;
    pulse.moveTo(3, 8.5);
    pulse.lineTo(5.5, 8.5);
    pulse.lineTo(7, 4.5);
    pulse.lineTo(9, 12);
    pulse.lineTo(10.5, 8.5);
    pulse.lineTo(13, 8.5);
    p.drawPath(pulse);
}

void DrawStopped(QPainter& p) {
    // A grey light with a pause mark.
    p.setPen(Outline(QColor(0x5a, 0x5f, 0x66)));
    p.setBrush(QColor(0xa9, 0xaf, 0xb7));
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(5.5, 5, 1.8, 6));
    p.drawRect(QRectF(8.7, 5, 1.8, 6));
}

}  // namespace

QIcon BitmapImage(int bitmapId, int image) {
    if (bitmapId != kToolbarBitmap) return {};
    switch (image) {
        case kImageOpen: return MakeIcon(DrawOpen);
        case kImageSave: return MakeIcon(DrawSave);
        case kImageStart: return MakeIcon(DrawStart);
        case kImageStop: return MakeIcon(DrawStop);
        case kImageCopy: return MakeIcon(DrawCopy);
        default: return {};
    }
}

QIcon Icon(int iconId) {
    switch (iconId) {
        case kAppIcon: return MakeIcon(DrawApp);
        case kCapturingIcon: return MakeIcon(DrawCapturing);
        case kStoppedIcon: return MakeIcon(DrawStopped);
        default: return {};
    }
}

QPixmap ProductPicture(int size) { return Render(DrawApp, size); }

}  // namespace res
