// The application in a Wayland session, as a user meets it: a headless compositor with XWayland
// (tests/support/wayland/with-compositor.sh), pelkin-drop started with no platform chosen (it must
// pick XWayland), a reference service, and a native Wayland GTK window dragging files or text,
// driven by a virtual pointer on a 1600 x 1000 screen.
#include "ServerProcess.h"
#include "TestFiles.h"
#include "X11Driver.h"

#include <QtTest>

#include <memory>

namespace {

// A helper process, read a line at a time, killed when done with.
struct LineProcess : QProcess
{
    ~LineProcess() override
    {
        kill();
        waitForFinished(5000);
    }
    // Waits for the next line containing `marker`, skipping earlier ones.
    bool waitFor(const QByteArray &marker, int timeoutMs)
    {
        for (QDeadlineTimer deadline(timeoutMs);; waitForReadyRead(50)) {
            while (canReadLine()) {
                const QByteArray line = readLine().trimmed();
                seen += line + '\n';
                if (line.contains(marker))
                    return true;
            }
            if (deadline.hasExpired() || state() == NotRunning)
                return false;
        }
    }
    QByteArray seen;
};

const QString kit = qEnvironmentVariable("PELKIN_SOURCE_DIR") + QStringLiteral("/tests/support/wayland/");

} // namespace

class TestWaylandDrop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(!m_compositor.isEmpty(), "run under tests/support/wayland/with-compositor.sh");
        QVERIFY2(m_server.start(), m_server.errorOutput().constData());
        // The pointer: mutter's remote desktop on GNOME, a virtual pointer elsewhere.
        if (viaSensor())
            m_pointer.start(qEnvironmentVariable("PELKIN_VPTR"), QStringList{});
        else
            m_pointer.start(QStringLiteral("/usr/bin/python3"), {kit + "gnome_pointer.py"});
        QVERIFY2(m_pointer.waitFor("ready", 15000), m_pointer.seen.constData());

        // A home of its own; no platform chosen: the application picks XWayland.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_dir.filePath(QStringLiteral("home")));
        for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        m_app.setProcessEnvironment(env);
        m_app.setProcessChannelMode(QProcess::ForwardedChannels);
        m_app.start(qEnvironmentVariable("PELKIN_APP_UNDER_TEST"),
                    {m_server.url() + "/api/upload.php",
                     "pelkin-drop-wayland-" + QUuid::createUuid().toString(QUuid::Id128)});
        // Up (as an X11 client) when its main window shows; closed, it keeps
        // running and leaves the screen to the native window.
        std::optional<X11Driver::Window> main;
        QTRY_VERIFY_WITH_TIMEOUT(
            (main = X11Driver::windowOfType(m_app.processId(), "_NET_WM_WINDOW_TYPE_NORMAL")), 20000);
        X11Driver::close(main->id);
        QTRY_VERIFY_WITH_TIMEOUT(X11Driver::windowsOf(m_app.processId()).isEmpty(), 15000);
    }

    void cleanup()
    {
        // A failed step may have left the button down, in the middle of a drag.
        if (QTest::currentTestFailed())
            pointer(QStringLiteral("up"));
    }

    void dragWithoutUpload_data()
    {
        QTest::addColumn<bool>("text");
        QTest::newRow("a text drag shows no zone") << true;
        QTest::newRow("a file drag ending elsewhere leaves no zone") << false;
    }

    void dragWithoutUpload()
    {
        QFETCH(bool, text);
        const QString file = TestFiles::write(m_dir.path(), "elsewhere.txt", "not for upload\n");
        const auto source = startSource(text ? QStringList{"--text", "just some words"} : QStringList{file});
        QVERIFY(beginDrag(source.get(), true));
        if (text) {
            QVERIFY(pointer(QStringLiteral("glide 1450 0 1480 40 3 20")));
            for (QDeadlineTimer watch(700); !watch.hasExpired(); QTest::qWait(30))
                QVERIFY2(!dropZone(), "a text drag showed the drop zone");
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(dropZone().has_value(), 2000);
        }
        // Away again, and dropped in the middle of the screen.
        QVERIFY(pointer(QStringLiteral("glide 1450 0 700 600 10 15\nsleep 100\nup")));
        QVERIFY2(source->waitFor("drag-", 5000), source->seen.constData());
        QTest::qWait(text ? 500 : 3000);
        QVERIFY2(!dropZone(), "the drop zone stayed on screen after the drag ended");
        QCOMPARE(history().size(), 0);
    }

    void fileDragUploadsThroughTheZone()
    {
        const QByteArray content = "wayland " + QUuid::createUuid().toByteArray() + "\n";
        const auto source = startSource({TestFiles::write(m_dir.path(), "旅行メモ.txt", content)});
        QVERIFY(beginDrag(source.get(), viaSensor()));
        QTRY_VERIFY_WITH_TIMEOUT(dropZone().has_value(), 2000);
        const QPoint to = dropZone()->rect.center();
        const QPoint from = viaSensor() ? QPoint(1450, 0) : QPoint(840, 520);
        QVERIFY(pointer(QStringLiteral("glide %1 %2 %3 %4 8 20\nsleep 50\n"
                                       "glide %3 %4 %5 %4 2 30\nsleep 150\nup")
                            .arg(from.x()).arg(from.y()).arg(to.x() - 10).arg(to.y()).arg(to.x())));
        QVERIFY2(source->waitFor("drag-end", 5000), source->seen.constData());

        QTRY_COMPARE_WITH_TIMEOUT(history().size(), 1, 10000);
        const QJsonObject entry = history().first().toObject();
        QCOMPARE(entry.value("fileNames").toArray(), QJsonArray{QStringLiteral("旅行メモ.txt")});
        QVERIFY(entry.value("success").toBool());
        QCOMPARE(X11Driver::clipboardText(), entry.value("url").toString());
        QVERIFY(entry.value("url").toString().startsWith(QStringLiteral("http://127.0.0.1:")));

        QVERIFY2(m_server.stores(content), "the service did not store the dropped file byte for byte");
        // The result shows, then the zone goes.
        QTRY_VERIFY_WITH_TIMEOUT(!dropZone().has_value(), 6000);
    }

    void cornerClickReachesTheWindow()
    {
        if (!viaSensor())
            QSKIP("GNOME: no sensor at the corner; the headless run's close-button click is unreliable");
        const auto source = startSource({"--maximize", "--text", "corner"});
        QVERIFY2(source, "the drag source did not start");
        QVERIFY(pointer(QStringLiteral("abs 1599 0\nsleep 150\ndown\nsleep 60\nup")));
        // The window's own button-press, or, where the compositor draws the
        // title bar (KWin), its close button: the window closes.
        QVERIFY2(source->waitFor("button-press", 3000) || source->waitForFinished(1000) ||
                     source->state() == QProcess::NotRunning,
                 "the click on the corner pixel did not reach the maximised window");
    }

private:
    bool viaSensor() const { return m_compositor != QLatin1String("gnome"); }

    std::optional<X11Driver::Window> dropZone()
    {
        return X11Driver::windowOfType(m_app.processId(), "_NET_WM_WINDOW_TYPE_UTILITY");
    }

    // A native GTK window; mapped, placed (and maximised) a moment after GTK says
    // ready, and a window that moves under a pressed button starts no drag.
    std::unique_ptr<LineProcess> startSource(const QStringList &arguments)
    {
        auto source = std::make_unique<LineProcess>();
        source->start(QStringLiteral("/usr/bin/python3"), QStringList{kit + "wl_drag_source.py"} + arguments);
        if (!source->waitFor("\"ready\"", 10000))
            return nullptr;
        QTest::qWait(arguments.contains(QLatin1String("--maximize")) ? 1500 : 700);
        return source;
    }

    // Sends pointer commands, a line each, and waits for their echoes (a glide's
    // is its last step; a sleep has none).
    bool pointer(const QString &commands)
    {
        for (const QString &command : commands.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            m_pointer.write(command.toUtf8() + '\n');
            const QStringList p = command.split(QLatin1Char(' '));
            const QString echo = p[0] == QLatin1String("glide") ? "at " + p[3] + ' ' + p[4] : command;
            if (p[0] != QLatin1String("sleep") && !m_pointer.waitFor(echo.toUtf8(), 10000)) {
                qWarning("no echo of \"%s\" from the pointer", qPrintable(command));
                return false;
            }
        }
        return true;
    }

    // Pressed in the middle of the source and dragged a little; then, maybe, to
    // the top edge near the top-right corner, where the tray would be.
    bool beginDrag(LineProcess *source, bool towardsTheTray)
    {
        if (!source || !pointer(QStringLiteral("abs 800 500\nsleep 100\ndown\nsleep 100\n"
                                               "glide 800 500 840 520 8 20")))
            return false;
        if (!source->waitFor("drag-begin", 5000)) {
            qWarning("no drag began: %s", source->seen.constData());
            return false;
        }
        return !towardsTheTray || pointer(QStringLiteral("glide 840 520 1450 0 12 15\nsleep 100"));
    }

    QJsonArray history() const { return TestFiles::storedHistory(m_dir.filePath("home")); }

    QString m_compositor = qEnvironmentVariable("PELKIN_COMPOSITOR");
    QTemporaryDir m_dir;
    ServerProcess m_server;
    LineProcess m_app; // killed at the end
    LineProcess m_pointer;
};

QTEST_GUILESS_MAIN(TestWaylandDrop)
#include "tst_WaylandDrop.moc"
