// How each way a server can answer (or fail to) becomes exactly one result,
// and how progress and completion are delivered.
#include "PelkinUploader.h"
#include "TestHttpServer.h"
#include "UploadProbe.h"

#include <QProcess>
#include <QTcpServer>
#include <QtTest>

using namespace std::chrono_literals;
using Reply = TestHttpServer::Reply;
Q_DECLARE_METATYPE(TestHttpServer::Reply)

namespace {
constexpr int success = -2;  // "kind" column: a success
constexpr int platform = -1; // "kind" column: a PlatformError, not an UploadError

Reply reply(int status, const QByteArray &body, const QByteArray &type = {})
{
    Reply r;
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
    void initTestCase() { m_file = writeFile(m_dir, u"note.txt"_qs, "hello"); }
    void replies_data();
    void replies();
    void decodeKeepsValues();
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

void UploadOutcomeTest::replies_data()
{
    QTest::addColumn<Reply>("answer");
    QTest::addColumn<int>("kind"); // UploadError::Kind, platform or success
    QTest::addColumn<QString>("message"); // part of the message shown
    const auto row = [](const char *name, const Reply &answer, int kind, const QString &text) {
        QTest::newRow(name) << answer << kind << text;
    };
    const auto json = TestHttpServer::json;
    const int server = int(UploadError::Kind::serverError);
    const int status = int(UploadError::Kind::httpStatus);
    const int invalid = int(UploadError::Kind::invalidResponse);
    const QString unreadable = u"サーバーからの応答を読み取れませんでした。"_qs;

    row("200 success only", json(200, R"({"success":true})"), success, {});
    row("201 success", json(201, R"({"success":true,"url":"https://s/1"})"), success, {});
    row("299 success", json(299, R"({"success":true,"unknown":[1,{"x":2}]})"), success, {});
    row("200 false, no error", json(200, R"({"success":false})"), server, u"アップロード失敗"_qs);
    row("200 false, error", json(200, R"({"success":false,"error":"容量不足"})"), server,
        u"容量不足"_qs);
    row("200 not JSON", reply(200, "<html>ok</html>", "text/html"), platform, unreadable);
    row("200 wrong type in unused field", json(200, R"({"success":true,"size_bytes":"12"})"),
        platform, unreadable);
    row("200 empty body", reply(200, ""), invalid, u"不正なレスポンスです。"_qs);
    row("500 HTML", reply(500, "<h1>Error</h1>", "text/html"), status, u"エラー: 500"_qs);
    row("403 with service message", json(403, R"({"success":false,"error":"パスワード違い"})"),
        server, u"パスワード違い"_qs);
    row("403 message, no success key", json(403, R"({"error":"forbidden"})"), status,
        u"エラー: 403"_qs);
    row("413 message, success true", json(413, R"({"success":true,"error":"too big"})"), server,
        u"too big"_qs);
    row("404 empty", reply(404, ""), status, u"エラー: 404"_qs);
    Reply redirect = reply(302, "");
    redirect.headers.append(qMakePair(QByteArray("Location"), QByteArray("/elsewhere")));
    row("302 is not followed", redirect, status, u"エラー: 302"_qs);
    Reply notHttp;
    notHttp.raw = "SSH-2.0-OpenSSH_9.2\r\n";
    row("not an HTTP reply", notHttp, invalid, u"不正なレスポンスです。"_qs);
    Reply cut = json(200, R"({"success":true,"url":"https://s/long"})");
    cut.closeAfterBodyBytes = 10;
    row("connection closed mid-body", cut, platform, u"途中で切れました"_qs);
    Reply nul;
    nul.raw = QByteArray(1, '\0');
    row("garbage byte", nul, invalid, u"不正なレスポンスです。"_qs);
    Reply slow = json(200, R"({"success":true})");
    slow.delay = 400ms;
    row("slow reply within the time-out", slow, success, {});

    // Strict decoding: a wrong type anywhere fails the whole reply.
    const auto decoded = [&](const char *name, const QByteArray &body, bool decodes) {
        row(name, json(200, body), decodes ? success : platform, decodes ? QString() : unreadable);
    };
    decoded("nulls are absent", R"({"success":true,"url":null,"original_names":null})", true);
    decoded("unknown keys ignored", R"({"success":true,"extra":{"a":[1.5]},"URL":5})", true);
    decoded("int64 extremes", R"({"success":true,"expires_in":9223372036854775807,)"
                              R"("size_bytes":-9223372036854775808})", true);
    decoded("no success", R"({"url":"https://s/1"})", false);
    decoded("success null", R"({"success":null})", false);
    decoded("success as number", R"({"success":1})", false);
    decoded("integer written as float", R"({"success":true,"file_count":1.0})", false);
    decoded("integer in exponent form", R"({"success":true,"expires_in":1e3})", false);
    decoded("above int64", R"({"success":true,"size_bytes":9223372036854775808})", false);
    decoded("below int64", R"({"success":true,"size_bytes":-9223372036854775809})", false);
    decoded("names not an array", R"({"success":true,"original_names":"a.txt"})", false);
    decoded("names with a null", R"({"success":true,"original_names":["a",null]})", false);
    decoded("protected as string", R"({"success":true,"password_protected":"no"})", false);
    decoded("error as object", R"({"success":false,"error":{"m":"x"}})", false);
    decoded("top-level array", R"([{"success":true}])", false);
    decoded("trailing garbage", R"({"success":true} x)", false);
    decoded("NUL after the document", QByteArray("{\"success\":true}\0junk", 21), false);
    decoded("invalid UTF-8", "{\"success\":true,\"id\":\"\xff\"}", false);
}

void UploadOutcomeTest::replies()
{
    QFETCH(Reply, answer);
    QFETCH(int, kind);
    QFETCH(QString, message);

    TestHttpServer server;
    server.enqueue(answer);
    UploadProbe probe;
    QVERIFY(probe.upload(server.url(), {m_file}, {}, 3s));
    QTest::qWait(50);
    QCOMPARE(probe.completionCount(), 1);
    const UploadResult result = probe.result();
    const QString shown = result.localizedDescription();
    QVERIFY2(kind == success ? shown.isEmpty() : shown.contains(message), qPrintable(shown));
    QCOMPARE(result.isSuccess(), kind == success);
    QCOMPARE(result.isPlatformError(), kind == platform);
    if (result.isUploadError())
        QCOMPARE(int(result.uploadError().kind()), kind);
}

void UploadOutcomeTest::decodeKeepsValues()
{
    UploadResponse expected{true, u"i"_qs, u"https://s/u"_qs, u"https://s/d"_qs,
                            u"2026-01-01T00:00:00Z"_qs, -5, std::numeric_limits<qint64>::max(),
                            2, QStringList{u"写真.jpg"_qs, u"b"_qs}, true, u"e"_qs};
    QCOMPARE(UploadResponse::decode(
                 R"({"success":true,"id":"i","url":"https://s/u","download_url":"https://s/d",)"
                 R"("expires_at":"2026-01-01T00:00:00Z","expires_in":-5,)"
                 R"("size_bytes":9223372036854775807,"file_count":2,)"
                 R"("original_names":["写真.jpg","b"],"password_protected":true,"error":"e"})"),
             std::optional(expected));
}

void UploadOutcomeTest::earlyRefusalStopsSending()
{
    // A service may refuse from the headers alone, before the body is in.
    TestHttpServer server;
    Reply refusal = TestHttpServer::json(413, R"({"success":false,"error":"大きすぎます"})");
    refusal.answerBeforeBody = true;
    server.enqueue(refusal);
    server.setBodyCaptureLimit(0);
    UploadProbe probe;
    const qint64 size = 256 << 20;
    QVERIFY(probe.upload(server.url(), {writeFile(m_dir, u"huge.bin"_qs, {}, size)}));
    QCOMPARE(probe.result().localizedDescription(), u"大きすぎます"_qs);
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
    Reply silent;
    silent.neverAnswer = true;
    if (whileSending)
        silent.stopReadingAfter = 1000;
    server.enqueue(silent);
    server.setBodyCaptureLimit(0);
    // Bigger than every socket buffer on the way, so sending really stalls.
    const QUrl file = whileSending ? writeFile(m_dir, u"stall.bin"_qs, {}, 64 << 20) : m_file;

    UploadProbe probe;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(probe.upload(server.url(), {file}, {}, 500ms, 8000));
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(probe.result().platformError().kind(), PlatformError::Kind::timedOut);
    QCOMPARE(probe.result().localizedDescription(),
             u"サーバー「127.0.0.1:%1」との通信がタイムアウトしました。"_qs.arg(server.port()));
    // Idle, not total: it fires after the quiet period, with about a second of slack.
    QVERIFY2(elapsed >= 450 && elapsed < 5000, qPrintable(QString::number(elapsed)));
    QTest::qWait(200);
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
    UploadProbe probe;
    QVERIFY(probe.upload(QUrl(u"http://127.0.0.1:%1/api/upload.php"_qs.arg(port)), {m_file}));
    QCOMPARE(probe.result().platformError().kind(), PlatformError::Kind::connection);
    QCOMPARE(
        probe.result().localizedDescription(),
        u"サーバー「127.0.0.1:%1」に接続できませんでした。しばらくしてからもう一度お試しください。"_qs
            .arg(port));
    QTest::qWait(100);
    QCOMPARE(probe.completionCount(), 1);
}

void UploadOutcomeTest::untrustedCertificate()
{
    const QString cert = m_dir.filePath(u"cert.pem"_qs);
    const QString key = m_dir.filePath(u"key.pem"_qs);
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
    UploadProbe probe;
    QVERIFY(probe.upload(server.url(), {m_file}));
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
    UploadProbe probe;
    const bool done = probe.upload(QUrl(u"http://upload.invalid/api/upload.php"_qs), {m_file});
    qputenv("http_proxy", saved);
    QVERIFY(done && probe.result().isSuccess());
    QCOMPARE(proxy.requests().at(0).target, QByteArray("http://upload.invalid/api/upload.php"));
}

void UploadOutcomeTest::progressOnMainThreadUntilDone()
{
    TestHttpServer server;
    Reply late = TestHttpServer::json(200, R"({"success":true})");
    late.delay = 500ms; // several ticks while the reply is pending
    server.enqueue(late);
    server.setBodyCaptureLimit(0);
    PelkinUploader uploader(server.url(), 3s);
    UploadProbe probe;
    qint64 lastTick = 0;
    QElapsedTimer clock;
    clock.start();
    auto record = probe.progress();
    uploader.upload(
        {writeFile(m_dir, u"four.bin"_qs, {}, 4 << 20)}, {},
        [&](double fraction) {
            lastTick = clock.elapsed();
            record(fraction);
        },
        probe.completion());
    QVERIFY(probe.waitForCompletion());
    QVERIFY(probe.result().isSuccess());
    // The worker thread reports; the caller's thread never sees completion.
    QVERIFY(probe.state().completionThreads.at(0) != QThread::currentThread());
    QTest::qWait(300);

    const UploadProbe::State state = probe.state();
    const QList<double> values = state.progress;
    QVERIFY2(values.size() >= 4, qPrintable(QString::number(values.size())));
    QCOMPARE(values.first(), 0.0);
    QCOMPARE(values.last(), 1.0);
    QVERIFY(std::is_sorted(values.begin(), values.end()));
    // 0.0 and the first tick come together, then one every 80 ms, not a busy
    // stream (counted over the whole run: a late tick may come close to the next).
    QVERIFY2(values.size() <= lastTick / 70 + 2,
             qPrintable(u"%1 calls in %2 ms"_qs.arg(values.size()).arg(lastTick)));
    QVERIFY(!state.progressOffMainThread);
    QVERIFY(state.progressAfterCompletion <= 1);
    QTest::qWait(250);
    QCOMPARE(probe.state().progress.size(), values.size()); // the timer has stopped
    QCOMPARE(probe.completionCount(), 1);
}

void UploadOutcomeTest::destroyedUploaderStillCompletes()
{
    TestHttpServer server;
    Reply late = TestHttpServer::json(200, R"({"success":true,"url":"u"})");
    late.delay = 600ms;
    server.enqueue(late);
    auto uploader = std::make_unique<PelkinUploader>(server.url(), 3s);
    UploadProbe probe;
    uploader->upload({m_file}, {}, probe.progress(), probe.completion());
    QTRY_VERIFY_WITH_TIMEOUT(probe.state().progress.size() >= 2, 3000);
    uploader.reset();
    const qsizetype seen = probe.state().progress.size();
    QVERIFY(probe.waitForCompletion());
    QTest::qWait(300);
    QCOMPARE(probe.completionCount(), 1);
    QVERIFY(probe.result().isSuccess());
    QCOMPARE(probe.state().progress.size(), seen);
}

void UploadOutcomeTest::concurrentUploadsAreIndependent()
{
    TestHttpServer server;
    Reply slow = TestHttpServer::json(200, R"({"success":true,"url":"slow"})");
    slow.delay = 400ms;
    server.enqueue(slow);
    server.setDefaultReply(TestHttpServer::json(500, "{}"));
    PelkinUploader uploader(server.url(), 3s);
    UploadProbe first;
    UploadProbe second;
    uploader.upload({m_file}, {}, {}, first.completion());
    QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(), 1, 3000);
    uploader.upload({m_file}, {}, {}, second.completion());
    QVERIFY(second.waitForCompletion() && first.waitForCompletion());
    QTest::qWait(100);
    QCOMPARE(first.completionCount() + second.completionCount(), 2);
    QCOMPARE(first.result().response().url, u"slow"_qs);
    QCOMPARE(second.result().uploadError().statusCode(), 500);
}

QTEST_GUILESS_MAIN(UploadOutcomeTest)
#include "tst_uploadoutcome.moc"
