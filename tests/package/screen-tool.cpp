// The fresh-root check's eyes, on the X server in DISPLAY:
//   pelkin-screen-tool grab WINDOW-ID OUT.png
// grab waits (up to 60 s) until the window shows more than one colour and two
// grabs a second apart agree: Qt Quick's first frame can take seconds on a
// busy machine with a cold shader cache.
//   pelkin-screen-tool compare A.png B.png MAX-SHARE
// compare counts the pixels whose colour differs by more than a small
// tolerance in any channel (anti-aliasing and hinting differ between font
// set-ups) and fails when their share exceeds MAX-SHARE (0..1).
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QThread>

#include <cstdio>
#include <cstdlib>

namespace {

bool isUniform(const QImage &image)
{
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != first)
                return false;
    return true;
}

int grab(const char *window, const char *out)
{
    bool ok = false;
    const WId id = QByteArray(window).toULongLong(&ok, 0);
    QImage previous;
    QImage image;
    for (int attempt = 0; ok && attempt < 60; ++attempt) {
        image = QGuiApplication::primaryScreen()->grabWindow(id).toImage();
        if (!image.isNull() && !isUniform(image) && image == previous)
            break;
        previous = image;
        QThread::sleep(1);
    }
    if (image.isNull() || !image.save(QString::fromLocal8Bit(out), "PNG")) {
        std::fprintf(stderr, "cannot grab window %s into %s\n", window, out);
        return 1;
    }
    return 0;
}

int compare(const char *first, const char *second, const char *maxShare)
{
    const QImage a = QImage(QString::fromLocal8Bit(first)).convertToFormat(QImage::Format_RGB32);
    const QImage b = QImage(QString::fromLocal8Bit(second)).convertToFormat(QImage::Format_RGB32);
    if (a.isNull() || b.isNull() || a.size() != b.size()) {
        std::fprintf(stderr, "screenshots differ in size: %dx%d and %dx%d\n", a.width(),
                     a.height(), b.width(), b.height());
        return 1;
    }
    constexpr int tolerance = 48;
    qint64 differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto *rowA = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const auto *rowB = reinterpret_cast<const QRgb *>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            if (std::abs(qRed(rowA[x]) - qRed(rowB[x])) > tolerance ||
                std::abs(qGreen(rowA[x]) - qGreen(rowB[x])) > tolerance ||
                std::abs(qBlue(rowA[x]) - qBlue(rowB[x])) > tolerance)
                ++differing;
        }
    }
    const double share = double(differing) / (qint64(a.width()) * a.height());
    std::printf("%.5f of the pixels differ (%lld of %dx%d)\n", share,
                static_cast<long long>(differing), a.width(), a.height());
    return share <= std::atof(maxShare) ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (mode == "grab" && argc == 4) {
        QGuiApplication app(argc, argv);
        return grab(argv[2], argv[3]);
    }
    if (mode == "compare" && argc == 5)
        return compare(argv[2], argv[3], argv[4]);
    std::fputs("usage: pelkin-screen-tool grab WINDOW-ID OUT.png\n"
               "       pelkin-screen-tool compare A.png B.png MAX-SHARE\n",
               stderr);
    return 2;
}
