// How each way a server can answer (or fail to) becomes exactly one
// result, and how progress and completion are delivered.
#include "PelkinUploader.h"
#include "TestHttpServer.h"
#include "UploadProbe.h"

#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;
Q_DECLARE_METATYPE(TestHttpServer::Reply)

namespace {
constexpr int platform = -1; // "kind" column: a PlatformError, not an UploadError

QUrl writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &content)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write test file");
    return QUrl::fromLocalFile(file.fileName());
}

QUrl sparseFile(const QTemporaryDir &dir, const QString &name, qint64 size)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || !file.resize(size))
        qFatal("cannot make sparse file");
    return QUrl::fromLocalFile(file.fileName());
}

TestHttpServer::Reply reply(int status, const QByteArray &body, const QByteArray &type)
{
    TestHttpServer::Reply r;
    r.status = status;
    r.body = body;
    if (!type.isEmpty())
        r.headers.append(qMakePair(QByteArray("Content-Type"), type));
    return r;
}
} // namespace

class UploadOutcomeTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void replies_data();
    void replies();
    void successKeepsEveryField();
    void earlyRefusalStopsSending();
    void idleTimeout_data();
    void idleTimeout();
    void refusedConnection();
    void untrustedCertificate();
    void proxyFromEnvironment();
    void progressOnMainThreadUntilDone();
    void destroyedUploaderStillCompletes();
    void concurrentUploadsAreIndependent();

private:
    QTemporaryDir m_dir;
    QUrl m_file;
};

void UploadOutcomeTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_file = writeFile(m_dir, u"note.txt"_qs, "hello");
}

void UploadOutcomeTest::replies_data()
{
    QTest::addColumn<TestHttpServer::Reply>("answer");
    QTest::addColumn<int>("kind"); // UploadError::Kind, platform, or -2 for success
    QTest::addColumn<QString>("message");

    const QByteArray json = "application/json";
    const int success = -2;
    QTest::newRow("200 success only")
        << reply(200, R"({"success":true})", json) << success << QString();
    QTest::newRow("201 counts as success")
        << reply(201, R"({"success":true,"url":"https://s/1"})", json) << success << QString();
    QTest::newRow("299 counts as success")
        << reply(299, R"({"success":true,"unknown":[1,{"x":2}]})", json) << success << QString();
    QTest::newRow("200 success false without error")
        << reply(200, R"({"success":false})", json) << int(UploadError::Kind::serverError)
        << u"アップロード失敗"_qs;
    QTest::newRow("200 success false with error")
        << reply(200, R"({"success":false,"error":"容量が足りません"})", json)
        << int(UploadError::Kind::serverError) << u"容量が足りません"_qs;
    QTest::newRow("200 not JSON") << reply(200, "<html>ok</html>", "text/html") << platform
                                  << u"サーバーからの応答を読み取れませんでした。"_qs;
    QTest::newRow("200 wrong type in unused field")
        << reply(200, R"({"success":true,"size_bytes":"12"})", json) << platform
        << u"サーバーからの応答を読み取れませんでした。"_qs;
    QTest::newRow("200 empty body") << reply(200, "", "") << int(UploadError::Kind::invalidResponse)
                                    << u"不正なレスポンスです。"_qs;
    QTest::newRow("500 HTML") << reply(500, "<h1>Internal Server Error</h1>", "text/html")
                              << int(UploadError::Kind::httpStatus)
                              << u"HTTP ステータスコードエラー: 500"_qs;
    QTest::newRow("403 with service message")
        << reply(403, R"({"success":false,"error":"パスワードが違います"})", json)
        << int(UploadError::Kind::serverError) << u"パスワードが違います"_qs;
    QTest::newRow("403 message but no success key")
        << reply(403, R"({"error":"forbidden"})", json) << int(UploadError::Kind::httpStatus)
        << u"HTTP ステータスコードエラー: 403"_qs;
    QTest::newRow("413 with service message, success true")
        << reply(413, R"({"success":true,"error":"too big"})", json)
        << int(UploadError::Kind::serverError) << u"too big"_qs;
    QTest::newRow("404 empty") << reply(404, "", "") << int(UploadError::Kind::httpStatus)
                               << u"HTTP ステータスコードエラー: 404"_qs;
    TestHttpServer::Reply redirect = reply(302, "", "");
    redirect.headers.append(qMakePair(QByteArray("Location"), QByteArray("/elsewhere")));
    QTest::newRow("302 is not followed")
        << redirect << int(UploadError::Kind::httpStatus) << u"HTTP ステータスコードエラー: 302"_qs;
    TestHttpServer::Reply notHttp;
    notHttp.raw = "SSH-2.0-OpenSSH_9.2\r\n";
    QTest::newRow("not an HTTP reply")
        << notHttp << int(UploadError::Kind::invalidResponse) << u"不正なレスポンスです。"_qs;
    TestHttpServer::Reply cut = reply(200, R"({"success":true,"url":"https://s/long"})", json);
    cut.closeAfterBodyBytes = 10;
    QTest::newRow("connection closed mid-body") << cut << platform << QString("途中で切れました");
    TestHttpServer::Reply nothing;
    nothing.raw = QByteArray(1, '\0');
    QTest::newRow("garbage byte") << nothing << int(UploadError::Kind::invalidResponse)
                                  << u"不正なレスポンスです。"_qs;
    TestHttpServer::Reply slow = reply(200, R"({"success":true})", json);
    slow.delay = 400ms;
    QTest::newRow("slow reply within the time-out") << slow << success << QString();
}

void UploadOutcomeTest::replies()
{
    QFETCH(TestHttpServer::Reply, answer);
    QFETCH(int, kind);
    QFETCH(QString, message);

    TestHttpServer server;
    server.enqueue(answer);
    PelkinUploader uploader(server.url(), 3s);
    UploadProbe probe;
    uploader.upload({m_file}, {}, {}, probe.completion());
    QVERIFY(probe.waitForCompletion());
    UploadProbe::settle(50);
    QCOMPARE(probe.completionCount(), 1);
    const UploadResult result = probe.result();
    if (kind == -2) {
        QVERIFY2(result.isSuccess(), qPrintable(result.localizedDescription()));
        QVERIFY(result.localizedDescription().isEmpty());
        return;
    }
    if (kind == platform) {
        QVERIFY(result.isPlatformError());
        QVERIFY2(result.localizedDescription().contains(message),
                 qPrintable(result.localizedDescription()));
        return;
    }
    QVERIFY(result.isUploadError());
    QCOMPARE(int(result.uploadError().kind()), kind);
    QCOMPARE(result.localizedDescription(), message);
}

void UploadOutcomeTest::successKeepsEveryField()
{
    TestHttpServer server;
    server.enqueue(TestHttpServer::json(
        200,
        R"({"success":true,"id":"abc","url":"https://s/abc","download_url":"https://s/d/abc",)"
        R"("expires_at":"2026-12-13T00:00:00Z","expires_in":604800,"size_bytes":5,)"
        R"("file_count":1,"original_names":["note.txt"],"password_protected":false,"error":null})"));
    PelkinUploader uploader(server.url(), 3s);
    UploadProbe probe;
    uploader.upload({m_file}, {}, {}, probe.completion());
    QVERIFY(probe.waitForCompletion());
    QVERIFY(probe.result().isSuccess());
    const UploadResponse r = probe.result().response();
    QCOMPARE(r.id, u"abc"_qs);
    QCOMPARE(r.downloadUrl, u"https://s/d/abc"_qs);
    QCOMPARE(r.expiresIn, qint64(604800));
    QCOMPARE(r.originalNames, QStringList{u"note.txt"_qs});
    QCOMPARE(r.passwordProtected, false);
    QVERIFY(!r.error);
}

void UploadOutcomeTest::earlyRefusalStopsSending()
{
    // A service may refuse from the headers alone, before the body is in.
    TestHttpServer server;
    TestHttpServer::Reply refusal =
        TestHttpServer::json(413, R"({"success":false,"error":"ファイルが大きすぎます"})");
    refusal.answerBeforeBody = true;
    server.enqueue(refusal);
    server.setBodyCaptureLimit(0);
    PelkinUploader uploader(server.url(), 3s);
    UploadProbe probe;
    const qint64 size = 256 * 1024 * 1024;
    uploader.upload({sparseFile(m_dir, u"huge.bin"_qs, size)}, {}, {}, probe.completion());
    QVERIFY(probe.waitForCompletion());
    QCOMPARE(probe.result().localizedDescription(), u"ファイルが大きすぎます"_qs);
    QVERIFY(server.waitForRequests(1, 3s));
    QVERIFY(server.requests().at(0).bodySize < size);
}

void UploadOutcomeTest::idleTimeout_data()
{
    QTest::addColumn<bool>("whileSending");
    QTest::newRow("waiting for the reply") << false;
    QTest::newRow("server stops reading the body") << true;
}

void UploadOutcomeTest::idleTimeout()
{
    QFETCH(bool, whileSending);
    TestHttpServer server;
    TestHttpServer::Reply silent;
    silent.neverAnswer = true;
    if (whileSending)
        silent.stopReadingAfter = 1000;
    server.enqueue(silent);
    server.setBodyCaptureLimit(0);
    // Bigger than every socket buffer on the way, so sending really stalls.
    const QUrl file = whileSending ? sparseFile(m_dir, u"stall.bin"_qs, 64 * 1024 * 1024) : m_file;

    PelkinUploader uploader(server.url(), 500ms);
    UploadProbe probe;
    QElapsedTimer clock;
    clock.start();
    uploader.upload({file}, {}, probe.progress(), probe.completion());
    QVERIFY(probe.waitForCompletion(8000));
    const qint64 elapsed = clock.elapsed();
    QVERIFY(probe.result().isPlatformError());
    QCOMPARE(probe.result().platformError().kind(), PlatformError::Kind::timedOut);
    QCOMPARE(probe.result().localizedDescription(),
             u"サーバー「127.0.0.1:%1」との通信がタイムアウトしました。"_qs.arg(server.port()));
    // Idle, not total: it fires after the quiet period, with about a second of slack.
    QVERIFY2(elapsed >= 450 && elapsed < 5000, qPrintable(QString::number(elapsed)));
    UploadProbe::settle(200);
    QCOMPARE(probe.completionCount(), 1);
}

void UploadOutcomeTest::refusedConnection()
{
    quint16 port = 0;
    {
        QTcpServer probePort;
        QVERIFY(probePort.listen(QHostAddress::LocalHost, 0));
        port = probePort.serverPort();
    } // closed again: nobody listens there now
    PelkinUploader uploader(QUrl(u"http://127.0.0.1:%1/api/upload.php"_qs.arg(port)), 3s);
    UploadProbe probe;
    uploader.upload({m_file}, {}, probe.progress(), probe.completion());
    QVERIFY(probe.waitForCompletion());
    QVERIFY(probe.result().isPlatformError());
    QCOMPARE(probe.result().platformError().kind(), PlatformError::Kind::connection);
    QCOMPARE(
        probe.result().localizedDescription(),
        u"サーバー「127.0.0.1:%1」に接続できませんでした。しばらくしてからもう一度お試しください。"_qs
            .arg(port));
    UploadProbe::settle(100);
    QCOMPARE(probe.completionCount(), 1);
}

void UploadOutcomeTest::untrustedCertificate()
{
    QTemporaryDir dir;
    const QString cert = dir.filePath(u"cert.pem"_qs);
    const QString key = dir.filePath(u"key.pem"_qs);
    QProcess openssl;
    openssl.start(u"openssl"_qs,
                  {u"req"_qs, u"-x509"_qs, u"-newkey"_qs, u"ec"_qs, u"-pkeyopt"_qs,
                   u"ec_paramgen_curve:prime256v1"_qs, u"-nodes"_qs, u"-days"_qs, u"1"_qs,
                   u"-subj"_qs, u"/CN=127.0.0.1"_qs, u"-addext"_qs,
                   u"subjectAltName=IP:127.0.0.1"_qs, u"-keyout"_qs, key, u"-out"_qs, cert});
    QVERIFY(openssl.waitForFinished(15000));
    QCOMPARE(openssl.exitCode(), 0);

    TestHttpServer server(cert, key);
    QCOMPARE(server.url().scheme(), u"https"_qs);
    PelkinUploader uploader(server.url(), 3s);
    UploadProbe probe;
    uploader.upload({m_file}, {}, probe.progress(), probe.completion());
    QVERIFY(probe.waitForCompletion());
    QVERIFY2(probe.result().isPlatformError(), qPrintable(probe.result().localizedDescription()));
    QCOMPARE(probe.result().platformError().kind(), PlatformError::Kind::tls);
    QVERIFY(probe.result().localizedDescription().contains(u"安全に接続できませんでした"_qs));
    // The handshake got as far as judging the certificate.
    QVERIFY2(probe.result().platformError().detail().contains(u"certificate"_qs),
             qPrintable(probe.result().platformError().detail()));
    QCOMPARE(server.requestCount(), 0); // not one byte of the body left the client
}

void UploadOutcomeTest::proxyFromEnvironment()
{
    TestHttpServer proxy;
    const QByteArray saved = qgetenv("http_proxy");
    qputenv("http_proxy", proxy.url(QString()).toEncoded());
    PelkinUploader uploader(QUrl(u"http://upload.invalid/api/upload.php"_qs), 3s);
    UploadProbe probe;
    uploader.upload({m_file}, {}, {}, probe.completion());
    const bool done = probe.waitForCompletion();
    qputenv("http_proxy", saved);
    QVERIFY(done);
    QVERIFY(probe.result().isSuccess());
    QCOMPARE(proxy.requests().at(0).target, QByteArray("http://upload.invalid/api/upload.php"));
}

void UploadOutcomeTest::progressOnMainThreadUntilDone()
{
    TestHttpServer server;
    TestHttpServer::Reply late = TestHttpServer::json(200, R"({"success":true})");
    late.delay = 500ms; // several ticks while the reply is pending
    server.enqueue(late);
    server.setBodyCaptureLimit(0);
    PelkinUploader uploader(server.url(), 3s);
    UploadProbe probe;
    QList<qint64> times;
    QElapsedTimer clock;
    clock.start();
    auto record = probe.progress();
    uploader.upload(
        {sparseFile(m_dir, u"four.bin"_qs, 4 * 1024 * 1024)}, {},
        [&](double fraction) {
            times.append(clock.elapsed());
            record(fraction);
        },
        probe.completion());
    QVERIFY(probe.waitForCompletion());
    QVERIFY(probe.result().isSuccess());
    // The worker thread reports; the caller's thread never sees completion.
    QVERIFY(probe.completionThreads().at(0) != QThread::currentThread());
    UploadProbe::settle(300);

    const QList<double> values = probe.progressValues();
    QVERIFY2(values.size() >= 4, qPrintable(QString::number(values.size())));
    QCOMPARE(values.first(), 0.0);
    for (qsizetype i = 1; i < values.size(); ++i) {
        QVERIFY(values[i] >= values[i - 1]);
        QVERIFY(values[i] >= 0.0 && values[i] <= 1.0);
    }
    QCOMPARE(values.last(), 1.0);
    // 0.0 and the first tick come together; after that a tick every 80 ms,
    // not a busy stream.
    for (qsizetype i = 2; i < times.size(); ++i)
        QVERIFY2(times[i] - times[i - 1] >= 60,
                 qPrintable(QString::number(times[i] - times[i - 1])));
    QVERIFY(!probe.progressOffMainThread());
    QVERIFY(probe.progressAfterCompletion() <= 1);
    const qsizetype final = values.size();
    UploadProbe::settle(250);
    QCOMPARE(probe.progressValues().size(), final); // the timer has stopped
    QCOMPARE(probe.completionCount(), 1);
}

void UploadOutcomeTest::destroyedUploaderStillCompletes()
{
    TestHttpServer server;
    TestHttpServer::Reply late = TestHttpServer::json(200, R"({"success":true,"url":"u"})");
    late.delay = 600ms;
    server.enqueue(late);
    auto uploader = std::make_unique<PelkinUploader>(server.url(), 3s);
    UploadProbe probe;
    uploader->upload({m_file}, {}, probe.progress(), probe.completion());
    QTRY_VERIFY_WITH_TIMEOUT(probe.progressValues().size() >= 2, 3000);
    uploader.reset();
    const qsizetype seen = probe.progressValues().size();
    QVERIFY(probe.waitForCompletion());
    UploadProbe::settle(300);
    QCOMPARE(probe.completionCount(), 1);
    QVERIFY(probe.result().isSuccess());
    QCOMPARE(probe.progressValues().size(), seen);
}

void UploadOutcomeTest::concurrentUploadsAreIndependent()
{
    TestHttpServer server;
    TestHttpServer::Reply slow = TestHttpServer::json(200, R"({"success":true,"url":"slow"})");
    slow.delay = 400ms;
    server.enqueue(slow);
    server.setDefaultReply(TestHttpServer::json(500, "{}"));
    PelkinUploader uploader(server.url(), 3s);
    UploadProbe first;
    UploadProbe second;
    uploader.upload({m_file}, {}, first.progress(), first.completion());
    QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(), 1, 3000);
    uploader.upload({m_file}, {}, second.progress(), second.completion());
    QVERIFY(second.waitForCompletion());
    QVERIFY(first.waitForCompletion());
    UploadProbe::settle(100);
    QCOMPARE(first.completionCount(), 1);
    QCOMPARE(second.completionCount(), 1);
    QCOMPARE(first.result().response().url, u"slow"_qs);
    QCOMPARE(second.result().localizedDescription(), u"HTTP ステータスコードエラー: 500"_qs);
}

QTEST_GUILESS_MAIN(UploadOutcomeTest)
#include "tst_uploadoutcome.moc"
