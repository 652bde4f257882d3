// Renders the drop zone's looks, light and dark, translucent and flat, over a
// desktop-like backdrop into $PELKIN_BINARY_DIR/screenshots/dropzone/, and
// checks what the pixels can tell: rounded transparent corners, a shadow that
// fades out, and looks that differ.
#include "CharacterImage.h"
#include "DropZoneWindow.h"

#include <QApplication>
#include <QDir>
#include <QMimeData>
#include <QPainter>
#include <QStyle>
#include <QTest>

class DropZoneScreenshotTest : public QObject
{
    Q_OBJECT

private slots:
    void looks_data();
    void looks();
};

void DropZoneScreenshotTest::looks_data()
{
    QTest::addColumn<bool>("dark");
    QTest::addColumn<bool>("translucent");
    QTest::newRow("light") << false << true;
    QTest::newRow("dark") << true << true;
    QTest::newRow("flat-light") << false << false;
    QTest::newRow("flat-dark") << true << false;
}

void DropZoneScreenshotTest::looks()
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
    view.onDisplayModeChange = [&](DropZoneView::DisplayMode mode) { window.apply(mode, false); };
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window, 2000));

    const QString dir = qEnvironmentVariable("PELKIN_BINARY_DIR") + "/screenshots/dropzone/";
    QDir().mkpath(dir);
    QList<QRgb> panelPixels;
    auto shoot = [&](const QString &name) {
        QTRY_VERIFY_WITH_TIMEOUT(!view.isAnimating(), 2000);
        const QImage raw = window.grab().toImage();
        const qreal dpr = raw.devicePixelRatio();
        QImage shot((window.size() + QSize(60, 60)) * dpr, QImage::Format_ARGB32_Premultiplied);
        shot.setDevicePixelRatio(dpr);
        QPainter p(&shot);
        QLinearGradient g(0, 0, shot.width() / dpr, shot.height() / dpr);
        g.setColorAt(0, dark ? QColor(38, 44, 62) : QColor(214, 226, 240));
        g.setColorAt(1, dark ? QColor(24, 26, 34) : QColor(236, 226, 214));
        p.fillRect(QRectF(QPointF(), shot.deviceIndependentSize()), g);
        p.drawImage(QPoint(30, 30), raw);
        p.end();
        QVERIFY(shot.save(dir + QTest::currentDataTag() + QLatin1Char('-') + name + ".png"));

        const QMargins m = window.shadowMargins();
        panelPixels.append(raw.pixel(int((m.left() + 3) * dpr), int((m.top() + 3) * dpr)));
        // Rounded, see-through corners only where a compositor blends them.
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

    // The drawn faces, large, for a look at the fallback.
    using namespace PelkinCharacter;
    for (auto deliverable : {Deliverable::dropZone, Deliverable::sharePanel}) {
        QImage canvas(256, 256, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(QColor(236, 238, 242));
        QPainter p(&canvas);
        p.drawImage(canvas.rect(), makeFallbackCharacterImage(deliverable));
        p.end();
        canvas.save(dir + (deliverable == Deliverable::dropZone ? "fallback-dropzone.png"
                                                                : "fallback-sharepanel.png"));
    }
}

QTEST_MAIN(DropZoneScreenshotTest)
#include "tst_dropzonescreenshots.moc"
