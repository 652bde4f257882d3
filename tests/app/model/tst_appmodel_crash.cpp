#include "AppModel.h"
#include "StoreFixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <cstdio>

// Kills a child process that changes the store as fast as it can, at random
// moments, and checks that every next start finds a whole store: the state
// after the last change the child finished, or after the one it was making.
//
// The child runs steps k = 0, 1, 2, ...: step 2i adds history entry i,
// step 2i+1 sets auto-copy to (i is even). It prints each finished step.

namespace {

constexpr int rounds = 20;
constexpr int seeded = 290;

struct StoreState
{
    int newest = -1;
    bool autoCopy = false;
    bool operator==(const StoreState &) const = default;
};

StoreState stateAfterStep(int step)
{
    const int newest = step / 2;
    const int lastAutoCopyEntry = step % 2 == 1 ? newest : newest - 1;
    return {newest, lastAutoCopyEntry >= 0 && lastAutoCopyEntry % 2 == 0};
}

int runBurst(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    AppModel model(QString::fromLocal8Bit(argv[2]));
    const int next = model.history().isEmpty() ? 0 : model.history().first().message.toInt() + 1;
    const StoreState start = stateAfterStep(2 * next - 1);
    model.setAutoCopyToClipboard(start.autoCopy);
    std::printf("ready %d\n", next);
    std::fflush(stdout);
    for (int i = next;; ++i) {
        model.addHistory({QStringLiteral("file-%1.txt").arg(i)},
                         QStringLiteral("https://example.test/%1").arg(i), i % 3 != 0,
                         QString::number(i));
        std::printf("step %d\n", 2 * i);
        std::fflush(stdout);
        model.setAutoCopyToClipboard(i % 2 == 0);
        std::printf("step %d\n", 2 * i + 1);
        std::fflush(stdout);
    }
}

} // namespace

class AppModelCrashTest : public QObject
{
    Q_OBJECT

private slots:
    void killedDuringBurstsLeavesWholeStore();
};

void AppModelCrashTest::killedDuringBurstsLeavesWholeStore()
{
    StoreFixture store;
    {
        AppModel model(store.path());
        model.setTheme(AppTheme::Dark);
        model.setDefaultPassword(QStringLiteral("secret pass"));
        model.setShowsMenuBarIcon(false);
        model.setAutoCopyToClipboard(false);
        // Close to the cap, so the bursts also cut the oldest entries.
        QList<UploadHistoryItem> seed;
        for (int i = seeded - 1; i >= 0; --i)
            seed.append(UploadHistoryItem(QUuid::createUuid(), QDateTime::currentDateTimeUtc(),
                                          {QStringLiteral("seed.txt")}, std::nullopt, true,
                                          QString::number(i)));
        model.setHistory(seed);
    }

    int killedDuringWrite = 0;
    int killedDuringStart = 0;
    StoreState previous{seeded - 1, false};
    for (int round = 0; round < rounds; ++round) {
        // Every third round kills the child while it is still starting.
        const bool duringStart = round % 3 == 2;
        QProcess child;
        child.setProgram(QCoreApplication::applicationFilePath());
        child.setArguments({QStringLiteral("--burst"), store.path()});
        child.start();
        QVERIFY2(child.waitForStarted(5000), qPrintable(child.errorString()));
        QByteArray output;
        while (!duringStart && !output.contains('\n')) {
            QVERIFY2(child.waitForReadyRead(10000), "the child did not get ready");
            output += child.readAllStandardOutput();
        }
        QTest::qWait(QRandomGenerator::global()->bounded(1, duringStart ? 40 : 120));
        child.kill();
        QVERIFY(child.waitForFinished(5000));
        output += child.readAllStandardOutput();

        // The last step the child reported as finished.
        int lastStep = -2;
        for (const QByteArray &line : output.split('\n')) {
            if (line.startsWith("ready "))
                lastStep = 2 * line.mid(6).toInt() - 1;
            else if (line.startsWith("step "))
                lastStep = line.mid(5).toInt();
        }

        AppModel reopened(store.path());
        QVERIFY2(reopened.damagedStoreCopyPath().isEmpty(), "the store was found damaged");
        QCOMPARE(reopened.theme(), AppTheme::Dark);
        QCOMPARE(reopened.defaultPassword(), QStringLiteral("secret pass"));
        QCOMPARE(reopened.showsMenuBarIcon(), false);

        const QList<UploadHistoryItem> history = reopened.history();
        const StoreState found{history.isEmpty() ? -1 : history.first().message.toInt(),
                               reopened.autoCopyToClipboard()};
        bool whole = false;
        if (lastStep == -2) {
            // Killed before it was ready: untouched, or its start-up write, or
            // its first step.
            ++killedDuringStart;
            const int next = previous.newest + 1;
            whole = found == previous || found == stateAfterStep(2 * next - 1) ||
                    found == stateAfterStep(2 * next);
        } else {
            const bool inFlight = found == stateAfterStep(lastStep + 1);
            whole = found == stateAfterStep(lastStep) || inFlight;
            killedDuringWrite += inFlight ? 1 : 0;
        }
        QVERIFY2(whole,
                 qPrintable(QStringLiteral("round %1: found entry %2/auto-copy %3 after step %4")
                                .arg(round)
                                .arg(found.newest)
                                .arg(found.autoCopy)
                                .arg(lastStep)));
        previous = found;

        // The newest entries, contiguous, at most 300 of them.
        QCOMPARE(history.size(), qMin(found.newest + 1, AppModel::historyLimit));
        for (int i = 0; i < history.size(); ++i)
            QCOMPARE(history.at(i).message.toInt(), found.newest - i);
    }
    qInfo("%d of %d kills landed after a change was stored but before it was reported; "
          "%d before the child was ready; newest entry %d",
          killedDuringWrite, rounds, killedDuringStart, previous.newest);
    // No temporary or lock files are left behind.
    QCOMPARE(QDir(store.dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
             QStringList{QStringLiteral("Pelkin Drop.ini")});
}

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--burst") == 0)
        return runBurst(argc, argv);
    QCoreApplication app(argc, argv);
    AppModelCrashTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_appmodel_crash.moc"
