// The views' C++ parts: file-row texts at their boundaries, history dates
// across time zones, the spring's easing curve, the symbols, and the light/dark
// follower against a private dbus-daemon playing the desktop portal.
#include "DampedSpring.h"
#include "FileRowInfo.h"
#include "HistoryDateFormatter.h"
#include "SymbolTable.h"
#include "ThemeFollower.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QEasingCurve>
#include <QFile>
#include <QGuiApplication>
#include <QPalette>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The desktop portal's settings interface, as far as appearance goes.
class FakePortal : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    uint scheme = 1;
    bool answer = true;

public slots:
    QDBusVariant Read(const QString &nameSpace, const QString &key)
    {
        if (!answer || nameSpace != u"org.freedesktop.appearance" || key != u"color-scheme") {
            sendErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"), {});
            return {};
        }
        // Read() answers a variant holding a variant.
        return QDBusVariant(QVariant::fromValue(QDBusVariant(QVariant::fromValue(scheme))));
    }
};

class TestViewParts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void fileRowTexts_data();
    void fileRowTexts();
    void fileSizeOfRealFiles();
    void historyDate_data();
    void historyDate();
    void springCurveTracksTheSpring();
    void everySymbolDrawsInItsColour();
    void followsThePortal();
    void withoutAnswerThePaletteDecides_data();
    void withoutAnswerThePaletteDecides();

private:
    void publish(uint scheme, const char *nameSpace = "org.freedesktop.appearance");
    static void setPaletteDark(bool dark)
    {
        QPalette palette;
        palette.setColor(QPalette::Window, dark ? QColor(0x20, 0x20, 0x20) : QColor(0xf0, 0xf0, 0xf0));
        QGuiApplication::setPalette(palette);
    }

    QProcess daemon;
    QString address;
    const QString serviceName = QStringLiteral("pelkin-test-portal");
    FakePortal portal;
};

void TestViewParts::initTestCase()
{
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--session"), QStringLiteral("--nofork"),
                  QStringLiteral("--print-address=1")});
    QVERIFY2(daemon.waitForStarted(5000), "dbus-daemon is needed (package dbus)");
    QTRY_VERIFY_WITH_TIMEOUT(daemon.canReadLine(), 5000);
    address = QString::fromUtf8(daemon.readLine()).trimmed();
    QDBusConnection bus = QDBusConnection::connectToBus(address, serviceName);
    QVERIFY(bus.isConnected());
    QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                               QDBusConnection::ExportAllSlots));
    QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
}

void TestViewParts::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(serviceName);
    daemon.terminate();
    daemon.waitForFinished(5000);
}

void TestViewParts::cleanup()
{
    portal.scheme = 1;
    portal.answer = true;
    QGuiApplication::setPalette(QPalette());
    QDBusConnection::disconnectFromBus(QStringLiteral("client"));
}

void TestViewParts::fileRowTexts_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("symbol");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("size");
    QTest::newRow("0") << "写真.PNG" << "photo" << qint64(0) << "0 KB";
    QTest::newRow("999") << "backup.tar.gz" << "doc.zipper" << qint64(999) << "999 バイト";
    QTest::newRow("1000") << "README" << "doc" << qint64(1000) << "1 KB";
    QTest::newRow("999999") << "odd." << "doc" << qint64(999'999) << "1 MB";
    QTest::newRow("GB") << "dir.png/file" << "doc" << qint64(1'234'567'890) << "1.23 GB";
    QTest::newRow("trailing zero") << "clip.MOV" << "film" << qint64(1'500'000'000) << "1.5 GB";
}

void TestViewParts::fileRowTexts()
{
    QFETCH(QString, fileName);
    QFETCH(QString, symbol);
    QFETCH(qint64, bytes);
    QFETCH(QString, size);
    QCOMPARE(FileRowInfo::iconName(QUrl::fromLocalFile(QStringLiteral("/tmp/") + fileName)), symbol);
    QCOMPARE(FileRowInfo::fileByteCountText(bytes), size);
}

void TestViewParts::fileSizeOfRealFiles()
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("資料.bin")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(2'480'000));
    file.close();
    QCOMPARE(FileRowInfo::fileSize(QUrl::fromLocalFile(file.fileName())), QString("2.5 MB"));
    // Gone, not local, or a folder (its inode would read "4 KB"): no size line.
    QCOMPARE(FileRowInfo::fileSize(QUrl::fromLocalFile(dir.filePath("missing"))), std::nullopt);
    QCOMPARE(FileRowInfo::fileSize(QUrl("https://example.com/a.png")), std::nullopt);
    QCOMPARE(FileRowInfo::fileSize(QUrl::fromLocalFile(dir.path())), std::nullopt);
}

void TestViewParts::historyDate_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QDateTime>("utc");
    QTest::addColumn<QString>("text");
    QTest::newRow("Tokyo, next day, zero padded")
        << QByteArray("Asia/Tokyo") << QDateTime(QDate(2025, 1, 4), QTime(22, 3, 59), Qt::UTC)
        << "2025/01/05 07:03";
    QTest::newRow("New York, day before")
        << QByteArray("America/New_York") << QDateTime(QDate(2025, 1, 1), QTime(2, 0), Qt::UTC)
        << "2024/12/31 21:00";
    QTest::newRow("invalid") << QByteArray("UTC") << QDateTime() << "";
}

void TestViewParts::historyDate()
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

void TestViewParts::springCurveTracksTheSpring()
{
    const DampedSpring spring(0.5, 0.7);
    const QVariantList points = spring.bezierSpline();
    QCOMPARE(points.size() % 6, 0);
    QEasingCurve curve(QEasingCurve::BezierSpline);
    const auto at = [&](qsizetype i) { return QPointF(points[i].toDouble(), points[i + 1].toDouble()); };
    for (qsizetype i = 0; i < points.size(); i += 6)
        curve.addCubicBezierSegment(at(i), at(i + 2), at(i + 4));
    const QEasingCurve copy = curve; // animations copy their easing curve
    for (int i = 0; i <= 50; ++i) {
        const double p = i / 50.0;
        QVERIFY2(std::abs(copy.valueForProgress(p) - spring.value(p * spring.settlingTime())) < 0.02,
                 qPrintable(QString::number(p)));
    }
    QCOMPARE(copy.valueForProgress(1.0), 1.0);
    // Qt copies only so many segments safely: more are never asked for.
    QCOMPARE(spring.bezierSpline(40).size(), DampedSpring::maxSegments * 6);
}

void TestViewParts::everySymbolDrawsInItsColour()
{
    QStringList names = SymbolTable::symbols();
    names << QStringLiteral("no.such.symbol");
    for (const QString &name : names) {
        QVERIFY2(QFile::exists(SymbolTable::fallbackPath(name)), qPrintable(name));
        const QImage image = SymbolTable::tintedImage(name, QSize(24, 24), Qt::red);
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
        // A full-colour theme icon would be tinted into a blob: only symbolic ones.
        bool fromTheme = false;
        QVERIFY(!SymbolTable::icon(name, &fromTheme).isNull());
        const QString file = SymbolTable::themeIconFile(name);
        QCOMPARE(fromTheme, !file.isEmpty());
        QVERIFY2(file.isEmpty() || file.endsWith(QStringLiteral("-symbolic.svg")), qPrintable(file));
    }
}

void TestViewParts::publish(uint scheme, const char *nameSpace)
{
    QDBusMessage signal = QDBusMessage::createSignal(
        QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("SettingChanged"));
    signal << QString::fromLatin1(nameSpace) << QStringLiteral("color-scheme")
           << QVariant::fromValue(QDBusVariant(QVariant::fromValue(scheme)));
    QVERIFY(QDBusConnection(serviceName).send(signal));
}

void TestViewParts::followsThePortal()
{
    setPaletteDark(false);
    ThemeFollower follower(QDBusConnection::connectToBus(address, QStringLiteral("client")));
    QTRY_VERIFY_WITH_TIMEOUT(follower.systemDark(), 5000); // the answer comes asynchronously
    QCOMPARE(follower.source(), ThemeFollower::Source::Portal);

    QSignalSpy spy(&follower, &ThemeFollower::systemDarkChanged);
    publish(2);
    QVERIFY(spy.wait(5000));
    QVERIFY(!follower.systemDark());
    // While the portal says light, neither another namespace nor a dark palette counts.
    publish(1, "org.gnome.desktop.interface");
    setPaletteDark(true);
    QTest::qWait(200);
    QVERIFY(!follower.systemDark());
    publish(1);
    QVERIFY(spy.wait(5000));
    QVERIFY(follower.systemDark());
    QCOMPARE(spy.count(), 2);
}

void TestViewParts::withoutAnswerThePaletteDecides_data()
{
    QTest::addColumn<int>("bus"); // 0 none, 1 portal without the key, 2 portal with no preference
    QTest::newRow("no bus") << 0;
    QTest::newRow("no answer") << 1;
    QTest::newRow("no preference") << 2;
}

void TestViewParts::withoutAnswerThePaletteDecides()
{
    QFETCH(int, bus);
    portal.answer = bus != 1;
    portal.scheme = 0;
    setPaletteDark(true);
    ThemeFollower follower(bus == 0 ? QDBusConnection(QStringLiteral("pelkin-no-such-connection"))
                                    : QDBusConnection::connectToBus(address, QStringLiteral("client")));
    QVERIFY(follower.systemDark());
    QTest::qWait(200); // the portal's answer arrives and must not change the result
    QCOMPARE(follower.source(), ThemeFollower::Source::Palette);
    QVERIFY(follower.systemDark());
    QSignalSpy spy(&follower, &ThemeFollower::systemDarkChanged);
    setPaletteDark(false);
    QTRY_VERIFY_WITH_TIMEOUT(!follower.systemDark(), 2000);
    QCOMPARE(spy.count(), 1);
}

QTEST_MAIN(TestViewParts)
#include "tst_view_parts.moc"
