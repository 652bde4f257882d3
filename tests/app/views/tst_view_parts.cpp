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
#include <QScopeGuard>
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
    void fileRowTexts();
    void historyDateInLocalTime();
    void springCurveTracksTheSpring();
    void everySymbolDrawsInItsColour();
    void followsThePortal();
    void withoutAnswerThePaletteDecides();

private:
    void publish(uint scheme, const char *nameSpace = "org.freedesktop.appearance");
    static void setPaletteDark(bool dark)
    {
        QPalette palette;
        palette.setColor(QPalette::Window,
                         dark ? QColor(0x20, 0x20, 0x20) : QColor(0xf0, 0xf0, 0xf0));
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

void TestViewParts::fileRowTexts()
{
    // The boundaries of the symbol and byte-count tables.
    const struct
    {
        const char *name, *symbol;
        qint64 bytes;
        const char *size;
    } rows[] = {{"写真.PNG", "photo", 0, "0 KB"},
                {"backup.tar.gz", "doc.zipper", 999, "999 バイト"},
                {"odd.", "doc", 999'999, "1 MB"},
                {"dir.png/file", "doc", 1'234'567'890, "1.23 GB"}};
    for (const auto &row : rows) {
        const QUrl url = QUrl::fromLocalFile(QStringLiteral("/tmp/") + QString::fromUtf8(row.name));
        QCOMPARE(FileRowInfo::iconName(url), QString::fromUtf8(row.symbol));
        QCOMPARE(FileRowInfo::fileByteCountText(row.bytes), QString::fromUtf8(row.size));
    }
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

void TestViewParts::historyDateInLocalTime()
{
    const QByteArray saved = qgetenv("TZ");
    qputenv("TZ", "America/New_York");
    tzset();
    const QString dayBefore =
        HistoryDateFormatter::format(QDateTime(QDate(2025, 1, 1), QTime(2, 0), Qt::UTC));
    qputenv("TZ", saved);
    tzset();
    QCOMPARE(dayBefore, QString("2024/12/31 21:00"));
    QCOMPARE(HistoryDateFormatter::format(QDateTime()), QString());
}

void TestViewParts::springCurveTracksTheSpring()
{
    const DampedSpring spring(0.5, 0.7);
    const QVariantList points = spring.bezierSpline();
    QCOMPARE(points.size() % 6, 0);
    QEasingCurve curve(QEasingCurve::BezierSpline);
    const auto at = [&](qsizetype i) {
        return QPointF(points[i].toDouble(), points[i + 1].toDouble());
    };
    for (qsizetype i = 0; i < points.size(); i += 6)
        curve.addCubicBezierSegment(at(i), at(i + 2), at(i + 4));
    const QEasingCurve copy = curve; // animations copy their easing curve
    for (int i = 0; i <= 50; ++i) {
        const double p = i / 50.0;
        QVERIFY2(std::abs(copy.valueForProgress(p) - spring.value(p * spring.settlingTime())) <
                     0.02,
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
        int inked = 0, wrong = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (const QColor c = image.pixelColor(x, y); c.alpha() > 0)
                    ++inked, wrong += c.red() < 200 || c.green() > 30 || c.blue() > 30;
        QVERIFY2(inked > 20 && wrong == 0, qPrintable(name));
        // A full-colour theme icon would be tinted into a blob: only symbolic ones.
        bool fromTheme = false;
        QVERIFY(!SymbolTable::icon(name, &fromTheme).isNull());
        const QString file = SymbolTable::themeIconFile(name);
        QCOMPARE(fromTheme, !file.isEmpty());
        QVERIFY2(file.isEmpty() || file.endsWith(QStringLiteral("-symbolic.svg")),
                 qPrintable(file));
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
    auto closeBus =
        qScopeGuard([] { QDBusConnection::disconnectFromBus(QStringLiteral("client")); });
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

void TestViewParts::withoutAnswerThePaletteDecides()
{
    // No bus, a portal without the key, a portal with no preference.
    for (const int bus : {0, 1, 2}) {
        portal.answer = bus != 1;
        portal.scheme = 0;
        setPaletteDark(true);
        ThemeFollower follower(bus == 0
                                   ? QDBusConnection(QStringLiteral("no-such-connection"))
                                   : QDBusConnection::connectToBus(address, QString::number(bus)));
        QTest::qWait(200); // the portal's answer arrives and must not change the result
        QCOMPARE(follower.source(), ThemeFollower::Source::Palette);
        QVERIFY(follower.systemDark());
        setPaletteDark(false);
        QTRY_VERIFY_WITH_TIMEOUT(!follower.systemDark(), 2000);
        QDBusConnection::disconnectFromBus(QString::number(bus));
    }
}

QTEST_MAIN(TestViewParts)
#include "tst_view_parts.moc"
