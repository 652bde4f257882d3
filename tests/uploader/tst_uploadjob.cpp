// UploadJob's thread hop, against a real HTTP server on 127.0.0.1: the
// outcome comes from the uploader's worker thread (or from inside start()),
// the signals come on the job's thread, once, in order.
#include "PelkinUploader.h"
#include "TestHttpServer.h"
#include "UploadJob.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(TestHttpServer::Reply)

class TestUploadJob : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void signalsOnTheStartingThread_data();
    void signalsOnTheStartingThread();
    void destroyedJobDeliversNothing_data();
    void destroyedJobDeliversNothing();

private:
    QUrl makeFile(const QString &name, qint64 size);

    std::unique_ptr<QTemporaryDir> m_dir;
};

struct Recorded
{
    QList<double> progress;
    QList<QThread *> threads;
    QList<UploadResult> results;
    int progressAfterFinished = 0;

    void watch(UploadJob *job)
    {
        QObject::connect(job, &UploadJob::progress, job, [this](double fraction) {
            progress.append(fraction);
            threads.append(QThread::currentThread());
            progressAfterFinished += results.isEmpty() ? 0 : 1;
        });
        QObject::connect(job, &UploadJob::finished, job, [this](const UploadResult &result) {
            results.append(result);
            threads.append(QThread::currentThread());
        });
    }
};

void TestUploadJob::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QUrl TestUploadJob::makeFile(const QString &name, qint64 size)
{
    QFile file(m_dir->filePath(name));
    if (!file.open(QIODevice::WriteOnly) || !file.resize(size))
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return QUrl::fromLocalFile(file.fileName());
}

void TestUploadJob::signalsOnTheStartingThread_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<TestHttpServer::Reply>("reply");
    QTest::addColumn<bool>("success");
    QTest::addColumn<bool>("sent");

    TestHttpServer::Reply slow = TestHttpServer::json(200, R"({"success":true,"url":"u"})");
    slow.delay = 300ms; // several progress ticks before the outcome
    QTest::newRow("uploaded") << "notes.txt" << slow << true << true;
    TestHttpServer::Reply refused = TestHttpServer::json(503, "{}");
    QTest::newRow("server refuses") << "notes.txt" << refused << false << true;
    // Screened out inside start(): the uploader reports at once.
    QTest::newRow("screened out") << "Foo.app" << slow << false << false;
}

void TestUploadJob::signalsOnTheStartingThread()
{
    QFETCH(QString, fileName);
    QFETCH(TestHttpServer::Reply, reply);
    QFETCH(bool, success);
    QFETCH(bool, sent);

    TestHttpServer server;
    server.enqueue(reply);
    PelkinUploader uploader(server.url(), 10s);
    UploadJob job;
    Recorded seen;
    seen.watch(&job);

    job.start(uploader, {makeFile(fileName, 256 * 1024)}, std::nullopt);
    // Nothing is delivered from inside start(), not even an outcome known there.
    QVERIFY(seen.results.isEmpty());
    QVERIFY(job.isRunning());

    QTRY_COMPARE_WITH_TIMEOUT(seen.results.size(), 1, 10000);
    QCOMPARE(seen.results.first().isSuccess(), success);
    QVERIFY(job.isFinished());
    QVERIFY(!job.isRunning());
    // A late tick of the uploader's timer would come now; none may pass.
    QTest::qWait(250);
    QCOMPARE(seen.results.size(), 1);
    QCOMPARE(seen.progressAfterFinished, 0);
    for (QThread *thread : std::as_const(seen.threads))
        QCOMPARE(thread, QThread::currentThread());
    // A quick refusal may come before the first tick; a slow reply may not.
    if (sent && reply.delay > 0ms) {
        QVERIFY(!seen.progress.isEmpty());
        QCOMPARE(seen.progress.first(), 0.0);
    }
    QCOMPARE(server.requestCount(), sent ? 1 : 0);
}

void TestUploadJob::destroyedJobDeliversNothing_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::newRow("while the transfer runs") << "notes.txt";
    QTest::newRow("with the outcome already queued") << "Foo.app";
}

void TestUploadJob::destroyedJobDeliversNothing()
{
    QFETCH(QString, fileName);

    TestHttpServer server;
    TestHttpServer::Reply slow = TestHttpServer::json(200, R"({"success":true,"url":"u"})");
    slow.delay = 200ms;
    server.enqueue(slow);
    PelkinUploader uploader(server.url(), 10s);
    // The receiver outlives the job: anything delivered after the job is gone
    // would reach it.
    QObject receiver;
    int delivered = 0;
    auto *job = new UploadJob;
    connect(job, &UploadJob::progress, &receiver, [&delivered] { ++delivered; });
    connect(job, &UploadJob::finished, &receiver, [&delivered] { ++delivered; });
    job->start(uploader, {makeFile(fileName, 64 * 1024)}, std::nullopt);
    delete job;

    if (fileName == QLatin1String("notes.txt"))
        QVERIFY(server.waitForRequests(1, 10s));
    QTest::qWait(300);
    QCOMPARE(delivered, 0);
}

QTEST_GUILESS_MAIN(TestUploadJob)
#include "tst_uploadjob.moc"
