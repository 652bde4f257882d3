// DropZoneView and DropZoneWindow offscreen: progress, the timing of the
// result, display-mode reports, drag handling, the window's animated resize,
// and its looks (saved into $PELKIN_BINARY_DIR/screenshots/dropzone/).
#include "DropZoneWindow.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QStyle>
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

std::unique_ptr<QMimeData> mime(const QList<QUrl> &urls, const QString &text = {})
{
    auto data = std::make_unique<QMimeData>();
    if (!urls.isEmpty())
        data->setUrls(urls);
    if (!text.isEmpty())
        data->setText(text);
    return data;
}

const QUrl fileA = QUrl::fromLocalFile(QStringLiteral("/tmp/旅行メモ.txt"));
const QUrl fileB = QUrl::fromLocalFile(QStringLiteral("/tmp/b 2.png"));

} // namespace

class DropZoneViewTest : public QObject
{
    Q_OBJECT

private slots:
    void progress();
    void finishEdgeCases();
    void fadeOutDoesNotCollapseANewUpload();
    void hiddenAfterTheResultIsCompactAtOnce();
    void drops_data();
    void drops();
    void window();
    void looks_data();
    void looks();
};

void DropZoneViewTest::progress()
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
    QCOMPARE(z.view.progressAreaOpacity(), 1.0);
}

void DropZoneViewTest::finishEdgeCases()
{
    Zone z;
    int now = 0;
    z.view.finishUpload(QStringLiteral("x"), QString(), true, [&] { ++now; });
    QCOMPARE(now, 1); // while idle: at once
    QCOMPARE(z.view.titleText(), z.idleTitle);

    // The result is held (1.1 s, a failure 1.4 s), then reset. A second finish
    // rewrites the texts and schedules its own reset; an upload begun between
    // the two resets is spared by the late one.
    QElapsedTimer clock;
    QList<qint64> done;
    z.view.prepareForUpload();
    clock.start();
    z.view.finishUpload(QStringLiteral("一"), QStringLiteral("a"), true, [&] {
        QVERIFY(!z.view.isUploading()); // reset before the completion
        done.append(clock.elapsed());
    });
    QTest::qWait(300);
    z.view.finishUpload(QStringLiteral("二"), QStringLiteral("b"), false, [&] { done.append(clock.elapsed()); });
    QCOMPARE(z.view.titleText(), QStringLiteral("二"));
    QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 2000);
    z.view.prepareForUpload(QStringLiteral("次"));
    z.view.updateUploadProgress(0.3);
    QTRY_COMPARE_WITH_TIMEOUT(done.size(), 2, 2000);
    QVERIFY(std::abs(done[0] - 1100) <= 100 && std::abs(done[1] - 1700) <= 100);
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

void DropZoneViewTest::fadeOutDoesNotCollapseANewUpload()
{
    Zone z;
    z.view.prepareForUpload();
    QVERIFY(z.settled());
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

// As the shell does: the zone hides as soon as the result has been shown,
// while the view is still fading back to idle. A drag right after must find
// the compact zone, not the upload's expanded one.
void DropZoneViewTest::hiddenAfterTheResultIsCompactAtOnce()
{
    DropZoneWindow window(DropZoneWindow::Chrome::flat);
    DropZoneView &view = *window.dropView();
    view.onDisplayModeChange = [&](Mode mode) { window.apply(mode, true); };
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window, 2000));
    view.prepareForUpload();
    QTRY_COMPARE_WITH_TIMEOUT(window.panelGeometry().size(), DropZoneWindow::expandedSize, 1000);
    bool hidden = false;
    view.finishUpload(QStringLiteral("完了"), QString(), true, [&] { window.hide(); hidden = true; });
    QTRY_VERIFY_WITH_TIMEOUT(hidden, 2000);
    QCOMPARE(view.currentDisplayMode(), Mode::compact);
    QCOMPARE(window.panelGeometry().size(), DropZoneWindow::compactSize);
    QVERIFY(!view.isAnimating() && !view.isProgressAreaVisible());
}

void DropZoneViewTest::drops_data()
{
    QTest::addColumn<QList<QUrl>>("entered");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("uploading");
    QTest::addColumn<QString>("between"); // what happens between the enter and the drop
    QTest::addColumn<QList<QUrl>>("dropped");
    QTest::addColumn<QList<QUrl>>("delivered");
    const QList<QUrl> none, a{fileA};
    // The drop's data is not read again: the source may be gone by now.
    QTest::newRow("empty drop takes the files seen on entering, not links")
        << QList<QUrl>{fileA, QUrl("https://x.test/"), fileB} << QString() << false << QString() << none
        << QList<QUrl>{fileA, fileB};
    QTest::newRow("after moves too") << a << QString() << false << "move" << none << a;
    QTest::newRow("the files seen on entering are dropped") << a << QString() << false << QString()
                                                            << QList<QUrl>{fileB} << a;
    QTest::newRow("nothing after the drag left") << a << QString() << false << "leave" << none << none;
    QTest::newRow("nothing after the drag ended") << a << QString() << false << "end" << none << none;
    QTest::newRow("nothing from an earlier drop") << a << QString() << false << "drop" << none << none;
    QTest::newRow("files refused while uploading") << a << QString() << true << QString() << a << none;
    QTest::newRow("text that looks like a path") << none << "/tmp/a" << false << QString() << none << none;
}

// Through the widget's own drag events, as the platform delivers them.
void DropZoneViewTest::drops()
{
    QFETCH(QList<QUrl>, entered);
    QFETCH(QString, text);
    QFETCH(bool, uploading);
    QFETCH(QString, between);
    QFETCH(QList<QUrl>, dropped);
    QFETCH(QList<QUrl>, delivered);
    Zone z;
    if (uploading)
        z.view.prepareForUpload();
    const QPoint at(20, 20);
    const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    const auto send = [&](auto &&event) {
        QApplication::sendEvent(&z.view, &event);
        return event.isAccepted();
    };
    const bool taken = !uploading && !entered.isEmpty();
    {
        // Its own data, gone after the enter as the platform's would be.
        const auto data = mime(entered, text);
        QCOMPARE(send(QDragEnterEvent(at, actions, data.get(), Qt::LeftButton, Qt::NoModifier)), taken);
    }
    QCOMPARE(z.view.isHighlighted() && z.view.isDragHovering(), taken);
    QCOMPARE(z.entered, taken ? 1 : 0);
    const auto empty = mime({});
    if (between == QLatin1String("move")) {
        for (int x = 30; x <= 60; x += 10)
            QVERIFY(send(QDragMoveEvent(QPoint(x, 20), actions, empty.get(), Qt::LeftButton, Qt::NoModifier)));
    } else if (between == QLatin1String("leave")) {
        send(QDragLeaveEvent());
        QVERIFY(!z.view.isHighlighted() && !z.view.isDragHovering() && z.ended == 0);
        // No drop event reaches a widget the drag has left; the step itself
        // must not find the files of the drag that went.
        QVERIFY(!z.view.performDragOperation(empty.get()));
        QVERIFY(z.drops.isEmpty());
        return;
    } else if (between == QLatin1String("end")) {
        z.view.draggingEnded();
    } else if (between == QLatin1String("drop")) {
        QVERIFY(send(QDropEvent(at, actions, empty.get(), Qt::LeftButton, Qt::NoModifier)));
        QCOMPARE(z.drops, Drops{entered});
        z.drops.clear();
    }
    const auto data = mime(dropped);
    QDropEvent drop(at, actions, data.get(), Qt::LeftButton, Qt::NoModifier);
    QCOMPARE(send(drop), !delivered.isEmpty());
    QCOMPARE(z.drops, delivered.isEmpty() ? Drops{} : Drops{delivered});
    QVERIFY(!z.view.isHighlighted() && !z.view.isDragHovering() && !z.view.hasDragTouched());
    if (delivered.isEmpty())
        return;
    QCOMPARE(drop.dropAction(), Qt::CopyAction);
    QCOMPARE(z.ended, 1);
    QVERIFY(z.modes.isEmpty()); // a drag alone never expands the zone
}

// The shell's sequence: the view expands, the window grows (animated) keeping
// its bottom-left corner and is re-placed at once; both end where the shell
// put them, and the same on the way back.
void DropZoneViewTest::window()
{
    DropZoneWindow window(DropZoneWindow::Chrome::translucent);
    window.movePanelTo(QPoint(400, 30));
    QCOMPARE(window.geometry(), window.panelGeometry().marginsAdded(window.shadowMargins()));
    const QRect compact = window.panelGeometry();
    window.apply(Mode::expanded, false);
    QCOMPARE(window.panelGeometry().bottomLeft(), compact.bottomLeft());
    QCOMPARE(window.dropView()->size(), window.panelSize());
    window.apply(Mode::compact, false);
    QCOMPARE(window.panelGeometry(), compact);

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window, 2000));
    const auto placed = [&](QSize size) { return QRect(QPoint(600 - size.width() / 2, 40), size); };
    window.dropView()->onDisplayModeChange = [&](Mode mode) {
        window.apply(mode, true);
        window.movePanelTo(placed(window.panelSize()).topLeft());
    };
    window.dropView()->prepareForUpload();
    QTRY_COMPARE_WITH_TIMEOUT(window.panelGeometry(), placed(DropZoneWindow::expandedSize), 1000);
    window.dropView()->resetToIdle(true);
    QTRY_COMPARE_WITH_TIMEOUT(window.panelGeometry(), placed(DropZoneWindow::compactSize), 1500);
    window.movePanelTo(QPoint(10, 10), true);
    QTRY_COMPARE_WITH_TIMEOUT(window.panelGeometry().topLeft(), QPoint(10, 10), 1000);
}

void DropZoneViewTest::looks_data()
{
    QTest::addColumn<bool>("dark");
    QTest::addColumn<bool>("translucent");
    QTest::newRow("light") << false << true;
    QTest::newRow("dark") << true << true;
    QTest::newRow("flat-light") << false << false;
    QTest::newRow("flat-dark") << true << false;
}

// Every look, checking what the pixels can tell: see-through rounded corners
// only where a compositor blends them, and a panel that changes with the state.
void DropZoneViewTest::looks()
{
    QFETCH(bool, dark);
    QFETCH(bool, translucent);
    QPalette palette = QApplication::style()->standardPalette();
    if (dark) {
        palette.setColor(QPalette::Window, QColor(44, 45, 50));
        palette.setColor(QPalette::WindowText, QColor(238, 238, 240));
        palette.setColor(QPalette::Highlight, QColor(61, 142, 230));
    }
    QApplication::setPalette(palette);
    DropZoneWindow window(translucent ? DropZoneWindow::Chrome::translucent : DropZoneWindow::Chrome::flat);
    DropZoneView &view = *window.dropView();
    view.onDisplayModeChange = [&](Mode mode) { window.apply(mode, false); };
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window, 2000));

    const QString dir = qEnvironmentVariable("PELKIN_BINARY_DIR") + "/screenshots/dropzone/";
    QVERIFY(QDir().mkpath(dir));
    QList<QRgb> panelPixels;
    auto shoot = [&](const QString &name) {
        QTRY_VERIFY_WITH_TIMEOUT(!view.isAnimating(), 2000);
        const QImage raw = window.grab().toImage();
        const qreal dpr = raw.devicePixelRatio();
        QVERIFY(raw.save(dir + QString::fromLatin1(QTest::currentDataTag()) + '-' + name + ".png"));
        const QMargins m = window.shadowMargins();
        panelPixels.append(raw.pixel(int((m.left() + 3) * dpr), int((m.top() + 3) * dpr)));
        QCOMPARE(qAlpha(raw.pixel(int(m.left() * dpr), int(m.top() * dpr))) < 128, translucent);
    };
    shoot("idle");
    const auto files = mime({fileB});
    QVERIFY(view.draggingEntered(files.get()));
    shoot("highlighted");
    view.draggingExited();
    view.prepareForUpload(QStringLiteral("ファイルをアップロード中…"));
    view.updateUploadProgress(0.4);
    shoot("uploading-40");
    view.finishUpload(QStringLiteral("アップロード完了"), QStringLiteral("https://drop.example.test/s/7fK2pQ"), true);
    shoot("success");
    view.resetToIdle(false);
    view.prepareForUpload(QStringLiteral("ファイルをアップロード中…"));
    view.updateUploadProgress(0.62);
    view.finishUpload(QStringLiteral("アップロード失敗"), QStringLiteral("サーバーに接続できませんでした (HTTP 503)"),
                      false);
    shoot("failure");
    QVERIFY(panelPixels[0] != panelPixels[1] && panelPixels[0] != panelPixels[2]);
}

QTEST_MAIN(DropZoneViewTest)
#include "tst_dropzoneview.moc"
