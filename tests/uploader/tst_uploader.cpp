// The upload client against real servers on 127.0.0.1: exact request bytes (read again by PHP's
// multipart parser), screening before sending, each way a server can answer (or fail to) becoming
// exactly one result, and how progress reaches the caller.
#include "MultipartBody.h"
#include "PelkinUploader.h"
#include "TestFiles.h"
#include "TestHttpServer.h"
#include "UploadScreening.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <QtTest>

#include <cstdio>
#include <fstream>
#include <mutex>

// Replies are written with designated initializers; the members left out keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

using namespace std::chrono_literals;
using Reply = TestHttpServer::Reply;
using FileList = QList<QPair<QString, QByteArray>>;
using OptionalPassword = std::optional<QString>;
Q_DECLARE_METATYPE(FileList)
Q_DECLARE_METATYPE(OptionalPassword)
Q_DECLARE_METATYPE(TestHttpServer::Reply)

namespace {
constexpr int success = -2;  // "kind" column: a success
constexpr int platform = -1; // "kind" column: a PlatformError, not an UploadError

int kindOf(const UploadResult &result)
{
    return result.isSuccess() ? success
           : result.isPlatformError() ? platform
                                      : int(result.uploadError().kind());
}

// A test file in dir (sub-folders made as needed); a size beyond the content makes it sparse.
QUrl fileUrl(const QString &dir, const QString &name, const QByteArray &content = {}, qint64 size = -1)
{
    return QUrl::fromLocalFile(TestFiles::write(dir, name, content, size));
}

// What an upload reports: each completion (from the worker thread, hence the lock) and each
// progress call.
class UploadProbe
{
public:
    PelkinUploader::CompletionHandler completion()
    {
        return [this](UploadResult result) {
            std::lock_guard lock(m_mutex);
            m_results.append(std::move(result));
        };
    }
    PelkinUploader::ProgressHandler progress()
    {
        return [this](double fraction) {
            std::lock_guard lock(m_mutex);
            m_progress.append(fraction);
        };
    }
    QList<UploadResult> results() const { return locked(m_results); }
    QList<double> progressCalls() const { return locked(m_progress); }
    UploadResult result() const { return results().at(0); }
    bool waitForCompletion(int ms = 10000)
    {
        return QTest::qWaitFor([this] { return !results().isEmpty(); }, ms);
    }
    // One upload with its own uploader, waited for.
    bool upload(const QUrl &endpoint, const QList<QUrl> &files, const OptionalPassword &password = {},
                std::chrono::milliseconds idleTimeout = 5s, int ms = 15000)
    {
        PelkinUploader uploader(endpoint, idleTimeout);
        uploader.upload(files, password, progress(), completion());
        return waitForCompletion(ms);
    }

private:
    template<typename T>
    T locked(const T &value) const
    {
        std::lock_guard lock(m_mutex);
        return value;
    }
    mutable std::mutex m_mutex;
    QList<UploadResult> m_results;
    QList<double> m_progress;
};
} // namespace

class UploaderTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QUrl m_file;
    QProcess m_php; // killed with the test object
    QUrl m_phpEndpoint;

private slots:
    // PHP's built-in server with a router (php/) that dumps what PHP parsed.
    void initTestCase()
    {
        m_file = fileUrl(m_dir.path(), "note.txt", "hello");
        qputenv("PELKIN_DUMP", m_dir.filePath("dump.json").toUtf8());
        m_php.setProcessChannelMode(QProcess::MergedChannels);
        m_php.start("php", {"-n", "-d", "upload_max_filesize=64M", "-d", "post_max_size=64M", "-S",
                            "127.0.0.1:0", qEnvironmentVariable("PELKIN_SOURCE_DIR") +
                                               "/tests/uploader/php/upload-dump.php"});
        // The server names its port on its first line.
        const QRegularExpression started("http://127\\.0\\.0\\.1:\\d+");
        QByteArray output;
        QVERIFY(QTest::qWaitFor([&] {
            m_php.waitForReadyRead(100);
            output += m_php.readAll();
            return started.match(output).hasMatch();
        }, 10000));
        m_phpEndpoint = QUrl(started.match(output).captured(0) + "/api/upload.php");
    }

    void exactBody_data()
    {
        QTest::addColumn<FileList>("files");
        QTest::addColumn<OptionalPassword>("password");
        // The expected file parts: escaped file name, MIME type.
        QTest::addColumn<QByteArrayList>("sentNames");
        QTest::addColumn<QByteArrayList>("mimeTypes");
        const QByteArray octets = "application/octet-stream";
        const auto row = [](const char *name, const FileList &files, const OptionalPassword &pw,
                            const QByteArrayList &sent, const QByteArrayList &types) {
            QTest::newRow(name) << files << pw << sent << types;
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
        row("quote and line breaks are escaped", {{"a\"b\r\nContent-Type: evil\".txt", "payload"}},
            {}, {"a%22b%0D%0AContent-Type: evil%22.txt"}, {octets});
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
        QFETCH(QByteArrayList, sentNames);
        QFETCH(QByteArrayList, mimeTypes);
        QTemporaryDir dir;
        QList<QUrl> urls;
        QByteArrayList contents;
        for (const auto &[name, content] : files) {
            urls.append(fileUrl(dir.path(), name, content));
            if (!name.endsWith(".App"))
                contents.append(content);
        }
        TestHttpServer server;
        UploadProbe probe;
        QVERIFY(probe.upload(server.url(), urls, password) && probe.result().isSuccess());
        QCOMPARE(server.requestCount(), 1);
        const TestHttpServer::Request request = server.requests().at(0);
        QCOMPARE(request.method + ' ' + request.target, QByteArray("POST /api/upload.php"));
        const auto match = QRegularExpression("^multipart/form-data; boundary=(Boundary-[0-9A-F-]{36})$")
                               .match(request.header("content-type"));
        QVERIFY2(match.hasMatch(), request.header("content-type").constData());
        const QByteArray boundary = match.captured(1).toLatin1();
        // A fixed length, no chunking, no 100-continue round trip.
        QCOMPARE(request.header("content-length"), QByteArray::number(request.bodySize));
        QVERIFY(request.header("transfer-encoding").isNull() && request.header("expect").isNull());
        const QByteArray field = files.size() > 1 ? "files[]" : "file";
        QByteArray expected;
        QStringList parsed; // what PHP must make of each file part
        for (qsizetype i = 0; i < sentNames.size(); ++i) {
            expected += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + field +
                        "\"; filename=\"" + sentNames[i] + "\"\r\nContent-Type: " + mimeTypes[i] +
                        "\r\n\r\n" + contents[i] + "\r\n";
            parsed << QString::fromUtf8(field + '|' + sentNames[i] + '|' + mimeTypes[i] + "|0|" +
                                        QCryptographicHash::hash(contents[i], QCryptographicHash::Sha256).toHex());
        }
        if (password && !password->isEmpty())
            expected += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"password\"" +
                        "\r\n\r\n" + password->toUtf8() + "\r\n";
        QCOMPARE(request.body, expected + "--" + boundary + "--\r\n");

        // A second, independent reader: PHP must see the same parts.
        QFile dump(m_dir.filePath("dump.json"));
        dump.remove();
        UploadProbe viaPhp;
        QVERIFY(viaPhp.upload(m_phpEndpoint, urls, password) && viaPhp.result().isSuccess());
        QVERIFY(dump.open(QIODevice::ReadOnly));
        const QJsonObject seen = QJsonDocument::fromJson(dump.readAll()).object();
        QCOMPARE(seen.value("files").toVariant().toStringList(), parsed);
        QCOMPARE(seen.value("post").toObject().value("password").toString(), password.value_or(""));
    }

    void nameThatIsNotUtf8()
    {
        // Old archives carry Latin-1 names; the file is still found and its name is sent as the
        // bytes on disk.
        QTemporaryDir dir;
        const QByteArray path = QFile::encodeName(dir.path()) + "/caf\xe9 \"1\".txt";
        std::ofstream(path.constData()) << "latin";
        TestHttpServer server;
        UploadProbe probe;
        const bool done = probe.upload(server.url(), {QUrl::fromEncoded("file://" + path.toPercentEncoding("/"))});
        std::remove(path.constData()); // QTemporaryDir cannot name it
        QVERIFY(done && probe.result().isSuccess());
        QVERIFY(server.requests().at(0).body.contains(
            "; filename=\"caf\xe9 %221%22.txt\"\r\nContent-Type: application/octet-stream\r\n\r\nlatin\r\n"));
    }

    // Refusals before any byte is sent: from inside upload(), once, without progress. The 1 GiB
    // limit is inclusive and counts sizes (sparse files here), reading nothing.
    void screeningRefusesBeforeSending()
    {
        const qint64 limit = PelkinUploader::maxUploadBytes;
        const QUrl big = fileUrl(m_dir.path(), "big.mov", {}, limit - 10);
        QVERIFY(std::holds_alternative<QList<MultipartBody::File>>(
            UploadScreening::screen({big, fileUrl(m_dir.path(), "ten.txt", "0123456789")}, limit)));
        using K = UploadError::Kind;
        // "dir:" makes a folder, "gone:" nothing at all, "big:" a sparse file of limit - 6 bytes.
        const QList<std::tuple<QStringList, QString, int>> rows = {
            {{}, "ファイルが選択されていません。", int(K::noFiles)},
            {{"Foo.APP"}, "これらのファイルはアップロードできません: Foo.APP", int(K::allBlocked)},
            {{"b.photoslibrary", "dir:Tool.app"},
             "これらのファイルはアップロードできません: b.photoslibrary, Tool.app", int(K::allBlocked)},
            {{"ok.txt", "dir:Photos"}, "ファイルを読み込めませんでした: Photos", int(K::cannotReadFile)},
            {{"gone:lost.txt"}, "ファイル「lost.txt」が見つかりませんでした。", platform},
            {{"seven.txt", "big:big.mov"}, "アップロード上限は", int(K::totalSizeExceeded)}};
        TestHttpServer server;
        PelkinUploader uploader(server.url(), 5s);
        for (const auto &[names, message, kind] : rows) {
            QTemporaryDir dir;
            QList<QUrl> urls;
            for (const QString &name : names) {
                const QString bare = name.section(':', -1);
                // Folders dropped from a file manager often carry a trailing slash.
                if (name.startsWith("dir:") && QDir(dir.path()).mkdir(bare))
                    urls.append(QUrl::fromLocalFile(dir.filePath(bare) + '/'));
                else if (name.startsWith("gone:"))
                    urls.append(QUrl::fromLocalFile(dir.filePath(bare)));
                else
                    urls.append(fileUrl(dir.path(), bare, "content", name.startsWith("big:") ? limit - 6 : -1));
            }
            UploadProbe probe;
            uploader.upload(urls, "pw", probe.progress(), probe.completion());
            QCOMPARE(probe.results().size(), 1); // reported before upload() returns
            QTest::qWait(150);
            QCOMPARE(probe.results().size(), 1);
            const QString shown = probe.result().localizedDescription();
            QVERIFY2(shown.startsWith(message) && kindOf(probe.result()) == kind, qPrintable(shown));
            QVERIFY(probe.progressCalls().isEmpty());
        }
        QCOMPARE(server.connectionCount(), 0);
    }

    void fileShrinkingWhileSent()
    {
        const QString path = fileUrl(m_dir.path(), "growing-log.bin", {}, 256 << 20).toLocalFile();
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

    // A service may refuse from the headers alone: the rest of the body is not sent.
    void earlyRefusalStopsSending()
    {
        TestHttpServer server;
        TestHttpServer::Reply refusal = TestHttpServer::json(413, R"({"success":false,"error":"大きすぎます"})");
        refusal.answerBeforeBody = true;
        server.enqueue(refusal);
        server.setBodyCaptureLimit(0);
        UploadProbe probe;
        QVERIFY(probe.upload(server.url(), {fileUrl(m_dir.path(), "huge.bin", {}, 256 << 20)}));
        QCOMPARE(probe.result().localizedDescription(), "大きすぎます");
        QVERIFY(server.waitForRequests(1, 3s));
        QVERIFY(server.requests().at(0).bodySize < 256 << 20);
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
        QCOMPARE(probe.results().size(), 1);
        const QString shown = probe.result().localizedDescription();
        QVERIFY2(kind == success ? shown.isEmpty() : shown.contains(message), qPrintable(shown));
        QCOMPARE(kindOf(probe.result()), kind);
    }

    // Each way the transport fails ends the upload once, naming the address or the certificate.
    void transportFailures_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("idle waiting for the reply") << "silent";
        QTest::newRow("idle: server stops reading the body") << "stalled";
        QTest::newRow("nobody listening") << "closed";
        QTest::newRow("untrusted certificate") << "tls";
    }
    void transportFailures()
    {
        QFETCH(QString, failure);
        const auto certificate = TestFiles::selfSignedCertificate(m_dir.path());
        QVERIFY(certificate);
        auto server = failure == "tls" ? std::make_unique<TestHttpServer>(certificate->first, certificate->second)
                                       : std::make_unique<TestHttpServer>();
        server->enqueue(Reply{.neverAnswer = true, .stopReadingAfter = failure == "stalled" ? 1000 : -1});
        server->setBodyCaptureLimit(0);
        const QUrl endpoint = server->url();
        if (failure == "closed")
            server.reset(); // listened on once, then closed: nobody listens there now
        // Bigger than every socket buffer on the way, so sending really stalls.
        const QUrl file = failure == "stalled" ? fileUrl(m_dir.path(), "stall.bin", {}, 64 << 20) : m_file;
        UploadProbe probe;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(probe.upload(endpoint, {file}, {}, 500ms, 8000));
        const qint64 elapsed = clock.elapsed();
        const PlatformError error = probe.result().platformError();
        using K = PlatformError::Kind;
        QCOMPARE(error.kind(), failure == "tls" ? K::tls : failure == "closed" ? K::connection : K::timedOut);
        if (failure == "tls") {
            // The handshake got as far as judging the certificate; not one body byte was sent.
            QVERIFY2(error.detail().contains("certificate"), qPrintable(error.detail()));
            QCOMPARE(server->requestCount(), 0);
        } else {
            QVERIFY(probe.result().localizedDescription().contains("127.0.0.1:" + QString::number(endpoint.port())));
        }
        // Idle, not total: it fires after the quiet period, with about a second of slack.
        if (error.kind() == K::timedOut)
            QVERIFY2(elapsed >= 450 && elapsed < 5000, qPrintable(QString::number(elapsed)));
        QTest::qWait(200);
        QCOMPARE(probe.results().size(), 1);
    }

    // Progress comes on the caller's thread from 0.0 to 1.0, every 80 ms, and stops with the
    // completion (which comes on the worker thread), or when the uploader is destroyed.
    void progressUntilDone_data()
    {
        QTest::addColumn<bool>("destroyUploader");
        QTest::newRow("to the end") << false;
        QTest::newRow("uploader destroyed midway") << true;
    }
    void progressUntilDone()
    {
        QFETCH(bool, destroyUploader);
        TestHttpServer server;
        server.enqueue(Reply{.body = R"({"success":true})", .delay = 600ms}); // ticks while it waits
        server.setBodyCaptureLimit(0);
        auto uploader = std::make_unique<PelkinUploader>(server.url(), 3s);
        UploadProbe probe;
        QElapsedTimer clock;
        clock.start();
        qint64 lastTick = 0;
        int offThread = 0;
        const auto record = [&, inner = probe.progress()](double fraction) {
            lastTick = clock.elapsed();
            offThread += QThread::currentThread() != thread();
            inner(fraction);
        };
        uploader->upload({fileUrl(m_dir.path(), "four.bin", {}, 4 << 20)}, {}, record, probe.completion());
        if (destroyUploader) {
            QTRY_VERIFY_WITH_TIMEOUT(probe.progressCalls().size() >= 2, 3000);
            uploader.reset();
        }
        const qsizetype seenAtDestruction = probe.progressCalls().size();
        QVERIFY(probe.waitForCompletion() && probe.result().isSuccess());
        QTest::qWait(300);
        const QList<double> values = probe.progressCalls();
        QCOMPARE(probe.results().size(), 1);
        QCOMPARE(offThread, 0);
        if (destroyUploader) {
            QCOMPARE(values.size(), seenAtDestruction);
            return;
        }
        QVERIFY2(values.size() >= 4, qPrintable(QString::number(values.size())));
        QCOMPARE(QPair(values.first(), values.last()), QPair(0.0, 1.0));
        QVERIFY(std::is_sorted(values.begin(), values.end()));
        // 0.0 and the first tick come together, then one every 80 ms, not a busy stream
        // (counted over the whole run: a late tick may come close to the next).
        QVERIFY2(values.size() <= lastTick / 70 + 2,
                 qPrintable(QString("%1 calls in %2 ms").arg(values.size()).arg(lastTick)));
        QTest::qWait(250);
        QCOMPARE(probe.progressCalls().size(), values.size()); // the timer has stopped
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
    row("200 not JSON", Reply{.body = "<html>ok</html>"}, platform, unreadable);
    row("200 wrong type in unused field", json(200, R"({"success":true,"size_bytes":"12"})"), platform, unreadable);
    row("200 empty body", Reply{}, invalid, "不正なレスポンスです。");
    row("500 HTML", Reply{.status = 500, .body = "<h1>Error</h1>"}, status, "エラー: 500");
    row("403 with service message", json(403, R"({"success":false,"error":"パスワード違い"})"), server, "パスワード違い");
    row("403 message, no success key", json(403, R"({"error":"forbidden"})"), status, "エラー: 403");
    row("413 message, success true", json(413, R"({"success":true,"error":"too big"})"), server, "too big");
    row("404 empty", Reply{.status = 404}, status, "エラー: 404");
    row("302 is not followed", Reply{.status = 302, .headers = {{"Location", "/x"}}}, status, "エラー: 302");
    row("not an HTTP reply", Reply{.raw = "SSH-2.0-OpenSSH_9.2\r\n"}, invalid, "不正なレスポンスです。");
    row("connection closed mid-body", Reply{.body = R"({"success":true,"url":"https://s/long"})",
        .closeAfterBodyBytes = 10}, platform, "途中で切れました");
    row("garbage byte", Reply{.raw = QByteArray(1, '\0')}, invalid, "不正なレスポンスです。");
    row("slow reply within the time-out", Reply{.body = R"({"success":true})", .delay = 400ms}, success, {});
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

QTEST_GUILESS_MAIN(UploaderTest)
#include "tst_uploader.moc"
