// The monitor's state machine, fed by a fake source (no X server needed).
#include "DragEventSource.h"
#include "DragTypes.h"
#include "GlobalDragMonitor.h"

#include <QtTest>

namespace {

class FakeSource final : public DragEventSource
{
public:
    bool hasDragPasteboard() const override { return pasteboard; }
    qint64 changeCount() const override { return count; }
    QStringList types() const override
    {
        ++typesReads;
        return currentTypes;
    }

    bool hasListeners() const
    {
        return isSignalConnected(QMetaMethod::fromSignal(&DragEventSource::leftMouseReleased)) ||
               isSignalConnected(QMetaMethod::fromSignal(&DragEventSource::keyReleased));
    }

    void newDrag(const QStringList &types)
    {
        ++count;
        currentTypes = types;
    }

    bool pasteboard = true;
    qint64 count = 0;
    QStringList currentTypes;
    mutable int typesReads = 0;
};

// Long enough for two poll ticks.
constexpr int twoTicksMs = 2 * GlobalDragMonitor::pollIntervalMs + 60;
constexpr int reportTimeoutMs = 1000;
const QStringList fileTypes{QStringLiteral("text/uri-list"), QStringLiteral("text/plain")};

struct Recorder
{
    explicit Recorder(GlobalDragMonitor &monitor)
    {
        monitor.onDragStart = [this](const QStringList &types) { starts.append(types); };
        monitor.onDragEnd = [this] { ++ends; };
    }
    QList<QStringList> starts;
    int ends = 0;
};

int infoMessages = 0;
QtMessageHandler previousHandler = nullptr;

void countInfo(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtInfoMsg && QByteArray(context.category) == "pelkin.dragmonitor")
        ++infoMessages;
    previousHandler(type, context, message);
}

} // namespace

class TestGlobalDragMonitor : public QObject
{
    Q_OBJECT
private slots:
    void startIsReportedOncePerDrag();
    void dragOnPasteboardAtConstructionIsNotReported();
    void emptyTypeListIsConsumedSilently();
    void releaseEvents_data();
    void releaseEvents();
    void unsetCallbacksStillMoveTheState();
    void nothingAfterDestruction();
    void ownerMayDestroyMonitorInsideCallback();
    void noPasteboardStaysIdle();
    void withoutDisplayFallsBackAndLogsOnce();
    void fileTypeIdentifiers_data();
    void fileTypeIdentifiers();
};

void TestGlobalDragMonitor::startIsReportedOncePerDrag()
{
    auto source = std::make_shared<FakeSource>();
    GlobalDragMonitor monitor(source);
    Recorder rec(monitor);

    source->newDrag(fileTypes);
    QTRY_COMPARE_WITH_TIMEOUT(rec.starts.size(), 1, reportTimeoutMs);
    QCOMPARE(rec.starts.first(), fileTypes);

    // More changes during the same drag: consumed, not reported, types not read.
    const int reads = source->typesReads;
    source->newDrag({QStringLiteral("text/plain")});
    QTest::qWait(twoTicksMs);
    source->newDrag({QStringLiteral("STRING")});
    QTest::qWait(twoTicksMs);
    QCOMPARE(rec.starts.size(), 1);
    QCOMPARE(source->typesReads, reads);

    // The change seen during the drag is not reported once it has ended.
    emit source->leftMouseReleased();
    QCOMPARE(rec.ends, 1);
    QTest::qWait(twoTicksMs);
    QCOMPARE(rec.starts.size(), 1);

    // The next drag is.
    source->newDrag({QStringLiteral("XdndDirectSave0")});
    QTRY_COMPARE_WITH_TIMEOUT(rec.starts.size(), 2, reportTimeoutMs);
    QCOMPARE(rec.starts.last(), QStringList{QStringLiteral("XdndDirectSave0")});
}

void TestGlobalDragMonitor::dragOnPasteboardAtConstructionIsNotReported()
{
    auto source = std::make_shared<FakeSource>();
    source->count = 41;
    source->currentTypes = fileTypes;
    GlobalDragMonitor monitor(source);
    Recorder rec(monitor);
    QTest::qWait(twoTicksMs);
    QVERIFY(rec.starts.isEmpty());

    source->newDrag(fileTypes);
    QTRY_COMPARE_WITH_TIMEOUT(rec.starts.size(), 1, reportTimeoutMs);
}

void TestGlobalDragMonitor::emptyTypeListIsConsumedSilently()
{
    auto source = std::make_shared<FakeSource>();
    GlobalDragMonitor monitor(source);
    Recorder rec(monitor);

    source->newDrag({});
    QTRY_VERIFY_WITH_TIMEOUT(source->typesReads > 0, reportTimeoutMs);
    // Types appearing later under the same change count do not revive it.
    source->currentTypes = fileTypes;
    QTest::qWait(twoTicksMs);
    QVERIFY(rec.starts.isEmpty());
    QCOMPARE(source->typesReads, 1);
    // Still idle: a release is silent.
    emit source->leftMouseReleased();
    QCOMPARE(rec.ends, 0);

    source->newDrag(fileTypes);
    QTRY_COMPARE_WITH_TIMEOUT(rec.starts.size(), 1, reportTimeoutMs);
}

void TestGlobalDragMonitor::releaseEvents_data()
{
    QTest::addColumn<int>("key"); // -1: the left button
    QTest::addColumn<bool>("endsDrag");
    QTest::newRow("left button up") << -1 << true;
    QTest::newRow("Escape up") << int(Qt::Key_Escape) << true;
    QTest::newRow("other key up") << int(Qt::Key_A) << false;
    QTest::newRow("unnamed key up") << int(Qt::Key_unknown) << false;
}

void TestGlobalDragMonitor::releaseEvents()
{
    QFETCH(int, key);
    QFETCH(bool, endsDrag);
    auto source = std::make_shared<FakeSource>();
    GlobalDragMonitor monitor(source);
    Recorder rec(monitor);
    const auto release = [&] {
        if (key < 0)
            emit source->leftMouseReleased();
        else
            emit source->keyReleased(key);
    };

    release(); // idle: always silent
    QCOMPARE(rec.ends, 0);

    source->newDrag(fileTypes);
    QTRY_COMPARE_WITH_TIMEOUT(rec.starts.size(), 1, reportTimeoutMs);
    release();
    QCOMPARE(rec.ends, endsDrag ? 1 : 0);
    release(); // a second release never ends anything more
    QCOMPARE(rec.ends, endsDrag ? 1 : 0);

    // A drag that was not ended blocks new starts until it is.
    source->newDrag(fileTypes);
    QTest::qWait(twoTicksMs);
    QCOMPARE(rec.starts.size(), endsDrag ? 2 : 1);
}

void TestGlobalDragMonitor::unsetCallbacksStillMoveTheState()
{
    auto source = std::make_shared<FakeSource>();
    GlobalDragMonitor monitor(source);
    source->newDrag(fileTypes);
    QTRY_VERIFY_WITH_TIMEOUT(source->typesReads > 0, reportTimeoutMs);

    int ends = 0;
    monitor.onDragEnd = [&] { ++ends; };
    emit source->keyReleased(Qt::Key_Escape);
    QCOMPARE(ends, 1);

    monitor.onDragEnd = nullptr;
    int starts = 0;
    monitor.onDragStart = [&](const QStringList &) { ++starts; };
    source->newDrag(fileTypes);
    QTRY_COMPARE_WITH_TIMEOUT(starts, 1, reportTimeoutMs);
    emit source->leftMouseReleased(); // no end callback: skipped, state back to idle
    source->newDrag(fileTypes);
    QTRY_COMPARE_WITH_TIMEOUT(starts, 2, reportTimeoutMs);
}

void TestGlobalDragMonitor::nothingAfterDestruction()
{
    auto source = std::make_shared<FakeSource>();
    int calls = 0;
    {
        auto monitor = std::make_unique<GlobalDragMonitor>(source);
        monitor->onDragStart = [&](const QStringList &) { ++calls; };
        monitor->onDragEnd = [&] { ++calls; };
        source->newDrag(fileTypes);
        QTRY_COMPARE_WITH_TIMEOUT(calls, 1, reportTimeoutMs);
        // A change waiting for the next tick, and a release queued behind it.
        source->newDrag(fileTypes);
        QMetaObject::invokeMethod(
            source.get(), [s = source.get()] { emit s->leftMouseReleased(); },
            Qt::QueuedConnection);
    }
    QTest::qWait(twoTicksMs);
    emit source->leftMouseReleased();
    emit source->keyReleased(Qt::Key_Escape);
    QCOMPARE(calls, 1);
    QVERIFY(!source->hasListeners());
}

void TestGlobalDragMonitor::ownerMayDestroyMonitorInsideCallback()
{
    auto source = std::make_shared<FakeSource>();
    auto *monitor = new GlobalDragMonitor(source);
    QPointer<GlobalDragMonitor> alive(monitor);
    int starts = 0;
    monitor->onDragStart = [&](const QStringList &) {
        ++starts;
        monitor->deleteLater();
    };
    source->newDrag(fileTypes);
    QTRY_VERIFY_WITH_TIMEOUT(alive.isNull(), reportTimeoutMs);
    source->newDrag(fileTypes);
    emit source->leftMouseReleased();
    QTest::qWait(twoTicksMs);
    QCOMPARE(starts, 1);
}

void TestGlobalDragMonitor::noPasteboardStaysIdle()
{
    auto source = std::make_shared<FakeSource>();
    source->pasteboard = false;
    GlobalDragMonitor monitor(source);
    Recorder rec(monitor);
    QVERIFY(!monitor.isAvailable());
    source->newDrag(fileTypes);
    QTest::qWait(twoTicksMs);
    emit source->leftMouseReleased();
    QVERIFY(rec.starts.isEmpty());
    QCOMPARE(rec.ends, 0);
    QCOMPARE(source->typesReads, 0);
}

void TestGlobalDragMonitor::withoutDisplayFallsBackAndLogsOnce()
{
    // Offscreen and no X11 display: the null source, announced once per process.
    qunsetenv("DISPLAY");
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"));
    previousHandler = qInstallMessageHandler(countInfo);
    {
        GlobalDragMonitor first;
        GlobalDragMonitor second;
        QVERIFY(!first.isAvailable());
        QVERIFY(!second.isAvailable());
        Recorder rec(first);
        QTest::qWait(twoTicksMs);
        QVERIFY(rec.starts.isEmpty());
    }
    qInstallMessageHandler(previousHandler);
    QCOMPARE(infoMessages, 1);
}

void TestGlobalDragMonitor::fileTypeIdentifiers_data()
{
    QTest::addColumn<QStringList>("types");
    QTest::addColumn<bool>("interesting");
    QTest::newRow("file list") << QStringList{"text/plain", "text/uri-list"} << true;
    QTest::newRow("direct save") << QStringList{"XdndDirectSave0"} << true;
    QTest::newRow("icon list") << QStringList{"x-special/gnome-icon-list"} << true;
    QTest::newRow("text") << QStringList{"UTF8_STRING", "text/plain"} << false;
    QTest::newRow("link only as moz-url") << QStringList{"text/x-moz-url"} << false;
    QTest::newRow("case differs") << QStringList{"TEXT/URI-LIST"} << false;
    QTest::newRow("empty") << QStringList{} << false;
}

void TestGlobalDragMonitor::fileTypeIdentifiers()
{
    QFETCH(QStringList, types);
    QFETCH(bool, interesting);
    QCOMPARE(DragTypes::containsFileType(types), interesting);
}

QTEST_MAIN(TestGlobalDragMonitor)
#include "tst_globaldragmonitor.moc"
