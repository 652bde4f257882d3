// The fresh-root check's eyes on DISPLAY. grab: waits (60 s at most) for a window of more than one
// colour whose grabs a second apart agree (a first Qt Quick frame can be slow). compare: fails when
// over MAX-SHARE of the pixels differ by over 48 in a channel (fonts anti-alias differently).
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QThread>

int main(int argc, char **argv)
{
    const QByteArray mode = argc > 1 ? argv[1] : "";
    const auto rgb = [](const QImage &i) { return i.convertToFormat(QImage::Format_RGB32); };
    if (mode == "grab" && argc == 4) {
        QGuiApplication app(argc, argv);
        const WId id = QByteArray(argv[2]).toULongLong(nullptr, 0);
        QImage previous, image, flat;
        for (int attempt = 0; id && attempt < 60; ++attempt, QThread::sleep(1), previous = image) {
            image = rgb(app.primaryScreen()->grabWindow(id).toImage());
            (flat = QImage(image.size(), image.format()))
                .fill(image.isNull() ? 0 : image.pixel(0, 0));
            if (!image.isNull() && image != flat && image == previous)
                break;
        }
        return !image.isNull() && image.save(argv[3], "PNG") ? 0 : 1;
    }
    if (mode != "compare" || argc != 5)
        return qWarning("usage: pelkin-screen-tool grab WINDOW OUT.png | compare A B SHARE"), 2;
    const QImage a = rgb(QImage(argv[2])), b = rgb(QImage(argv[3]));
    if (a.isNull() || a.size() != b.size())
        return qWarning("screenshots differ in size"), 1;
    qint64 differing = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            differing += qAbs(qRed(p) - qRed(q)) > 48 || qAbs(qGreen(p) - qGreen(q)) > 48 ||
                         qAbs(qBlue(p) - qBlue(q)) > 48;
        }
    const double share = double(differing) / (qint64(a.width()) * a.height());
    qInfo("%.5f of the pixels differ", share);
    return share <= QByteArray(argv[4]).toDouble() ? 0 : 1;
}
