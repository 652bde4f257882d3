// Real drags under a private Xvfb: a Qt and a GTK 3 drag source, driven with
// XTest through xdotool, watched by a monitor on its own X11 connection.
#include "DragTypes.h"
#include "GlobalDragMonitor.h"
#include "TestFiles.h"
#include "X11DragEventSource.h"
#include "X11Driver.h"

#include <QtTest>

using X11Driver::DragSource;
using X11Driver::xdotool;
using Toolkit = DragSource::Toolkit;
Q_DECLARE_METATYPE(Toolkit)

namespace {

constexpr int reportTimeoutMs = 1500;
// A start is due at most 100 ms (the wait for the source's types) after the
// drag began; the rest is slack for a loaded machine.
constexpr qint64 startDeadlineMs = 100 + 220;
constexpr int quietMs = 400; // how long "nothing happened" is watched for
constexpr int handSteps = 20; // the hand moves on until well outside the source

// The drag sources stamp their lines with the same clock, CLOCK_MONOTONIC.
qint64 monotonicMicroseconds()
{
    return QDeadlineTimer::current(Qt::PreciseTimer).deadlineNSecs() / 1000;
}

// Reads the source's lines without an event loop, as a busy main thread would.
bool waitBlocked(DragSource &source, const QString &prefix)
{
    while (!source.line(prefix) && source.process.waitForReadyRead(5000)) {
    }
    return source.line(prefix).has_value();
}

// A monitor on its own X11 source, with what it reported: the starts (types
// and time), the ends, and the releases the source passed on at all.
struct Watch
{
    Watch()
    {
        monitor.onDragStart = [this](const QStringList &types) {
            starts.append(types);
            startTimes.append(monotonicMicroseconds());
        };
        monitor.onDragEnd = [this] { ++ends; };
        QObject::connect(x11.get(), &DragEventSource::released, &monitor, [this] { ++releases; });
    }
    std::shared_ptr<X11DragEventSource> x11 = std::make_shared<X11DragEventSource>();
    GlobalDragMonitor monitor{x11};
    QList<QStringList> starts;
    QList<qint64> startTimes;
    int ends = 0;
    int releases = 0;
};

} // namespace

class TestX11DragMonitor : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QVERIFY(GlobalDragMonitor().isAvailable()); // the platform's own source is X11's
        files = QStringList{"--files", TestFiles::write(dir.path(), "写真 1.txt", "x")};
        QVERIFY(!files[1].isEmpty());
    }

    void cleanup()
    {
        // Never leave the XTest button or key down for the next test.
        xdotool({"keyup", "Escape", "mouseup", "1"});
    }

    void dragIsReportedWithItsTypes_data()
    {
        QTest::addColumn<Toolkit>("toolkit");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("blockedMs");
        QTest::addColumn<bool>("escape"); // ended by Escape, after clicks and keys that end nothing
        for (const Toolkit toolkit : {Toolkit::qt, Toolkit::gtk}) {
            const char *kit = toolkit == Toolkit::gtk ? "gtk" : "qt";
            QTest::addRow("%s files, Escape", kit) << toolkit << files << 0 << true;
            QTest::addRow("%s web link", kit) << toolkit << QStringList{"--link", "https://example.org/a?b=1"} << 0 << false;
            QTest::addRow("%s text", kit) << toolkit << QStringList{"--text", "こんにちは"} << 0 << false;
            // As at application start-up, when windows and QML load: the main
            // thread is blocked as a drag starts, so the ownership change is read late.
            for (const int blockedMs : {300, 800})
                QTest::addRow("%s files, blocked %d ms", kit, blockedMs) << toolkit << files << blockedMs << false;
        }
    }

    void dragIsReportedWithItsTypes()
    {
        QFETCH(Toolkit, toolkit);
        QFETCH(QStringList, arguments);
        QFETCH(int, blockedMs);
        QFETCH(bool, escape);
        const bool isFile = arguments == files;
        Watch w;
        DragSource source(toolkit, arguments);
        QVERIFY(source.waitForLine("ready"));
        if (escape) {
            // Clicks without a drag, in the source window and outside it, and
            // Escape: nothing started, so nothing ends, and nothing is even passed on.
            QVERIFY(xdotool({"mousemove", "120", "80", "click", "1", "mousemove", "700", "500", "click", "1",
                             "key", "Escape"}));
            QTest::qWait(500); // and no double click with the drag's press
        }
        QProcess gesture;
        gesture.start(QStringLiteral("xdotool"), X11Driver::dragGesture(handSteps));
        QVERIFY(blockedMs ? waitBlocked(source, "drag-started") : source.waitForLine("drag-started", 5000));
        QThread::msleep(blockedMs);
        const qint64 dueFrom = blockedMs ? monotonicMicroseconds()
                                         : source.line("drag-started")->section(' ', 1).toLongLong();

        QTRY_COMPARE_WITH_TIMEOUT(w.starts.size(), 1, reportTimeoutMs);
        const QStringList types = w.starts.first();
        QVERIFY2(!types.isEmpty() && DragTypes::containsFileType(types) == isFile,
                 qPrintable(types.join(' ')));
        QCOMPARE(types.contains(QStringLiteral("text/uri-list")), isFile);
        const qint64 delayMs = (w.startTimes.first() - dueFrom) / 1000;
        QVERIFY2(delayMs >= 0 && delayMs <= startDeadlineMs, qPrintable(QString::number(delayMs)));
        QTRY_COMPARE_WITH_TIMEOUT(gesture.state(), QProcess::NotRunning, 10000);
        QCOMPARE(gesture.exitCode(), 0);
        QCOMPARE(w.ends, 0);

        if (escape) {
            // Other keys and a right click (the left button still held) end nothing
            // either, and are not passed on: they would wake the main thread for nothing.
            QVERIFY(xdotool({"key", "a", "key", "Return", "key", "space", "click", "3"}));
            QTest::qWait(quietMs);
            QCOMPARE(w.ends + w.releases, 0);
            // The source cancels on Escape's press; only the release ends our drag.
            QVERIFY(xdotool({"keydown", "Escape"}));
            QVERIFY(source.waitForLine("drag-finished"));
            QTest::qWait(quietMs);
            QCOMPARE(w.ends, 0);
            QVERIFY(xdotool({"keyup", "Escape"}));
            QTRY_COMPARE_WITH_TIMEOUT(w.ends, 1, reportTimeoutMs);
        }
        // The button goes up: the end, or after Escape, silence (idle by then).
        QVERIFY(xdotool({"mouseup", "1"}));
        QTRY_COMPARE_WITH_TIMEOUT(w.ends, 1, reportTimeoutMs);
        QVERIFY(source.waitForLine("drag-finished"));
        QTest::qWait(quietMs);
        QCOMPARE(w.starts.size(), 1);
        QCOMPARE(w.ends, 1);
    }

    // Drags the monitor cannot follow, each followed by one it must report: a
    // whole text drag made while the main thread is blocked (its start and its
    // release reach the monitor back to back), then sources killed mid-drag, once
    // their drag was reported and once before their types were learnt.
    void recoversFromDragsItCouldNotFollow()
    {
        Watch w;
        {
            DragSource text(Toolkit::gtk, {"--text", "t"});
            QVERIFY(text.waitForLine("ready"));
            QCOMPARE(QProcess::execute("xdotool", X11Driver::dragGesture(handSteps) << "mouseup" << "1"), 0);
            QVERIFY(waitBlocked(text, "drag-finished")); // GTK ends only a drag it began
            QVERIFY(w.starts.isEmpty());
        }
        QTRY_COMPARE_WITH_TIMEOUT(w.ends, 1, reportTimeoutMs);
        QCOMPARE(w.starts.size(), 1);
        QVERIFY(!DragTypes::containsFileType(w.starts.first()));

        for (const bool typesLearnt : {true, false}) {
            DragSource source(typesLearnt ? Toolkit::gtk : Toolkit::qt, files);
            QVERIFY(source.beginDrag(handSteps));
            if (typesLearnt)
                QTRY_VERIFY_WITH_TIMEOUT(w.starts.size() == 2 && DragTypes::containsFileType(w.starts.last()),
                                         reportTimeoutMs);
            source.process.kill();
            QVERIFY(source.process.waitForFinished(5000));
            QTest::qWait(typesLearnt ? 0 : quietMs); // whatever was learnt is reported by now
            QVERIFY(xdotool({"mouseup", "1"}));
            QTRY_VERIFY_WITH_TIMEOUT(w.ends == w.starts.size() && w.ends >= 2, reportTimeoutMs);
        }

        DragSource next(Toolkit::qt, files);
        QVERIFY(next.beginDrag(handSteps));
        const qint64 began = next.line("drag-started")->section(' ', 1).toLongLong();
        QTRY_VERIFY_WITH_TIMEOUT(DragTypes::containsFileType(w.starts.last()) && w.startTimes.last() > began,
                                 reportTimeoutMs);
        QVERIFY(xdotool({"mouseup", "1"}));
        QTRY_VERIFY_WITH_TIMEOUT(w.ends == w.starts.size(), reportTimeoutMs);
    }

private:
    QTemporaryDir dir;
    QStringList files;
};

QTEST_MAIN(TestX11DragMonitor)
#include "tst_x11dragmonitor.moc"
