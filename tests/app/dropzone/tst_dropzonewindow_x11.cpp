// The drop zone on a real X server: its hints (no focus, kept above, out of
// the task bar), the look chosen by whether a compositor runs, and real drags
// from another process.
#include "DropZoneWindow.h"
#include "X11Support.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace {

struct Free
{
    void operator()(void *p) const { std::free(p); }
};
template<typename T> using Reply = std::unique_ptr<T, Free>;

xcb_connection_t *connection()
{
    return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

xcb_atom_t atom(const char *name)
{
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection(), xcb_intern_atom(connection(), 0, uint16_t(strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The 32-bit words of a window property.
QList<quint32> windowProperty(QWidget &window, xcb_atom_t name, xcb_atom_t type)
{
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection(), xcb_get_property(connection(), 0, xcb_window_t(window.winId()), name, type, 0, 64),
        nullptr));
    if (!reply)
        return {};
    const auto *values = static_cast<const quint32 *>(xcb_get_property_value(reply.get()));
    return QList<quint32>(values, values + xcb_get_property_value_length(reply.get()) / 4);
}

// A process this test starts, and stops if it is still running.
struct Child : QProcess
{
    ~Child() override
    {
        kill();
        waitForFinished(3000);
    }
};

bool xdotool(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    return p.waitForFinished(5000) && p.exitCode() == 0;
}

} // namespace

class DropZoneWindowX11Test : public QObject
{
    Q_OBJECT

private slots:
    void hintsAndLook();
    void realDrags_data();
    void realDrags();
};

void DropZoneWindowX11Test::hintsAndLook()
{
    // A bare X server composites nothing: a flat, opaque panel, no margin.
    QVERIFY(!X11Support::compositorRunning());
    DropZoneWindow window;
    window.movePanelTo(QPoint(300, 200));
    auto check = [&](bool translucent) {
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window, 3000));
        QCOMPARE(window.isTranslucent(), translucent);
        QCOMPARE(window.shadowMargins().bottom() > 0, translucent);
        QCOMPARE(window.panelGeometry().topLeft(), QPoint(300, 200)); // the panel stays put
        // An ARGB window only where something blends it.
        Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(
            connection(), xcb_get_geometry(connection(), xcb_window_t(window.winId())), nullptr));
        QVERIFY(geometry);
        QCOMPARE(geometry->depth, translucent ? 32 : 24);
        const QList<quint32> states = windowProperty(window, atom("_NET_WM_STATE"), XCB_ATOM_ATOM);
        for (const char *state : {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER", "_NET_WM_STATE_ABOVE"})
            QVERIFY2(states.contains(atom(state)), state);
        // WM_HINTS: input hint set, and "no keyboard input".
        const QList<quint32> hints = windowProperty(window, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS);
        QVERIFY(hints.size() >= 2 && (hints[0] & 1) && hints[1] == 0);
        QVERIFY(QGuiApplication::focusWindow() != window.windowHandle());
        window.hide();
    };
    check(false);
    {
        // The look follows a compositor that starts or stops between showings.
        Child compositor;
        compositor.start(QStringLiteral("xcompmgr"), {});
        QVERIFY(compositor.waitForStarted(3000));
        QTRY_VERIFY_WITH_TIMEOUT(X11Support::compositorRunning(), 5000);
        check(true);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!X11Support::compositorRunning(), 5000);
    check(false);
}

void DropZoneWindowX11Test::realDrags_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("value"); // none: the file
    QTest::newRow("files are taken") << QStringLiteral("--files") << QString();
    QTest::newRow("text is turned away") << QStringLiteral("--text") << QStringLiteral("just words");
    QTest::newRow("a web link is turned away") << QStringLiteral("--link") << QStringLiteral("https://example.test/");
}

void DropZoneWindowX11Test::realDrags()
{
    QFETCH(QString, kind);
    QFETCH(QString, value);
    const bool accepted = value.isEmpty();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("写真 1.png"));
    QVERIFY(QFile(path).open(QIODevice::WriteOnly));

    DropZoneWindow window;
    window.movePanelTo(QPoint(500, 300));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window, 3000));
    DropZoneView &view = *window.dropView();
    QList<QList<QUrl>> drops;
    int entered = 0, ended = 0;
    view.onDropFiles = [&](const QList<QUrl> &urls) { drops.append(urls); };
    view.onDragEntered = [&] { ++entered; };
    view.onDragEnded = [&] { ++ended; };

    Child source;
    source.start(qEnvironmentVariable("PELKIN_DRAG_SOURCE"),
                 {QStringLiteral("--place"), QStringLiteral("20,20,200,120"), kind, accepted ? path : value});
    // Accumulated: a QTRY condition is evaluated more than once.
    QByteArray output;
    auto said = [&](const QByteArray &line) { return (output += source.readAllStandardOutput()).contains(line); };
    QTRY_VERIFY_WITH_TIMEOUT(said("ready"), 5000);
    // Press near the source's left edge, move far enough to start the drag,
    // then travel to the zone in small steps, as a hand would.
    QVERIFY(xdotool({"mousemove", "30", "80", "mousedown", "1", "mousemove", "45", "95", "mousemove", "60", "110"}));
    QTRY_VERIFY_WITH_TIMEOUT(said("drag-started"), 3000);
    const QPoint start(60, 110), centre = window.panelGeometry().center();
    for (int step = 1; step <= 6; ++step) {
        const QPoint at = start + (centre - start) * step / 6;
        QVERIFY(xdotool({"mousemove", QString::number(at.x()), QString::number(at.y())}));
        QTest::qWait(30);
    }
    if (accepted)
        QTRY_VERIFY_WITH_TIMEOUT(view.isDragHovering() && view.isHighlighted(), 3000);
    else
        QTest::qWait(300);
    QCOMPARE(view.isHighlighted(), accepted);
    QCOMPARE(entered, accepted ? 1 : 0);
    QVERIFY(xdotool({"mouseup", "1"}));
    QTRY_VERIFY_WITH_TIMEOUT(said("drag-finished"), 5000);
    if (accepted)
        QTRY_COMPARE_WITH_TIMEOUT(drops.size(), 1, 3000);
    else
        QTest::qWait(200);
    QCOMPARE(drops, accepted ? QList<QList<QUrl>>{{QUrl::fromLocalFile(path)}} : QList<QList<QUrl>>{});
    QCOMPARE(ended, accepted ? 1 : 0);
    QVERIFY(output.contains(accepted ? "drag-finished copy" : "drag-finished ignore"));
    QVERIFY(!view.isHighlighted() && !view.isDragHovering());
}

QTEST_MAIN(DropZoneWindowX11Test)
#include "tst_dropzonewindow_x11.moc"
