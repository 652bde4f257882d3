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
constexpr int quietMs = 400; // how long "nothing happened" is watched for

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
    return process.state() == QProcess::NotRunning && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// Presses in the source window (at 20,20 200x120) and moves on like a hand
// would, a few pixels every 20 ms, until the pointer is well outside it.
// Relative moves, as a real mouse makes: absolute ones only warp the pointer.
QStringList dragGesture()
{
    QStringList args{"mousemove", "120", "80", "mousedown", "1"};
    for (int i = 0; i < 20; ++i)
        args << "mousemove_relative" << "--" << "12" << "9" << "sleep" << "0.02";
    return args;
}

// One drag source process ("qt" or "gtk") and the lines it printed.
struct DragSource : QProcess
{
    DragSource(const QString &toolkit, const QString &kind, const QString &value)
    {
        setProcessChannelMode(QProcess::ForwardedErrorChannel);
        if (toolkit == QLatin1String("qt"))
            start(qEnvironmentVariable("PELKIN_QT_DRAG_SOURCE"), {"--" + kind, value});
        else
            start("/usr/bin/python3", {qEnvironmentVariable("PELKIN_GTK_DRAG_SOURCE"), "--" + kind, value});
    }
    ~DragSource() override
    {
        kill();
        waitForFinished(processTimeoutMs);
    }
    // Reads without an event loop when `blocking`, as a busy main thread would.
    bool waitForLine(const QString &prefix, int timeoutMs = processTimeoutMs, bool blocking = false)
    {
        for (QDeadlineTimer deadline(timeoutMs); !line(prefix); blocking ? void(waitForReadyRead(20)) : QTest::qWait(10)) {
            if (deadline.hasExpired() || state() == QProcess::NotRunning)
                return false;
        }
        return true;
    }
    std::optional<QString> line(const QString &prefix)
    {
        while (canReadLine())
            lines.append(QString::fromUtf8(readLine()).trimmed());
        for (const QString &l : std::as_const(lines)) {
            if (l.startsWith(prefix))
                return l;
        }
        return std::nullopt;
    }
    // When the source began the drag, on the monotonic clock.
    qint64 dragStartedMicroseconds() { return line("drag-started").value_or(QString()).section(' ', 1).toLongLong(); }
    QStringList lines;
};

bool beginDrag(DragSource &source)
{
    return source.waitForLine("ready") && xdotool(dragGesture()) && source.waitForLine("drag-started", 5000);
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
    void initTestCase();
    void cleanup();
    void dragIsReportedWithItsTypes_data();
    void dragIsReportedWithItsTypes();
    void fileDragAfterADragEndedUnseenIsReported();
    void onlyTheButtonOrEscapeEndsADrag_data();
    void onlyTheButtonOrEscapeEndsADrag();
    void survivesTheSourceExitingMidDrag();

private:
    QTemporaryDir dir;
    QString file;
};

void TestX11DragMonitor::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QVERIFY(GlobalDragMonitor().isAvailable()); // the platform's own source is X11's
    file = dir.filePath(QStringLiteral("写真 1.txt"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write("x") == 1);
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
    QTest::addColumn<QString>("value"); // none: the file
    QTest::addColumn<int>("blockedMs");
    for (const char *toolkit : {"qt", "gtk"}) {
        QTest::addRow("%s files", toolkit) << toolkit << "files" << QString() << 0;
        QTest::addRow("%s web link", toolkit) << toolkit << "link" << "https://example.org/a?b=1" << 0;
        QTest::addRow("%s text", toolkit) << toolkit << "text" << "こんにちは" << 0;
        // As at application start-up, when windows and QML load: the main
        // thread is blocked as a drag starts, so the ownership change is read late.
        for (int blockedMs : {300, 800})
            QTest::addRow("%s files, blocked %d ms", toolkit, blockedMs) << toolkit << "files" << QString() << blockedMs;
    }
}

void TestX11DragMonitor::dragIsReportedWithItsTypes()
{
    QFETCH(QString, toolkit);
    QFETCH(QString, kind);
    QFETCH(QString, value);
    QFETCH(int, blockedMs);
    const bool files = value.isEmpty();
    Watch w;
    DragSource source(toolkit, kind, files ? file : value);
    QVERIFY(source.waitForLine("ready"));
    QProcess gesture;
    gesture.start(QStringLiteral("xdotool"), dragGesture());
    QVERIFY(source.waitForLine("drag-started", 5000, blockedMs > 0));
    QThread::msleep(blockedMs);
    const qint64 dueFrom = blockedMs ? monotonicMicroseconds() : source.dragStartedMicroseconds();

    QTRY_COMPARE_WITH_TIMEOUT(w.starts.size(), 1, reportTimeoutMs);
    const QStringList types = w.starts.first();
    QVERIFY2(!types.isEmpty() && DragTypes::containsFileType(types) == files, qPrintable(types.join(' ')));
    QCOMPARE(types.contains(QStringLiteral("text/uri-list")), files);
    const qint64 delayMs = (w.startTimes.first() - dueFrom) / 1000;
    QVERIFY2(delayMs >= 0 && delayMs <= startDeadlineMs, qPrintable(QString::number(delayMs)));
    QTRY_COMPARE_WITH_TIMEOUT(gesture.state(), QProcess::NotRunning, processTimeoutMs);
    QCOMPARE(gesture.exitCode(), 0);
    QCOMPARE(w.ends, 0);

    QVERIFY(xdotool({"mouseup", "1"}));
    QTRY_COMPARE_WITH_TIMEOUT(w.ends, 1, reportTimeoutMs);
    QVERIFY(source.waitForLine("drag-finished"));
    QTest::qWait(quietMs);
    QCOMPARE(w.starts.size(), 1);
    QCOMPARE(w.ends, 1);
}

// A whole text drag, release included, happens while the main thread is
// blocked, so its start and its release reach the monitor back to back; the
// file drag after it must still be reported.
void TestX11DragMonitor::fileDragAfterADragEndedUnseenIsReported()
{
    Watch w;
    {
        DragSource text(QStringLiteral("gtk"), QStringLiteral("text"), QStringLiteral("t"));
        QVERIFY(text.waitForLine("ready"));
        QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), dragGesture()), 0);
        QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), {"mouseup", "1"}), 0);
        QVERIFY(text.waitForLine("drag-finished", 5000, true));
        QVERIFY(text.line("drag-started"));
        QVERIFY(w.starts.isEmpty());
    }
    QTRY_COMPARE_WITH_TIMEOUT(w.ends, 1, reportTimeoutMs);
    QCOMPARE(w.starts.size(), 1);
    QVERIFY(!DragTypes::containsFileType(w.starts.first()));

    DragSource files(QStringLiteral("qt"), QStringLiteral("files"), file);
    QVERIFY(beginDrag(files));
    QTRY_COMPARE_WITH_TIMEOUT(w.starts.size(), 2, reportTimeoutMs);
    QVERIFY2(DragTypes::containsFileType(w.starts.last()), qPrintable(w.starts.last().join(' ')));
    QVERIFY(xdotool({"mouseup", "1"}));
    QTRY_COMPARE_WITH_TIMEOUT(w.ends, 2, reportTimeoutMs);
}

void TestX11DragMonitor::onlyTheButtonOrEscapeEndsADrag_data()
{
    QTest::addColumn<QString>("toolkit");
    QTest::addColumn<bool>("escape");
    QTest::newRow("qt, Escape") << "qt" << true;
    QTest::newRow("gtk, Escape") << "gtk" << true;
    QTest::newRow("qt, button") << "qt" << false;
}

void TestX11DragMonitor::onlyTheButtonOrEscapeEndsADrag()
{
    QFETCH(QString, toolkit);
    QFETCH(bool, escape);
    Watch w;
    DragSource source(toolkit, QStringLiteral("files"), file);
    QVERIFY(source.waitForLine("ready"));
    // Clicks without a drag, in the source window and outside it, and Escape:
    // nothing started, so nothing ends, and nothing is even passed on.
    QVERIFY(xdotool({"mousemove", "120", "80", "click", "1", "mousemove", "700", "500", "click", "1",
                     "key", "Escape"}));
    QTest::qWait(500); // and no double click with the drag's press
    QVERIFY(beginDrag(source));
    // Other keys and a right click (the left button still held) end nothing
    // either, and are not passed on: they would wake the main thread for nothing.
    QVERIFY(xdotool({"key", "a", "key", "Return", "key", "space", "click", "3"}));
    QTest::qWait(quietMs);
    QCOMPARE(w.starts.size(), 1);
    QCOMPARE(w.ends + w.releases, 0);
    if (escape) {
        // The source cancels on the press; only the release ends our drag.
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
    QTest::qWait(quietMs);
    QCOMPARE(w.ends, 1);
    QCOMPARE(w.starts.size(), 1);
}

void TestX11DragMonitor::survivesTheSourceExitingMidDrag()
{
    Watch w;
    {
        DragSource source(QStringLiteral("gtk"), QStringLiteral("files"), file);
        QVERIFY(beginDrag(source));
        QTRY_COMPARE_WITH_TIMEOUT(w.starts.size(), 1, reportTimeoutMs);
        source.kill();
        QVERIFY(source.waitForFinished(processTimeoutMs));
    }
    QVERIFY(xdotool({"mouseup", "1"}));
    QTRY_COMPARE_WITH_TIMEOUT(w.ends, 1, reportTimeoutMs);

    // Killed before its types were learnt: the change is published anyway.
    {
        DragSource source(QStringLiteral("qt"), QStringLiteral("files"), file);
        QVERIFY(beginDrag(source));
        source.kill();
        QVERIFY(source.waitForFinished(processTimeoutMs));
        QTest::qWait(quietMs); // whatever was learnt of this drag is reported by now
        QVERIFY(xdotool({"mouseup", "1"}));
    }
    QTRY_VERIFY_WITH_TIMEOUT(w.ends == w.starts.size(), reportTimeoutMs);

    DragSource next(QStringLiteral("qt"), QStringLiteral("files"), file);
    QVERIFY(beginDrag(next));
    QTRY_VERIFY_WITH_TIMEOUT(!w.starts.isEmpty() && DragTypes::containsFileType(w.starts.last()) &&
                                 w.startTimes.last() > next.dragStartedMicroseconds(),
                             reportTimeoutMs);
    QVERIFY(xdotool({"mouseup", "1"}));
    QTRY_VERIFY_WITH_TIMEOUT(w.ends == w.starts.size(), reportTimeoutMs);
}

QTEST_MAIN(TestX11DragMonitor)
#include "tst_x11dragmonitor.moc"
