// Where the drop zone goes, and the single instance.
#include "DropZonePlacement.h"
#include "SingleInstance.h"

#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QUuid>
#include <QtTest>

#include <array>
#include <tuple>

namespace {

// Unique per run: never a running application's name, nor a parallel run's.
QString uniqueName()
{
    return QStringLiteral("pelkin-drop-test-") + QUuid::createUuid().toString(QUuid::Id128);
}

} // namespace

class TestShellBase : public QObject
{
    Q_OBJECT
private slots:
    // Centred under the anchor, then kept inside the screen's available area.
    void placement()
    {
        const QList<std::tuple<QRect, QSize, QRect, QPoint>> rows = {
            {{1280, 0, 24, 24}, {210, 36}, {1280, 0, 1024, 768}, {1292, 20}}, // a second screen
            // Both side bounds cannot hold: the left one wins.
            {{150, 0, 20, 20}, {400, 36}, {0, 0, 300, 600}, {12, 16}},
            // A tray at the bottom: the bottom margin wins over the top limit.
            {{600, 776, 24, 24}, {260, 132}, {0, 0, 1280, 776}, {482, 638}},
        };
        for (const auto &[anchor, size, available, expected] : rows)
            QCOMPARE(DropZonePlacement::origin(anchor, size, available), expected);
    }

    // Anything but an exact "reopen" line (answered in the launches below) is
    // hung up on, unanswered, and the primary goes on serving.
    void onlyTheReopenCommandIsHonoured()
    {
        SingleInstance primary(uniqueName());
        QVERIFY(primary.claim());
        QSignalSpy reopen(&primary, &SingleInstance::reopenRequested);
        for (const QByteArray &message : {QByteArray("reopen now\n"), QByteArray(4096, 'x')}) {
            QLocalSocket client;
            client.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
            client.connectToServer(primary.socketName());
            QVERIFY(client.waitForConnected(2000));
            client.write(message);
            QVERIFY(client.waitForBytesWritten(2000));
            QTRY_COMPARE_WITH_TIMEOUT(client.state(), QLocalSocket::UnconnectedState, 5000);
            QCOMPARE(client.readAll(), QByteArray());
        }
        QVERIFY(reopen.isEmpty());
    }

    // Each round's primary is killed, not ended: the next round finds the
    // name free (an abstract socket leaves nothing stale behind).
    void fiveSimultaneousLaunchesLeaveOne()
    {
        const QString name = uniqueName();
        for (int round = 0; round < 3; ++round) {
            std::array<QProcess, 5> launches;
            for (QProcess &launch : launches)
                launch.start(QCoreApplication::applicationDirPath() + "/pelkin-single-instance-probe", {name});
            QProcess *primary = nullptr;
            for (QProcess &launch : launches) {
                QVERIFY(launch.waitForStarted(5000));
                QVERIFY2(launch.waitForReadyRead(10000), "no answer from a launch");
                const QByteArray role = launch.readLine().trimmed();
                if (role == "primary") {
                    QVERIFY2(!primary, "two primaries");
                    primary = &launch;
                } else {
                    QCOMPARE(role, QByteArray("secondary"));
                    QVERIFY(launch.waitForFinished(5000));
                    QCOMPARE(launch.exitCode(), 0);
                }
            }
            QVERIFY(primary);
            QCOMPARE(primary->state(), QProcess::Running);
            // Every secondary was acknowledged, so each one reached the primary.
            QByteArray reopens;
            QTRY_VERIFY_WITH_TIMEOUT((reopens += primary->readAll()).count("reopen") == 4, 5000);
            primary->kill();
            QVERIFY(primary->waitForFinished(5000));
        }
    }
};

QTEST_GUILESS_MAIN(TestShellBase)
#include "tst_ShellBase.moc"
