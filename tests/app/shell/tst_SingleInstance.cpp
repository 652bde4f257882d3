#include "SingleInstance.h"

#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QUuid>
#include <QtTest>

#include <memory>
#include <vector>

// Names unique per run, so the test never meets a running application or a
// parallel run of itself.
static QString uniqueName()
{
    return QStringLiteral("pelkin-drop-test-") + QUuid::createUuid().toString(QUuid::Id128);
}

class TestSingleInstance : public QObject
{
    Q_OBJECT
private slots:
    void secondClaimReopensTheFirst();
    void onlyTheReopenCommandIsHonoured_data();
    void onlyTheReopenCommandIsHonoured();
    void nameIsFreeAgainWhenThePrimaryEnds();
    void fiveSimultaneousLaunchesLeaveOne();

private:
    QString probe() const
    {
        return QCoreApplication::applicationDirPath() +
               QStringLiteral("/pelkin-single-instance-probe");
    }
};

void TestSingleInstance::secondClaimReopensTheFirst()
{
    const QString name = uniqueName();
    SingleInstance first(name);
    QVERIFY(first.claim());
    QVERIFY(first.isPrimary());
    QVERIFY(first.socketName().endsWith(QString::number(::getuid())));
    QSignalSpy reopen(&first, &SingleInstance::reopenRequested);

    // The second launch is another process: it blocks while the primary's
    // event loop answers, so run it as one.
    QProcess second;
    second.start(probe(), {name});
    QVERIFY(second.waitForStarted(5000));
    QVERIFY(reopen.wait(5000));
    QVERIFY(second.waitForFinished(5000));
    QCOMPARE(second.readAllStandardOutput().trimmed(), QByteArray("secondary"));
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(reopen.count(), 1);
}

void TestSingleInstance::onlyTheReopenCommandIsHonoured_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<bool>("reopens");
    QTest::newRow("reopen") << QByteArray("reopen\n") << true;
    QTest::newRow("another command") << QByteArray("quit\n") << false;
    QTest::newRow("reopen with a tail") << QByteArray("reopen now\n") << false;
    QTest::newRow("a flood without a line end") << QByteArray(4096, 'x') << false;
}

void TestSingleInstance::onlyTheReopenCommandIsHonoured()
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

void TestSingleInstance::nameIsFreeAgainWhenThePrimaryEnds()
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

void TestSingleInstance::fiveSimultaneousLaunchesLeaveOne()
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

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_SingleInstance.moc"
