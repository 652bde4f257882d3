#include "DampedSpring.h"
#include "FileRowInfo.h"
#include "HistoryDateFormatter.h"
#include "SymbolTable.h"

#include <QEasingCurve>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

class TestViewHelpers : public QObject
{
    Q_OBJECT

private slots:
    void iconName_data();
    void iconName();
    void byteCountText_data();
    void byteCountText();
    void fileSizeOfRealFiles();
    void historyDate_data();
    void historyDate();
    void springSettlesWithMeasuredOvershoot_data();
    void springSettlesWithMeasuredOvershoot();
    void springCurveTracksTheSpring();
    void everySymbolDrawsSomething();
    void themeIconsAreOnlySymbolic();
};

void TestViewHelpers::iconName_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("symbol");
    QTest::newRow("upper-case jpg") << "Photo.JPG"
                                    << "photo";
    QTest::newRow("heic") << "IMG_0001.heic"
                          << "photo";
    QTest::newRow("webp") << "a.webp"
                          << "photo";
    QTest::newRow("mkv") << "movie.mkv"
                         << "film";
    QTest::newRow("mov") << "clip.MOV"
                         << "film";
    QTest::newRow("flac") << "song.flac"
                          << "music.note";
    QTest::newRow("pdf") << "report.pdf"
                         << "doc.richtext";
    QTest::newRow("only the last extension counts") << "backup.tar.gz"
                                                    << "doc.zipper";
    QTest::newRow("7z") << "x.7z"
                        << "doc.zipper";
    QTest::newRow("markdown") << "notes.md"
                              << "doc.text";
    QTest::newRow("json") << "data.json"
                          << "chevron.left.forwardslash.chevron.right";
    QTest::newRow("typescript") << "app.ts"
                                << "chevron.left.forwardslash.chevron.right";
    QTest::newRow("no extension") << "README"
                                  << "doc";
    QTest::newRow("unknown extension") << "notes.docx"
                                       << "doc";
    QTest::newRow("trailing dot") << "odd."
                                  << "doc";
    QTest::newRow("dot in folder only") << "dir.png/file"
                                        << "doc";
    QTest::newRow("japanese name") << "写真.PNG"
                                   << "photo";
}

void TestViewHelpers::iconName()
{
    QFETCH(QString, fileName);
    QFETCH(QString, symbol);
    QCOMPARE(FileRowInfo::iconName(QUrl::fromLocalFile(QStringLiteral("/tmp/") + fileName)),
             symbol);
    // Every symbol the table gives can be drawn.
    QVERIFY(SymbolTable::symbols().contains(symbol));
}

void TestViewHelpers::byteCountText_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << qint64(0) << "0 KB";
    QTest::newRow("one byte") << qint64(1) << "1 バイト";
    QTest::newRow("bytes") << qint64(999) << "999 バイト";
    QTest::newRow("1000 is one kilobyte") << qint64(1000) << "1 KB";
    QTest::newRow("kilobytes round, no fraction") << qint64(1500) << "2 KB";
    QTest::newRow("845 KB") << qint64(845'000) << "845 KB";
    QTest::newRow("rounding up moves to MB") << qint64(999'999) << "1 MB";
    QTest::newRow("MB one digit") << qint64(2'480'000) << "2.5 MB";
    QTest::newRow("MB whole") << qint64(18'000'000) << "18 MB";
    QTest::newRow("GB two digits") << qint64(1'234'567'890) << "1.23 GB";
    QTest::newRow("GB trailing zero dropped") << qint64(1'500'000'000) << "1.5 GB";
    QTest::newRow("TB") << qint64(3'000'000'000'000) << "3 TB";
}

void TestViewHelpers::byteCountText()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(FileRowInfo::fileByteCountText(bytes), text);
}

void TestViewHelpers::fileSizeOfRealFiles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("資料.bin"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(2'480'000));
    file.close();
    QCOMPARE(FileRowInfo::fileSize(QUrl::fromLocalFile(path)), QString("2.5 MB"));

    QFile empty(dir.filePath(QStringLiteral("empty")));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    QCOMPARE(FileRowInfo::fileSize(QUrl::fromLocalFile(empty.fileName())), QString("0 KB"));

    // A file that is gone, or a URL that is not a local file, has no size line.
    QCOMPARE(FileRowInfo::fileSize(QUrl::fromLocalFile(dir.filePath("missing"))), std::nullopt);
    QCOMPARE(FileRowInfo::fileSize(QUrl("https://example.com/a.png")), std::nullopt);
    // A dropped folder shows no size (its inode size would read "4 KB").
    QCOMPARE(FileRowInfo::fileSize(QUrl::fromLocalFile(dir.path())), std::nullopt);
}

void TestViewHelpers::historyDate_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QDateTime>("utc");
    QTest::addColumn<QString>("text");
    const QDateTime t(QDate(2025, 3, 1), QTime(9, 5, 0), Qt::UTC);
    QTest::newRow("Tokyo evening") << QByteArray("Asia/Tokyo") << t << "2025/03/01 18:05";
    QTest::newRow("UTC") << QByteArray("UTC") << t << "2025/03/01 09:05";
    QTest::newRow("zero padded, 24 h")
        << QByteArray("Asia/Tokyo") << QDateTime(QDate(2025, 1, 4), QTime(22, 3, 59), Qt::UTC)
        << "2025/01/05 07:03";
    QTest::newRow("day before in New York")
        << QByteArray("America/New_York") << QDateTime(QDate(2025, 1, 1), QTime(2, 0), Qt::UTC)
        << "2024/12/31 21:00";
    QTest::newRow("invalid") << QByteArray("UTC") << QDateTime() << "";
}

void TestViewHelpers::historyDate()
{
    QFETCH(QByteArray, zone);
    QFETCH(QDateTime, utc);
    QFETCH(QString, text);
    const QByteArray saved = qgetenv("TZ");
    qputenv("TZ", zone);
    tzset();
    const QString got = HistoryDateFormatter::format(utc);
    qputenv("TZ", saved);
    tzset();
    QCOMPARE(got, text);
}

void TestViewHelpers::springSettlesWithMeasuredOvershoot_data()
{
    QTest::addColumn<double>("response");
    QTest::addColumn<double>("damping");
    QTest::addColumn<double>("overshoot");
    // Peak overshoot of a damped oscillator: exp(-pi zeta / sqrt(1 - zeta^2)).
    QTest::newRow("0.3 / 0.7") << 0.3 << 0.7 << 0.046;
    QTest::newRow("0.5 / 0.7") << 0.5 << 0.7 << 0.046;
    QTest::newRow("0.35 / 0.8") << 0.35 << 0.8 << 0.015;
    QTest::newRow("0.45 / 0.85") << 0.45 << 0.85 << 0.0063;
    QTest::newRow("critically damped") << 0.3 << 1.0 << 0.0;
}

void TestViewHelpers::springSettlesWithMeasuredOvershoot()
{
    QFETCH(double, response);
    QFETCH(double, damping);
    QFETCH(double, overshoot);
    const DampedSpring spring(response, damping);
    QCOMPARE(spring.value(0), 0.0);
    double peak = 0;
    const double end = spring.settlingTime();
    for (int i = 0; i <= 2000; ++i)
        peak = std::max(peak, spring.value(end * i / 2000.0));
    QVERIFY2(std::abs((peak - 1.0) - overshoot) < 0.002, qPrintable(QString::number(peak)));
    QVERIFY(std::abs(spring.value(end) - 1.0) < 0.002);
    // A longer response is a slower spring.
    QVERIFY(DampedSpring(response * 2, damping).settlingTime() > end);
}

void TestViewHelpers::springCurveTracksTheSpring()
{
    const DampedSpring spring(0.5, 0.7);
    const QVariantList points = spring.bezierSpline();
    QCOMPARE(points.size() % 6, 0);
    QVERIFY(points.size() / 6 <= DampedSpring::maxSegments);
    QCOMPARE(points.at(points.size() - 2).toDouble(), 1.0);
    QCOMPARE(points.last().toDouble(), 1.0);
    QEasingCurve curve(QEasingCurve::BezierSpline);
    for (qsizetype i = 0; i < points.size(); i += 6) {
        curve.addCubicBezierSegment(QPointF(points[i].toDouble(), points[i + 1].toDouble()),
                                    QPointF(points[i + 2].toDouble(), points[i + 3].toDouble()),
                                    QPointF(points[i + 4].toDouble(), points[i + 5].toDouble()));
    }
    const QEasingCurve copy = curve; // animations copy their easing curve
    const double total = spring.settlingTime();
    for (int i = 0; i <= 50; ++i) {
        const double p = i / 50.0;
        QVERIFY2(std::abs(copy.valueForProgress(p) - spring.value(p * total)) < 0.02,
                 qPrintable(QString::number(p)));
    }
    // Asking for more segments than Qt copies safely is capped.
    QCOMPARE(spring.bezierSpline(40).size(), DampedSpring::maxSegments * 6);
}

void TestViewHelpers::everySymbolDrawsSomething()
{
    const QColor red(255, 0, 0);
    QStringList names = SymbolTable::symbols();
    names << QStringLiteral("no.such.symbol");
    for (const QString &name : names) {
        QVERIFY2(QFile::exists(SymbolTable::fallbackPath(name)), qPrintable(name));
        const QImage image = SymbolTable::tintedImage(name, QSize(24, 24), red);
        QCOMPARE(image.size(), QSize(24, 24));
        int inked = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.alpha() > 0) {
                    ++inked;
                    QVERIFY2(c.red() > 200 && c.green() < 30 && c.blue() < 30, qPrintable(name));
                }
            }
        }
        QVERIFY2(inked > 20, qPrintable(name));
    }
    QCOMPARE(SymbolTable::freedesktopName("trash"), QString("user-trash"));
    QCOMPARE(SymbolTable::fallbackPath("no.such.symbol"), QString(":/qt/qml/PelkinDrop/Views/icons/doc.svg"));
}

void TestViewHelpers::themeIconsAreOnlySymbolic()
{
    // A full-colour theme icon would be tinted into a blob: only "-symbolic"
    // files may come from the theme; everything else uses the bundled icon.
    for (const QString &name : SymbolTable::symbols()) {
        bool fromTheme = false;
        const QIcon icon = SymbolTable::icon(name, &fromTheme);
        QVERIFY(!icon.isNull());
        const QString file = SymbolTable::themeIconFile(name);
        QCOMPARE(fromTheme, !file.isEmpty());
        if (fromTheme)
            QVERIFY2(file.endsWith(QStringLiteral("/") + SymbolTable::freedesktopName(name) +
                                   QStringLiteral("-symbolic.svg")),
                     qPrintable(file));
    }
    // Themes have no symbolic "text-x-script"; the plain icon must not be taken.
    QCOMPARE(SymbolTable::themeIconFile("chevron.left.forwardslash.chevron.right"), QString());
}

QTEST_MAIN(TestViewHelpers)
#include "tst_view_helpers.moc"
