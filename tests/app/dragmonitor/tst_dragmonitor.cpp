// The monitor's state machine, fed by a fake source, and the X11 source's URI-list file test.
#include "DragEventSource.h"
#include "DragTypeFilter.h"
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
    bool pasteboard = true;
    qint64 count = 0;
};

// Plays space-separated events: "c3f" change 3 with file types ("t" text, "-" no types),
// "r3" left release stamped 3, "e3" Escape up, "k3" another key up.
void play(DragEventSource &source, const QString &script)
{
    for (const QString &event : script.split(u' ', Qt::SkipEmptyParts)) {
        const QChar kind = event.front(), what = event.back();
        if (kind == u'c') {
            const QStringList types = what == u'f'   ? QStringList{"text/uri-list", "text/plain"}
                                      : what == u't' ? QStringList{"UTF8_STRING", "text/plain"}
                                                     : QStringList();
            emit source.pasteboardChanged(event.mid(1, event.size() - 2).toLongLong(), types);
        } else {
            const int key = kind == u'r' ? 0 : kind == u'e' ? int(Qt::Key_Escape) : int(Qt::Key_A);
            emit source.released(event.mid(1).toLongLong(), key);
        }
    }
}

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

} // namespace

class TestDragMonitor : public QObject
{
    Q_OBJECT
private slots:
    void orderedStream_data()
    {
        QTest::addColumn<qint64>("baseline"); // -1: a source without a drag pasteboard
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        QTest::newRow("changes during a drag are consumed") << 0ll << "c1f c2t c3f r3 c4t r4" << "FETE";
        QTest::newRow("empty type list consumed silently") << 0ll << "c1- r1 c2f r2" << "FE";
        QTest::newRow("releases while idle are silent") << 0ll << "r0 e0 c1t r1 r1 e1" << "TE";
        QTest::newRow("Escape ends a drag") << 0ll << "c1f e1 r1" << "FE";
        QTest::newRow("other keys end nothing, nor start the next") << 0ll << "c1f k1 k1 c2f r2" << "FE";
        QTest::newRow("change at construction is not a drag") << 41ll << "c41f r41 c42f" << "F";
        QTest::newRow("changes older than the baseline") << 41ll << "c40f c41f r41 c42t" << "T";
        QTest::newRow("no drag pasteboard: idle") << -1ll << "c1f r1 c2f" << "";
        // The sequence that swallowed file drags: a quick text drag is released
        // before its start is reported, then files are dragged.
        QTest::newRow("quick drag then file drag") << 0ll << "r1 c1t c2f r2" << "FE";
        QTest::newRow("quick drag ended by Escape") << 0ll << "e1 c1f c2f r2" << "FE";
        QTest::newRow("release before start, other key first") << 0ll << "k1 c1f r1" << "FE";
        QTest::newRow("two quick drags in a row") << 0ll << "r1 r2 c1f c2f c3f r3" << "FE";
        QTest::newRow("release of a newer change ends the drag") << 0ll << "c1f r2 c2f c3f" << "FEF";
        QTest::newRow("empty list released before reported") << 0ll << "r1 c1- c2f r2" << "FE";
    }

    void orderedStream()
    {
        QFETCH(qint64, baseline);
        QFETCH(QString, script);
        QFETCH(QString, expected);
        auto source = std::make_shared<FakeSource>();
        source->count = std::max(baseline, 0ll);
        source->pasteboard = baseline >= 0;
        GlobalDragMonitor monitor(source);
        QCOMPARE(monitor.isAvailable(), baseline >= 0);
        Recorder rec(monitor);
        play(*source, script);
        QCOMPARE(rec.log, expected);
    }

    // The owner deletes the monitor from inside its callback: nothing is reported
    // after that, and nothing stays connected to the source.
    void nothingAfterDestruction()
    {
        auto source = std::make_shared<FakeSource>();
        QPointer<GlobalDragMonitor> monitor(new GlobalDragMonitor(source));
        Recorder rec(*monitor);
        monitor->onDragStart = [&, record = monitor->onDragStart](const QStringList &types) {
            record(types);
            monitor->deleteLater();
        };
        play(*source, QStringLiteral("c1f"));
        QTRY_VERIFY_WITH_TIMEOUT(monitor.isNull(), 1000);
        play(*source, QStringLiteral("r1 c2f r2"));
        QCOMPARE(rec.log, QStringLiteral("F"));
        QVERIFY(!source->hasListeners());
    }

    void withoutDisplayFallsBack()
    {
        qunsetenv("DISPLAY");
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"));
        QVERIFY(!GlobalDragMonitor().isAvailable());
    }

    // The verdicts the fuzz target's properties (case, CRLF, blanks, comments,
    // joined lists, the reported types that follow) take as given.
    void uriListHasFile()
    {
        const std::pair<QByteArray, bool> rows[] = {
            {"file:///tmp/a%20b", true},
            {"file://host/tmp/a", true},
            {QByteArray("file:///a\r\n\0", 12), true}, // a trailing NUL
            {"https://example.org/file:///x", false},
            {"file", false},
            {"\n\n\r\n", false},
            {QByteArray("\0file:///a", 10), false},
        };
        for (const auto &[list, hasFile] : rows)
            QVERIFY2(DragTypeFilter::uriListHasFile(list) == hasFile, list.toPercentEncoding().constData());
    }
};

QTEST_MAIN(TestDragMonitor)
#include "tst_dragmonitor.moc"
