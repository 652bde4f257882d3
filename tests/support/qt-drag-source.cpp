// pelkin-test-drag-source: a frameless Qt window that starts one QDrag, for X11 tests.
//
//   pelkin-test-drag-source [--place X,Y,W,H] [--quit-at-drop]
//                           --files PATH... | --link URL | --text TEXT
//
// The window sits at X,Y, W x H (default 20,20,200,120; no window manager
// needed). Press the left button in it and move by more than 10 px to drag
// (X11Driver::DragSource::beginDrag); `xdotool mouseup 1` drops, Escape cancels.
// --files offers file:// URLs, --link one URL, --text plain text only.
// --quit-at-drop exits as soon as the drag is over, as a small drag-out tool
// does: the drop has reached the X server, but no one is left to hand over
// its data. Prints, flushed: "ready" once shown, "drag-started <CLOCK_MONOTONIC
// microseconds>" just before the drag, "drag-finished <copy|move|link|ignore>".
#include <QApplication>
#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QDrag>
#include <QMetaEnum>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

namespace {

QString kind;
QStringList values;
bool quitAtDrop = false;

void say(const QByteArray &line)
{
    std::printf("%s\n", line.constData());
    std::fflush(stdout);
}

class DragSourceWindow : public QWidget
{
protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter(this).fillRect(rect(), QColor(0x30, 0x80, 0xd0));
        if (!std::exchange(readySaid, true))
            say("ready");
    }

    void mousePressEvent(QMouseEvent *event) override { pressPos = event->position().toPoint(); }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (!(event->buttons() & Qt::LeftButton) || dragging ||
            (event->position().toPoint() - pressPos).manhattanLength() < QApplication::startDragDistance())
            return;
        dragging = true;
        QList<QUrl> urls;
        for (const QString &value : values)
            urls.append(kind == QLatin1String("files") ? QUrl::fromLocalFile(value) : QUrl(value));
        auto *mime = new QMimeData;
        if (kind == QLatin1String("text"))
            mime->setText(values[0]);
        else
            mime->setUrls(urls);
        auto *drag = new QDrag(this);
        drag->setMimeData(mime);
        // QDeadlineTimer's clock is CLOCK_MONOTONIC.
        say("drag-started " + QByteArray::number(QDeadlineTimer::current(Qt::PreciseTimer).deadlineNSecs() / 1000));
        const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::CopyAction);
        // CopyAction -> "copy", ..., IgnoreAction -> "ignore"
        say("drag-finished " + QByteArray(QMetaEnum::fromType<Qt::DropAction>().valueToKey(action)).chopped(6).toLower());
        dragging = false;
        if (quitAtDrop) {
            // The drop may still be in the output buffer when exec() returns.
            QGuiApplication::sync();
            std::_Exit(0);
        }
    }

private:
    QPoint pressPos;
    bool dragging = false;
    bool readySaid = false;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{"place", "", "X,Y,W,H", "20,20,200,120"}, {"quit-at-drop", ""}, {"files", ""},
                       {"link", ""}, {"text", ""}});
    parser.process(app);
    for (const char *option : {"files", "link", "text"}) {
        if (parser.isSet(option))
            kind = QLatin1String(option);
    }
    values = parser.positionalArguments();
    quitAtDrop = parser.isSet("quit-at-drop");
    QList<int> place;
    for (const QString &part : parser.value("place").split(QLatin1Char(',')))
        place.append(part.toInt());
    if (kind.isEmpty() || values.isEmpty() || place.size() != 4) {
        std::fputs("usage: pelkin-test-drag-source [--place X,Y,W,H] [--quit-at-drop] "
                   "--files PATH... | --link URL | --text TEXT\n", stderr);
        return 2;
    }
    DragSourceWindow window;
    window.setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    window.setWindowTitle(QStringLiteral("pelkin-test-drag-source"));
    // A fixed size: without a window manager nothing else enforces it.
    window.setFixedSize(place[2], place[3]);
    window.move(place[0], place[1]);
    window.show();
    return app.exec();
}
