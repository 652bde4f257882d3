#include "AppModel.h"
#include "ContentViewHost.h"
#include "PelkinConfig.h"
#include "ViewTestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QFontInfo>
#include <QMimeData>
#include <QPalette>
#include <QQuickView>
#include <QTemporaryDir>
#include <cmath>
#include <memory>

using namespace ViewTest;

namespace {

double luminance(QRgb c)
{
    const auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

double contrast(QRgb a, QRgb b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Contrast of a text item as rendered: its most common pixel is the
// background, its strongest pixel against that is the ink.
double renderedContrast(const QImage &image, QQuickItem *item)
{
    const qreal dpr = image.devicePixelRatio();
    const QRectF scene = item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
    const QRect area = QRectF(scene.topLeft() * dpr, scene.size() * dpr).toAlignedRect() &
                       image.rect();
    QHash<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[image.pixel(x, y) | 0xff000000u];
    QRgb background = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            background = it.key();
        }
    }
    double best = 1.0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        best = std::max(best, contrast(it.key(), background));
    return best;
}

} // namespace

class TestContentView : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void sidebarSelectionFollowsBothWays();
    void fileListShowsAtMostEightRows_data();
    void fileListShowsAtMostEightRows();
    void removingARowRemovesEveryEqualUrl();
    void buttonsFollowSelectionAndUpload();
    void progressBarPlacesTheCharacter();
    void dropAreaTakesFileDrops();
    void resultCardVariants_data();
    void resultCardVariants();
    void copyFeedbackLastsOneAndAHalfSeconds();
    void historyHeaderAndEmptyState();
    void historyRowVariants();
    void clearAllOnlyAfterConfirming();
    void deleteOneEntryByMenuAndBySwipe();
    void passwordFieldsKeepTheFirst100Characters_data();
    void passwordFieldsKeepTheFirst100Characters();
    void settingsControlsWriteTheModel();
    void themeSwitchesTheWholeWindow();
    void japaneseTextUsesTheJapaneseFont();
    void screenshots();

private:
    QList<QUrl> makeFiles(int count);
    void hover(QQuickItem *item);
    void showTab(MainTab::Value tab);

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<QQuickView> view;
    int fileCounter = 0;
};

void TestContentView::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    qputenv("XDG_CONFIG_HOME", dir->filePath("config").toUtf8());
    model = std::make_unique<AppModel>(dir->filePath(QStringLiteral("store.ini")));
    model->setTheme(AppTheme::Light);
    view.reset(PelkinViews::createContentView(model.get()));
    QVERIFY(view);
    view->resize(900, 680);
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view.get()));
}

void TestContentView::cleanup()
{
    view.reset();
    model.reset();
    dir.reset();
    QGuiApplication::setPalette(QPalette());
}

QList<QUrl> TestContentView::makeFiles(int count)
{
    static const char *const names[] = {"写真.jpg", "report.pdf", "backup.tar.gz", "notes.md",
                                        "clip.mov", "song.flac",  "README",        "data.json"};
    QList<QUrl> urls;
    for (int i = 0; i < count; ++i) {
        const QString name =
            QStringLiteral("%1-%2").arg(++fileCounter).arg(QString::fromUtf8(names[i % 8]));
        QFile file(dir->filePath(name));
        if (file.open(QIODevice::WriteOnly))
            file.resize(1000 * (i + 1));
        urls << QUrl::fromLocalFile(file.fileName());
    }
    return urls;
}

void TestContentView::hover(QQuickItem *item)
{
    QTest::qWait(700); // the list springs into place first
    for (const QPoint &at : {centre(item) + QPoint(2, 2), centre(item)}) {
        QMouseEvent move(QEvent::MouseMove, at, view->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(view.get(), &move);
    }
}

void TestContentView::showTab(MainTab::Value tab)
{
    model->setSelectedTab(tab);
    const QString name = QString::fromLatin1(tab == MainTab::Home      ? "homeTab"
                                             : tab == MainTab::History ? "historyTab"
                                                                       : "settingsTab");
    QTRY_VERIFY_WITH_TIMEOUT(find(view.get(), name), 2000);
    // The outgoing tab is gone once the 0.2 s cross-fade is over.
    QTRY_COMPARE_WITH_TIMEOUT(find(view.get(), name)->opacity(), 1.0, 2000);
}

void TestContentView::sidebarSelectionFollowsBothWays()
{
    QVERIFY(find(view.get(), "homeTab"));
    click(view.get(), find(view.get(), "sidebarRow_history"));
    QCOMPARE(model->selectedTab(), MainTab::History);
    QTRY_VERIFY_WITH_TIMEOUT(find(view.get(), "historyTab"), 1000);
    QTRY_VERIFY_WITH_TIMEOUT(!find(view.get(), "homeTab"), 1000);

    model->setSelectedTab(MainTab::Settings);
    QVERIFY(find(view.get(), "sidebarRow_settings")->property("selected").toBool());
    QVERIFY(!find(view.get(), "sidebarRow_history")->property("selected").toBool());
    QVERIFY(!find(view.get(), "sidebarRow_home")->property("selected").toBool());
    QTRY_VERIFY_WITH_TIMEOUT(find(view.get(), "settingsTab"), 1000);

    // The window and the sidebar column keep their minimum and maximum sizes.
    QCOMPARE(view->minimumSize(), QSize(760, 520));
    QQuickItem *sidebar = find(view.get(), "sidebarView");
    QCOMPARE(sidebar->width(), 200.0);
    const QPoint handle(int(sidebar->width()), 300);
    for (const auto &[to, expected] : {std::pair{40, 180.0}, std::pair{600, 260.0}}) {
        const QPoint from(int(sidebar->width()), handle.y());
        QTest::mousePress(view.get(), Qt::LeftButton, Qt::NoModifier, from);
        for (int step = 1; step <= 10; ++step)
            QTest::mouseMove(view.get(), from + (QPoint(to, handle.y()) - from) * step / 10, 5);
        QTest::mouseRelease(view.get(), Qt::LeftButton, Qt::NoModifier, QPoint(to, handle.y()), 5);
        QCOMPARE(sidebar->width(), expected);
    }

    // Every visit creates the tab anew.
    click(view.get(), find(view.get(), "sidebarRow_home"));
    QCOMPARE(model->selectedTab(), MainTab::Home);
    QTRY_VERIFY_WITH_TIMEOUT(find(view.get(), "homeTab"), 1000);
    QTRY_VERIFY_WITH_TIMEOUT(!find(view.get(), "settingsTab"), 1000);
}

void TestContentView::fileListShowsAtMostEightRows_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("more");
    QTest::newRow("3 files") << 3 << 3 << "";
    QTest::newRow("exactly 8") << 8 << 8 << "";
    QTest::newRow("11 files") << 11 << 8 << "他 3件";
}

void TestContentView::fileListShowsAtMostEightRows()
{
    QFETCH(int, count);
    QFETCH(int, rows);
    QFETCH(QString, more);
    QQuickItem *dropArea = find(view.get(), "dropArea");
    QTRY_COMPARE_WITH_TIMEOUT(dropArea->height(), 180.0, 2000);
    QVERIFY(!find(view.get(), "selectedFilesList"));

    model->appendFiles(makeFiles(count));
    QTRY_COMPARE(findAll(view.get(), "fileRow").size(), rows);
    QCOMPARE(text(find(view.get(), "dropAreaText")), QString("%1件のファイルを選択中").arg(count));
    QCOMPARE(text(find(view.get(), "homeStatus")), QString("%1件選択").arg(count));
    QQuickItem *moreRow = find(view.get(), "moreFilesRow");
    QCOMPARE(moreRow != nullptr, !more.isEmpty());
    if (moreRow)
        QCOMPARE(text(find(view.get(), "moreFilesText")), more);
    QTRY_COMPARE_WITH_TIMEOUT(dropArea->height(), 130.0, 2000);

    // Each row shows the file's name and its size.
    QQuickItem *firstRow = findAll(view.get(), "fileRow").first();
    QList<QQuickItem *> names, sizes;
    collect(firstRow, "fileName", names);
    collect(firstRow, "fileSize", sizes);
    QCOMPARE(text(names.value(0)), model->selectedURLs().first().fileName());
    QCOMPARE(text(sizes.value(0)), QString("1 KB"));
}

void TestContentView::removingARowRemovesEveryEqualUrl()
{
    const QList<QUrl> files = makeFiles(2);
    model->appendFiles({files[0], files[1], files[0]});
    QTRY_COMPARE(findAll(view.get(), "fileRow").size(), 3);

    // The remove button shows while the pointer is over the row (or while it has
    // keyboard focus); press it on the last row.
    QQuickItem *lastRow = findAll(view.get(), "fileRow").last();
    QList<QQuickItem *> buttons;
    collect(lastRow, "removeButton", buttons);
    QCOMPARE(buttons.value(0)->opacity(), 0.0);
    hover(lastRow);
    QTRY_COMPARE_WITH_TIMEOUT(buttons.value(0)->opacity(), 1.0, 1000);
    click(view.get(), buttons.value(0));
    QCOMPARE(model->selectedURLs(), QList<QUrl>{files[1]});
    QCOMPARE(model->homeStatus(), QString("1件選択"));
    QTRY_COMPARE(findAll(view.get(), "fileRow").size(), 1);

    QQuickItem *remaining = findAll(view.get(), "fileRow").first();
    buttons.clear();
    collect(remaining, "removeButton", buttons);
    hover(remaining);
    QTRY_COMPARE_WITH_TIMEOUT(buttons.value(0)->opacity(), 1.0, 1000);
    click(view.get(), buttons.value(0));
    QVERIFY(model->selectedURLs().isEmpty());
    QCOMPARE(model->homeStatus(), QString("ファイルを選んでください"));
    QTRY_VERIFY_WITH_TIMEOUT(!find(view.get(), "selectedFilesList"), 2000);
    QTRY_COMPARE_WITH_TIMEOUT(find(view.get(), "dropArea")->height(), 180.0, 2000);
    QCOMPARE(text(find(view.get(), "dropAreaText")), QString("ここにファイルをドロップ"));
}

void TestContentView::buttonsFollowSelectionAndUpload()
{
    QList<QList<QUrl>> requested;
    model->onRequestHomeUpload = [&](const QList<QUrl> &urls, const std::optional<QString> &) {
        requested << urls;
    };
    QQuickItem *upload = find(view.get(), "uploadButton");
    QQuickItem *choose = find(view.get(), "chooseButton");
    QVERIFY(!upload->isEnabled());
    QVERIFY(choose->isEnabled());
    click(view.get(), upload);
    QVERIFY(requested.isEmpty());

    const QList<QUrl> files = makeFiles(2);
    model->appendFiles(files);
    QTRY_VERIFY(upload->isEnabled());
    click(view.get(), upload);
    QCOMPARE(requested, QList<QList<QUrl>>{files});

    model->markHomeUploadStarted();
    model->updateHomeUploadProgress(0.999);
    QTRY_VERIFY_WITH_TIMEOUT(find(view.get(), "progressPanel"), 1000);
    QVERIFY(!find(view.get(), "actionRow"));
    QVERIFY(!choose->isEnabled());
    QVERIFY(!find(view.get(), "homePasswordRow")->isEnabled());
    QVERIFY(!find(view.get(), "clearAllFilesButton")->isEnabled());
    for (QQuickItem *row : findAll(view.get(), "fileRow"))
        QVERIFY(!row->isEnabled());
    QCOMPARE(text(find(view.get(), "progressPercent")), QString("99%"));
    QCOMPARE(text(find(view.get(), "progressStatus")), QString("アップロード中… 99%"));
    QVERIFY(find(view.get(), "homeHeaderSymbol")->property("pulsing").toBool());

    model->markHomeUploadFailed(QStringLiteral("x"), {});
    model->dismissHomeUploadResult();
    QTRY_VERIFY_WITH_TIMEOUT(find(view.get(), "actionRow"), 2000);
    QVERIFY(choose->isEnabled());
    QVERIFY(!find(view.get(), "homeHeaderSymbol")->property("pulsing").toBool());
}

void TestContentView::progressBarPlacesTheCharacter()
{
    model->appendFiles(makeFiles(1));
    model->markHomeUploadStarted();
    QTRY_VERIFY_WITH_TIMEOUT(find(view.get(), "characterProgressBar"), 1000);
    QQuickItem *bar = find(view.get(), "characterProgressBar");
    QQuickItem *fill = find(view.get(), "progressFill");
    QQuickItem *track = find(view.get(), "progressTrack");
    QTRY_VERIFY_WITH_TIMEOUT(bar->width() > 100, 2000);
    const double w = bar->width();
    struct Row
    {
        double progress, x, y;
    };
    // Centre: x = clamp(W p, c/2, W - c/2); y = c/2 - a sin(pi p) - 12 (c 48, a 10).
    const Row rows[] = {
        {0.0, 24, 12}, {0.5, w / 2, 2}, {0.999, w - 24, 11.9686}, {1.0, w - 24, 12}};
    for (const Row &r : rows) {
        model->updateHomeUploadProgress(r.progress);
        QCOMPARE(bar->property("characterX").toDouble(), r.x);
        QVERIFY(std::abs(bar->property("characterY").toDouble() - r.y) < 0.01);
        QVERIFY(std::abs(fill->width() - w * r.progress) < 0.01);
        QCOMPARE(track->width(), w);
        QCOMPARE(track->height(), 5.0);
    }
    // The character follows with a spring and settles on its place.
    QQuickItem *rider = find(view.get(), "progressCharacter");
    QVERIFY(rider);
    QTRY_VERIFY_WITH_TIMEOUT(std::abs(rider->x() + 24 - (w - 24)) < 0.5, 2000);
}

void TestContentView::dropAreaTakesFileDrops()
{
    QQuickItem *home = find(view.get(), "homeTab");
    QQuickItem *area = find(view.get(), "dropArea");
    const QList<QUrl> files = makeFiles(2);
    const auto drag = [&](const QList<QUrl> &urls, bool drop) {
        auto *mime = new QMimeData;
        mime->setUrls(urls);
        const QPoint pos = centre(area);
        QDragEnterEvent enter(pos, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view.get(), &enter);
        QDragMoveEvent move(pos, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view.get(), &move);
        const bool targeted = home->property("isTargeted").toBool();
        bool accepted = false;
        if (drop) {
            QDropEvent dropEvent(pos, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(view.get(), &dropEvent);
            accepted = dropEvent.isAccepted();
        } else {
            QDragLeaveEvent leave;
            QCoreApplication::sendEvent(view.get(), &leave);
        }
        delete mime;
        return std::pair{targeted, accepted};
    };

    auto [targeted, accepted] = drag({files[0]}, false);
    QVERIFY(targeted);
    QVERIFY(!home->property("isTargeted").toBool());

    // Only file URLs join the selection, in order.
    std::tie(targeted, accepted) = drag({QUrl("https://example.com/x"), files[0], files[1]}, true);
    QVERIFY(targeted && accepted);
    QCOMPARE(model->selectedURLs(), files);
    QVERIFY(!home->property("isTargeted").toBool());

    // During an upload dropped files join the selection, their rows disabled.
    model->markHomeUploadStarted();
    const QList<QUrl> later = makeFiles(1);
    drag(later, true);
    QCOMPARE(model->selectedURLs().size(), 3);
    QTRY_COMPARE(findAll(view.get(), "fileRow").size(), 3);
    QVERIFY(!findAll(view.get(), "fileRow").last()->isEnabled());

    // Under a result card the drop area takes nothing.
    model->markHomeUploadFailed(QStringLiteral("エラー"), {});
    QTRY_VERIFY_WITH_TIMEOUT(find(view.get(), "uploadResultView"), 1000);
    std::tie(targeted, accepted) = drag(makeFiles(1), true);
    QVERIFY(!targeted);
    QCOMPARE(model->selectedURLs().size(), 3);
}

void TestContentView::resultCardVariants_data()
{
    QTest::addColumn<bool>("success");
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("files");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("more");
    QTest::addColumn<bool>("urlSection");
    QTest::newRow("success, URL, 5 files")
        << true << "https://e.jp/s/abc" << 5 << 3 << "他 2件" << true;
    QTest::newRow("failure, 2 files") << false << "" << 2 << 2 << "" << false;
    QTest::newRow("success, exactly 3 files")
        << true << "https://e.jp/s/abc" << 3 << 3 << "" << true;
    QTest::newRow("success, empty URL") << true << "" << 1 << 1 << "" << false;
    QTest::newRow("success, no files") << true << "https://e.jp/s/abc" << 0 << 0 << "" << true;
}

void TestContentView::resultCardVariants()
{
    QFETCH(bool, success);
    QFETCH(QString, url);
    QFETCH(int, files);
    QFETCH(int, rows);
    QFETCH(QString, more);
    QFETCH(bool, urlSection);
    QStringList names;
    for (int i = 0; i < files; ++i)
        names << QStringLiteral("ファイル%1.txt").arg(i + 1);
    model->appendFiles(makeFiles(2));
    if (success)
        model->markHomeUploadSucceeded(url, names, true);
    else
        model->markHomeUploadFailed(QStringLiteral("サーバーに接続できませんでした"), names);

    QTRY_VERIFY_WITH_TIMEOUT(find(view.get(), "uploadResultView"), 1000);
    QQuickItem *form = find(view.get(), "uploadForm");
    QVERIFY(!form->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(form->opacity(), 0.0, 2000);

    QCOMPARE(text(find(view.get(), "resultTitle")),
             success ? "アップロード完了" : "アップロード失敗");
    QCOMPARE(find(view.get(), "resultBadgeSymbol")->property("name").toString(),
             success ? "checkmark.circle.fill" : "xmark.circle.fill");
    QCOMPARE(text(find(view.get(), "resultMessage")), model->homeUploadResult()->message);
    QCOMPARE(findAll(view.get(), "resultFileRow").size(), rows);
    QCOMPARE(find(view.get(), "resultFiles") != nullptr, files > 0);
    QCOMPARE(text(find(view.get(), "resultMoreFiles")), more.isEmpty() ? "<missing>" : more);
    QCOMPARE(find(view.get(), "resultUrlSection") != nullptr, urlSection);
    if (urlSection) {
        QCOMPARE(text(find(view.get(), "resultUrl")), url);
        QCOMPARE(text(find(view.get(), "copyUrlButton")), QString("URLをコピー"));
    }
    QQuickItem *retry = find(view.get(), "retryButton");
    QQuickItem *fresh = find(view.get(), "newUploadButton");
    QCOMPARE(retry != nullptr, !success);
    QCOMPARE(fresh->property("kind").toString(), success ? "prominent" : "bordered");

    // The texts rise into place after the badge; then each button dismisses.
    QTRY_COMPARE_WITH_TIMEOUT(
        find(view.get(), "uploadResultView")->property("contentProgress").toDouble(), 1.0, 2000);
    click(view.get(), success ? fresh : retry);
    QVERIFY(!model->hasHomeUploadResult());
    QVERIFY(model->selectedURLs().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!find(view.get(), "uploadResultView"), 2000);
    QTRY_COMPARE_WITH_TIMEOUT(form->opacity(), 1.0, 2000);
    QVERIFY(form->isEnabled());
}

void TestContentView::copyFeedbackLastsOneAndAHalfSeconds()
{
    const QString url = QStringLiteral("https://drop.example.jp/s/Q7xk2PmA");
    model->markHomeUploadSucceeded(url, {QStringLiteral("a.png")}, false);
    QTRY_VERIFY_WITH_TIMEOUT(find(view.get(), "copyUrlButton"), 1000);
    QQuickItem *card = find(view.get(), "uploadResultView");
    QTRY_COMPARE_WITH_TIMEOUT(card->property("contentProgress").toDouble(), 1.0, 2000);
    QQuickItem *button = find(view.get(), "copyUrlButton");
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));

    QElapsedTimer clock;
    click(view.get(), button);
    clock.start();
    QCOMPARE(QGuiApplication::clipboard()->text(), url);
    QCOMPARE(text(button), QString("コピー済み"));
    QVERIFY(button->property("tinted").toBool());
    QCOMPARE(button->property("symbol").toString(), QString("checkmark"));

    // A second click does not postpone the first reset.
    QTest::qWait(500);
    click(view.get(), button);
    QTRY_COMPARE_WITH_TIMEOUT(text(button), QString("URLをコピー"), 3000);
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 1400 && elapsed < 1900, qPrintable(QString::number(elapsed)));
    QCOMPARE(button->property("symbol").toString(), QString("doc.on.doc"));
    QVERIFY(!button->property("tinted").toBool());

    // The history row's copy button behaves the same way.
    model->addHistory({QStringLiteral("a.png")}, url + QStringLiteral("x"), true,
                      QStringLiteral("共有URLを発行しました"));
    model->dismissHomeUploadResult();
    showTab(MainTab::History);
    QQuickItem *rowButton = find(view.get(), "historyCopyButton");
    QVERIFY(rowButton);
    QCOMPARE(text(rowButton), QString("コピー"));
    click(view.get(), rowButton);
    clock.restart();
    QCOMPARE(QGuiApplication::clipboard()->text(), url + QStringLiteral("x"));
    QCOMPARE(text(rowButton), QString("コピー済み"));
    QTRY_COMPARE_WITH_TIMEOUT(text(rowButton), QString("コピー"), 3000);
    QVERIFY(clock.elapsed() >= 1400);
}

void TestContentView::historyHeaderAndEmptyState()
{
    showTab(MainTab::History);
    QCOMPARE(text(find(view.get(), "historyTitle")), QString("アップロード履歴"));
    QVERIFY(!find(view.get(), "historyCount"));
    QVERIFY(!find(view.get(), "clearHistoryButton"));
    QVERIFY(find(view.get(), "historyEmptyState"));
    QVERIFY(find(view.get(), "historyEmptySymbol")->property("pulsing").toBool());
    QVERIFY(!find(view.get(), "historyList"));

    // Entries added while the tab is shown appear at once.
    model->addHistory({QStringLiteral("a.txt")}, std::nullopt, false, QStringLiteral("失敗"));
    QTRY_COMPARE(text(find(view.get(), "historyCount")), QString("1件の記録"));
    QVERIFY(find(view.get(), "clearHistoryButton"));
    QVERIFY(!find(view.get(), "historyEmptyState"));
    for (int i = 0; i < 11; ++i)
        model->addHistory({QStringLiteral("b.txt")}, std::nullopt, true, QString());
    QTRY_COMPARE(text(find(view.get(), "historyCount")), QString("12件の記録"));
}

void TestContentView::historyRowVariants()
{
    QStringList twenty;
    for (int i = 0; i < 20; ++i)
        twenty << QStringLiteral("とても長いファイル名_%1.png").arg(i);
    // Oldest first: the list shows them newest first.
    model->addHistory({QStringLiteral("empty-url.txt")}, QString(), true, QString());
    model->addHistory({QStringLiteral("failed.txt")}, std::nullopt, false,
                      QStringLiteral("サーバーエラー"));
    model->addHistory(twenty, QStringLiteral("https://e.jp/s/1"), true,
                      QStringLiteral("共有URLを発行しました"));
    showTab(MainTab::History);
    QTRY_COMPARE(findAll(view.get(), "historyRow").size(), 3);
    const QList<QQuickItem *> rows = findAll(view.get(), "historyRow");
    const auto inRow = [](QQuickItem *row, const char *name) {
        QList<QQuickItem *> found;
        collect(row, name, found);
        return found.value(0);
    };
    const QDateTime stamp = model->history().first().timestamp;

    QCOMPARE(text(inRow(rows[0], "historyStatusText")), QString("成功"));
    QCOMPARE(text(inRow(rows[0], "historyTimestamp")),
             stamp.toLocalTime().toString(QStringLiteral("yyyy/MM/dd HH:mm")));
    QCOMPARE(text(inRow(rows[0], "historyFileCount")), QString("20件"));
    QCOMPARE(text(inRow(rows[0], "historyFileNames")), twenty.join(", "));
    QCOMPARE(inRow(rows[0], "historyFileNames")->property("lineCount").toInt(), 2);
    QVERIFY(inRow(rows[0], "historyUrlRow")->isVisible());
    QCOMPARE(text(inRow(rows[0], "historyUrl")), QString("https://e.jp/s/1"));

    QCOMPARE(text(inRow(rows[1], "historyStatusText")), QString("失敗"));
    QVERIFY(!inRow(rows[1], "historyUrlRow")->isVisible());
    QVERIFY(inRow(rows[1], "historyMessage")->isVisible());

    // A success with an empty URL has no URL line; an empty message no message line.
    QVERIFY(!inRow(rows[2], "historyUrlRow")->isVisible());
    QVERIFY(!inRow(rows[2], "historyMessage")->isVisible());
}

void TestContentView::clearAllOnlyAfterConfirming()
{
    model->addHistory({QStringLiteral("a.txt")}, std::nullopt, false, QStringLiteral("m"));
    model->addHistory({QStringLiteral("b.txt")}, std::nullopt, true, QStringLiteral("m"));
    showTab(MainTab::History);

    click(view.get(), find(view.get(), "clearHistoryButton"));
    QTRY_VERIFY_WITH_TIMEOUT(find(view.get(), "clearConfirmationTitle"), 1000);
    QCOMPARE(text(find(view.get(), "clearConfirmationTitle")),
             QString("履歴をすべて削除しますか？"));
    QCOMPARE(model->history().size(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(find(view.get(), "cancelClearButton")->isVisible(), true, 1000);
    click(view.get(), find(view.get(), "cancelClearButton"));
    QTRY_VERIFY_WITH_TIMEOUT(!find(view.get(), "clearConfirmationTitle"), 1000);
    QCOMPARE(model->history().size(), 2);
    QVERIFY(!find(view.get(), "historyTab")->property("showClearConfirmation").toBool());

    click(view.get(), find(view.get(), "clearHistoryButton"));
    QTRY_VERIFY_WITH_TIMEOUT(find(view.get(), "confirmClearButton"), 1000);
    QTest::qWait(150); // let the popup finish fading in
    click(view.get(), find(view.get(), "confirmClearButton"));
    QVERIFY(model->history().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(find(view.get(), "historyEmptyState"), 1000);
    QTRY_VERIFY_WITH_TIMEOUT(!find(view.get(), "clearConfirmationTitle"), 1000);
}

void TestContentView::deleteOneEntryByMenuAndBySwipe()
{
    for (const char *name : {"c.txt", "b.txt", "a.txt"})
        model->addHistory({QString::fromLatin1(name)}, std::nullopt, true, QString());
    const QList<UploadHistoryItem> before = model->history(); // a, b, c
    showTab(MainTab::History);
    QTRY_COMPARE(findAll(view.get(), "historyRow").size(), 3);

    // Context menu of the middle row.
    click(view.get(), findAll(view.get(), "historyRow")[1], Qt::RightButton);
    QTRY_VERIFY_WITH_TIMEOUT(find(view.get(), "historyDeleteMenuItem"), 1000);
    QTest::qWait(100);
    click(view.get(), find(view.get(), "historyDeleteMenuItem"));
    QCOMPARE(model->history(), (QList<UploadHistoryItem>{before[0], before[2]}));
    QTRY_COMPARE(findAll(view.get(), "historyRow").size(), 2);

    // Swiping the first card most of the way to the left deletes it.
    QQuickItem *row = findAll(view.get(), "historyRow").first();
    const QPoint start = centre(row) + QPoint(row->width() / 4, 0);
    QTest::mousePress(view.get(), Qt::LeftButton, Qt::NoModifier, start);
    for (int dx = 10; dx <= int(row->width() * 0.8); dx += 20)
        QTest::mouseMove(view.get(), start - QPoint(dx, 0), 5);
    QTest::mouseRelease(view.get(), Qt::LeftButton, Qt::NoModifier,
                        start - QPoint(int(row->width() * 0.8), 0), 5);
    QTRY_COMPARE_WITH_TIMEOUT(model->history(), QList<UploadHistoryItem>{before[2]}, 2000);
}

void TestContentView::passwordFieldsKeepTheFirst100Characters_data()
{
    QTest::addColumn<bool>("settings");
    QTest::newRow("Home tab") << false;
    QTest::newRow("Settings tab") << true;
}

void TestContentView::passwordFieldsKeepTheFirst100Characters()
{
    QFETCH(bool, settings);
    if (settings)
        showTab(MainTab::Settings);
    QQuickItem *row = find(view.get(), settings ? "defaultPasswordRow" : "homePasswordRow");
    QList<QQuickItem *> inputs;
    collect(row, "passwordInput", inputs);
    QQuickItem *input = inputs.value(0);
    QVERIFY(input);
    QCOMPARE(input->property("echoMode").toInt(), 2); // TextInput.Password

    // 99 letters, a family emoji of several code points (one character), then more.
    const QString family = QStringLiteral("👨‍👩‍👧");
    const QString pasted = QString(99, u'a') + family + QString(50, u'b');
    QGuiApplication::clipboard()->setText(pasted);
    click(view.get(), input);
    QTRY_VERIFY(input->hasActiveFocus());
    QTest::keyClick(view.get(), Qt::Key_V, Qt::ControlModifier);
    const QString expected = QString(99, u'a') + family;
    QTRY_COMPARE(input->property("text").toString(), expected);
    QCOMPARE(settings ? model->defaultPassword() : model->homePassword(), expected);
    if (settings) // the Home password followed the default
        QCOMPARE(model->homePassword(), expected);

    // Typing at the limit changes nothing; clearing stores the empty string.
    QTest::keyClick(view.get(), Qt::Key_End);
    QTest::keyClick(view.get(), 'z');
    QTest::keyClick(view.get(), 'z');
    QCOMPARE(input->property("text").toString(), expected);
    QTest::keyClick(view.get(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(view.get(), Qt::Key_Delete);
    QCOMPARE(settings ? model->defaultPassword() : model->homePassword(), QString());

    // A change of the model shows in the field.
    if (settings)
        model->setDefaultPassword(QStringLiteral("abc"));
    else
        model->setHomePassword(QStringLiteral("abc"));
    QCOMPARE(input->property("text").toString(), QString("abc"));
}

void TestContentView::settingsControlsWriteTheModel()
{
    QList<bool> calls;
    model->onMenuBarIconVisibilityChange = [&](bool on) { calls << on; };
    showTab(MainTab::Settings);
    QList<QQuickItem *> toggles;
    collect(find(view.get(), "menuBarIconRow"), "", toggles);
    const auto toggleIn = [&](const char *rowName) -> QQuickItem * {
        QQuickItem *row = find(view.get(), rowName);
        return row ? qvariant_cast<QQuickItem *>(row->property("toggle")) : nullptr;
    };
    QQuickItem *menuToggle = toggleIn("menuBarIconRow");
    QQuickItem *copyToggle = toggleIn("autoCopyRow");
    QVERIFY(menuToggle && copyToggle);
    QVERIFY(menuToggle->property("checked").toBool());

    click(view.get(), menuToggle);
    QCOMPARE(calls, QList<bool>{false});
    QVERIFY(!model->showsMenuBarIcon());
    click(view.get(), menuToggle);
    QCOMPARE(calls, (QList<bool>{false, true}));

    click(view.get(), copyToggle);
    QVERIFY(!model->autoCopyToClipboard());
    model->setAutoCopyToClipboard(true);
    QVERIFY(copyToggle->property("checked").toBool());

    QCOMPARE(text(find(view.get(), "versionText")),
             QStringLiteral("v") + QString::fromUtf8(PelkinConfig::version));
}

void TestContentView::themeSwitchesTheWholeWindow()
{
    QQuickItem *root = view->rootObject();
    QQuickItem *sidebar = find(view.get(), "sidebarView");
    QVERIFY(sidebar);
    const auto colours = [&] {
        return std::pair{root->property("color").value<QColor>().name(),
                         sidebar->property("color").value<QColor>().name()};
    };
    const std::pair<QString, QString> light{"#f6f6f8", "#ebebee"}, dark{"#1e1e20", "#28282b"};
    QCOMPARE(colours(), light);
    model->setTheme(AppTheme::Dark);
    QCOMPARE(colours(), dark);

    // The picker on the Settings tab sets the theme.
    showTab(MainTab::Settings);
    click(view.get(), find(view.get(), "segment_light"));
    QCOMPARE(model->theme(), AppTheme::Light);
    QCOMPARE(colours(), light);

    // "System" follows the desktop, also when it changes while running
    // (no portal on this test's bus: the palette decides).
    QPalette darkPalette;
    darkPalette.setColor(QPalette::Window, QColor(0x22, 0x22, 0x22));
    QGuiApplication::setPalette(darkPalette);
    QCOMPARE(colours(), light);
    click(view.get(), find(view.get(), "segment_system"));
    QCOMPARE(model->theme(), AppTheme::System);
    QTRY_COMPARE(colours(), dark);
    QGuiApplication::setPalette(QPalette());
    QTRY_COMPARE(colours(), light);
}

void TestContentView::japaneseTextUsesTheJapaneseFont()
{
    QQuickItem *textItem = find(view.get(), "dropAreaText");
    const QFont font = textItem->property("font").value<QFont>();
    QCOMPARE(QFontInfo(font).family(), QString("Noto Sans CJK JP"));
}

void TestContentView::screenshots()
{
    const QString out = screenshotDir();
    // Every named text that is shown reads at 4.5:1, large text (18 px, or
    // 14 px bold) at 3:1, measured in the saved screenshot.
    const auto shoot = [&](const QString &name, const QStringList &texts = {}) {
        QTest::qWait(900); // springs and fades settle
        const QImage image = view->grabWindow();
        QVERIFY(!image.isNull());
        QVERIFY(image.save(out + u'/' + name + QStringLiteral(".png")));
        for (const QString &textName : texts) {
            const QList<QQuickItem *> items = findAll(view.get(), textName);
            QVERIFY2(!items.isEmpty(), qPrintable(textName));
            for (QQuickItem *item : items) {
                if (!item->isVisible() || item->opacity() < 1.0 || item->width() < 1)
                    continue;
                const QFont font = item->property("font").value<QFont>();
                const bool large = font.pixelSize() >= 18 ||
                                   (font.pixelSize() >= 14 && font.weight() >= QFont::Bold);
                const double ratio = renderedContrast(image, item);
                QVERIFY2(ratio >= (large ? 3.0 : 4.5),
                         qPrintable(QStringLiteral("%1 in %2: %3:1")
                                        .arg(textName, name)
                                        .arg(ratio, 0, 'f', 2)));
            }
        }
    };
    QList<QUrl> files;
    for (const auto &[name, size] :
         {std::pair{"旅行の写真_2025.jpg", 2'480'000}, std::pair{"企画書_最終版.pdf", 845'000},
          std::pair{"project-archive.tar.gz", 18'300'000}}) {
        QFile file(dir->filePath(QString::fromUtf8(name)));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(size));
        files << QUrl::fromLocalFile(file.fileName());
    }
    for (AppTheme::Value theme : {AppTheme::Light, AppTheme::Dark}) {
        const QString suffix =
            theme == AppTheme::Light ? QStringLiteral("-light") : QStringLiteral("-dark");
        model->setTheme(theme);
        model->clearHistory();
        model->dismissHomeUploadResult();
        showTab(MainTab::Home);
        model->appendFiles(files);
        shoot(QStringLiteral("home-idle") + suffix,
              {"homeSubtitle", "fileSize", "passwordInput", "clearAllFilesButton", "homeStatus"});

        // Keyboard focus shows a ring around the focused control.
        QTest::keyClick(view.get(), Qt::Key_Tab);
        QTRY_VERIFY(view->activeFocusItem());
        QQuickItem *ring = nullptr;
        for (QQuickItem *child : view->activeFocusItem()->childItems())
            ring = child->objectName() == u"focusRing" ? child : ring;
        QVERIFY(ring && ring->isVisible());
        shoot(QStringLiteral("home-focus") + suffix);
        view->activeFocusItem()->setFocus(false);

        // A file drag held over the drop area.
        {
            QMimeData mime;
            mime.setUrls({files[0]});
            const QPoint pos = centre(find(view.get(), "dropArea"));
            QDragEnterEvent enter(pos, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(view.get(), &enter);
            shoot(QStringLiteral("home-targeted") + suffix);
            QDragLeaveEvent leave;
            QCoreApplication::sendEvent(view.get(), &leave);
        }

        model->markHomeUploadStarted();
        model->updateHomeUploadProgress(0.42);
        shoot(QStringLiteral("home-uploading") + suffix);

        QStringList names;
        for (const QUrl &u : files)
            names << u.fileName();
        names << QStringLiteral("見積書.xlsx") << QStringLiteral("IMG_0412.heic");
        model->markHomeUploadSucceeded(QStringLiteral("https://drop.example.jp/s/Q7xk2PmA"), names,
                                       true);
        shoot(QStringLiteral("home-success") + suffix, {"resultMessage", "resultUrl"});
        model->dismissHomeUploadResult();
        model->markHomeUploadFailed(QStringLiteral("サーバーに接続できませんでした"),
                                    names.mid(0, 2));
        shoot(QStringLiteral("home-failure") + suffix);
        model->dismissHomeUploadResult();

        showTab(MainTab::History);
        shoot(QStringLiteral("history-empty") + suffix);
        model->addHistory({QStringLiteral("議事録.md")}, std::nullopt, false,
                          QStringLiteral("サーバーに接続できませんでした"));
        model->addHistory({QStringLiteral("企画書_最終版.pdf"), QStringLiteral("見積書.xlsx")},
                          QStringLiteral("https://drop.example.jp/s/Q7xk2PmA"), true,
                          QStringLiteral("共有URLを発行しました"));
        model->addHistory(names, QStringLiteral("https://drop.example.jp/s/9fK3aZ"), true,
                          QStringLiteral("共有URLをクリップボードにコピーしました"));
        shoot(QStringLiteral("history") + suffix,
              {"historyCount", "historyTimestamp", "historyUrl", "historyStatusText",
               "historyMessage", "historyFileCount", "clearHistoryButton"});
        click(view.get(), find(view.get(), "clearHistoryButton"));
        shoot(QStringLiteral("history-confirm") + suffix);
        click(view.get(), find(view.get(), "cancelClearButton"));
        QTRY_VERIFY_WITH_TIMEOUT(!find(view.get(), "clearConfirmationTitle"), 1000);

        showTab(MainTab::Settings);
        shoot(QStringLiteral("settings") + suffix, {"toggleSubtitle", "settingsHint", "versionText"});
    }
}

QTEST_MAIN(TestContentView)
#include "tst_content_view.moc"
