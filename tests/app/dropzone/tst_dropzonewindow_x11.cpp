// The drop zone on a real X server: its hints (no focus, kept above, out of
// the task bar), the look chosen by whether a compositor runs, and real drags
// from another process.
#include "DropZoneWindow.h"
#include "X11Driver.h"
#include "X11Support.h"

#include <QCursor>
#include <QDir>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>

class DropZoneWindowX11Test : public QObject
{
    Q_OBJECT

private slots:
    void hintsAndLook()
    {
        // A bare X server composites nothing: a flat, opaque panel, no margin.
        QVERIFY(!X11Support::compositorRunning());
        const QString screenshots = qEnvironmentVariable("PELKIN_BINARY_DIR") + "/screenshots/dropzone/";
        QVERIFY(QDir().mkpath(screenshots));
        DropZoneWindow window;
        window.movePanelTo(QPoint(300, 200));
        auto check = [&](bool translucent) {
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window, 3000));
            QCOMPARE(window.isTranslucent(), translucent);
            QCOMPARE(window.shadowMargins().bottom() > 0, translucent);
            QCOMPARE(window.panelGeometry().topLeft(), QPoint(300, 200)); // the panel stays put
            const X11Driver::Window shown = X11Driver::windowsOf(QCoreApplication::applicationPid()).value(0);
            QCOMPARE(shown.id, quint32(window.winId()));
            QCOMPARE(shown.depth, translucent ? 32 : 24); // ARGB only where something blends it
            const QList<quint32> states = X11Driver::property(shown.id, "_NET_WM_STATE");
            for (const char *state : {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER", "_NET_WM_STATE_ABOVE"})
                QVERIFY2(states.contains(X11Driver::atom(state)), state);
            // WM_HINTS: input hint set, and "no keyboard input".
            const QList<quint32> hints = X11Driver::property(shown.id, "WM_HINTS");
            QVERIFY(hints.size() >= 2 && (hints[0] & 1) && hints[1] == 0);
            QVERIFY(QGuiApplication::focusWindow() != window.windowHandle());
            // Where something blends them the panel's corners are see-through (a
            // flat panel is opaque by its depth), and it lights up under a drag.
            const QPoint inside(window.shadowMargins().left() + 3, window.shadowMargins().top() + 3);
            const QImage idle = window.grab().toImage();
            QVERIFY(!translucent || qAlpha(idle.pixel(inside - QPoint(3, 3))) < 128);
            QMimeData files;
            files.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.png"))});
            QVERIFY(window.dropView()->draggingEntered(&files));
            QTRY_VERIFY_WITH_TIMEOUT(!window.dropView()->isAnimating(), 2000);
            const QImage lit = window.grab().toImage();
            QVERIFY(lit.pixel(inside) != idle.pixel(inside));
            QVERIFY(lit.save(screenshots + (translucent ? "translucent" : "flat") + "-highlighted.png"));
            window.dropView()->draggingExited();
            window.hide();
        };
        check(false);
        {
            // The look follows a compositor that starts or stops between showings.
            QProcess compositor;
            compositor.start(QStringLiteral("xcompmgr"), {});
            QVERIFY(compositor.waitForStarted(3000));
            QTRY_VERIFY_WITH_TIMEOUT(X11Support::compositorRunning(), 5000);
            check(true);
            compositor.kill();
            QVERIFY(compositor.waitForFinished(3000));
        }
        QTRY_VERIFY_WITH_TIMEOUT(!X11Support::compositorRunning(), 5000);
        check(false);
    }

    void realDrags_data()
    {
        QTest::addColumn<QStringList>("arguments");
        const QString file = dir.filePath(QStringLiteral("写真 1.png"));
        QVERIFY(QFile(file).open(QIODevice::WriteOnly));
        QTest::newRow("files are taken") << QStringList{"--files", file};
        QTest::newRow("a path as text is turned away") << QStringList{"--text", file};
        QTest::newRow("a web link is turned away") << QStringList{"--link", "https://example.test/"};
    }

    void realDrags()
    {
        QFETCH(QStringList, arguments);
        const bool accepted = arguments[0] == QLatin1String("--files");
        DropZoneWindow window;
        window.movePanelTo(QPoint(500, 300));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window, 3000));
        DropZoneView &view = *window.dropView();
        QList<QList<QUrl>> drops;
        QString events; // E entered, X ended
        view.onDropFiles = [&](const QList<QUrl> &urls) { drops.append(urls); };
        view.onDragEntered = [&] { events += u'E'; };
        view.onDragEnded = [&] { events += u'X'; };

        X11Driver::DragSource source(X11Driver::DragSource::Toolkit::qt, arguments);
        QVERIFY(source.beginDrag());
        // On to the zone in small steps, as a hand would.
        const QPoint start = QCursor::pos(), centre = window.panelGeometry().center();
        for (int step = 1; step <= 6; ++step) {
            const QPoint at = start + (centre - start) * step / 6;
            QVERIFY(X11Driver::xdotool({"mousemove", QString::number(at.x()), QString::number(at.y())}));
            QTest::qWait(30);
        }
        // A refused drag is watched a while: it must not light the zone up.
        QCOMPARE(QTest::qWaitFor([&] { return view.isDragHovering() && view.isHighlighted(); }, accepted ? 3000 : 300),
                 accepted);
        QCOMPARE(events, accepted ? "E" : "");
        QVERIFY(X11Driver::xdotool({"mouseup", "1"}));
        QVERIFY(source.waitForLine("drag-finished", 5000));
        QCOMPARE(QTest::qWaitFor([&] { return !drops.isEmpty(); }, accepted ? 3000 : 200), accepted);
        QCOMPARE(drops, accepted ? QList<QList<QUrl>>{{QUrl::fromLocalFile(arguments[1])}} : QList<QList<QUrl>>{});
        QCOMPARE(events, accepted ? "EX" : "");
        QCOMPARE(*source.line("drag-finished"), QString(accepted ? "drag-finished copy" : "drag-finished ignore"));
        QVERIFY(!view.isHighlighted() && !view.isDragHovering());
    }

private:
    QTemporaryDir dir;
};

QTEST_MAIN(DropZoneWindowX11Test)
#include "tst_dropzonewindow_x11.moc"
