// DropZoneView and DropZoneWindow offscreen: progress, the timing of the
// result, display-mode reports, drag handling, the window's animated resize,
// and its looks (saved into $PELKIN_BINARY_DIR/screenshots/dropzone/).
#include "DropZoneWindow.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QStyle>
#include <QTest>

#include <cmath>
#include <limits>
#include <memory>

using Mode = DropZoneView::DisplayMode;

namespace {

const QString idleTitle = QStringLiteral("ここにドロップして共有");

// An expanded-size view with its callbacks recorded.
struct Zone
{
    DropZoneView view;
    QList<Mode> modes;
    QList<QList<QUrl>> drops;
    int entered = 0;
    int ended = 0;

    Zone()
    {
        view.resize(260, 132);
        view.onDisplayModeChange = [this](Mode m) { modes.append(m); };
        view.onDropFiles = [this](const QList<QUrl> &urls) { drops.append(urls); };
        view.onDragEntered = [this] { ++entered; };
        view.onDragEnded = [this] { ++ended; };
    }
    bool settled()
    {
        return QTest::qWaitFor([this] { return !view.isAnimating(); }, 1000);
    }
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

} // namespace

class DropZoneViewTest : public QObject
{
    Q_OBJECT

private slots:
    void progress_data();
    void progress();
    void resultIsHeldThenReset_data();
    void resultIsHeldThenReset();
    void finishEdgeCases();
    void fadeOutDoesNotCollapseANewUpload();
    void hiddenAfterTheResultIsCompactAtOnce();
    void drags_data();
    void drags();
    void dropWithoutData_data();
    void dropWithoutData();
    void window();
    void looks_data();
    void looks();
};

void DropZoneViewTest::progress_data()
{
    QTest::addColumn<double>("progress");
    QTest::addColumn<double>("kept");
    QTest::addColumn<QString>("percent");
    QTest::newRow("0.005 rounds up") << 0.005 << 0.005 << QStringLiteral("1");
    QTest::newRow("0.004 rounds down") << 0.004 << 0.004 << QStringLiteral("0");
    QTest::newRow("above 1") << 1.7 << 1.0 << QStringLiteral("100");
    QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << 0.0 << QStringLiteral("0");
}

void DropZoneViewTest::progress()
{
    QFETCH(double, progress);
    QFETCH(double, kept);
    QFETCH(QString, percent);
    Zone z;
    z.view.updateUploadProgress(0.6); // dropped while idle
    QCOMPARE(z.view.currentProgress(), 0.0);
    QVERIFY(!z.view.isSubtitleVisible());

    z.view.prepareForUpload();
    QCOMPARE(z.modes, QList<Mode>{Mode::expanded}); // reported before the fade
    z.view.prepareForUpload(QStringLiteral("ファイルをアップロード中…"));
    QCOMPARE(z.modes.size(), 1);
    z.view.updateUploadProgress(0.5); // start elsewhere, so the bar must move
    z.view.updateUploadProgress(progress);
    QCOMPARE(z.view.currentProgress(), kept);
    QCOMPARE(z.view.subtitleText(),
             QStringLiteral("アップロード中… ") + percent + QLatin1Char('%'));
    QCOMPARE(z.view.titleText(), QStringLiteral("ファイルをアップロード中…"));
    QVERIFY(z.settled());
    QCOMPARE(z.view.progressAreaOpacity(), 1.0);
    QCOMPARE(z.view.fillWidth(), z.view.trackRect().width() * kept);
    z.view.resetToIdle(false);
    QCOMPARE(z.view.characterOffsets(), QPointF(0, -10)); // back at once
}

void DropZoneViewTest::resultIsHeldThenReset_data()
{
    QTest::addColumn<bool>("success");
    QTest::addColumn<int>("holdMs");
    QTest::newRow("success") << true << 1100;
    QTest::newRow("failure") << false << 1400;
}

void DropZoneViewTest::resultIsHeldThenReset()
{
    QFETCH(bool, success);
    QFETCH(int, holdMs);
    Zone z;
    z.view.prepareForUpload();
    z.view.updateUploadProgress(0.4);
    QElapsedTimer clock;
    qint64 completedAt = -1;
    qint64 compactAt = -1;
    z.view.onDisplayModeChange = [&](Mode m) {
        compactAt = m == Mode::compact ? clock.elapsed() : -2;
    };
    clock.start();
    z.view.finishUpload(QStringLiteral("結果"), QStringLiteral("詳細"), success, [&] {
        completedAt = clock.elapsed();
        QVERIFY(!z.view.isUploading()); // reset before the completion
    });
    QCOMPARE(z.view.titleText() + z.view.subtitleText(), QStringLiteral("結果詳細"));
    QVERIFY(z.settled());
    QCOMPARE(z.view.fillWidth(), z.view.trackRect().width()); // full bar, character at the end
    QCOMPARE(z.view.characterRect().right(), z.view.trackRect().right());
    QTRY_VERIFY_WITH_TIMEOUT(completedAt >= 0, holdMs + 1000);
    QVERIFY2(std::abs(completedAt - holdMs) <= 100, qPrintable(QString::number(completedAt)));
    QCOMPARE(z.view.titleText(), idleTitle);
    QVERIFY(!z.view.isSubtitleVisible());
    // Compact once the progress area has faded (0.2 s).
    QTRY_VERIFY_WITH_TIMEOUT(compactAt >= 0, 1000);
    QVERIFY2(std::abs(compactAt - holdMs - 200) <= 100, qPrintable(QString::number(compactAt)));
    QVERIFY(!z.view.isProgressAreaVisible());
    z.view.resetToIdle(true); // already there: no fade, no report
    QVERIFY(!z.view.isAnimating());
}

void DropZoneViewTest::finishEdgeCases()
{
    Zone z;
    int now = 0;
    z.view.finishUpload(QStringLiteral("x"), QString(), true, [&] { ++now; });
    QCOMPARE(now, 1); // while idle: at once
    QCOMPARE(z.view.titleText(), idleTitle);

    // A second finish rewrites the texts and schedules its own reset; an
    // upload begun between the two resets is spared by the late one.
    QElapsedTimer clock;
    QList<qint64> done;
    z.view.prepareForUpload();
    clock.start();
    z.view.finishUpload(QStringLiteral("一"), QStringLiteral("a"), true,
                        [&] { done.append(clock.elapsed()); });
    QTest::qWait(300);
    z.view.finishUpload(QStringLiteral("二"), QStringLiteral("b"), false,
                        [&] { done.append(clock.elapsed()); });
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
    window.movePanelTo(QPoint(100, 100));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window, 2000));
    view.prepareForUpload();
    QTRY_COMPARE_WITH_TIMEOUT(window.panelGeometry().size(), QSize(260, 132), 1000);
    bool hidden = false;
    view.finishUpload(QStringLiteral("完了"), QString(), true, [&] {
        window.hide();
        hidden = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(hidden, 2000);
    QCOMPARE(view.currentDisplayMode(), Mode::compact);
    QCOMPARE(window.panelGeometry().size(), QSize(210, 36));
    QVERIFY(!view.isAnimating() && !view.isProgressAreaVisible());
    QCOMPARE(view.titleText(), idleTitle);
}

void DropZoneViewTest::drags_data()
{
    const QUrl a = QUrl::fromLocalFile(QStringLiteral("/tmp/b 1.txt"));
    const QUrl b = QUrl::fromLocalFile(QStringLiteral("/tmp/写真.png"));
    const QUrl web(QStringLiteral("https://x.test/"));
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("uploading");
    QTest::addColumn<QList<QUrl>>("delivered");
    QTest::newRow("files, links left out")
        << QList<QUrl>{a, web, b} << QString() << false << QList<QUrl>{a, b};
    QTest::newRow("files while uploading") << QList<QUrl>{a} << QString() << true << QList<QUrl>{};
    QTest::newRow("text that looks like a path")
        << QList<QUrl>{} << QStringLiteral("/tmp/a") << false << QList<QUrl>{};
}

void DropZoneViewTest::drags()
{
    QFETCH(QList<QUrl>, urls);
    QFETCH(QString, text);
    QFETCH(bool, uploading);
    QFETCH(QList<QUrl>, delivered);
    Zone z;
    if (uploading)
        z.view.prepareForUpload();
    const auto data = mime(urls, text);
    const bool accepted = !delivered.isEmpty();
    QCOMPARE(z.view.draggingEntered(data.get()), accepted);
    QCOMPARE(z.view.isHighlighted(), accepted);
    QCOMPARE(z.view.isDragHovering(), accepted);
    QCOMPARE(z.entered, accepted ? 1 : 0);
    z.view.draggingExited(); // leaving clears the highlight, reports nothing
    QVERIFY(!z.view.isHighlighted() && !z.view.isDragHovering());
    QCOMPARE(z.ended, 0);
    if (!accepted) {
        z.view.setHighlighted(true);
        QVERIFY(!z.view.performDragOperation(data.get()));
        QVERIFY(z.view.isHighlighted()); // a refused drop leaves it as it was
        QVERIFY(z.drops.isEmpty());
        return;
    }
    QVERIFY(z.view.draggingEntered(data.get()));
    QVERIFY(z.view.performDragOperation(data.get()));
    QCOMPARE(z.drops, QList<QList<QUrl>>{delivered});
    QVERIFY(!z.view.isHighlighted());
    z.view.draggingEnded();
    QCOMPARE(z.ended, 1);
    QVERIFY(!z.view.hasDragTouched());
    QVERIFY(z.modes.isEmpty()); // a drag alone never expands the zone
}

void DropZoneViewTest::dropWithoutData_data()
{
    const QUrl a = QUrl::fromLocalFile(QStringLiteral("/tmp/旅行メモ.txt"));
    const QUrl b = QUrl::fromLocalFile(QStringLiteral("/tmp/b 2.png"));
    QTest::addColumn<QList<QUrl>>("entered");
    QTest::addColumn<QString>("between"); // what happens between the enter and the drop
    QTest::addColumn<QList<QUrl>>("dropped");
    QTest::addColumn<QList<QUrl>>("delivered");
    const QList<QUrl> none;
    QTest::newRow("empty drop takes the files seen on entering")
        << QList<QUrl>{a, b} << QString() << none << QList<QUrl>{a, b};
    QTest::newRow("after moves too") << QList<QUrl>{a} << "move" << none << QList<QUrl>{a};
    // The drop's data is not read again: the source may be gone by now.
    QTest::newRow("the files seen on entering are dropped")
        << QList<QUrl>{a} << QString() << QList<QUrl>{b} << QList<QUrl>{a};
    QTest::newRow("nothing after the drag left") << QList<QUrl>{a} << "leave" << none << none;
    QTest::newRow("nothing after the drag ended") << QList<QUrl>{a} << "end" << none << none;
    QTest::newRow("nothing from an earlier drop") << QList<QUrl>{a} << "drop" << none << none;
    QTest::newRow("nothing from a refused enter") << none << QString() << none << none;
}

// Through the widget's own drag events, as the platform delivers them.
void DropZoneViewTest::dropWithoutData()
{
    QFETCH(QList<QUrl>, entered);
    QFETCH(QString, between);
    QFETCH(QList<QUrl>, dropped);
    QFETCH(QList<QUrl>, delivered);
    Zone z;
    const QPoint at(20, 20);
    const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    {
        // Its own data, gone after the enter as the platform's would be.
        const auto data = mime(entered, entered.isEmpty() ? QStringLiteral("words") : QString());
        QDragEnterEvent enter(at, actions, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&z.view, &enter);
        QCOMPARE(enter.isAccepted(), !entered.isEmpty());
    }
    const auto empty = mime({});
    if (between == QLatin1String("move")) {
        for (int x = 30; x <= 60; x += 10) {
            QDragMoveEvent move(QPoint(x, 20), actions, empty.get(), Qt::LeftButton,
                                Qt::NoModifier);
            QApplication::sendEvent(&z.view, &move);
            QVERIFY(move.isAccepted());
        }
    } else if (between == QLatin1String("leave")) {
        QDragLeaveEvent leave;
        QApplication::sendEvent(&z.view, &leave);
    } else if (between == QLatin1String("end")) {
        z.view.draggingEnded();
    } else if (between == QLatin1String("drop")) {
        QDropEvent drop(at, actions, empty.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&z.view, &drop);
        QCOMPARE(z.drops, QList<QList<QUrl>>{entered});
        z.drops.clear();
    }
    const auto data = mime(dropped);
    if (between == QLatin1String("leave")) {
        // No drop event reaches a widget the drag has left; the step itself
        // must not find the files of the drag that went.
        QVERIFY(!z.view.performDragOperation(data.get()));
        QVERIFY(z.drops.isEmpty());
        return;
    }
    QDropEvent drop(at, actions, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&z.view, &drop);
    QCOMPARE(drop.isAccepted(), !delivered.isEmpty());
    QCOMPARE(z.drops, delivered.isEmpty() ? QList<QList<QUrl>>{} : QList<QList<QUrl>>{delivered});
    if (!delivered.isEmpty())
        QCOMPARE(drop.dropAction(), Qt::CopyAction);
    QVERIFY(!z.view.isHighlighted() && !z.view.isDragHovering() && !z.view.hasDragTouched());
}

void DropZoneViewTest::window()
{
    DropZoneWindow window(DropZoneWindow::Chrome::translucent);
    window.movePanelTo(QPoint(400, 30));
    QCOMPARE(window.geometry(), window.panelGeometry().marginsAdded(window.shadowMargins()));
    const QRect compact = window.panelGeometry();
    window.apply(Mode::expanded, false); // keeps the bottom-left corner
    QCOMPARE(window.panelGeometry().bottomLeft(), compact.bottomLeft());
    QCOMPARE(window.dropView()->size(), window.panelSize());
    window.apply(Mode::compact, false);
    QCOMPARE(window.panelGeometry(), compact);

    // The shell's sequence: the view expands, the window grows (animated)
    // and is re-placed at once; both end where the shell put them.
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window, 2000));
    window.dropView()->onDisplayModeChange = [&](Mode mode) {
        window.apply(mode, true);
        window.movePanelTo(QPoint(600 - window.panelSize().width() / 2, 40));
    };
    window.dropView()->prepareForUpload();
    QTRY_COMPARE_WITH_TIMEOUT(window.panelGeometry(), QRect(470, 40, 260, 132), 1000);
    window.dropView()->resetToIdle(true);
    QTRY_COMPARE_WITH_TIMEOUT(window.panelGeometry(), QRect(495, 40, 210, 36), 1500);
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

// Every look, checking what the pixels can tell:
// see-through rounded corners only where a compositor blends them, and a
// panel that changes with the state.
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
    DropZoneWindow window(translucent ? DropZoneWindow::Chrome::translucent
                                      : DropZoneWindow::Chrome::flat);
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
        QVERIFY(raw.save(dir + QString::fromLatin1(QTest::currentDataTag()) + QLatin1Char('-') + name
                         + QStringLiteral(".png")));

        const QMargins m = window.shadowMargins();
        panelPixels.append(raw.pixel(int((m.left() + 3) * dpr), int((m.top() + 3) * dpr)));
        QCOMPARE(qAlpha(raw.pixel(int(m.left() * dpr), int(m.top() * dpr))) < 128, translucent);
    };

    shoot("idle");
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/写真.png"))});
    QVERIFY(view.draggingEntered(&files));
    shoot("highlighted");
    view.draggingExited();
    view.prepareForUpload(QStringLiteral("ファイルをアップロード中…"));
    view.updateUploadProgress(0.4);
    shoot("uploading-40");
    view.finishUpload(QStringLiteral("アップロード完了"),
                      QStringLiteral("https://drop.example.test/s/7fK2pQ"), true);
    shoot("success");
    view.resetToIdle(false);
    view.prepareForUpload(QStringLiteral("ファイルをアップロード中…"));
    view.updateUploadProgress(0.62);
    view.finishUpload(QStringLiteral("アップロード失敗"),
                      QStringLiteral("サーバーに接続できませんでした (HTTP 503)"), false);
    shoot("failure");
    view.resetToIdle(false);
    QVERIFY(panelPixels[0] != panelPixels[1] && panelPixels[0] != panelPixels[2]);
}

QTEST_MAIN(DropZoneViewTest)
#include "tst_dropzoneview.moc"
