// The monitor's state machine, fed by a fake source's ordered stream (no X
// server needed).
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

    bool hasListeners() const
    {
        return isSignalConnected(QMetaMethod::fromSignal(&DragEventSource::pasteboardChanged)) ||
               isSignalConnected(QMetaMethod::fromSignal(&DragEventSource::released));
    }

    void newDrag(const QStringList &types) { emit pasteboardChanged(++count, types); }
    void release(int key = 0) { emit released(count, key); }

    bool pasteboard = true;
    qint64 count = 0;
};

const QStringList fileTypes{QStringLiteral("text/uri-list"), QStringLiteral("text/plain")};
const QStringList textTypes{QStringLiteral("UTF8_STRING"), QStringLiteral("text/plain")};

// What the owner saw, one letter each: F a file drag started, T another drag
// started, E the drag ended.
struct Recorder
{
    explicit Recorder(GlobalDragMonitor &monitor)
    {
        monitor.onDragStart = [this](const QStringList &types) {
            log += DragTypes::containsFileType(types) ? u'F' : u'T';
        };
        monitor.onDragEnd = [this] { log += u'E'; };
    }
    QString log;
};

// Plays a stream written as space-separated events: "c3f" change 3 with file
// types ("t" text, "-" no types), "r3" left release stamped 3, "e3" Escape up,
// "k3" another key up.
void play(DragEventSource &source, const QString &script)
{
    for (const QString &event : script.split(u' ', Qt::SkipEmptyParts)) {
        const QChar kind = event.front();
        if (kind == u'c') {
            const QChar what = event.back();
            const QStringList types = what == u'f' ? fileTypes : what == u't' ? textTypes
                                                                                : QStringList();
            emit source.pasteboardChanged(event.mid(1, event.size() - 2).toLongLong(), types);
        } else {
            const int key = kind == u'r'   ? 0
                            : kind == u'e' ? int(Qt::Key_Escape)
                                           : int(Qt::Key_A);
            emit source.released(event.mid(1).toLongLong(), key);
        }
    }
}

// Emits from a thread of its own, as the X11 source does: the monitor gets
// the stream queued, and must get it in order.
class ThreadedScript : public QThread
{
public:
    ThreadedScript(DragEventSource &source, const QString &script)
        : source(source), script(script)
    {
    }
    void run() override { play(source, script); }

private:
    DragEventSource &source;
    QString script;
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
    void orderedStream_data();
    void orderedStream();
    void streamFromAnotherThreadKeepsItsOrder();
    void startReportsTheTypes();
    void unsetCallbacksStillMoveTheState();
    void nothingAfterDestruction();
    void ownerMayDestroyMonitorInsideCallback();
    void noPasteboardStaysIdle();
    void withoutDisplayFallsBackAndLogsOnce();
    void fileTypeIdentifiers_data();
    void fileTypeIdentifiers();
};

void TestGlobalDragMonitor::orderedStream_data()
{
    QTest::addColumn<qint64>("baseline");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("expected");

    QTest::newRow("one drag") << 0ll << "c1f r1" << "FE";
    QTest::newRow("changes during a drag are consumed")
        << 0ll << "c1f c2t c3f r3 c4t r4" << "FETE";
    QTest::newRow("empty type list consumed silently") << 0ll << "c1- r1 c2f r2" << "FE";
    QTest::newRow("text drag is reported too") << 0ll << "c1t r1" << "TE";
    QTest::newRow("releases while idle are silent") << 0ll << "r0 e0 c1f r1 r1 e1" << "FE";
    QTest::newRow("Escape ends a drag") << 0ll << "c1f e1 r1" << "FE";
    QTest::newRow("other keys end nothing") << 0ll << "c1f k1 k1 r1" << "FE";
    QTest::newRow("unended drag blocks the next start") << 0ll << "c1f k1 c2f r2" << "FE";
    QTest::newRow("change at construction is not a drag") << 41ll << "c41f r41 c42f" << "F";
    QTest::newRow("changes older than the baseline") << 41ll << "c40f c41f r41 c42t" << "T";
    // The sequence that swallowed file drags: a quick text drag is released
    // before its start is reported, then files are dragged.
    QTest::newRow("quick drag then file drag") << 0ll << "r1 c1t c2f r2" << "FE";
    QTest::newRow("quick drag ended by Escape") << 0ll << "e1 c1f c2f r2" << "FE";
    QTest::newRow("release before start, other key first") << 0ll << "k1 c1f r1" << "FE";
    QTest::newRow("two quick drags in a row") << 0ll << "r1 r2 c1f c2f c3f r3" << "FE";
    QTest::newRow("release of a newer change ends the drag") << 0ll << "c1f r2 c2f c3f" << "FEF";
    QTest::newRow("empty list released before reported") << 0ll << "r1 c1- c2f r2" << "FE";
}

void TestGlobalDragMonitor::orderedStream()
{
    QFETCH(qint64, baseline);
    QFETCH(QString, script);
    QFETCH(QString, expected);
    auto source = std::make_shared<FakeSource>();
    source->count = baseline;
    GlobalDragMonitor monitor(source);
    Recorder rec(monitor);
    play(*source, script);
    QCOMPARE(rec.log, expected);
}

void TestGlobalDragMonitor::streamFromAnotherThreadKeepsItsOrder()
{
    auto source = std::make_shared<FakeSource>();
    GlobalDragMonitor monitor(source);
    Recorder rec(monitor);
    // Many quick drags, each released before its start was reported, then a
    // file drag: only the file drag may start.
    QStringList events;
    for (int change = 1; change <= 200; ++change)
        events << QStringLiteral("r%1 c%1t").arg(change);
    events << QStringLiteral("c201f r201");
    ThreadedScript thread(*source, events.join(u' '));
    thread.start();
    QVERIFY(thread.wait(5000));
    QTRY_COMPARE_WITH_TIMEOUT(rec.log, QStringLiteral("FE"), 2000);
}

void TestGlobalDragMonitor::startReportsTheTypes()
{
    auto source = std::make_shared<FakeSource>();
    GlobalDragMonitor monitor(source);
    QList<QStringList> starts;
    monitor.onDragStart = [&](const QStringList &types) { starts.append(types); };
    source->newDrag(fileTypes);
    source->newDrag(textTypes); // the same drag
    source->release();
    source->newDrag({QStringLiteral("XdndDirectSave0")});
    QCOMPARE(starts, (QList<QStringList>{fileTypes, {QStringLiteral("XdndDirectSave0")}}));
}

void TestGlobalDragMonitor::unsetCallbacksStillMoveTheState()
{
    auto source = std::make_shared<FakeSource>();
    GlobalDragMonitor monitor(source);
    source->newDrag(fileTypes);

    int ends = 0;
    monitor.onDragEnd = [&] { ++ends; };
    source->release(Qt::Key_Escape);
    QCOMPARE(ends, 1);

    monitor.onDragEnd = nullptr;
    int starts = 0;
    monitor.onDragStart = [&](const QStringList &) { ++starts; };
    source->newDrag(fileTypes);
    QCOMPARE(starts, 1);
    source->release(); // no end callback: skipped, state back to idle
    source->newDrag(fileTypes);
    QCOMPARE(starts, 2);
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
        QCOMPARE(calls, 1);
        // A release and a new drag queued, as from the source's thread.
        QMetaObject::invokeMethod(
            source.get(),
            [s = source.get()] {
                s->release();
                s->newDrag(fileTypes);
            },
            Qt::QueuedConnection);
    }
    QCoreApplication::processEvents();
    source->release();
    source->newDrag(fileTypes);
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
    QTRY_VERIFY_WITH_TIMEOUT(alive.isNull(), 1000);
    source->release();
    source->newDrag(fileTypes);
    QCOMPARE(starts, 1);
}

void TestGlobalDragMonitor::noPasteboardStaysIdle()
{
    auto source = std::make_shared<FakeSource>();
    source->pasteboard = false;
    GlobalDragMonitor monitor(source);
    Recorder rec(monitor);
    QVERIFY(!monitor.isAvailable());
    play(*source, QStringLiteral("c1f r1 c2f"));
    QVERIFY(rec.log.isEmpty());
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
