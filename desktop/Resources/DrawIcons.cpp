// Draws the program's four icons as PNG files into the folder given as the only argument:
// a hand-held terminal with a signal (program, tray and about icon), a small car (start), a
// stop sign (stop) and a gear (settings). Run it with `cmake --build build --target desktop_icons`
// and commit the pictures; the program itself only reads them from its resources.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <cstdio>
#include <functional>

namespace {

constexpr int kSize = 128;

QImage canvas()
{
    QImage image(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void drawTerminal(QPainter &p)
{
    // Body of the hand-held with a screen and a key pad.
    QLinearGradient body(0, 10, 0, 120);
    body.setColorAt(0, QColor(70, 90, 120));
    body.setColorAt(1, QColor(30, 40, 60));
    p.setPen(QPen(QColor(20, 25, 35), 3));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(18, 28, 56, 96), 12, 12);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(150, 220, 140));
    p.drawRoundedRect(QRectF(26, 38, 40, 34), 4, 4);
    p.setBrush(QColor(40, 110, 60));
    for (int line = 0; line < 3; ++line)
        p.drawRect(QRectF(30, 44 + line * 9, 24 - line * 6, 4));
    p.setBrush(QColor(220, 225, 235));
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col)
            p.drawRoundedRect(QRectF(27 + col * 13, 80 + row * 13, 10, 9), 2, 2);
    // Radio waves from the top corner.
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 3; ++i) {
        p.setPen(QPen(QColor(255, 150, 0), 5, Qt::SolidLine, Qt::RoundCap));
        const qreal r = 14 + i * 12;
        p.drawArc(QRectF(78 - r, 44 - r, 2 * r, 2 * r), 5 * 16, 80 * 16);
    }
}

void drawCar(QPainter &p)
{
    QPainterPath body;
    body.moveTo(10, 86);
    body.lineTo(10, 66);
    body.quadTo(12, 58, 24, 56);
    body.lineTo(38, 54);
    body.lineTo(52, 34);
    body.quadTo(56, 30, 64, 30);
    body.lineTo(90, 30);
    body.quadTo(98, 30, 102, 38);
    body.lineTo(110, 54);
    body.quadTo(118, 56, 118, 66);
    body.lineTo(118, 86);
    body.closeSubpath();
    QLinearGradient paint(0, 30, 0, 90);
    paint.setColorAt(0, QColor(80, 200, 90));
    paint.setColorAt(1, QColor(20, 120, 40));
    p.setPen(QPen(QColor(15, 70, 25), 3));
    p.setBrush(paint);
    p.drawPath(body);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 235, 255));
    QPolygonF window;
    window << QPointF(48, 54) << QPointF(58, 38) << QPointF(76, 38) << QPointF(76, 54);
    p.drawPolygon(window);
    QPolygonF rear;
    rear << QPointF(82, 54) << QPointF(82, 38) << QPointF(92, 38) << QPointF(100, 54);
    p.drawPolygon(rear);
    for (qreal x : {34.0, 94.0}) {
        p.setBrush(QColor(30, 30, 30));
        p.drawEllipse(QPointF(x, 88), 15, 15);
        p.setBrush(QColor(190, 190, 190));
        p.drawEllipse(QPointF(x, 88), 6, 6);
    }
}

void drawStop(QPainter &p)
{
    QPolygonF octagon;
    for (int i = 0; i < 8; ++i) {
        const qreal angle = qDegreesToRadians(22.5 + 45.0 * i);
        octagon << QPointF(64 + 56 * qCos(angle), 64 + 56 * qSin(angle));
    }
    p.setPen(QPen(Qt::white, 6));
    p.setBrush(QColor(210, 30, 30));
    p.drawPolygon(octagon);
    // A white bar across, the sign's message without words.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(28, 56, 72, 16), 4, 4);
}

void drawGear(QPainter &p)
{
    QPainterPath gear;
    const int teeth = 8;
    for (int i = 0; i < teeth * 4; ++i) {
        const qreal angle = qDegreesToRadians(360.0 * i / (teeth * 4));
        const qreal r = (i % 4 == 1 || i % 4 == 2) ? 56 : 44;
        const QPointF point(64 + r * qCos(angle), 64 + r * qSin(angle));
        if (i == 0)
            gear.moveTo(point);
        else
            gear.lineTo(point);
    }
    gear.closeSubpath();
    gear.addEllipse(QPointF(64, 64), 18, 18);
    gear.setFillRule(Qt::OddEvenFill);
    QLinearGradient metal(0, 8, 0, 120);
    metal.setColorAt(0, QColor(170, 180, 195));
    metal.setColorAt(1, QColor(80, 90, 110));
    p.setPen(QPen(QColor(45, 50, 60), 3));
    p.setBrush(metal);
    p.drawPath(gear);
}

bool save(const QString &folder, const char *name, const std::function<void(QPainter &)> &draw)
{
    QImage image = canvas();
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        draw(painter);
    }
    const QString path = QDir(folder).filePath(QString::fromLatin1(name));
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const bool ok = save(folder, "pellamor2.png", drawTerminal) && save(folder, "car.png", drawCar)
        && save(folder, "warning.png", drawStop) && save(folder, "settings.png", drawGear);
    return ok ? 0 : 1;
}
