#include "ThemeFollower.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QGuiApplication>
#include <QPalette>
#include <QProcess>
#include <QSignalSpy>
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
            sendErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"),
                           QStringLiteral("not found"));
            return {};
        }
        // Read() answers a variant holding a variant.
        return QDBusVariant(QVariant::fromValue(QDBusVariant(QVariant::fromValue(scheme))));
    }
};

class TestThemeFollower : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void readsThePortalAndFollowsItsChanges();
    void noPreferenceFallsBackToThePalette();
    void withoutPortalThePaletteDecidesAndIsFollowed();

private:
    void publish(uint scheme,
                 const QString &nameSpace = QStringLiteral("org.freedesktop.appearance"));
    void setPaletteDark(bool dark);

    QProcess daemon;
    QString address;
    QString serviceName = QStringLiteral("pelkin-test-portal");
    FakePortal portal;
};

void TestThemeFollower::initTestCase()
{
    daemon.setProgram(QStringLiteral("dbus-daemon"));
    daemon.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"),
                         QStringLiteral("--print-address=1")});
    daemon.start();
    QVERIFY2(daemon.waitForStarted(5000), "dbus-daemon is needed (package dbus)");
    QTRY_VERIFY_WITH_TIMEOUT(daemon.canReadLine(), 5000);
    address = QString::fromUtf8(daemon.readLine()).trimmed();
    QVERIFY(!address.isEmpty());

    QDBusConnection bus = QDBusConnection::connectToBus(address, serviceName);
    QVERIFY(bus.isConnected());
    QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                               QDBusConnection::ExportAllSlots));
    QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
}

void TestThemeFollower::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(serviceName);
    daemon.terminate();
    daemon.waitForFinished(5000);
}

void TestThemeFollower::cleanup()
{
    portal.scheme = 1;
    portal.answer = true;
    QGuiApplication::setPalette(QPalette());
}

void TestThemeFollower::publish(uint scheme, const QString &nameSpace)
{
    QDBusMessage signal = QDBusMessage::createSignal(
        QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("SettingChanged"));
    signal << nameSpace << QStringLiteral("color-scheme")
           << QVariant::fromValue(QDBusVariant(QVariant::fromValue(scheme)));
    QVERIFY(QDBusConnection(serviceName).send(signal));
}

void TestThemeFollower::setPaletteDark(bool dark)
{
    QPalette palette;
    palette.setColor(QPalette::Window, dark ? QColor(0x20, 0x20, 0x20) : QColor(0xf0, 0xf0, 0xf0));
    QGuiApplication::setPalette(palette);
}

void TestThemeFollower::readsThePortalAndFollowsItsChanges()
{
    setPaletteDark(false);
    portal.scheme = 1;
    QDBusConnection client = QDBusConnection::connectToBus(address, QStringLiteral("client1"));
    ThemeFollower follower(client);
    QCOMPARE(follower.systemDark(), false); // the answer comes asynchronously
    QTRY_VERIFY_WITH_TIMEOUT(follower.systemDark(), 5000);
    QCOMPARE(follower.source(), ThemeFollower::Source::Portal);

    QSignalSpy spy(&follower, &ThemeFollower::systemDarkChanged);
    publish(2);
    QVERIFY(spy.wait(5000));
    QCOMPARE(follower.systemDark(), false);

    // Other settings and other namespaces are ignored.
    publish(1, QStringLiteral("org.gnome.desktop.interface"));
    publish(1);
    QVERIFY(spy.wait(5000));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(follower.systemDark(), true);

    // While the portal says light, a dark palette changes nothing.
    publish(2);
    QVERIFY(spy.wait(5000));
    setPaletteDark(true);
    QTest::qWait(50);
    QCOMPARE(follower.systemDark(), false);
    QDBusConnection::disconnectFromBus(QStringLiteral("client1"));
}

void TestThemeFollower::noPreferenceFallsBackToThePalette()
{
    setPaletteDark(true);
    portal.scheme = 0;
    QDBusConnection client = QDBusConnection::connectToBus(address, QStringLiteral("client2"));
    ThemeFollower follower(client);
    QVERIFY(follower.systemDark());
    QTest::qWait(200); // the portal's answer arrives and must not change the result
    QCOMPARE(follower.source(), ThemeFollower::Source::Palette);
    QVERIFY(follower.systemDark());
    QSignalSpy spy(&follower, &ThemeFollower::systemDarkChanged);
    setPaletteDark(false);
    QTRY_COMPARE_WITH_TIMEOUT(follower.systemDark(), false, 2000);
    QDBusConnection::disconnectFromBus(QStringLiteral("client2"));
}

void TestThemeFollower::withoutPortalThePaletteDecidesAndIsFollowed()
{
    // A bus without a portal, and no bus at all, both fall back at once.
    portal.answer = false;
    setPaletteDark(false);
    QDBusConnection client = QDBusConnection::connectToBus(address, QStringLiteral("client3"));
    ThemeFollower onBus(client);
    ThemeFollower noBus(QDBusConnection(QStringLiteral("pelkin-no-such-connection")));
    QVERIFY(!onBus.systemDark());
    QVERIFY(!noBus.systemDark());
    QSignalSpy spy(&noBus, &ThemeFollower::systemDarkChanged);
    setPaletteDark(true);
    QTRY_VERIFY_WITH_TIMEOUT(noBus.systemDark(), 2000);
    QTRY_VERIFY_WITH_TIMEOUT(onBus.systemDark(), 2000);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(onBus.source(), ThemeFollower::Source::Palette);
    QDBusConnection::disconnectFromBus(QStringLiteral("client3"));
}

QTEST_MAIN(TestThemeFollower)
#include "tst_theme_follower.moc"
