// pelkin-test-drag-source: a Qt window that starts one QDrag, for X11 tests.
//
//   pelkin-test-drag-source [--place X,Y,W,H] [--quit-at-drop]
//                           --files PATH... | --link URL | --text TEXT
//
// The frameless window is placed at X,Y with size WxH (default 20,20,200,120;
// no window manager needed). Not "--geometry": Qt takes that as its own X11
// option before this program sees it. Press the left button inside it and move the pointer
// by more than 10 px to start the drag, e.g. with xdotool:
//   xdotool mousemove 120 80 mousedown 1 sleep 0.05 mousemove_relative -- 12 9 sleep 0.02
//           mousemove_relative -- 12 9 sleep 0.02 mousemove_relative -- 12 9 ...
// (relative moves a few ms apart, like a hand: they make the raw input events
// that absolute warps do not, and let a drag monitor ask for the types in time)
// then move to the target and `xdotool mouseup 1` to drop (or key Escape to cancel).
// Offered data: --files: the files as file:// URLs (text/uri-list and
// text/plain); --link: the URL as a link (text/uri-list with https://...);
// --text: plain text only.
// --quit-at-drop: exit as soon as the drag is over, as a small drag-out tool
// does; the drop has reached the X server, but no one is left to hand over
// its data.
// Standard output, one line each, flushed: "ready" once the window is shown,
// "drag-started <CLOCK_MONOTONIC microseconds>" just before the drag begins,
// "drag-finished <copy|move|link|ignore>" when it is over.
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

long long monotonicMicroseconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

void say(const QByteArray &line)
{
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

class DragSourceWindow : public QWidget
{
public:
    DragSourceWindow(QString kind, QStringList values, bool quitAtDrop)
        : kind(std::move(kind))
        , values(std::move(values))
        , quitAtDrop(quitAtDrop)
    {
        setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        setWindowTitle(QStringLiteral("pelkin-test-drag-source"));
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(0x30, 0x80, 0xd0));
        painter.setPen(Qt::white);
        painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("drag: ") + kind);
        if (!readySaid) {
            readySaid = true;
            say("ready");
        }
    }

    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton)
            pressPos = event->position().toPoint();
    }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (!(event->buttons() & Qt::LeftButton) || dragging ||
            (event->position().toPoint() - pressPos).manhattanLength() <
                QApplication::startDragDistance())
            return;
        dragging = true;
        auto *mime = new QMimeData;
        if (kind == QLatin1String("files")) {
            QList<QUrl> urls;
            for (const QString &path : values)
                urls.append(QUrl::fromLocalFile(path));
            mime->setUrls(urls);
        } else if (kind == QLatin1String("link")) {
            mime->setUrls({QUrl(values.value(0))});
        } else {
            mime->setText(values.value(0));
        }
        auto *drag = new QDrag(this);
        drag->setMimeData(mime);
        say("drag-started " + QByteArray::number(monotonicMicroseconds()));
        const Qt::DropAction action =
            drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::CopyAction);
        say(QByteArray("drag-finished ") + (action == Qt::CopyAction   ? "copy"
                                            : action == Qt::MoveAction ? "move"
                                            : action == Qt::LinkAction ? "link"
                                                                       : "ignore"));
        dragging = false;
        if (quitAtDrop) {
            // The drop may still be in the output buffer when exec() returns.
            QGuiApplication::sync();
            std::_Exit(0);
        }
    }

private:
    QString kind;
    QStringList values;
    QPoint pressPos;
    bool quitAtDrop = false;
    bool dragging = false;
    bool readySaid = false;
};

} // namespace

int main(int argc, char **argv)
{
    // QApplication would swallow these silently and the window would land
    // somewhere else than the caller expects.
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--geometry") == 0 || qstrcmp(argv[i], "-geometry") == 0) {
            std::fputs("pelkin-test-drag-source: use --place X,Y,W,H\n", stderr);
            return 2;
        }
    }
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QRect place(20, 20, 200, 120);
    QString kind;
    QStringList values;
    bool quitAtDrop = false;
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        if (arg == QLatin1String("--place") && !args.isEmpty()) {
            const QStringList parts = args.takeFirst().split(QLatin1Char(','));
            if (parts.size() != 4) {
                kind.clear();
                break;
            }
            place = QRect(parts[0].toInt(), parts[1].toInt(), parts[2].toInt(), parts[3].toInt());
        } else if (arg == QLatin1String("--quit-at-drop")) {
            quitAtDrop = true;
        } else if (arg == QLatin1String("--files") || arg == QLatin1String("--link") ||
                   arg == QLatin1String("--text")) {
            kind = arg.mid(2);
        } else {
            values.append(arg);
        }
    }
    if (kind.isEmpty() || values.isEmpty()) {
        std::fputs("usage: pelkin-test-drag-source [--place X,Y,W,H] [--quit-at-drop] "
                   "--files PATH... | --link URL | --text TEXT\n",
                   stderr);
        return 2;
    }
    DragSourceWindow window(kind, values, quitAtDrop);
    // A fixed size: without a window manager nothing else enforces it.
    window.setFixedSize(place.size());
    window.move(place.topLeft());
    window.show();
    return app.exec();
}
