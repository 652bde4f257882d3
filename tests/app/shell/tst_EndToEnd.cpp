// The application as a user meets it on a private X server, against the
// reference service: real file drags from other processes, driven with XTest;
// and a --background launch (as at login) showing no window until a second one.
#include "ServerProcess.h"
#include "TestFiles.h"
#include "X11Driver.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

using X11Driver::DragSource;
using X11Driver::xdotool;
Q_DECLARE_METATYPE(DragSource::Toolkit)

namespace {

// A loaded machine can take long to start Qt Quick for the first time.
constexpr int startTimeoutMs = 30000;

int mainWindowsOf(qint64 pid)
{
    const auto found = X11Driver::findWindows(QStringLiteral("^Pelkin Drop$"), pid);
    return found ? int(found->size()) : -1;
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(m_server.start(), m_server.errorOutput().constData());
        m_endpoint = m_server.url() + QStringLiteral("/api/upload.php");

        start(m_app, m_dir.filePath(QStringLiteral("home")), m_instance);
        QTRY_COMPARE_WITH_TIMEOUT(mainWindowsOf(m_app.processId()), 1, startTimeoutMs);
    }

    void cleanupTestCase()
    {
        m_app.terminate();
        m_app.waitForFinished(5000);
    }

    void cleanup()
    {
        // A failed step may have left the button down, in the middle of a drag.
        if (QTest::currentTestFailed())
            xdotool({"key", "Escape", "mouseup", "1"});
    }

    // First, which also gives the application time to settle after its start
    // (the file drags below are timed).
    void plainTextDragShowsNothing()
    {
        DragSource source(DragSource::Toolkit::gtk, {"--text", "just some words"});
        QVERIFY(source.beginDrag());
        // The monitor polls every 0.18 s; give it more than enough to be wrong.
        QVERIFY2(!QTest::qWaitFor([&] { return dropZone().has_value(); }, 700),
                 "a text drag showed the drop zone");
        QVERIFY(xdotool({"key", "Escape", "mouseup", "1"}));
        QVERIFY(source.waitForLine(QStringLiteral("drag-finished"), 5000));
    }

    void fileDragUploadsThroughTheZone_data()
    {
        QTest::addColumn<DragSource::Toolkit>("toolkit");
        // A Qt source's drag is over for it once it has sent the drop; one that
        // quits then is gone before anyone asks it for the dropped files.
        QTest::addColumn<bool>("sourceQuitsAtTheDrop");
        QTest::newRow("from a GTK source") << DragSource::Toolkit::gtk << false;
        QTest::newRow("from a Qt source") << DragSource::Toolkit::qt << false;
        QTest::newRow("from a Qt source that quits") << DragSource::Toolkit::qt << true;
    }

    void fileDragUploadsThroughTheZone()
    {
        QFETCH(DragSource::Toolkit, toolkit);
        QFETCH(bool, sourceQuitsAtTheDrop);
        const qsizetype uploadsBefore = history().size();
        const QByteArray content = "end to end " + QUuid::createUuid().toByteArray() + "\n";
        const QString path = TestFiles::write(m_dir.path(), QStringLiteral("旅行メモ.txt"), content);

        DragSource source(toolkit, sourceQuitsAtTheDrop ? QStringList{"--quit-at-drop", "--files", path}
                                                        : QStringList{"--files", path});
        QVERIFY(source.beginDrag());
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(dropZone().has_value(), 1000);
        const qint64 shownAfter = clock.elapsed();
        QVERIFY2(shownAfter <= 500, qPrintable(QString("the zone came after %1 ms").arg(shownAfter)));
        // No tray on this X server: under the top-right corner, 12 px in.
        const QRect zone = *dropZone();
        QCOMPARE(zone, QRect(1280 - 12 - 210, 24 - 4, 210, 36));

        // Over the zone in a few steps (each motion is one XdndPosition), then drop.
        const QPoint target = zone.center();
        QVERIFY(xdotool({"mousemove", "600", "300"}));
        QVERIFY(xdotool({"mousemove", QString::number(target.x() - 20), QString::number(target.y())}));
        QTest::qWait(50);
        QVERIFY(xdotool({"mousemove", QString::number(target.x()), QString::number(target.y())}));
        QTest::qWait(100);
        QVERIFY(xdotool({"mouseup", "1"}));
        QElapsedTimer sinceDrop;
        sinceDrop.start();
        if (sourceQuitsAtTheDrop)
            QTRY_COMPARE_WITH_TIMEOUT(source.process.state(), QProcess::NotRunning, 5000);
        QVERIFY(source.waitForLine(QStringLiteral("drag-finished"), 5000));

        QTRY_COMPARE_WITH_TIMEOUT(history().size(), uploadsBefore + 1, 10000);
        // Well before the seconds Qt would wait on a source that is gone.
        QVERIFY2(sinceDrop.elapsed() < 3000, "the upload started late: the zone hung on the drop");
        const QJsonObject entry = history().first().toObject();
        QCOMPARE(entry.value("fileNames").toArray(), QJsonArray{QStringLiteral("旅行メモ.txt")});
        QCOMPARE(entry.value("success").toBool(), true);
        const QString url = entry.value("url").toString();
        QVERIFY2(url.startsWith(QStringLiteral("http://127.0.0.1:")), qPrintable(url));
        QCOMPARE(X11Driver::clipboardText(), url);

        QVERIFY2(m_server.stores(content), "the service did not store the dropped file byte for byte");

        // The result shows for 1.1 s in the expanded zone, then the zone goes.
        QTRY_COMPARE_WITH_TIMEOUT(dropZone().value_or(QRect()).size(), QSize(260, 132), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(!dropZone().has_value(), 4000);
        // The application carries on; the alert with the URL waits for the user,
        // who dismisses it before the next drag (its modality refuses drops).
        QCOMPARE(m_app.state(), QProcess::Running);
        std::optional<X11Driver::Window> alert;
        QTRY_VERIFY_WITH_TIMEOUT((alert = X11Driver::windowOfType(m_app.processId(), "_NET_WM_WINDOW_TYPE_DIALOG")), 3000);
        QVERIFY(xdotool({"windowfocus", "--sync", QString::number(alert->id), "key", "Return"}));
        QTRY_VERIFY_WITH_TIMEOUT(!X11Driver::windowOfType(m_app.processId(), "_NET_WM_WINDOW_TYPE_DIALOG"), 3000);
    }

    void backgroundLaunchShowsTheWindowOnlyAtASecondLaunch()
    {
        const QString home = m_dir.filePath(QStringLiteral("background"));
        const QString instance = m_instance + QStringLiteral("-background");
        QProcess first;
        start(first, home, instance, {QStringLiteral("--background")});
        QTRY_VERIFY_WITH_TIMEOUT(
            !X11Driver::findWindows(".*", first.processId(), false).value_or(QStringList()).isEmpty(),
            startTimeoutMs);
        // Long enough for a window that was going to appear to be mapped.
        QTest::qWait(1500);
        QCOMPARE(mainWindowsOf(first.processId()), 0);
        QCOMPARE(first.state(), QProcess::Running);

        QProcess second;
        start(second, home, instance);
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(mainWindowsOf(first.processId()), 1, startTimeoutMs);
        QCOMPARE(first.state(), QProcess::Running);
        first.terminate();
        first.waitForFinished(5000);
    }

private:
    // With a home of its own: settings and history never touch the user's.
    void start(QProcess &app, const QString &home, const QString &instance,
               const QStringList &options = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home);
        for (const char *under : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
            env.remove(QString::fromLatin1(under)); // so under the home above
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::ForwardedChannels);
        app.start(QCoreApplication::applicationDirPath() + QStringLiteral("/pelkin-drop-under-test"),
                  QStringList{m_endpoint, instance} + options);
        QVERIFY(app.waitForStarted(5000));
    }

    std::optional<QRect> dropZone()
    {
        // The only tool window; without a compositor exactly the panel's size.
        if (const auto zone = X11Driver::windowOfType(m_app.processId(), "_NET_WM_WINDOW_TYPE_UTILITY"))
            return zone->rect;
        return std::nullopt;
    }

    QJsonArray history() const { return TestFiles::storedHistory(m_dir.filePath("home")); }

    QTemporaryDir m_dir;
    ServerProcess m_server;
    QProcess m_app;
    QString m_endpoint;
    QString m_instance = QStringLiteral("pelkin-drop-e2e-") + QUuid::createUuid().toString(QUuid::Id128);
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_EndToEnd.moc"
