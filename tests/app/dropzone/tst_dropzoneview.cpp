// DropZoneView and DropZoneWindow offscreen: progress, the timing of the
// result, display-mode reports, drag handling and the window's animated resize.
#include "DropZoneWindow.h"

#include <QDragEnterEvent>
#include <QMimeData>
#include <QTest>

#include <memory>

using Mode = DropZoneView::DisplayMode;
using Drops = QList<QList<QUrl>>;

namespace {

// An expanded-size view with its callbacks recorded.
struct Zone
{
    DropZoneView view;
    const QString idleTitle = view.titleText();
    QList<Mode> modes;
    Drops drops;
    int entered = 0, ended = 0;
    Zone()
    {
        view.resize(DropZoneWindow::expandedSize);
        view.onDisplayModeChange = [this](Mode m) { modes.append(m); };
        view.onDropFiles = [this](const QList<QUrl> &urls) { drops.append(urls); };
        view.onDragEntered = [this] { ++entered; };
        view.onDragEnded = [this] { ++ended; };
    }
    bool settled() { return QTest::qWaitFor([this] { return !view.isAnimating(); }, 1000); }
};

std::unique_ptr<QMimeData> mime(const QList<QUrl> &urls)
{
    auto data = std::make_unique<QMimeData>();
    if (!urls.isEmpty())
        data->setUrls(urls);
    return data;
}

const QUrl fileA = QUrl::fromLocalFile(QStringLiteral("/tmp/旅行メモ.txt"));
const QUrl fileB = QUrl::fromLocalFile(QStringLiteral("/tmp/b 2.png"));

// A drag entering with `entered`, maybe something `between`, then
// dropped with `dropped`: what the zone hands on.
struct DropCase
{
    QList<QUrl> entered;
    bool uploading = false;
    QString between; // "move", "leave", "end" or "drop"
    QList<QUrl> dropped;
    QList<QUrl> delivered;
};

} // namespace

Q_DECLARE_METATYPE(DropCase)

class DropZoneViewTest : public QObject
{
    Q_OBJECT

private slots:
    void progressAndFade()
    {
        Zone z;
        z.view.updateUploadProgress(0.6); // dropped while idle
        QCOMPARE(z.view.currentProgress(), 0.0);
        z.view.prepareForUpload();
        QCOMPARE(z.modes, QList<Mode>{Mode::expanded}); // reported before the fade, once
        z.view.prepareForUpload(QStringLiteral("ファイルをアップロード中…"));
        QCOMPARE(z.modes.size(), 1);
        // Figures out of range are clamped, in the text and in the bar.
        for (const auto &[given, kept] : {std::pair{1.7, 1.0}, std::pair{qQNaN(), 0.0}}) {
            z.view.updateUploadProgress(0.5); // from elsewhere, so the bar must move
            z.view.updateUploadProgress(given);
            QCOMPARE(z.view.currentProgress(), kept);
            QVERIFY2(z.view.subtitleText().endsWith(QStringLiteral(" %1%").arg(kept * 100)),
                     qPrintable(z.view.subtitleText()));
            QVERIFY(z.settled());
            QCOMPARE(z.view.fillWidth(), z.view.trackRect().width() * kept);
        }
        // A new upload during the fade back to idle is not collapsed when it ends.
        z.view.resetToIdle(true);
        QTest::qWait(60);
        z.view.prepareForUpload();
        QVERIFY(z.settled());
        QTest::qWait(100);
        QCOMPARE(z.modes, QList<Mode>{Mode::expanded});
        QCOMPARE(z.view.progressAreaOpacity(), 1.0);
        z.view.resetToIdle(false);
        QCOMPARE(z.modes, (QList<Mode>{Mode::expanded, Mode::compact}));
    }

    void finishEdgeCases()
    {
        Zone z;
        int now = 0;
        z.view.finishUpload(QStringLiteral("x"), QString(), true, [&] { ++now; });
        QCOMPARE(now, 1); // while idle: at once
        QCOMPARE(z.view.titleText(), z.idleTitle);

        // The result is held, then reset. A second finish rewrites the texts and
        // schedules its own reset; an upload begun between the two resets is
        // spared by the late one.
        QString done;
        z.view.prepareForUpload();
        z.view.finishUpload(QStringLiteral("一"), QStringLiteral("a"), true, [&] {
            QVERIFY(!z.view.isUploading()); // reset before the completion
            done += u'1';
        });
        QTest::qWait(300);
        z.view.finishUpload(QStringLiteral("二"), QStringLiteral("b"), false, [&] { done += u'2'; });
        QCOMPARE(z.view.titleText(), QStringLiteral("二"));
        QTRY_COMPARE_WITH_TIMEOUT(done, QStringLiteral("1"), 3000);
        z.view.prepareForUpload(QStringLiteral("次"));
        z.view.updateUploadProgress(0.3);
        QTRY_COMPARE_WITH_TIMEOUT(done, QStringLiteral("12"), 3000);
        QVERIFY(z.view.isUploading());
        QCOMPARE(z.view.currentProgress(), 0.3);

        // The completion runs even when the view is gone.
        bool completed = false;
        auto *view = new DropZoneView;
        view->prepareForUpload();
        view->finishUpload(QStringLiteral("x"), QString(), true, [&] { completed = true; });
        delete view;
        QTRY_VERIFY_WITH_TIMEOUT(completed, 2000);
    }

    void drops_data()
    {
        QTest::addColumn<DropCase>("c");
        const QList<QUrl> none, a{fileA};
        // The drop's data is not read again: the source may be gone by now.
        QTest::newRow("files seen on entering, not links nor the drop's")
            << DropCase{{fileA, QUrl("https://x.test/"), fileB}, false, {}, {QUrl("file:///c")}, {fileA, fileB}};
        QTest::newRow("after moves too") << DropCase{a, false, "move", none, a};
        QTest::newRow("nothing after the drag left") << DropCase{a, false, "leave", none, none};
        QTest::newRow("nothing after the drag ended") << DropCase{a, false, "end", none, none};
        QTest::newRow("nothing from an earlier drop") << DropCase{a, false, "drop", none, none};
        QTest::newRow("files refused while uploading") << DropCase{a, true, {}, a, none};
    }

    // Through the widget's own drag events, as the platform delivers them.
    void drops()
    {
        QFETCH(DropCase, c);
        Zone z;
        if (c.uploading)
            z.view.prepareForUpload();
        const QPoint at(20, 20);
        const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
        const auto send = [&](auto &&event) {
            QApplication::sendEvent(&z.view, &event);
            return event.isAccepted();
        };
        const bool taken = !c.uploading && !c.entered.isEmpty();
        {
            // Its own data, gone after the enter as the platform's would be.
            const auto data = mime(c.entered);
            QCOMPARE(send(QDragEnterEvent(at, actions, data.get(), Qt::LeftButton, Qt::NoModifier)), taken);
        }
        QCOMPARE(z.view.isHighlighted() && z.view.isDragHovering(), taken);
        QCOMPARE(z.entered, taken ? 1 : 0);
        const auto empty = mime({});
        if (c.between == QLatin1String("move")) {
            for (int x = 30; x <= 60; x += 10) {
                QVERIFY(send(
                    QDragMoveEvent(QPoint(x, 20), actions, empty.get(), Qt::LeftButton, Qt::NoModifier)));
            }
        } else if (c.between == QLatin1String("leave")) {
            send(QDragLeaveEvent());
            QVERIFY(!z.view.isHighlighted() && !z.view.isDragHovering() && z.ended == 0);
            // No drop event reaches a widget the drag has left; the step itself
            // must not find the files of the drag that went.
            QVERIFY(!z.view.performDragOperation(empty.get()));
            QVERIFY(z.drops.isEmpty());
            return;
        } else if (c.between == QLatin1String("end")) {
            z.view.draggingEnded();
        } else if (c.between == QLatin1String("drop")) {
            QVERIFY(send(QDropEvent(at, actions, empty.get(), Qt::LeftButton, Qt::NoModifier)));
            QCOMPARE(z.drops, Drops{c.entered});
            z.drops.clear();
        }
        const auto data = mime(c.dropped);
        QDropEvent drop(at, actions, data.get(), Qt::LeftButton, Qt::NoModifier);
        QCOMPARE(send(drop), !c.delivered.isEmpty());
        QCOMPARE(z.drops, c.delivered.isEmpty() ? Drops{} : Drops{c.delivered});
        QVERIFY(!z.view.isHighlighted() && !z.view.isDragHovering() && !z.view.hasDragTouched());
        if (c.delivered.isEmpty())
            return;
        QCOMPARE(z.ended, 1);
        QVERIFY(z.modes.isEmpty()); // a drag alone never expands the zone
    }

    // The shell's sequence: the view expands, the window grows (animated) keeping
    // its bottom-left corner and is re-placed at once; both end where the shell
    // put them, and the same on the way back, also when hidden mid-way.
    void window()
    {
        DropZoneWindow window(DropZoneWindow::Chrome::translucent);
        window.movePanelTo(QPoint(400, 30));
        const QRect compact = window.panelGeometry();
        window.apply(Mode::expanded, false);
        QCOMPARE(window.panelGeometry().bottomLeft(), compact.bottomLeft());
        QCOMPARE(window.dropView()->size(), window.panelSize());
        window.apply(Mode::compact, false);
        QCOMPARE(window.panelGeometry(), compact);

        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window, 2000));
        const auto placed = [&](QSize size) { return QRect(QPoint(600 - size.width() / 2, 40), size); };
        DropZoneView &view = *window.dropView();
        view.onDisplayModeChange = [&](Mode mode) {
            window.apply(mode, true);
            window.movePanelTo(placed(window.panelSize()).topLeft());
        };
        view.prepareForUpload();
        QTRY_COMPARE_WITH_TIMEOUT(window.panelGeometry(), placed(DropZoneWindow::expandedSize), 3000);
        view.resetToIdle(true);
        QTRY_COMPARE_WITH_TIMEOUT(window.panelGeometry(), placed(DropZoneWindow::compactSize), 3000);
        window.movePanelTo(QPoint(10, 10), true);
        QTRY_COMPARE_WITH_TIMEOUT(window.panelGeometry().topLeft(), QPoint(10, 10), 3000);

        // As the shell does: hidden as soon as a result has shown, while the view
        // still fades back to idle. A drag right after must find the compact zone.
        view.prepareForUpload();
        QTRY_COMPARE_WITH_TIMEOUT(window.panelGeometry().size(), DropZoneWindow::expandedSize, 3000);
        bool hidden = false;
        view.finishUpload(QStringLiteral("完了"), QString(), true, [&] { window.hide(); hidden = true; });
        QTRY_VERIFY_WITH_TIMEOUT(hidden, 2000);
        QCOMPARE(view.currentDisplayMode(), Mode::compact);
        QCOMPARE(window.panelGeometry().size(), DropZoneWindow::compactSize);
        QVERIFY(!view.isAnimating() && !view.isProgressAreaVisible());
    }
};

QTEST_MAIN(DropZoneViewTest)
#include "tst_dropzoneview.moc"
