// Where the drop zone goes, and the single instance: five simultaneous
// launches of a small probe process leave one, and only a well-formed
// "reopen" reaches the primary.
#include "DropZonePlacement.h"
#include "SingleInstance.h"

#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QUuid>
#include <QtTest>

#include <memory>
#include <vector>

Q_DECLARE_METATYPE(std::optional<QRect>)

namespace {

// Names unique per run, so the test never meets a running application or a
// parallel run of itself.
QString uniqueName()
{
    return QStringLiteral("pelkin-drop-test-") + QUuid::createUuid().toString(QUuid::Id128);
}

QString probe()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/pelkin-single-instance-probe");
}

} // namespace

class TestShellBase : public QObject
{
    Q_OBJECT
private slots:
    void placement_data()
    {
        QTest::addColumn<QRect>("anchor");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<std::optional<QRect>>("available");
        QTest::addColumn<QPoint>("expected");
        const QRect screen(0, 24, 1280, 776); // a panel of 24 px on top
        const QSize compact(210, 36);
        QTest::newRow("centred under the icon")
            << QRect(600, 0, 24, 24) << compact << std::optional(screen) << QPoint(507, 20);
        QTest::newRow("far right clamp")
            << QRect(1256, 0, 24, 24) << compact << std::optional(screen) << QPoint(1058, 20);
        QTest::newRow("far left clamp")
            << QRect(0, 0, 24, 24) << compact << std::optional(screen) << QPoint(12, 20);
        QTest::newRow("far left of a second screen")
            << QRect(1280, 0, 24, 24) << compact << std::optional(QRect(1280, 0, 1024, 768))
            << QPoint(1292, 20);
        // Both side bounds cannot hold: the left one wins.
        QTest::newRow("wider than the screen")
            << QRect(150, 0, 20, 20) << QSize(400, 36) << std::optional(QRect(0, 0, 300, 600))
            << QPoint(12, 16);
        // A tray at the bottom: the bottom margin wins over the top limit.
        QTest::newRow("bottom panel") << QRect(600, 776, 24, 24) << QSize(260, 132)
                                      << std::optional(QRect(0, 0, 1280, 776)) << QPoint(482, 638);
        QTest::newRow("no screen: no clamp") << QRect(0, 0, 24, 24) << compact
                                             << std::optional<QRect>() << QPoint(-93, 20);
    }

    void placement()
    {
        QFETCH(QRect, anchor);
        QFETCH(QSize, size);
        QFETCH(std::optional<QRect>, available);
        QFETCH(QPoint, expected);
        QCOMPARE(DropZonePlacement::origin(anchor, size, available), expected);
    }

    void onlyTheReopenCommandIsHonoured_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<bool>("reopens");
        QTest::newRow("reopen") << QByteArray("reopen\n") << true;
        QTest::newRow("another command") << QByteArray("quit\n") << false;
        QTest::newRow("reopen with a tail") << QByteArray("reopen now\n") << false;
        QTest::newRow("a flood without a line end") << QByteArray(4096, 'x') << false;
    }

    void onlyTheReopenCommandIsHonoured()
    {
        QFETCH(QByteArray, message);
        QFETCH(bool, reopens);
        SingleInstance primary(uniqueName());
        QVERIFY(primary.claim());
        QSignalSpy reopen(&primary, &SingleInstance::reopenRequested);
        QLocalSocket client;
        client.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
        client.connectToServer(primary.socketName());
        QVERIFY(client.waitForConnected(2000));
        client.write(message);
        QVERIFY(client.waitForBytesWritten(2000));
        // Either answered ("ok") and hung up, or just hung up.
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QLocalSocket::UnconnectedState, 5000);
        QCOMPARE(client.readAll() == "ok\n", reopens);
        QCOMPARE(reopen.count(), reopens ? 1 : 0);
    }

    void nameIsFreeAgainWhenThePrimaryEnds()
    {
        const QString name = uniqueName();
        QProcess primary;
        primary.start(probe(), {name});
        QVERIFY(primary.waitForReadyRead(5000));
        QCOMPARE(primary.readLine().trimmed(), QByteArray("primary"));
        // Killed, not ended: an abstract socket leaves nothing stale behind.
        primary.kill();
        QVERIFY(primary.waitForFinished(5000));
        SingleInstance next(name);
        QVERIFY(next.claim());
        QVERIFY(next.isPrimary());
    }

    void fiveSimultaneousLaunchesLeaveOne()
    {
        for (int round = 0; round < 3; ++round) {
            const QString name = uniqueName();
            std::vector<std::unique_ptr<QProcess>> launches;
            for (int i = 0; i < 5; ++i) {
                launches.push_back(std::make_unique<QProcess>());
                launches.back()->start(probe(), {name});
            }
            QProcess *primary = nullptr;
            int secondaries = 0;
            for (auto &launch : launches) {
                QVERIFY(launch->waitForStarted(5000));
                QVERIFY2(launch->waitForReadyRead(10000), "no answer from a launch");
                const QByteArray role = launch->readLine().trimmed();
                if (role == "primary") {
                    QVERIFY2(!primary, "two primaries");
                    primary = launch.get();
                } else {
                    QCOMPARE(role, QByteArray("secondary"));
                    QVERIFY(launch->waitForFinished(5000));
                    QCOMPARE(launch->exitCode(), 0);
                    ++secondaries;
                }
            }
            QVERIFY(primary);
            QCOMPARE(secondaries, 4);
            QCOMPARE(primary->state(), QProcess::Running);
            // Every secondary was acknowledged, so each one reached the primary.
            QByteArray reopens;
            QTRY_VERIFY_WITH_TIMEOUT((reopens += primary->readAll()).count("reopen") == 4, 5000);
            primary->closeWriteChannel();
            QVERIFY(primary->waitForFinished(5000));
        }
    }

};

QTEST_GUILESS_MAIN(TestShellBase)
#include "tst_ShellBase.moc"
