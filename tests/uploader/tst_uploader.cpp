// The upload client against real servers on 127.0.0.1: exact request bytes (read again by PHP's
// own multipart parser), screening before any byte is sent, each way a server can answer (or fail
// to) becoming exactly one result, and how progress and completion reach the caller.
#include "MultipartBody.h"
#include "PelkinUploader.h"
#include "TestHttpServer.h"
#include "UploadJob.h"
#include "UploadProbe.h"
#include "UploadScreening.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

using namespace std::chrono_literals;
using Reply = TestHttpServer::Reply;
using FileList = QList<QPair<QString, QByteArray>>;
using OptionalPassword = std::optional<QString>;
using ByteArrays = QList<QByteArray>;
Q_DECLARE_METATYPE(FileList)
Q_DECLARE_METATYPE(OptionalPassword)
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

Reply delayed(std::chrono::milliseconds delay, const QByteArray &body = R"({"success":true,"url":"u"})")
{
    Reply r = TestHttpServer::json(200, body);
    r.delay = delay;
    return r;
}
} // namespace

class UploaderTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QUrl m_file;
    QProcess m_php;
    QUrl m_phpEndpoint;

private slots:
    // PHP's built-in server with a router (php/) that dumps what PHP parsed.
    void initTestCase()
    {
        m_file = writeFile(m_dir, "note.txt", "hello");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PELKIN_DUMP", m_dir.filePath("dump.json"));
        m_php.setProcessEnvironment(env);
        m_php.setProcessChannelMode(QProcess::MergedChannels);
        m_php.start("php", {"-n", "-d", "upload_max_filesize=64M", "-d", "post_max_size=64M", "-S",
                            "127.0.0.1:0", qEnvironmentVariable("PELKIN_SOURCE_DIR") +
                                               "/tests/uploader/php/upload-dump.php"});
        // The server names its port on its first line.
        const QRegularExpression started("http://127\\.0\\.0\\.1:(\\d+)");
        QByteArray output;
        QVERIFY(QTest::qWaitFor([&] {
            m_php.waitForReadyRead(100);
            output += m_php.readAll();
            return started.match(output).hasMatch();
        }, 10000));
        m_phpEndpoint = QUrl("http://127.0.0.1:" + started.match(output).captured(1) + "/api/upload.php");
    }
    void cleanupTestCase()
    {
        m_php.kill();
        m_php.waitForFinished(5000);
    }

    void exactBody_data()
    {
        QTest::addColumn<FileList>("files");
        QTest::addColumn<OptionalPassword>("password");
        // The expected file parts: field name, escaped file name, MIME type.
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<ByteArrays>("sentNames");
        QTest::addColumn<ByteArrays>("mimeTypes");
        const QByteArray octets = "application/octet-stream";
        const auto row = [](const char *name, const FileList &files, const OptionalPassword &pw,
                            const ByteArrays &sent, const ByteArrays &types) {
            QTest::newRow(name) << files << pw << QByteArray(files.size() > 1 ? "files[]" : "file")
                                << sent << types;
        };
        row("one file keeps its name's case", {{"Photo.JPG", QByteArray("\xff\xd8\xff\xe0 jpeg", 9)}},
            {}, {"Photo.JPG"}, {"image/jpeg"});
        row("several in order, type from the last extension",
            {{"README", "r"}, {"archive.tar.gz", "gz"}, {"d.", "4"}, {"clip.MP4", "mp4"}}, {},
            {"README", "archive.tar.gz", "d.", "clip.MP4"}, {octets, octets, octets, "video/mp4"});
        row("password part comes last, empty file", {{"x.txt", "x"}, {"empty.png", ""}},
            "pa ss\"wörd", {"x.txt", "empty.png"}, {octets, "image/png"});
        row("empty password sends no part", {{"x.txt", "x"}}, QString(), {"x.txt"}, {octets});
        row("non-ASCII name stays raw UTF-8", {{"写真 ✓ café.pdf", "%PDF"}}, {},
            {QString("写真 ✓ café.pdf").toUtf8()}, {"application/pdf"});
        row("quote and line breaks are escaped", {{"a\"b\r\nContent-Type: evil\".txt", "payload"}}, {},
            {"a%22b%0D%0AContent-Type: evil%22.txt"}, {octets});
        // Only the name's own extension counts, in any case; a bundle is left out silently.
        row("blocked bundle dropped, look-alikes sent",
            {{"Foo.App", "bundle"}, {"x.app/inner.txt", "i"}, {"my.application", "a"}}, {},
            {"inner.txt", "my.application"}, {octets, octets});
        QByteArray binary;
        for (int i = 0; i < 1600000; ++i) // over 1 MiB: where curl would add Expect
            binary += static_cast<char>((i * 7919) & 0xff);
        row("binary file larger than a buffer", {{"data.bin", binary}}, "pw", {"data.bin"}, {octets});
    }
    void exactBody()
    {
        QFETCH(FileList, files);
        QFETCH(OptionalPassword, password);
        QFETCH(QByteArray, field);
        QFETCH(ByteArrays, sentNames);
        QFETCH(ByteArrays, mimeTypes);
        QTemporaryDir dir;
        QList<QUrl> urls;
        ByteArrays contents;
        for (const auto &[name, content] : files) {
            urls.append(writeFile(dir, name, content));
            if (!name.endsWith(".App"))
                contents.append(content);
        }
        TestHttpServer server;
        UploadProbe probe;
        QVERIFY(probe.upload(server.url(), urls, password) && probe.result().isSuccess());
        QCOMPARE(server.requestCount(), 1);
        const TestHttpServer::Request request = server.requests().at(0);
        QCOMPARE(request.method + ' ' + request.target, QByteArray("POST /api/upload.php"));
        const auto match = QRegularExpression("^multipart/form-data; boundary=(Boundary-[0-9A-F]{8}-"
                                              "[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12})$")
                               .match(request.header("content-type"));
        QVERIFY2(match.hasMatch(), request.header("content-type").constData());
        const QByteArray boundary = match.captured(1).toLatin1();
        // A fixed length, no chunking, no 100-continue round trip.
        QCOMPARE(request.header("content-length"), QByteArray::number(request.bodySize));
        QVERIFY(request.header("transfer-encoding").isNull() && request.header("expect").isNull());
        QByteArray expected;
        for (qsizetype i = 0; i < sentNames.size(); ++i)
            expected += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + field +
                        "\"; filename=\"" + sentNames[i] + "\"\r\nContent-Type: " + mimeTypes[i] +
                        "\r\n\r\n" + contents[i] + "\r\n";
        if (password && !password->isEmpty())
            expected += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"password\"" +
                        "\r\n\r\n" + password->toUtf8() + "\r\n";
        QCOMPARE(request.body, expected + "--" + boundary + "--\r\n");

        // A second, independent reader: PHP must see the same parts.
        QFile dumpFile(m_dir.filePath("dump.json"));
        dumpFile.remove();
        UploadProbe viaPhp;
        QVERIFY(viaPhp.upload(m_phpEndpoint, urls, password) && viaPhp.result().isSuccess());
        QVERIFY(dumpFile.open(QIODevice::ReadOnly));
        const QJsonObject dump = QJsonDocument::fromJson(dumpFile.readAll()).object();
        const QJsonArray parsed = dump.value("files").toArray();
        QCOMPARE(parsed.size(), sentNames.size());
        for (qsizetype i = 0; i < sentNames.size(); ++i) {
            const QJsonObject f = parsed.at(i).toObject();
            QCOMPARE(f.value("field").toString().toUtf8() + "|" + f.value("name").toString().toUtf8() +
                         "|" + f.value("type").toString().toUtf8() + "|" +
                         QByteArray::number(f.value("error").toInt(-1)) + "|" +
                         f.value("sha256").toString().toLatin1(),
                     field + "|" + sentNames[i] + "|" + mimeTypes[i] + "|0|" +
                         QCryptographicHash::hash(contents[i], QCryptographicHash::Sha256).toHex());
        }
        QCOMPARE(dump.value("post").toObject().value("password").toString(), password.value_or(""));
    }

    void nameThatIsNotUtf8()
    {
        // Old archives carry Latin-1 names; the file is still found and its name is sent as the
        // bytes on disk.
        QTemporaryDir dir;
        const QByteArray path = QFile::encodeName(dir.path()) + "/caf\xe9 \"1\".txt";
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const bool written = fd >= 0 && ::write(fd, "latin", 5) == 5;
        ::close(fd);
        TestHttpServer server;
        UploadProbe probe;
        const bool done = written && probe.upload(server.url(), {QUrl::fromEncoded("file://" + path.toPercentEncoding("/"))});
        ::unlink(path.constData()); // QTemporaryDir cannot name it
        QVERIFY(done && probe.result().isSuccess());
        QVERIFY(server.requests().at(0).body.contains(
            "; filename=\"caf\xe9 %221%22.txt\"\r\nContent-Type: application/octet-stream\r\n\r\nlatin\r\n"));
    }

    void screeningRefusesBeforeSending_data()
    {
        QTest::addColumn<QStringList>("names"); // "dir:" makes a folder, "gone:" nothing at all
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("kind"); // UploadError::Kind, or platform
        QTest::newRow("empty list") << QStringList() << "ファイルが選択されていません。"
                                    << int(UploadError::Kind::noFiles);
        QTest::newRow("only a blocked name")
            << QStringList{"Foo.APP"} << "これらのファイルはアップロードできません: Foo.APP"
            << int(UploadError::Kind::allBlocked);
        QTest::newRow("all blocked, in order")
            << QStringList{"b.photoslibrary", "dir:Tool.app"}
            << "これらのファイルはアップロードできません: b.photoslibrary, Tool.app"
            << int(UploadError::Kind::allBlocked);
        QTest::newRow("folder") << QStringList{"ok.txt", "dir:Photos"}
                                << "ファイルを読み込めませんでした: Photos"
                                << int(UploadError::Kind::cannotReadFile);
        QTest::newRow("missing file") << QStringList{"gone:lost.txt"}
                                      << "ファイル「lost.txt」が見つかりませんでした。" << platform;
    }
    void screeningRefusesBeforeSending()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, message);
        QFETCH(int, kind);
        QTemporaryDir dir;
        QList<QUrl> urls;
        for (const QString &name : names) {
            const QString bare = name.section(':', -1);
            // Folders dropped from a file manager often carry a trailing slash.
            if (name.startsWith("dir:") && QDir(dir.path()).mkdir(bare))
                urls.append(QUrl::fromLocalFile(dir.filePath(bare) + '/'));
            else
                urls.append(name.startsWith("gone:") ? QUrl::fromLocalFile(dir.filePath(bare))
                                                     : writeFile(dir, bare, "content"));
        }
        TestHttpServer server;
        PelkinUploader uploader(server.url(), 5s);
        UploadProbe probe;
        uploader.upload(urls, "pw", probe.progress(), probe.completion());
        QCOMPARE(probe.completionCount(), 1); // reported before upload() returns
        QTest::qWait(150);
        QCOMPARE(probe.completionCount(), 1);
        QCOMPARE(probe.result().localizedDescription(), message);
        QCOMPARE(probe.result().isPlatformError() ? platform : int(probe.result().uploadError().kind()), kind);
        QVERIFY(probe.state().progress.isEmpty());
        QCOMPARE(server.connectionCount(), 0);
    }

    void sizeLimitIsInclusive()
    {
        // Sparse files: their size is what counts, and nothing may be read.
        QTemporaryDir dir;
        const QUrl big = writeFile(dir, "big.mov", {}, PelkinUploader::maxUploadBytes - 10);
        const QUrl ten = writeFile(dir, "ten.txt", "0123456789");
        const QUrl eleven = writeFile(dir, "eleven.txt", "0123456789X");
        QVERIFY(std::holds_alternative<QList<MultipartBody::File>>(
            UploadScreening::screen({big, ten}, PelkinUploader::maxUploadBytes)));
        TestHttpServer server;
        PelkinUploader uploader(server.url(), 5s);
        UploadProbe probe;
        uploader.upload({eleven, big}, {}, probe.progress(), probe.completion());
        QCOMPARE(probe.completionCount(), 1);
        const UploadError error = probe.result().uploadError();
        QCOMPARE(error.kind(), UploadError::Kind::totalSizeExceeded);
        QCOMPARE(QPair(error.limit(), error.total()), QPair(qint64(1073741824), qint64(1073741825)));
        QTest::qWait(100);
        QCOMPARE(server.connectionCount(), 0);
    }

    void fileShrinkingWhileSent()
    {
        QTemporaryDir dir;
        const QString path = writeFile(dir, "growing-log.bin", {}, 256 << 20).toLocalFile();
        TestHttpServer server;
        server.setBodyCaptureLimit(0);
        PelkinUploader uploader(server.url(), 5s);
        UploadProbe probe;
        bool truncated = false;
        // The first progress call comes once the file is open and sending starts.
        uploader.upload({QUrl::fromLocalFile(path)}, {},
                        [&](double) { truncated = truncated || QFile::resize(path, 1024 * 1024); },
                        probe.completion());
        QVERIFY(probe.waitForCompletion(20000) && truncated);
        QCOMPARE(probe.result().localizedDescription(), "ファイルを読み込めませんでした: growing-log.bin");
        // The server never saw a complete request: the body was cut short, not padded.
        QVERIFY(server.waitForRequests(1, 5s));
        QVERIFY(!server.requests().at(0).complete);
    }

    void replies_data();
    void replies()
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
        QCOMPARE(result.isSuccess() ? success : result.isPlatformError() ? platform
                                                                          : int(result.uploadError().kind()),
                 kind);
    }

    void decodeKeepsValues();

    void earlyRefusalStopsSending()
    {
        // A service may refuse from the headers alone, before the body is in.
        TestHttpServer server;
        Reply refusal = TestHttpServer::json(413, R"({"success":false,"error":"大きすぎます"})");
        refusal.answerBeforeBody = true;
        server.enqueue(refusal);
        server.setBodyCaptureLimit(0);
        UploadProbe probe;
        QVERIFY(probe.upload(server.url(), {writeFile(m_dir, "huge.bin", {}, 256 << 20)}));
        QCOMPARE(probe.result().localizedDescription(), "大きすぎます");
        QVERIFY(server.waitForRequests(1, 3s));
        QVERIFY(server.requests().at(0).bodySize < 256 << 20);
    }

    void idleTimeout_data()
    {
        QTest::addColumn<bool>("whileSending");
        QTest::newRow("waiting for the reply") << false;
        QTest::newRow("server stops reading the body") << true;
    }
    void idleTimeout()
    {
        QFETCH(bool, whileSending);
        TestHttpServer server;
        Reply silent;
        silent.neverAnswer = true;
        silent.stopReadingAfter = whileSending ? 1000 : silent.stopReadingAfter;
        server.enqueue(silent);
        server.setBodyCaptureLimit(0);
        // Bigger than every socket buffer on the way, so sending really stalls.
        const QUrl file = whileSending ? writeFile(m_dir, "stall.bin", {}, 64 << 20) : m_file;
        UploadProbe probe;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(probe.upload(server.url(), {file}, {}, 500ms, 8000));
        const qint64 elapsed = clock.elapsed();
        QCOMPARE(probe.result().platformError().kind(), PlatformError::Kind::timedOut);
        QVERIFY(probe.result().localizedDescription().contains(QString::number(server.port())));
        // Idle, not total: it fires after the quiet period, with about a second of slack.
        QVERIFY2(elapsed >= 450 && elapsed < 5000, qPrintable(QString::number(elapsed)));
        QTest::qWait(200);
        QCOMPARE(probe.completionCount(), 1);
    }

    void refusedConnection()
    {
        QTcpServer closed; // listened on once, then closed: nobody listens there now
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const quint16 port = closed.serverPort();
        closed.close();
        UploadProbe probe;
        QVERIFY(probe.upload(QUrl("http://127.0.0.1:" + QString::number(port) + "/api/upload.php"), {m_file}));
        QCOMPARE(probe.result().platformError().kind(), PlatformError::Kind::connection);
        QVERIFY(probe.result().localizedDescription().contains("127.0.0.1:" + QString::number(port)));
        QTest::qWait(100);
        QCOMPARE(probe.completionCount(), 1);
    }

    void untrustedCertificate()
    {
        const QString cert = m_dir.filePath("cert.pem");
        const QString key = m_dir.filePath("key.pem");
        QProcess openssl;
        openssl.start("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                  "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1", "-addext",
                                  "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert});
        QVERIFY(openssl.waitForFinished(15000) && openssl.exitCode() == 0);
        TestHttpServer server(cert, key);
        QCOMPARE(server.url().scheme(), "https");
        UploadProbe probe;
        QVERIFY(probe.upload(server.url(), {m_file}));
        QCOMPARE(probe.result().platformError().kind(), PlatformError::Kind::tls);
        QVERIFY(probe.result().localizedDescription().contains("安全に接続できませんでした"));
        // The handshake got as far as judging the certificate.
        QVERIFY2(probe.result().platformError().detail().contains("certificate"),
                 qPrintable(probe.result().platformError().detail()));
        QCOMPARE(server.requestCount(), 0); // not one byte of the body left the client
    }

    void proxyFromEnvironment()
    {
        TestHttpServer proxy;
        const QByteArray saved = qgetenv("http_proxy");
        qputenv("http_proxy", proxy.url(QString()).toEncoded());
        UploadProbe probe;
        const bool done = probe.upload(QUrl("http://upload.invalid/api/upload.php"), {m_file});
        qputenv("http_proxy", saved);
        QVERIFY(done && probe.result().isSuccess());
        QCOMPARE(proxy.requests().at(0).target, QByteArray("http://upload.invalid/api/upload.php"));
    }

    void progressOnMainThreadUntilDone()
    {
        TestHttpServer server;
        server.enqueue(delayed(500ms)); // several ticks while the reply is pending
        server.setBodyCaptureLimit(0);
        PelkinUploader uploader(server.url(), 3s);
        UploadProbe probe;
        qint64 lastTick = 0;
        QElapsedTimer clock;
        clock.start();
        auto record = probe.progress();
        uploader.upload({writeFile(m_dir, "four.bin", {}, 4 << 20)}, {},
                        [&](double fraction) { lastTick = clock.elapsed(), record(fraction); },
                        probe.completion());
        QVERIFY(probe.waitForCompletion() && probe.result().isSuccess());
        // The worker thread reports; the caller's thread never sees completion.
        QVERIFY(probe.state().completionThreads.at(0) != QThread::currentThread());
        QTest::qWait(300);
        const UploadProbe::State state = probe.state();
        const QList<double> values = state.progress;
        QVERIFY2(values.size() >= 4, qPrintable(QString::number(values.size())));
        QCOMPARE(QPair(values.first(), values.last()), QPair(0.0, 1.0));
        QVERIFY(std::is_sorted(values.begin(), values.end()));
        // 0.0 and the first tick come together, then one every 80 ms, not a busy stream
        // (counted over the whole run: a late tick may come close to the next).
        QVERIFY2(values.size() <= lastTick / 70 + 2, qPrintable(QString("%1 calls in %2 ms").arg(values.size()).arg(lastTick)));
        QVERIFY(!state.progressOffMainThread && state.progressAfterCompletion <= 1);
        QTest::qWait(250);
        QCOMPARE(probe.state().progress.size(), values.size()); // the timer has stopped
        QCOMPARE(probe.completionCount(), 1);
    }

    void destroyedUploaderStillCompletes()
    {
        TestHttpServer server;
        server.enqueue(delayed(600ms));
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

    void concurrentUploadsAreIndependent()
    {
        TestHttpServer server;
        server.enqueue(delayed(400ms, R"({"success":true,"url":"slow"})"));
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
        QCOMPARE(first.result().response().url, "slow");
        QCOMPARE(second.result().uploadError().statusCode(), 500);
    }

    // UploadJob hops the outcome from the worker thread (or from inside start()) to the job's
    // thread: once, in order, nothing after it, nothing from inside start().
    void jobSignalsOnTheStartingThread_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<Reply>("answer");
        QTest::newRow("uploaded") << "notes.txt" << delayed(300ms);
        QTest::newRow("server refuses") << "notes.txt" << TestHttpServer::json(503, "{}");
        QTest::newRow("screened out inside start()") << "Foo.app" << delayed(300ms);
    }
    void jobSignalsOnTheStartingThread()
    {
        QFETCH(QString, fileName);
        QFETCH(Reply, answer);
        TestHttpServer server;
        server.enqueue(answer);
        PelkinUploader uploader(server.url(), 10s);
        UploadJob job;
        QList<double> progress;
        QList<UploadResult> results;
        QList<QThread *> threads;
        int progressAfterFinished = 0;
        connect(&job, &UploadJob::progress, &job, [&](double fraction) {
            progress.append(fraction), threads.append(QThread::currentThread());
            progressAfterFinished += results.size();
        });
        connect(&job, &UploadJob::finished, &job, [&](const UploadResult &result) {
            results.append(result), threads.append(QThread::currentThread());
        });
        job.start(uploader, {writeFile(m_dir, fileName, {}, 256 * 1024)}, std::nullopt);
        QVERIFY(results.isEmpty() && job.isRunning());
        QTRY_COMPARE_WITH_TIMEOUT(results.size(), 1, 10000);
        QCOMPARE(results.first().isSuccess(), answer.status == 200 && fileName == "notes.txt");
        QVERIFY(job.isFinished() && !job.isRunning());
        // A late tick of the uploader's timer would come now; none may pass.
        QTest::qWait(250);
        QCOMPARE(results.size() + progressAfterFinished, 1);
        QCOMPARE(threads.count(QThread::currentThread()), threads.size());
        // A quick refusal may come before the first tick; a slow reply may not.
        if (answer.delay > 0ms && fileName == "notes.txt")
            QCOMPARE(progress.value(0, -1), 0.0);
        QCOMPARE(server.requestCount(), fileName == "notes.txt" ? 1 : 0);
    }

    void destroyedJobDeliversNothing_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::newRow("while the transfer runs") << "notes.txt";
        QTest::newRow("with the outcome already queued") << "Foo.app";
    }
    void destroyedJobDeliversNothing()
    {
        QFETCH(QString, fileName);
        TestHttpServer server;
        server.enqueue(delayed(200ms));
        PelkinUploader uploader(server.url(), 10s);
        // The receiver outlives the job: anything delivered after the job is gone would reach it.
        QObject receiver;
        int delivered = 0;
        auto *job = new UploadJob;
        connect(job, &UploadJob::progress, &receiver, [&delivered] { ++delivered; });
        connect(job, &UploadJob::finished, &receiver, [&delivered] { ++delivered; });
        job->start(uploader, {writeFile(m_dir, fileName, {}, 64 * 1024)}, std::nullopt);
        delete job;
        QVERIFY(fileName != "notes.txt" || server.waitForRequests(1, 10s));
        QTest::qWait(300);
        QCOMPARE(delivered, 0);
    }
};

void UploaderTest::replies_data()
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
    const QString unreadable = "サーバーからの応答を読み取れませんでした。";
    row("200 success only", json(200, R"({"success":true})"), success, {});
    row("201 success", json(201, R"({"success":true,"url":"https://s/1"})"), success, {});
    row("299 success", json(299, R"({"success":true,"unknown":[1,{"x":2}]})"), success, {});
    row("200 false, no error", json(200, R"({"success":false})"), server, "アップロード失敗");
    row("200 false, error", json(200, R"({"success":false,"error":"容量不足"})"), server, "容量不足");
    row("200 not JSON", reply(200, "<html>ok</html>", "text/html"), platform, unreadable);
    row("200 wrong type in unused field", json(200, R"({"success":true,"size_bytes":"12"})"),
        platform, unreadable);
    row("200 empty body", reply(200, ""), invalid, "不正なレスポンスです。");
    row("500 HTML", reply(500, "<h1>Error</h1>", "text/html"), status, "エラー: 500");
    row("403 with service message", json(403, R"({"success":false,"error":"パスワード違い"})"),
        server, "パスワード違い");
    row("403 message, no success key", json(403, R"({"error":"forbidden"})"), status, "エラー: 403");
    row("413 message, success true", json(413, R"({"success":true,"error":"too big"})"), server,
        "too big");
    row("404 empty", reply(404, ""), status, "エラー: 404");
    Reply redirect = reply(302, "");
    redirect.headers.append(qMakePair(QByteArray("Location"), QByteArray("/elsewhere")));
    row("302 is not followed", redirect, status, "エラー: 302");
    Reply notHttp;
    notHttp.raw = "SSH-2.0-OpenSSH_9.2\r\n";
    row("not an HTTP reply", notHttp, invalid, "不正なレスポンスです。");
    Reply cut = json(200, R"({"success":true,"url":"https://s/long"})");
    cut.closeAfterBodyBytes = 10;
    row("connection closed mid-body", cut, platform, "途中で切れました");
    Reply nul;
    nul.raw = QByteArray(1, '\0');
    row("garbage byte", nul, invalid, "不正なレスポンスです。");
    row("slow reply within the time-out", delayed(400ms), success, {});
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

void UploaderTest::decodeKeepsValues()
{
    UploadResponse expected{true, "i", "https://s/u", "https://s/d", "2026-01-01T00:00:00Z", -5,
                            std::numeric_limits<qint64>::max(), 2, QStringList{"写真.jpg", "b"},
                            true, "e"};
    QCOMPARE(UploadResponse::decode(
                 R"({"success":true,"id":"i","url":"https://s/u","download_url":"https://s/d",)"
                 R"("expires_at":"2026-01-01T00:00:00Z","expires_in":-5,)"
                 R"("size_bytes":9223372036854775807,"file_count":2,)"
                 R"("original_names":["写真.jpg","b"],"password_protected":true,"error":"e"})"),
             std::optional(expected));
}


QTEST_GUILESS_MAIN(UploaderTest)
#include "tst_uploader.moc"
