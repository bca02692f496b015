#include "console/ImageLists.h"

#include <QPainter>
#include <QPainterPath>

#include <functional>

namespace raduvuz {

namespace {

const QColor kOutline(0x3a, 0x3a, 0x3a);
const QColor kPaper(0xfb, 0xfb, 0xf6);
const QColor kBlue(0x2f, 0x6f, 0xc8);
const QColor kGreen(0x2e, 0x9a, 0x3c);
const QColor kRed(0xd2, 0x32, 0x2d);
const QColor kAmber(0xe8, 0x9a, 0x16);
const QColor kGrey(0x8a, 0x8f, 0x96);
const QColor kYellow(0xf2, 0xc7, 0x2e);

using TDraw = std::function<void(QPainter&)>;

QPixmap Paint(int size, const TDraw& draw) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // Drawings are made on a 32 x 32 grid and scaled.
    painter.scale(size / 32.0, size / 32.0);
    draw(painter);
    return pixmap;
}

QIcon Icon(const TDraw& draw) {
    QIcon icon;
    for (int size : {16, 24, 32, 48})
        icon.addPixmap(Paint(size, draw));
    return icon;
}

QPen Outline(qreal width = 1.4) {
    return QPen(kOutline, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// A sheet of paper with a folded corner and a few lines of text.
void Page(QPainter& p, const QRectF& r, bool lines = true) {
    const qreal fold = r.width() * 0.3;
    QPainterPath sheet;
    sheet.moveTo(r.left(), r.top());
    sheet.lineTo(r.right() - fold, r.top());
    sheet.lineTo(r.right(), r.top() + fold);
    sheet.lineTo(r.right(), r.bottom());
    sheet.lineTo(r.left(), r.bottom());
    sheet.closeSubpath();
    p.setPen(Outline(1.2));
    p.setBrush(kPaper);
    p.drawPath(sheet);
    p.drawLine(QPointF(r.right() - fold, r.top()), QPointF(r.right() - fold, r.top() + fold));
    p.drawLine(QPointF(r.right() - fold, r.top() + fold), QPointF(r.right(), r.top() + fold));
    if (!lines)
        return;
    p.setPen(QPen(kGrey, 1.2));
    for (qreal y = r.top() + fold + 2.5; y < r.bottom() - 2; y += 3.5)
        p.drawLine(QPointF(r.left() + 2.5, y), QPointF(r.right() - 2.5, y));
}

void Disc(QPainter& p, const QPointF& centre, qreal radius, const QColor& colour) {
    p.setPen(QPen(colour.darker(140), 1.2));
    QRadialGradient shade(centre - QPointF(radius / 3, radius / 3), radius * 1.6);
    shade.setColorAt(0, colour.lighter(130));
    shade.setColorAt(1, colour);
    p.setBrush(shade);
    p.drawEllipse(centre, radius, radius);
}

// A filled arrow from one point to another.
void Arrow(QPainter& p, QPointF from, QPointF to, const QColor& colour, qreal width = 4.0) {
    const qreal head = width * 2.0;
    QLineF back(to, from);
    back.setLength(head);
    const QPointF base = back.p2();
    QLineF side = back.normalVector();
    side.setLength(head * 0.8);
    const QPointF offset = side.p2() - side.p1();
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(from, base);
    p.setPen(QPen(colour.darker(130), 0.8));
    p.setBrush(colour);
    p.drawPolygon(QPolygonF({to, base + offset, base - offset}));
}

void Window(QPainter& p) {
    const QRectF frame(3, 4, 24, 19);
    p.setPen(Outline());
    p.setBrush(kPaper);
    p.drawRoundedRect(frame, 2, 2);
    p.setBrush(kBlue);
    p.drawRoundedRect(QRectF(3, 4, 24, 5), 2, 2);
}

void Padlock(QPainter& p, bool open, const QColor& colour) {
    p.setPen(QPen(kGrey.darker(130), 3.0, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    QPainterPath shackle;
    // An open lock lifts its shackle, whose right leg then stays out of the body.
    const qreal top = open ? 2 : 4;
    shackle.moveTo(10, 15);
    shackle.lineTo(10, top + 6);
    shackle.arcTo(QRectF(10, top, 12, 12), 180, -180);
    shackle.lineTo(22, open ? 9 : 15);
    p.drawPath(shackle);
    p.setPen(QPen(colour.darker(140), 1.2));
    QLinearGradient shade(0, 14, 0, 29);
    shade.setColorAt(0, colour.lighter(125));
    shade.setColorAt(1, colour);
    p.setBrush(shade);
    p.drawRoundedRect(QRectF(6, 14, 20, 15), 3, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(kOutline);
    p.drawEllipse(QPointF(16, 20), 2, 2);
    p.drawRect(QRectF(15.2, 20, 1.6, 5));
}

void Magnifier(QPainter& p, const QPointF& centre, qreal radius) {
    p.setPen(QPen(kOutline, 3.0, Qt::SolidLine, Qt::RoundCap));
    QLineF handle(centre, centre + QPointF(radius, radius));
    handle.setLength(radius * 2.3);
    p.drawLine(QLineF(handle.pointAt(0.45), handle.p2()));
    p.setPen(QPen(kOutline, 2.0));
    p.setBrush(QColor(0xcf, 0xe6, 0xfa));
    p.drawEllipse(centre, radius, radius);
}

void Eye(QPainter& p, const QPointF& centre) {
    QPainterPath lid;
    lid.moveTo(centre + QPointF(-8, 0));
    lid.quadTo(centre + QPointF(0, -8), centre + QPointF(8, 0));
    lid.quadTo(centre + QPointF(0, 8), centre + QPointF(-8, 0));
    p.setPen(Outline(1.2));
    p.setBrush(Qt::white);
    p.drawPath(lid);
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawEllipse(centre, 3.2, 3.2);
    p.setBrush(kOutline);
    p.drawEllipse(centre, 1.4, 1.4);
}

void Negative(QPainter& p, bool on) {
    const QRectF disc(5, 5, 22, 22);
    p.setPen(Outline(1.6));
    p.setBrush(on ? kOutline : kPaper);
    p.drawEllipse(disc);
    p.setPen(Qt::NoPen);
    p.setBrush(on ? kPaper : kOutline);
    p.drawPie(disc.adjusted(1, 1, -1, -1), 90 * 16, 180 * 16);
    if (on) {
        p.setPen(QPen(kYellow, 2.0));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(disc.adjusted(-2, -2, 2, 2));
    }
}

void DrawMain(QPainter& p, int index) {
    switch (index) {
    case 0: // hide the window
        Window(p);
        Arrow(p, {21, 12}, {21, 29}, kBlue);
        break;
    case 1: // show the window
        Window(p);
        Arrow(p, {21, 29}, {21, 12}, kGreen);
        break;
    case 2: { // stop
        p.setPen(QPen(kRed.darker(140), 1.4));
        QLinearGradient shade(0, 6, 0, 26);
        shade.setColorAt(0, kRed.lighter(130));
        shade.setColorAt(1, kRed);
        p.setBrush(shade);
        p.drawRoundedRect(QRectF(6, 6, 20, 20), 3, 3);
        break;
    }
    case 3: { // start
        p.setPen(QPen(kGreen.darker(140), 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        QLinearGradient shade(0, 5, 0, 27);
        shade.setColorAt(0, kGreen.lighter(140));
        shade.setColorAt(1, kGreen);
        p.setBrush(shade);
        p.drawPolygon(QPolygonF({QPointF(8, 5), QPointF(27, 16), QPointF(8, 27)}));
        break;
    }
    case 4: // abort
        Disc(p, {16, 16}, 12, kRed);
        p.setPen(QPen(Qt::white, 3.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(11, 11), QPointF(21, 21));
        p.drawLine(QPointF(21, 11), QPointF(11, 21));
        break;
    case 5: { // reprocess
        Page(p, QRectF(4, 2, 17, 22));
        p.setPen(QPen(kGreen, 3.2, Qt::SolidLine, Qt::FlatCap));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(13, 13, 15, 15), 100 * 16, 250 * 16);
        p.setPen(QPen(kGreen.darker(130), 0.8));
        p.setBrush(kGreen);
        p.drawPolygon(QPolygonF({QPointF(17, 10.5), QPointF(23, 14), QPointF(17, 17.5)}));
        break;
    }
    case 6: { // delete
        p.setPen(Outline());
        QLinearGradient shade(7, 0, 25, 0);
        shade.setColorAt(0, kGrey.lighter(140));
        shade.setColorAt(1, kGrey);
        p.setBrush(shade);
        p.drawPolygon(
            QPolygonF({QPointF(8, 10), QPointF(24, 10), QPointF(22, 29), QPointF(10, 29)}));
        p.drawRoundedRect(QRectF(5, 6, 22, 4), 1.5, 1.5);
        p.drawRect(QRectF(13, 3, 6, 3));
        p.setPen(QPen(kOutline, 1.3));
        for (qreal x : {12.5, 16.0, 19.5})
            p.drawLine(QPointF(x, 13), QPointF(x, 26));
        break;
    }
    case 7: { // change names
        Page(p, QRectF(3, 3, 19, 25));
        p.save();
        p.translate(21, 17);
        p.rotate(45);
        p.setPen(Outline(1.0));
        p.setBrush(kYellow);
        p.drawRect(QRectF(-2.5, -11, 5, 17));
        p.setBrush(QColor(0xf4, 0xb0, 0xa0));
        p.drawRect(QRectF(-2.5, -13, 5, 2));
        p.setBrush(QColor(0xe8, 0xcf, 0xa8));
        p.drawPolygon(QPolygonF({QPointF(-2.5, 6), QPointF(2.5, 6), QPointF(0, 11)}));
        p.restore();
        break;
    }
    case 8: // release
        Padlock(p, true, kGreen);
        break;
    case 9: { // priority
        p.setPen(Outline(1.0));
        const QColor bars[] = {kGrey.lighter(130), kAmber.lighter(120), kAmber};
        for (int i = 0; i < 3; ++i) {
            p.setBrush(bars[i]);
            const qreal h = 7 + i * 7;
            p.drawRect(QRectF(3 + i * 7, 29 - h, 6, h));
        }
        Arrow(p, {26, 28}, {26, 4}, kRed, 3.6);
        break;
    }
    case 10: // hold
        Padlock(p, false, kAmber);
        break;
    case 11: // search
        Magnifier(p, {13, 13}, 8);
        break;
    case 12: // composed preview
        Page(p, QRectF(9, 2, 17, 21));
        Page(p, QRectF(4, 6, 17, 21));
        Eye(p, {20, 24});
        break;
    case 13: { // redirect to other devices
        p.setPen(Outline());
        p.setBrush(kPaper);
        p.drawRect(QRectF(8, 4, 13, 8));
        p.setBrush(kGrey.lighter(150));
        p.drawRoundedRect(QRectF(3, 11, 23, 11), 2, 2);
        p.setBrush(kPaper);
        p.drawRect(QRectF(8, 19, 13, 8));
        p.setPen(Qt::NoPen);
        p.setBrush(kGreen);
        p.drawEllipse(QPointF(22.5, 14.5), 1.3, 1.3);
        Arrow(p, {14, 30}, {31, 20}, kBlue, 3.4);
        break;
    }
    case 14: { // composed job preview
        Page(p, QRectF(2, 3, 11, 14), false);
        Page(p, QRectF(2, 16, 11, 14), false);
        Page(p, QRectF(17, 8, 13, 17));
        Arrow(p, {11, 10}, {18, 14}, kBlue, 2.4);
        Arrow(p, {11, 23}, {18, 19}, kBlue, 2.4);
        break;
    }
    case 15: // negative preview off
        Negative(p, false);
        break;
    case 16: // negative preview on
        Negative(p, true);
        break;
    case 17: { // custom preview generation
        Page(p, QRectF(3, 2, 19, 25));
        Magnifier(p, {20, 20}, 6);
        break;
    }
    default:
        break;
    }
}

void DrawProcess(QPainter& p, int index) {
    switch (index) {
    case 0: // held
        Disc(p, {16, 16}, 13, kAmber);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(10.5, 9, 4, 14));
        p.drawRect(QRectF(17.5, 9, 4, 14));
        break;
    case 1: // transferring or sending
        Disc(p, {16, 16}, 13, kBlue);
        Arrow(p, {8, 16}, {25, 16}, Qt::white, 4.5);
        break;
    case 2: // spooling
        Disc(p, {16, 16}, 13, kGreen);
        Arrow(p, {16, 7}, {16, 23}, Qt::white, 4.5);
        p.setPen(QPen(Qt::white, 3.0));
        p.drawLine(QPointF(9, 25), QPointF(23, 25));
        break;
    case 3: // failed
        Disc(p, {16, 16}, 13, kRed);
        p.setPen(QPen(Qt::white, 4.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(11, 11), QPointF(21, 21));
        p.drawLine(QPointF(21, 11), QPointF(11, 21));
        break;
    default:
        break;
    }
}

} // namespace

QList<QIcon> MakeMainImages() {
    QList<QIcon> images;
    for (int i = 0; i < kMainImageCount; ++i)
        images << Icon([i](QPainter& p) { DrawMain(p, i); });
    return images;
}

QList<QIcon> MakeProcessImages() {
    QList<QIcon> images;
    for (int i = 0; i < kProcessImageCount; ++i)
        images << Icon([i](QPainter& p) { DrawProcess(p, i); });
    return images;
}

QPixmap DrawApplicationPicture(int size) {
    return Paint(size, [](QPainter& p) {
        Page(p, QRectF(12, 2, 15, 19), false);
        Page(p, QRectF(8, 5, 15, 19), false);
        Page(p, QRectF(4, 8, 15, 19));
        Disc(p, {22, 23}, 8, kBlue);
        Arrow(p, {17, 23}, {28, 23}, Qt::white, 3.0);
    });
}

} // namespace raduvuz
