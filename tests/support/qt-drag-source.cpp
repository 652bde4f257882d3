// pelkin-test-drag-source [--quit-at-drop] --files PATH... | --link URL | --text TEXT
// A frameless Qt window at 20,20, 200 x 120 that starts one QDrag, for X11 tests
// (X11Driver::DragSource): press in it and move by more than 10 px. --quit-at-drop exits as
// soon as the drag is over, as a small drag-out tool does: the drop has reached the X server,
// but no one is left to hand over its data. Prints, flushed: "ready" once shown, "drag-started
// <CLOCK_MONOTONIC microseconds>" just before the drag, "drag-finished <copy|move|link|ignore>".
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
    parser.addOptions({{"quit-at-drop", ""}, {"files", ""}, {"link", ""}, {"text", ""}});
    parser.process(app);
    for (const char *option : {"files", "link", "text"}) {
        if (parser.isSet(option))
            kind = QLatin1String(option);
    }
    values = parser.positionalArguments();
    quitAtDrop = parser.isSet("quit-at-drop");
    if (kind.isEmpty() || values.isEmpty()) {
        std::fputs("usage: pelkin-test-drag-source [--quit-at-drop] "
                   "--files PATH... | --link URL | --text TEXT\n", stderr);
        return 2;
    }
    DragSourceWindow window;
    window.setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    // A fixed size: without a window manager nothing else enforces it.
    window.setFixedSize(200, 120);
    window.move(20, 20);
    window.show();
    return app.exec();
}
