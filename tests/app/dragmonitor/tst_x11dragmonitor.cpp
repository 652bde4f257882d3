// Real drags under a private Xvfb: a Qt and a GTK 3 drag source, driven with
// XTest through xdotool, watched by a monitor on its own X11 connection.
#include "DragTypes.h"
#include "GlobalDragMonitor.h"
#include "X11DragEventSource.h"

#include <QtTest>

#include <ctime>

namespace {

constexpr int processTimeoutMs = 10000;
constexpr int reportTimeoutMs = 1500;
// A start is due at most 100 ms (the wait for the source's types) after the
// drag began; the rest is slack for a loaded machine.
constexpr qint64 startDeadlineMs = 100 + 220;
// How long "nothing happened" is watched for.
constexpr int quietMs = 400;

qint64 monotonicMicroseconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// Runs xdotool while our event loop keeps running, as the monitor's would.
bool xdotool(const QStringList &args)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), args);
    QDeadlineTimer deadline(processTimeoutMs);
    while (process.state() != QProcess::NotRunning && !deadline.hasExpired())
        QTest::qWait(5);
    return process.state() == QProcess::NotRunning &&
           process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// One drag source process and the lines it printed.
class DragSource
{
public:
    DragSource(const QString &toolkit, const QString &kind, const QString &value)
    {
        if (toolkit == QLatin1String("qt")) {
            process.setProgram(qEnvironmentVariable("PELKIN_QT_DRAG_SOURCE"));
            process.setArguments({"--" + kind, value});
        } else {
            process.setProgram(QStringLiteral("/usr/bin/python3"));
            process.setArguments(
                {qEnvironmentVariable("PELKIN_GTK_DRAG_SOURCE"), "--" + kind, value});
        }
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&process, &QProcess::readyReadStandardOutput, &process, [this] {
            while (process.canReadLine())
                lines.append(QString::fromUtf8(process.readLine()).trimmed());
        });
        process.start();
    }
    ~DragSource()
    {
        process.kill();
        process.waitForFinished(processTimeoutMs);
    }

    bool waitForLine(const QString &prefix, int timeoutMs = processTimeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!line(prefix).has_value()) {
            if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
                return false;
            QTest::qWait(10);
        }
        return true;
    }

    std::optional<QString> line(const QString &prefix) const
    {
        for (const QString &l : lines) {
            if (l.startsWith(prefix))
                return l;
        }
        return std::nullopt;
    }

    // When the source began the drag, on the monotonic clock.
    qint64 dragStartedMicroseconds() const
    {
        return line(QStringLiteral("drag-started"))
            .value_or(QString())
            .section(' ', 1)
            .toLongLong();
    }

    QProcess process;
    QStringList lines;
};

// Presses in the source window (at 20,20 200x120) and moves on like a hand
// would, a few pixels every 20 ms, until the pointer is well outside it.
// Relative moves, as a real mouse makes: absolute ones only warp the
// pointer and make no raw motion.
QStringList dragGesture()
{
    QStringList args{"mousemove", "120", "80", "mousedown", "1"};
    for (int i = 0; i < 20; ++i)
        args << "mousemove_relative"
             << "--"
             << "12"
             << "9"
             << "sleep"
             << "0.02";
    return args;
}

bool beginDrag(DragSource &source)
{
    return source.waitForLine(QStringLiteral("ready")) && xdotool(dragGesture()) &&
           source.waitForLine(QStringLiteral("drag-started"), 5000);
}

struct Recorder
{
    explicit Recorder(GlobalDragMonitor &monitor)
    {
        monitor.onDragStart = [this](const QStringList &types) {
            starts.append(types);
            startTimes.append(monotonicMicroseconds());
        };
        monitor.onDragEnd = [this] { ++ends; };
    }
    QList<QStringList> starts;
    QList<qint64> startTimes;
    int ends = 0;
};

} // namespace

class TestX11DragMonitor : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void dragIsReportedWithItsTypes_data();
    void dragIsReportedWithItsTypes();
    void dragDuringABusyMainThreadIsReported_data();
    void dragDuringABusyMainThreadIsReported();
    void fileDragAfterADragEndedUnseenIsReported();
    void escapeReleaseEndsTheDrag_data();
    void escapeReleaseEndsTheDrag();
    void otherKeysDoNotEndTheDrag();
    void releasesOutsideADragAreSilent();
    void survivesTheSourceExitingMidDrag();

private:
    QTemporaryDir dir;
    QString file;
};

void TestX11DragMonitor::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QVERIFY(QFileInfo(qEnvironmentVariable("PELKIN_QT_DRAG_SOURCE")).isExecutable());
    QVERIFY(QFileInfo::exists(qEnvironmentVariable("PELKIN_GTK_DRAG_SOURCE")));
    QVERIFY(dir.isValid());
    file = dir.filePath(QStringLiteral("写真 1.txt"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("x");
}

void TestX11DragMonitor::cleanup()
{
    // Never leave the XTest button or key down for the next test.
    xdotool({"keyup", "Escape", "mouseup", "1"});
}

void TestX11DragMonitor::dragIsReportedWithItsTypes_data()
{
    QTest::addColumn<QString>("toolkit");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("files");
    for (const char *toolkit : {"qt", "gtk"}) {
        QTest::addRow("%s files", toolkit) << toolkit << "files" << QString() << true;
        QTest::addRow("%s web link", toolkit) << toolkit << "link"
                                              << "https://example.org/a?b=1" << false;
        QTest::addRow("%s text", toolkit) << toolkit << "text"
                                          << "こんにちは" << false;
    }
}

void TestX11DragMonitor::dragIsReportedWithItsTypes()
{
    QFETCH(QString, toolkit);
    QFETCH(QString, kind);
    QFETCH(QString, value);
    QFETCH(bool, files);
    GlobalDragMonitor monitor;
    QVERIFY(monitor.isAvailable());
    Recorder rec(monitor);
    DragSource source(toolkit, kind, files ? file : value);

    QVERIFY(beginDrag(source));
    QTRY_COMPARE_WITH_TIMEOUT(rec.starts.size(), 1, reportTimeoutMs);
    const QStringList types = rec.starts.first();
    QVERIFY2(!types.isEmpty(), qPrintable(types.join(' ')));
    QVERIFY2(DragTypes::containsFileType(types) == files, qPrintable(types.join(' ')));
    QCOMPARE(types.contains(QStringLiteral("text/uri-list")), files);
    const qint64 delayMs = (rec.startTimes.first() - source.dragStartedMicroseconds()) / 1000;
    QVERIFY2(delayMs >= 0 && delayMs <= startDeadlineMs, qPrintable(QString::number(delayMs)));
    QCOMPARE(rec.ends, 0);

    QVERIFY(xdotool({"mouseup", "1"}));
    QTRY_COMPARE_WITH_TIMEOUT(rec.ends, 1, reportTimeoutMs);
    QVERIFY(source.waitForLine(QStringLiteral("drag-finished")));
    QTest::qWait(quietMs);
    QCOMPARE(rec.starts.size(), 1);
    QCOMPARE(rec.ends, 1);
}

void TestX11DragMonitor::dragDuringABusyMainThreadIsReported_data()
{
    QTest::addColumn<QString>("toolkit");
    QTest::addColumn<int>("blockedMs");
    for (const char *toolkit : {"qt", "gtk"}) {
        for (int blockedMs : {300, 800})
            QTest::addRow("%s, blocked %d ms", toolkit, blockedMs) << toolkit << blockedMs;
    }
}

// As at application start-up, when windows and QML load: the main thread is
// blocked as a drag starts, so the ownership change is read late.
void TestX11DragMonitor::dragDuringABusyMainThreadIsReported()
{
    QFETCH(QString, toolkit);
    QFETCH(int, blockedMs);
    GlobalDragMonitor monitor;
    QVERIFY(monitor.isAvailable());
    Recorder rec(monitor);
    DragSource source(toolkit, QStringLiteral("files"), file);
    QVERIFY(source.waitForLine(QStringLiteral("ready")));

    QProcess gesture;
    gesture.start(QStringLiteral("xdotool"), dragGesture());
    // Blocked from here: the source's output is read without an event loop.
    QDeadlineTimer deadline(5000);
    while (!source.line(QStringLiteral("drag-started")) && !deadline.hasExpired())
        source.process.waitForReadyRead(20);
    QVERIFY(source.line(QStringLiteral("drag-started")));
    QThread::msleep(blockedMs);
    const qint64 freeAt = monotonicMicroseconds();

    QTRY_COMPARE_WITH_TIMEOUT(rec.starts.size(), 1, reportTimeoutMs);
    const QStringList types = rec.starts.first();
    QVERIFY2(types.contains(QStringLiteral("text/uri-list")), qPrintable(types.join(' ')));
    const qint64 delayMs = (rec.startTimes.first() - freeAt) / 1000;
    QVERIFY2(delayMs <= startDeadlineMs, qPrintable(QString::number(delayMs)));

    QTRY_COMPARE_WITH_TIMEOUT(gesture.state(), QProcess::NotRunning, processTimeoutMs);
    QCOMPARE(gesture.exitCode(), 0);
    QVERIFY(xdotool({"mouseup", "1"}));
    QTRY_COMPARE_WITH_TIMEOUT(rec.ends, 1, reportTimeoutMs);
    QVERIFY(source.waitForLine(QStringLiteral("drag-finished")));
}

// A whole text drag, release included, happens while the main thread is
// blocked, so its start and its release reach the monitor back to back; the
// file drag after it must still be reported.
void TestX11DragMonitor::fileDragAfterADragEndedUnseenIsReported()
{
    GlobalDragMonitor monitor;
    Recorder rec(monitor);
    {
        DragSource text(QStringLiteral("gtk"), QStringLiteral("text"), QStringLiteral("t"));
        QVERIFY(text.waitForLine(QStringLiteral("ready")));
        QProcess gesture;
        gesture.start(QStringLiteral("xdotool"), dragGesture());
        QVERIFY(gesture.waitForFinished(processTimeoutMs));
        QCOMPARE(gesture.exitCode(), 0);
        QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), {"mouseup", "1"}), 0);
        QDeadlineTimer deadline(5000);
        while (!text.line(QStringLiteral("drag-finished")) && !deadline.hasExpired())
            text.process.waitForReadyRead(20);
        QVERIFY(text.line(QStringLiteral("drag-started")));
        QVERIFY(text.line(QStringLiteral("drag-finished")));
        QVERIFY(rec.starts.isEmpty());
    }
    QTRY_COMPARE_WITH_TIMEOUT(rec.ends, 1, reportTimeoutMs);
    QCOMPARE(rec.starts.size(), 1);
    QVERIFY(!DragTypes::containsFileType(rec.starts.first()));

    DragSource files(QStringLiteral("qt"), QStringLiteral("files"), file);
    QVERIFY(beginDrag(files));
    QTRY_COMPARE_WITH_TIMEOUT(rec.starts.size(), 2, reportTimeoutMs);
    QVERIFY2(DragTypes::containsFileType(rec.starts.last()), qPrintable(rec.starts.last().join(' ')));
    QVERIFY(xdotool({"mouseup", "1"}));
    QTRY_COMPARE_WITH_TIMEOUT(rec.ends, 2, reportTimeoutMs);
}

void TestX11DragMonitor::escapeReleaseEndsTheDrag_data()
{
    QTest::addColumn<QString>("toolkit");
    QTest::newRow("qt") << "qt";
    QTest::newRow("gtk") << "gtk";
}

void TestX11DragMonitor::escapeReleaseEndsTheDrag()
{
    QFETCH(QString, toolkit);
    GlobalDragMonitor monitor;
    Recorder rec(monitor);
    DragSource source(toolkit, QStringLiteral("files"), file);
    QVERIFY(beginDrag(source));
    QTRY_COMPARE_WITH_TIMEOUT(rec.starts.size(), 1, reportTimeoutMs);

    // The source cancels on the press; only the release ends our drag.
    QVERIFY(xdotool({"keydown", "Escape"}));
    QVERIFY(source.waitForLine(QStringLiteral("drag-finished")));
    QTest::qWait(quietMs);
    QCOMPARE(rec.ends, 0);
    QVERIFY(xdotool({"keyup", "Escape"}));
    QTRY_COMPARE_WITH_TIMEOUT(rec.ends, 1, reportTimeoutMs);

    // The button still held from the cancelled drag goes up: idle, so silent.
    QVERIFY(xdotool({"mouseup", "1"}));
    QTest::qWait(quietMs);
    QCOMPARE(rec.ends, 1);
    QCOMPARE(rec.starts.size(), 1);
}

void TestX11DragMonitor::otherKeysDoNotEndTheDrag()
{
    auto x11 = std::make_shared<X11DragEventSource>();
    GlobalDragMonitor monitor(x11);
    Recorder rec(monitor);
    int releases = 0; // counted on this thread, as the monitor gets them
    QObject::connect(x11.get(), &DragEventSource::released, &monitor, [&] { ++releases; });
    DragSource source(QStringLiteral("qt"), QStringLiteral("files"), file);
    QVERIFY(beginDrag(source));
    QTRY_COMPARE_WITH_TIMEOUT(rec.starts.size(), 1, reportTimeoutMs);

    QVERIFY(xdotool({"key", "a", "key", "Return", "key", "space"}));
    // A right click during the drag: the left button is still held.
    QVERIFY(xdotool({"click", "3"}));
    QTest::qWait(quietMs);
    QCOMPARE(rec.ends, 0);
    // Not even sent: they would wake the main thread for nothing.
    QCOMPARE(releases, 0);

    QVERIFY(xdotool({"mouseup", "1"}));
    QTRY_COMPARE_WITH_TIMEOUT(rec.ends, 1, reportTimeoutMs);
    QCOMPARE(releases, 1);
}

void TestX11DragMonitor::releasesOutsideADragAreSilent()
{
    auto x11 = std::make_shared<X11DragEventSource>();
    GlobalDragMonitor monitor(x11);
    Recorder rec(monitor);
    int releases = 0; // counted on this thread, as the monitor gets them
    QObject::connect(x11.get(), &DragEventSource::released, &monitor, [&] { ++releases; });
    // A press and release without a drag, in a source window and outside it.
    DragSource source(QStringLiteral("gtk"), QStringLiteral("text"), QStringLiteral("t"));
    QVERIFY(source.waitForLine(QStringLiteral("ready")));
    QVERIFY(xdotool({"mousemove", "120", "80", "click", "1", "mousemove", "700", "500", "click",
                     "1", "key", "Escape"}));
    QTest::qWait(quietMs);
    QVERIFY(rec.starts.isEmpty());
    QCOMPARE(rec.ends, 0);
    // No drag since the source started: nothing can end, nothing is sent.
    QCOMPARE(releases, 0);
}

void TestX11DragMonitor::survivesTheSourceExitingMidDrag()
{
    GlobalDragMonitor monitor;
    Recorder rec(monitor);
    {
        DragSource source(QStringLiteral("gtk"), QStringLiteral("files"), file);
        QVERIFY(beginDrag(source));
        QTRY_COMPARE_WITH_TIMEOUT(rec.starts.size(), 1, reportTimeoutMs);
        source.process.kill();
        QVERIFY(source.process.waitForFinished(processTimeoutMs));
    }
    QVERIFY(xdotool({"mouseup", "1"}));
    QTRY_COMPARE_WITH_TIMEOUT(rec.ends, 1, reportTimeoutMs);

    // Killed before its types were learnt: the change is published anyway.
    {
        DragSource source(QStringLiteral("qt"), QStringLiteral("files"), file);
        QVERIFY(source.waitForLine(QStringLiteral("ready")));
        QVERIFY(beginDrag(source));
        source.process.kill();
        QVERIFY(source.process.waitForFinished(processTimeoutMs));
        // Whatever was learnt of this drag is reported by now.
        QTest::qWait(quietMs);
        QVERIFY(xdotool({"mouseup", "1"}));
    }
    QTRY_VERIFY_WITH_TIMEOUT(rec.ends == rec.starts.size(), reportTimeoutMs);

    DragSource next(QStringLiteral("qt"), QStringLiteral("files"), file);
    QVERIFY(beginDrag(next));
    QTRY_VERIFY_WITH_TIMEOUT(!rec.starts.isEmpty() &&
                                 DragTypes::containsFileType(rec.starts.last()) &&
                                 rec.startTimes.last() > next.dragStartedMicroseconds(),
                             reportTimeoutMs);
    QVERIFY(xdotool({"mouseup", "1"}));
    QTRY_VERIFY_WITH_TIMEOUT(rec.ends == rec.starts.size(), reportTimeoutMs);
}

QTEST_MAIN(TestX11DragMonitor)
#include "tst_x11dragmonitor.moc"
