// Saves the whole X screen of $DISPLAY, or one window of it, as a PNG file: the screenshot tool
// of the desktop check, so that the check needs nothing beyond Qt and the X server.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s FILE.png [WINDOW-ID]\n", argv[0]);
        return 2;
    }
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) {
        std::fprintf(stderr, "no screen\n");
        return 1;
    }
    const WId window = argc == 3 ? WId(QByteArray(argv[2]).toULongLong()) : 0;
    const QPixmap shot = screen->grabWindow(window);
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "cannot save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
