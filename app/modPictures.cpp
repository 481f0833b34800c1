#include "app/modPictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

namespace modPictures
{
namespace
{

// Paints on a logical 16 x 16 canvas, scaled to the pixmap's size, so that
// one drawing serves every size of the icon.
QPixmap Paint(int size, const std::function<void(QPainter &)> &draw)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 16.0, size / 16.0);
    draw(p);
    return pixmap;
}

QIcon Icon(const std::function<void(QPainter &)> &draw, std::initializer_list<int> sizes)
{
    QIcon icon;
    for (int size : sizes)
        icon.addPixmap(Paint(size, draw));
    return icon;
}

// A closed outline through the given points.
QPainterPath Outline(std::initializer_list<QPointF> points)
{
    QPainterPath path;
    path.addPolygon(QPolygonF(QList<QPointF>(points)));
    path.closeSubpath();
    return path;
}

void DrawFolder(QPainter &p)
{
    const QColor edge(0x8a, 0x62, 0x0a);
    p.setPen(QPen(edge, 0.8));
    // Back of the folder with its tab.
    const QPainterPath back =
        Outline({{1.5, 3.5}, {6, 3.5}, {7.5, 5}, {13.5, 5}, {13.5, 13.5}, {1.5, 13.5}});
    p.setBrush(QColor(0xe8, 0xb8, 0x3c));
    p.drawPath(back);
    // A sheet of paper sticking out.
    p.setBrush(Qt::white);
    p.setPen(QPen(QColor(0x90, 0x90, 0x90), 0.6));
    p.drawRect(QRectF(3.5, 6, 8.5, 5));
    // The open front flap, tilted towards the viewer.
    const QPainterPath front = Outline({{1.5, 13.5}, {3.8, 7.5}, {15.3, 7.5}, {13.5, 13.5}});
    QLinearGradient fill(0, 7.5, 0, 13.5);
    fill.setColorAt(0, QColor(0xff, 0xdc, 0x6a));
    fill.setColorAt(1, QColor(0xf0, 0xb4, 0x28));
    p.setBrush(fill);
    p.setPen(QPen(edge, 0.8));
    p.drawPath(front);
}

void DrawWarning(QPainter &p)
{
    const QPainterPath triangle = Outline({{8, 1.2}, {15.2, 14.5}, {0.8, 14.5}});
    p.setPen(QPen(QColor(0x9a, 0x70, 0x00), 0.9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(0xff, 0xd2, 0x1f));
    p.drawPath(triangle);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    const QPainterPath bar = Outline({{7.0, 5.2}, {9.0, 5.2}, {8.5, 10.3}, {7.5, 10.3}});
    p.drawPath(bar);
    p.drawEllipse(QPointF(8, 12.3), 1.05, 1.05);
}

void DrawAbort(QPainter &p)
{
    QRadialGradient fill(QPointF(6, 5), 9);
    fill.setColorAt(0, QColor(0xff, 0x6a, 0x5a));
    fill.setColorAt(1, QColor(0xc8, 0x10, 0x10));
    p.setPen(QPen(QColor(0x80, 0x00, 0x00), 0.8));
    p.setBrush(fill);
    p.drawEllipse(QPointF(8, 8), 7.1, 7.1);
    p.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(5.2, 5.2), QPointF(10.8, 10.8));
    p.drawLine(QPointF(10.8, 5.2), QPointF(5.2, 10.8));
}

void DrawInfo(QPainter &p)
{
    // A round bubble with its tail at the lower left.
    QPainterPath bubble;
    bubble.addEllipse(QPointF(8.6, 7), 6.8, 6.0);
    const QPainterPath tail = Outline({{3.6, 10.5}, {1.0, 15.2}, {7.0, 12.4}});
    bubble = bubble.united(tail);
    p.setPen(QPen(QColor(0x6a, 0x86, 0xb0), 0.8));
    p.setBrush(Qt::white);
    p.drawPath(bubble);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1c, 0x5c, 0xd6));
    p.drawEllipse(QPointF(8.6, 3.7), 1.1, 1.1);
    const QPainterPath stem = Outline({{7.0, 5.8},
                                       {9.6, 5.8},
                                       {9.6, 10.0},
                                       {10.6, 10.0},
                                       {10.6, 11.0},
                                       {6.8, 11.0},
                                       {6.8, 10.0},
                                       {7.8, 10.0},
                                       {7.8, 6.8},
                                       {7.0, 6.8}});
    p.drawPath(stem);
}

void DrawProgram(QPainter &p)
{
    // A sheet of header lines...
    p.setPen(QPen(QColor(0x50, 0x5a, 0x68), 0.6));
    p.setBrush(QColor(0xfa, 0xfa, 0xf6));
    p.drawRoundedRect(QRectF(2.5, 0.8, 10.5, 14.2), 1.0, 1.0);
    p.setPen(QPen(QColor(0xa8, 0xb2, 0xc0), 0.8));
    for (double y = 3.2; y < 14; y += 2.0)
        p.drawLine(QPointF(4.3, y), QPointF(11.2, y));
    // ...with the pointer line marked...
    p.setPen(QPen(QColor(0xd0, 0x3a, 0x2a), 1.2));
    p.drawLine(QPointF(4.3, 9.2), QPointF(11.2, 9.2));
    // ...and a green arrow that winds it back up the page.
    p.setPen(QPen(QColor(0x1f, 0x8a, 0x3c), 1.6, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    QPainterPath arc;
    arc.moveTo(12.0, 13.0);
    arc.cubicTo(16.2, 11.5, 16.2, 5.0, 12.6, 3.8);
    p.drawPath(arc);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1f, 0x8a, 0x3c));
    const QPainterPath head = Outline({{10.2, 3.6}, {13.6, 1.6}, {13.4, 5.9}});
    p.drawPath(head);
}

} // namespace

QIcon FolderPicture()
{
    return Icon(DrawFolder, {16, 32});
}

QIcon LogIcon(const QString &key)
{
    if (key == QLatin1String("warning"))
        return Icon(DrawWarning, {16, 32});
    if (key == QLatin1String("abort"))
        return Icon(DrawAbort, {16, 32});
    if (key == QLatin1String("info"))
        return Icon(DrawInfo, {16, 32});
    return {};
}

QIcon ProgramIcon()
{
    return Icon(DrawProgram, {16, 24, 32, 48, 64, 128, 256});
}

} // namespace modPictures
