// The service process against curl and raw sockets: every byte kept, refusals that leave nothing
// behind, hostile names, strict framing, ranges, throttling, expiry, shutdown, stalls and TLS.
#include "GuessThrottle.h"
#include "MultipartReader.h"
#include "PasswordHash.h"
#include "RawConnection.h"
#include "ServerProcess.h"
#include "TestFiles.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>

namespace {

const QString publicUrl = "https://files.example.test";
constexpr int maxBytes = 100000;
constexpr int maxFiles = 5;

QJsonObject jsonOf(const QByteArray &body)
{
    return QJsonDocument::fromJson(body).object();
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

QByteArray chunk(const QByteArray &bytes)
{
    return QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n";
}

// curl with the arguments (bounded); the reply.
RawReply curl(const QStringList &args)
{
    QProcess process;
    process.start("curl", QStringList{"-sS", "-i", "--max-time", "30"} + args);
    if (!process.waitForFinished(40000))
        process.kill();
    return RawReply::parse(process.readAllStandardOutput());
}

// One request on a fresh connection, half-closed after it; the reply.
RawReply exchange(quint16 port, const QByteArray &request)
{
    RawConnection connection;
    if (!connection.connectTo(port) || !connection.send(request))
        return {};
    connection.shutdownWrite();
    return RawReply::parse(connection.readUntilClosed(10000));
}

} // namespace

class UploadServerTest : public QObject
{
    Q_OBJECT

private:
    ServerProcess m_server{{"--max-bytes", QString::number(maxBytes), "--max-files",
                            QString::number(maxFiles), "--public-url", publicUrl + "/"}};
    QTemporaryDir m_files;

    // A B0undary body, unless the extra arguments give a Content-Type of their own.
    RawReply post(const ServerProcess &server, const QByteArray &body, const QStringList &extra = {})
    {
        const QString type =
            extra.filter("Content-Type:").value(0, "Content-Type: multipart/form-data; boundary=B0undary");
        const QString file = TestFiles::write(m_files.path(), "raw-body", body);
        return curl(QStringList{"-H", type, "--data-binary", "@" + file} + extra +
                    QStringList{server.url() + "/api/upload.php"});
    }
    QString uploadsDir() const { return m_server.dataDir() + "/uploads"; }
    // Nothing new stored, nothing half-received left behind.
    void nothingKept(const ServerProcess &server, const QStringList &before)
    {
        QCOMPARE(entries(server.dataDir() + "/uploads"), before);
        QTRY_COMPARE_WITH_TIMEOUT(entries(server.dataDir() + "/incoming"), QStringList(), 5000);
    }
    void started(ServerProcess &server) { QVERIFY2(server.start(), server.errorOutput().constData()); }

private slots:
    void initTestCase() { started(m_server); }

    // Every byte and name kept, the password asked for; unknown or malformed links are not found.
    void uploadsKeepEveryByte()
    {
        QByteArray binary;
        for (int i = 0; i < 2560; ++i)
            binary += char(i);
        const QList<QPair<QString, QByteArray>> files = {{"写真 2026年.jpg", binary}, {"empty.bin", ""}, {"README", "t"}};
        const QString password = "pässwörd 秘密";
        QStringList args{"--form-string", "password=" + password};
        for (const auto &[name, content] : files)
            args << "-F" << "files[]=@" + TestFiles::write(m_files.path(), name, content);
        const RawReply reply = curl(args << m_server.url() + "/api/upload.php");
        QCOMPARE(reply.status, 200);
        const QJsonObject json = jsonOf(reply.body);
        const QString id = json.value("id").toString();
        QVERIFY(QRegularExpression("^[A-Za-z0-9_-]{22}$").match(id).hasMatch());
        // Kept for seven days by default.
        const QDateTime expires = QDateTime::fromString(json.value("expires_at").toString(), Qt::ISODate);
        QVERIFY(qAbs(QDateTime::currentDateTimeUtc().secsTo(expires) - 7 * 86400) < 10);
        QCOMPARE(json.value("url").toString() + " " + json.value("download_url").toString(),
                 publicUrl + "/f/" + id + " " + publicUrl + "/d/" + id);
        QCOMPARE(QPair(json.value("size_bytes").toInteger(), json.value("file_count").toInteger()),
                 QPair(binary.size() + 1, qsizetype(3)));
        QCOMPARE(json.value("original_names").toVariant().toStringList(),
                 (QStringList{"写真 2026年.jpg", "empty.bin", "README"}));
        QCOMPARE(json.value("password_protected"), QJsonValue(true));
        QFile meta(uploadsDir() + "/" + id + "/meta.json");
        // Names are kept as written, the password only as a hash.
        const QByteArray record = meta.open(QIODevice::ReadOnly) ? meta.readAll() : QByteArray();
        QVERIFY(record.contains("写真 2026年.jpg") && !record.contains("秘密"));

        // A download needs the password: the link leads to the share page, where it is given.
        const QString sharePage = m_server.url() + "/f/" + id;
        const QString download = m_server.url() + "/d/" + id + "/";
        const RawReply refused = curl({download + "0"});
        QCOMPARE(refused.status, 303);
        QCOMPARE(QUrl(sharePage).resolved(QUrl(refused.header("Location"))), QUrl(sharePage));
        const QString jar = m_files.filePath("jar");
        QCOMPARE(curl({"-c", jar, "--data-urlencode", "password=" + password, sharePage}).status, 303);
        for (int i = 0; i < files.size(); ++i) {
            const RawReply got = curl({"-b", jar, download + QString::number(i)});
            QCOMPARE(got.body, files[i].second);
            QVERIFY(got.status == 200 && got.header("Content-Disposition")
                                             .contains("filename*=UTF-8''" + QUrl::toPercentEncoding(files[i].first)));
        }
        QCOMPARE(curl({"-b", jar, download + "3"}).status, 404);
        QCOMPARE(entries(m_server.dataDir() + "/incoming"), QStringList());
        for (const char *path : {"/f/AAAAAAAAAAAAAAAAAAAAAA", "/f/abc", "/d/../../etc/passwd",
                                 "/f/..%2F..%2Fsecret", "/d/AAAAAAAAAAAAAAAAAAAAAA/0"})
            QCOMPARE(curl({"--path-as-is", m_server.url() + path}).status, 404);
    }

    void badRequestsAreRefusedWithoutLeavingFiles()
    {
        const QByteArray part = "--B0undary\r\nContent-Disposition: ";
        const QByteArray pw = part + "form-data; name=\"password\"\r\n\r\n";
        const QString type = "Content-Type: multipart/form-data; boundary=";
        const QList<QPair<QByteArray, QByteArray>> many(maxFiles + 1, {"f", "x"});
        const QByteArray small = multipart({{"a", "abc"}});
        const QByteArray big = multipart({{"big", QByteArray(2 * 1024 * 1024, 'z')}});
        const QByteArray half(maxBytes / 2 + 10, 'h');
        const QList<std::tuple<const char *, QByteArray, QStringList, int>> rows = {
            {"not multipart", "a=1", {"-H", "Content-Type: text/plain"}, 400},
            {"no file", pw + "pw\r\n--B0undary--\r\n", {}, 400},
            {"too many files", multipart(many), {}, 400},
            // Over the limit only once the second file has been partly stored.
            {"oversized total", multipart({{"a", half}, {"b", half}}), {}, 413},
            {"oversized length", big, {}, 413},
            // Without "Expect: 100-continue" the body is read and dropped first.
            {"oversized, no 100-continue", big, {"-H", "Expect:"}, 413},
            {"password too long",
             small.chopped(14) + pw + QByteArray(5000, 'p') + "\r\n--B0undary--\r\n", {}, 400},
            {"compressed body", small, {"-H", "Content-Encoding: gzip"}, 415},
            {"wrong method", small, {"-X", "PUT"}, 405},
            // Multipart that does not parse.
            {"no boundary", small, {"-H", "Content-Type: multipart/form-data"}, 400},
            {"boundary too long", small, {"-H", type + QString(71, 'x')}, 400},
            {"not form-data", small, {"-H", "Content-Type: multipart/mixed; boundary=B0undary"}, 400},
            {"no closing delimiter", small.chopped(14), {}, 400},
            {"text after the delimiter", small.chopped(4) + "X\r\n", {}, 400},
            {"no part headers", "--B0undary\r\n\r\nx\r\n--B0undary--\r\n", {}, 400},
            {"not a form-data part", part + "attachment\r\n\r\nx\r\n--B0undary--\r\n", {}, 400},
            {"part without a name", part + "form-data\r\n\r\nx\r\n--B0undary--\r\n", {}, 400},
            {"bad part header line", part + "form-data; name=a\r\nbad\r\n\r\nx", {}, 400},
            {"endless part header", part + QByteArray(MultipartReader::maxPartHeaderBytes, 'h'), {}, 400}};
        for (const auto &[name, body, extraArgs, status] : rows) {
            const QStringList before = entries(uploadsDir());
            const RawReply reply = post(m_server, body, extraArgs);
            const QJsonObject json = jsonOf(reply.body);
            // Said in Japanese.
            QVERIFY2(reply.status == status && json.value("success") == QJsonValue(false) &&
                         json.value("error").toString().contains(QRegularExpression("[\\x{3040}-\\x{9fff}]")),
                     qPrintable(QString(name) + ": " + QString::number(reply.status) + " " + reply.body));
            nothingKept(m_server, before);
        }
    }

    // Framing is read strictly: anything ambiguous or unknown is refused, nothing is stored.
    void framingIsStrict()
    {
        const QByteArray body = multipart({{"framed.txt", "abc"}});
        const QByteArray size = QByteArray::number(body.size());
        const QByteArray length = "Content-Length: " + size + "\r\n";
        const QByteArray chunked = chunk(body) + "0\r\n\r\n";
        const QList<std::tuple<QByteArray, QByteArray, int>> rows = {
            {length + "Content-Length: 5\r\n", body, 400},
            {"Content-Length: " + size + ", 5\r\n", body, 400},
            {"Content-Length: +" + size + "\r\n", body, 400},
            {"Content-Length: \r\n", body, 400},
            {length + "Transfer-Encoding: chunked\r\n", chunked, 400},
            {"Transfer-Encoding: gzip\r\n", body, 501},
            {"Transfer-Encoding: gzip, chunked\r\n", chunked, 501},
            {"Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n", chunked, 501},
            {"Transfer-Encoding:  , \r\nContent-Length: 0\r\n", "", 400},
            {"", body, 411},
            {"No colon here\r\n" + length, body, 400},
            {"content-length: " + size + "\r\nContent-Length: " + size + ", " + size + "\r\n", body, 200},
            {"Transfer-Encoding: Chunked\r\n", chunked, 200}};
        for (const auto &[framing, sent, status] : rows) {
            const QStringList before = entries(uploadsDir());
            const RawReply reply = exchange(m_server.port(), uploadRequest(framing, sent));
            QVERIFY2(reply.status == status, framing.constData());
            QCOMPARE(jsonOf(reply.body).value("success").toBool(), status == 200);
            if (status != 200)
                nothingKept(m_server, before);
        }
    }

    void hostileNamesAreStoredAsDataOnly()
    {
        const QList<QPair<QByteArray, QString>> rows = {
            {"../../escape.txt", "../../escape.txt"},
            {"/tmp/pelkin-abs.txt", "/tmp/pelkin-abs.txt"},
            {"a%22b%0D%0Ac.txt", "a\"b\r\nc.txt"}, // the escapes browsers send
            {"100%25 %2F.txt", "100%25 %2F.txt"},  // other escapes are kept
            {"ctl\x01\x1b.txt", "ctl\x01\x1b.txt"},
            {"dir\\", "dir\\"}, // a trailing backslash, as browsers send it
            {"\xff\xfe" "bad.txt", "\uFFFD\uFFFDbad.txt"},
            {"\xC0\xAF\xED\xA0\x80\xE6\x97.txt", QString(7, QChar(0xFFFD)) + ".txt"}, // overlong, surrogate, cut
            {"<script>x</script>.html", "<script>x</script>.html"},
            {"", "file"},
            {"a\u202Etxt.exe", "a\u202Etxt.exe"}};
        const QStringList around = entries(m_server.scratchDir());
        for (const auto &[sent, stored] : rows) {
            const RawReply reply = post(m_server, "--B0undary\r\nContent-Disposition: form-data; name=\"file\"; "
                                              "filename=\"" + sent + "\"\r\n\r\npayload\r\n--B0undary--\r\n");
            QCOMPARE(reply.status, 200);
            const QJsonObject json = jsonOf(reply.body);
            QCOMPARE(json.value("original_names").toArray().at(0).toString(), stored);
            const QString id = json.value("id").toString();
            QCOMPARE(entries(uploadsDir() + "/" + id), (QStringList{"0", "meta.json"}));
            QCOMPARE(entries(m_server.scratchDir()), around);
            QVERIFY(!QFile::exists("/tmp/pelkin-abs.txt"));

            // Shown escaped (controls and direction overrides as %XX), never obeyed.
            const QByteArray page = curl({m_server.url() + "/f/" + id}).body;
            QVERIFY(!page.contains("<script>") && !page.contains('\x01') && !page.contains("\u202E") &&
                    !page.contains("a\"b"));
            QVERIFY(!stored.startsWith("ctl") || page.contains("ctl%01%1B.txt"));
            QVERIFY(!stored.contains(QChar(0x202E)) || page.contains("a%E2%80%AEtxt.exe"));
            const RawReply download = curl({m_server.url() + "/d/" + id});
            QCOMPARE(download.body, QByteArray("payload"));
            QCOMPARE(download.header("Content-Type"), QByteArray("application/octet-stream"));
            // The plain fallback name cannot end its quotes early; the UTF-8 one is exact.
            const QByteArray disposition = download.header("Content-Disposition");
            const int star = disposition.indexOf("filename*=UTF-8''") + 17;
            QVERIFY(star > 17 && disposition.count('"') == 2);
            QCOMPARE(QString::fromUtf8(QByteArray::fromPercentEncoding(disposition.mid(star))), stored);
        }
    }

    void largeBodyIsStreamedNotBuffered()
    {
        ServerProcess server;
        started(server);
        constexpr qint64 size = 200 * 1024 * 1024;
        const QString sparse = TestFiles::write(m_files.path(), "sparse.bin", {}, size);
        const RawReply reply = curl({"-F", "file=@" + sparse, server.url() + "/api/upload.php"});
        QFile::remove(sparse);
        QCOMPARE(jsonOf(reply.body).value("size_bytes").toInteger(), size);
        const qint64 peak = processKb(server.pid(), "VmHWM");
        QVERIFY2(peak > 0 && peak < 64 * 1024, qPrintable(QString::number(peak)));
    }

    void expiredUploadsArePurged()
    {
        // Leftovers of an earlier run: cleared at start.
        ServerProcess server({"--expire-days", "0.00003"}); // about 2.6 seconds
        const QString stale = server.dataDir() + "/incoming/half-received";
        const QString expired = server.dataDir() + "/uploads/AAAAAAAAAAAAAAAAAAAAAA";
        QVERIFY(QDir().mkpath(stale) && !TestFiles::write(expired, "0").isEmpty());
        QVERIFY(!TestFiles::write(expired, "meta.json",
                                  R"({"id":"AAAAAAAAAAAAAAAAAAAAAA","created_at":1,"expires_at":2,)"
                                  R"("files":[{"name":"old","content_type":"text/plain","size":0}],)"
                                  R"("password_hash":""})").isEmpty());
        started(server);
        QVERIFY(!QDir(stale).exists() && !QDir(expired).exists());

        // And while it runs.
        const QJsonObject json = jsonOf(post(server, multipart({{"soon.txt", "x"}})).body);
        QVERIFY(json.value("expires_in").toInteger() <= 3);
        const QString page = server.url() + "/f/" + json.value("id").toString();
        QCOMPARE(curl({page}).status, 200);
        QTRY_COMPARE_WITH_TIMEOUT(entries(server.dataDir() + "/uploads"), QStringList(), 15000);
        QCOMPARE(curl({page}).status, 404);
    }

    // The body split at every offset between two writes, with both framings. It has a preamble,
    // an epilogue, a line that nearly is a delimiter, a quoted name and an unquoted, ignored field.
    void bodiesSplitAnywhereAreAccepted()
    {
        const QByteArray content = "x\r\n--B0undar\r\n\r\n";
        const QByteArray body = "pre\r\n--B0undary\r\nContent-Disposition: form-data; name=\"file\"; "
                                "filename=\"a;b \\\"q\\\"\"\r\n\r\n" + content + "\r\n--B0undary  \r\n"
                                "content-disposition: form-data; name=n\r\n\r\ni\r\n--B0undary--\r\ne --B0undary\r\n";
        for (const bool chunked : {false, true}) {
            for (int cut = 1; cut < body.size(); ++cut) {
                const QByteArray tail = body.mid(cut);
                RawConnection connection;
                QVERIFY(connection.connectTo(m_server.port()));
                const QByteArray chunkedHead = uploadRequest("Transfer-Encoding: chunked\r\n", chunk(body.left(cut)));
                QVERIFY(connection.send(chunked ? chunkedHead : uploadRequest(body).chopped(tail.size())));
                QTest::qWait(2);
                QVERIFY(connection.send(chunked ? chunk(tail) + "0\r\n\r\n" : tail));
                const RawReply reply = RawReply::parse(connection.readUntilClosed(10000));
                const QJsonObject json = jsonOf(reply.body);
                QFile stored(uploadsDir() + "/" + json.value("id").toString() + "/0");
                QVERIFY2(reply.status == 200 && json.value("original_names").toArray() == QJsonArray{"a;b \"q\""} &&
                             stored.open(QIODevice::ReadOnly),
                         qPrintable(QString("chunked %1, cut at %2: %3").arg(chunked).arg(cut).arg(reply.status)));
                QCOMPARE(stored.readAll(), content);
            }
        }
    }

    // A client that half-closes gets its reply; one that stops sending is cut off after the idle
    // time-out. Either way a cut body leaves nothing behind.
    void halfClosedAndStalledClients()
    {
        ServerProcess server({"--timeout", "1"});
        started(server);
        const QByteArray request = uploadRequest(multipart({{"half.txt", "half-closed"}}));
        const RawReply whole = exchange(server.port(), request);
        QCOMPARE(whole.status, 200);
        const QStringList stored{jsonOf(whole.body).value("id").toString()};
        QVERIFY(exchange(server.port(), request.chopped(40)).status != 200);
        RawConnection stalled;
        QVERIFY(stalled.connectTo(server.port()) && stalled.send(request.chopped(40)));
        QTRY_COMPARE_WITH_TIMEOUT(entries(server.dataDir() + "/incoming").size(), 1, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(stalled.closedByPeer(), 8000);
        nothingKept(server, stored);
    }

    void rangesAnswerPartialContent()
    {
        const RawReply up = post(m_server, multipart({{"digits.txt", "0123456789"}}));
        const QString url = m_server.url() + "/d/" + jsonOf(up.body).value("id").toString() + "/0";
        const RawReply whole = curl({url});
        QCOMPARE(whole.header("Accept-Ranges"), QByteArray("bytes"));
        const auto range = [](const QByteArray &ranges) { return QStringList{"-H", "Range: " + ranges}; };
        // Arguments, status, body, Content-Range.
        const QList<std::tuple<QStringList, int, QByteArray, QByteArray>> rows = {
            {range("bytes=2-5"), 206, "2345", "bytes 2-5/10"},
            {{"-C", "6"}, 206, "6789", "bytes 6-9/10"},
            {range("bytes=-30"), 206, "0123456789", "bytes 0-9/10"},
            // Overlapping or adjacent ranges merge; ranges apart, or too many, get the whole file.
            {range("bytes=0-3,2-6"), 206, "0123456", "bytes 0-6/10"},
            {range("bytes=0-1,5-6"), 200, "0123456789", ""},
            {range("bytes=0-0" + QByteArray(",0-0").repeated(70)), 200, "0123456789", ""},
            {range("bytes=5-2"), 200, "0123456789", ""},
            {range("bytes=10-"), 416, "", "bytes */10"},
            {range("bytes=99999999999999999999999-"), 416, "", "bytes */10"},
            {range("bytes=2-5") << "-H" << "If-Range: \"other\"", 200, "0123456789", ""},
            // The validator a download manager sends back with If-Range.
            {range("bytes=1-1") << "-H" << "If-Range: " + whole.header("ETag"), 206, "1", "bytes 1-1/10"}};
        for (const auto &[args, status, body, contentRange] : rows) {
            const RawReply reply = curl(args + QStringList{url});
            QVERIFY2(reply.status == status && reply.body == body &&
                         reply.header("Content-Range") == contentRange,
                     qPrintable(args.join(' ') + " -> " + QString::number(reply.status)));
        }
    }

    // Guesses are limited per address (across uploads) and per upload (across addresses); the
    // loopback range gives each curl an address of its own.
    void passwordGuessesAreThrottled()
    {
        // A service of its own: other cases' wrong passwords would have spent some tokens.
        ServerProcess server;
        started(server);
        const auto guess = [&](int address, const QString &page, const QString &password = "wrong") {
            return curl({"--interface", "127.0.0." + QString::number(address), "--data-urlencode",
                         "password=" + password, page});
        };
        const auto upload = [&](const QString &name) {
            const QString file = TestFiles::write(m_files.path(), name, name.toUtf8());
            const RawReply up = curl({"-F", "file=@" + file, "--form-string", "password=right",
                                      server.url() + "/api/upload.php"});
            return server.url() + "/f/" + jsonOf(up.body).value("id").toString();
        };
        const QString page = upload("guarded.txt");
        QList<int> statuses;
        RawReply last;
        for (int i = 0; i < 7; ++i)
            statuses << (last = guess(1, page)).status;
        QCOMPARE(statuses, (QList<int>{403, 403, 403, 403, 403, 429, 429}));
        const int retryAfter = last.header("Retry-After").toInt();
        QVERIFY2(retryAfter >= 1 && retryAfter <= 10, last.headers.constData());
        // Throttled means not checked at all, even the right password; another upload does not
        // help that address, while another address (the owner) may still try.
        QCOMPARE(guess(1, page, "right").status, 429);
        QCOMPARE(guess(1, upload("other.txt")).status, 429);
        QCOMPARE(guess(2, page, "right").status, 303);
        int address = 3;
        while (address < 60 && guess(address, page).status == 403)
            ++address;
        QVERIFY2(address > 10 && address < 60, qPrintable(QString::number(address)));
    }

    // What the run above cannot reach: the refill after the wait, an IPv6 client counted by its
    // /64, and stored hashes (salted; a damaged one opens nothing).
    void throttleRefillAndStoredHashes()
    {
        GuessThrottle throttle;
        const auto t0 = GuessThrottle::Clock::now();
        for (int i = 0; i < 5; ++i)
            QCOMPARE(throttle.take("2001:db8:1:2:aaaa::1", "a", t0), 0);
        const int wait = throttle.take("2001:db8:1:2:bbbb::9", "a", t0);
        QCOMPARE(wait, 10);
        const auto later = t0 + std::chrono::seconds(wait);
        QCOMPARE(throttle.take("2001:db8:1:2:aaaa::1", "a", later), 0);
        QVERIFY(throttle.take("2001:db8:1:2:aaaa::1", "a", later) > 0);

        const std::string stored = PasswordHash::create("秘密 pass", 1000);
        QVERIFY(stored != PasswordHash::create("秘密 pass", 1000) && stored.find("秘密") == std::string::npos);
        QVERIFY(PasswordHash::verify("秘密 pass", stored) && !PasswordHash::verify("秘密 pass ", stored));
        for (const char *broken : {"", "pbkdf2-sha256$1000$abc", "md5$1$a$b", "pbkdf2-sha256$0$abc$def"})
            QVERIFY(!PasswordHash::verify("", broken));
    }

    void sigtermLetsUploadsInProgressFinish()
    {
        ServerProcess server;
        started(server);
        const QByteArray request = uploadRequest(multipart({{"late.txt", QByteArray(5000, 'L')}}));
        RawConnection upload;
        QVERIFY(upload.connectTo(server.port()));
        QVERIFY(upload.send(request.left(2000)));
        QTRY_COMPARE_WITH_TIMEOUT(entries(server.dataDir() + "/incoming").size(), 1, 5000);
        // Clients that never finish their headers must not hold the exit up.
        RawConnection dripping[3];
        for (auto &connection : dripping)
            QVERIFY(connection.connectTo(server.port()) && connection.send("GET / HTTP/1.1\r\nHo"));
        server.terminate();
        // No new connections are taken once it is stopping.
        QTRY_VERIFY_WITH_TIMEOUT(!RawConnection().connectTo(server.port(), 500), 3000);
        QVERIFY(upload.send(request.mid(2000)));
        const RawReply reply = RawReply::parse(upload.readUntilClosed(5000));
        QCOMPARE(reply.status, 200);
        QCOMPARE(server.waitForExit(5000), 0);
        const QString id = jsonOf(reply.body).value("id").toString();
        QCOMPARE(QFileInfo(server.dataDir() + "/uploads/" + id + "/0").size(), 5000);
        for (auto &connection : dripping)
            QVERIFY(connection.closedByPeer());
    }

    // Bad command lines exit with 2 and the usage, a busy port with 1.
    void badCommandLinesAndBusyPortAreErrors()
    {
        const QString busy = "127.0.0.1:" + QString::number(m_server.port());
        const QList<QPair<QStringList, int>> rows = {
            {{"--verbose"}, 2}, {{"serve"}, 2}, {{"--listen", "localhost"}, 2}, {{"--listen", "::1:9000"}, 2},
            {{"--listen", "h:70000"}, 2}, {{"--listen", "h:"}, 2}, {{"--expire-days", "7d"}, 2},
            {{"--max-bytes", "1e9"}, 2}, {{"--key", "k.pem"}, 2}, {{"--cert", "c.pem"}, 2},
            {{"--listen", busy, "--data", m_files.filePath("second")}, 1}};
        for (const auto &[args, exitCode] : rows) {
            QProcess process;
            process.start(ServerProcess::binary(), args);
            QVERIFY(process.waitForFinished(5000));
            const QString err = QString::fromUtf8(process.readAllStandardError());
            QVERIFY2(process.exitCode() == exitCode && process.readAllStandardOutput().isEmpty() &&
                         err.contains(exitCode == 2 ? "Usage" : "cannot listen"),
                     qPrintable(args.join(' ') + ": " + err));
        }
    }

    void servesHttpsWithCertificateAndKey()
    {
        const auto certificate = TestFiles::selfSignedCertificate(m_files.path());
        QVERIFY(certificate);
        const auto &[cert, key] = *certificate;
        ServerProcess server({"--cert", cert, "--key", key});
        started(server);
        QVERIFY2(server.url().startsWith("https://127.0.0.1:"), qPrintable(server.url()));
        const RawReply up = curl({"--cacert", cert, "-F", "file=@" + cert, server.url() + "/api/upload.php"});
        const QString shareUrl = jsonOf(up.body).value("url").toString();
        QVERIFY(shareUrl.startsWith(server.url() + "/f/"));
        QCOMPARE(curl({"--cacert", cert, shareUrl}).status, 200);
        // Plain HTTP to the TLS port gets no page.
        QVERIFY(curl({QString(shareUrl).replace("https:", "http:")}).status != 200);
    }
};

QTEST_GUILESS_MAIN(UploadServerTest)
#include "tst_UploadServer.moc"
