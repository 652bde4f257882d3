// The request parsers and the guess throttle, fed directly (no network).
#include "GuessThrottle.h"
#include "MultipartReader.h"
#include "RangeRequest.h"
#include "RequestFields.h"
#include "RequestFraming.h"
#include "TextEncoding.h"

#include <QtTest>

namespace {

using Headers = std::vector<std::pair<std::string, std::string>>;

// What a reader produced: "part(name|file|type)" and data joined per part.
struct Transcript
{
    std::vector<std::string> events;
    bool ok = true;
    bool complete = false;
};

Transcript readInPieces(const std::string &body, const std::vector<std::size_t> &cuts,
                        const std::string &boundary = "B0undary")
{
    Transcript t;
    MultipartReader reader(
        boundary,
        [&](const MultipartReader::PartHeader &h) {
            t.events.push_back("part(" + h.name + "|" + (h.hasFileName ? h.fileName : "-") + "|" +
                               h.contentType + ")");
            t.events.emplace_back();
            return true;
        },
        [&](std::string_view bytes) {
            t.events.back().append(bytes);
            return true;
        });
    std::size_t at = 0;
    for (const std::size_t cut : cuts) {
        t.ok = reader.feed(std::string_view(body).substr(at, cut - at)) && t.ok;
        at = cut;
    }
    t.ok = reader.feed(std::string_view(body).substr(at)) && t.ok;
    t.complete = reader.isComplete();
    return t;
}

const std::string sampleBody =
    "preamble to ignore\r\n"
    "--B0undary\r\n"
    "Content-Disposition: form-data; name=\"file\"; filename=\"a;b \\\"q\\\".txt\"\r\n"
    "Content-Type: text/plain\r\n\r\n"
    "line one\r\n--B0undar not yet\r\n\r\n"
    "\r\n--B0undary  \r\n"
    "content-disposition: form-data; name=password\r\n\r\n"
    "pw\r\n"
    "--B0undary\r\n"
    "Content-Disposition: form-data; name=\"files[]\"; filename=\"\"\r\n\r\n"
    "\r\n--B0undary--\r\nepilogue --B0undary\r\n";

const std::vector<std::string> sampleEvents = {
    "part(file|a;b \"q\".txt|text/plain)", "line one\r\n--B0undar not yet\r\n\r\n",
    "part(password|-|)", "pw", "part(files[]||)", ""};

} // namespace

class RequestParsersTest : public QObject
{
    Q_OBJECT

private slots:
    void multipartSurvivesEverySplit()
    {
        const Transcript whole = readInPieces(sampleBody, {});
        QVERIFY(whole.ok && whole.complete);
        QCOMPARE(whole.events, sampleEvents);
        // Every single cut, then every pair of cuts: networks split anywhere.
        for (std::size_t i = 0; i <= sampleBody.size(); ++i) {
            const Transcript t = readInPieces(sampleBody, {i});
            QVERIFY2(t.ok && t.complete && t.events == sampleEvents, qPrintable(QString::number(i)));
        }
        for (std::size_t i = 0; i <= sampleBody.size(); i += 3) {
            for (std::size_t j = i; j <= sampleBody.size(); ++j) {
                const Transcript t = readInPieces(sampleBody, {i, j});
                QVERIFY2(t.ok && t.complete && t.events == sampleEvents,
                         qPrintable(QString("%1,%2").arg(i).arg(j)));
            }
        }
        std::vector<std::size_t> everyByte;
        for (std::size_t i = 1; i < sampleBody.size(); ++i) {
            everyByte.push_back(i);
        }
        QCOMPARE(readInPieces(sampleBody, everyByte).events, sampleEvents);
    }

    void malformedMultipartFails_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("complete");
        QTest::addColumn<bool>("ok");
        const QByteArray part = "--B0undary\r\nContent-Disposition: form-data; name=\"f\"\r\n\r\nx";
        QTest::newRow("no closing delimiter") << part + "\r\n" << false << true;
        QTest::newRow("no delimiter at all") << QByteArray("just text") << false << true;
        QTest::newRow("not form-data")
            << QByteArray("--B0undary\r\nContent-Disposition: attachment\r\n\r\nx\r\n--B0undary--")
            << false << false;
        QTest::newRow("no name")
            << QByteArray("--B0undary\r\nContent-Disposition: form-data\r\n\r\nx\r\n--B0undary--")
            << false << false;
        QTest::newRow("no part headers") << QByteArray("--B0undary\r\n\r\nx\r\n--B0undary--")
                                         << false << false;
        QTest::newRow("header line without colon")
            << QByteArray("--B0undary\r\nContent-Disposition: form-data; name=a\r\nbad\r\n\r\nx")
            << false << false;
        QTest::newRow("text after delimiter") << part + "\r\n--B0undaryX\r\n" << false << false;
        QTest::newRow("endless part headers")
            << "--B0undary\r\nX: " + QByteArray(MultipartReader::maxPartHeaderBytes + 10, 'h')
            << false << false;
        QTest::newRow("closed") << part + "\r\n--B0undary--" << true << true;
    }
    void malformedMultipartFails()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, complete);
        QFETCH(bool, ok);
        const Transcript t = readInPieces(body.toStdString(), {});
        QCOMPARE(t.complete, complete);
        QCOMPARE(t.ok, ok);
    }

    void boundaryComesFromTheContentType_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("boundary");
        QTest::newRow("plain") << "multipart/form-data; boundary=abc" << "abc";
        QTest::newRow("quoted, other case") << "Multipart/Form-Data; charset=x; BOUNDARY=\"a b;c\""
                                            << "a b;c";
        QTest::newRow("missing") << "multipart/form-data" << QString();
        QTest::newRow("empty") << "multipart/form-data; boundary=" << QString();
        QTest::newRow("too long") << "multipart/form-data; boundary=" + QString(71, 'x')
                                  << QString();
        QTest::newRow("other type") << "multipart/mixed; boundary=abc" << QString();
    }
    void boundaryComesFromTheContentType()
    {
        QFETCH(QString, type);
        QFETCH(QString, boundary);
        const auto found = MultipartReader::boundaryOf(type.toStdString());
        QCOMPARE(found.has_value(), !boundary.isNull());
        if (found) {
            QCOMPARE(QString::fromStdString(*found), boundary);
        }
    }

    void partFileNamesKeepTheirBytes_data()
    {
        QTest::addColumn<QString>("disposition");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("spaces inside quotes")
            << "form-data; name=\"f\"; filename=\"  a b  \" " << "  a b  ";
        QTest::newRow("trailing backslash, browser style")
            << "form-data; name=\"f\"; filename=\"dir\\\"" << "dir\\";
        QTest::newRow("escaped quote")
            << "form-data; name=\"f\"; filename=\"a\\\"b\"" << "a\"b";
    }
    void partFileNamesKeepTheirBytes()
    {
        QFETCH(QString, disposition);
        QFETCH(QString, fileName);
        const auto header = MultipartReader::parsePartHeader(
            "Content-Disposition: " + disposition.toStdString());
        QVERIFY(header.has_value());
        QCOMPARE(QString::fromStdString(header->fileName), fileName);
    }

    void rangesFollowRfc9110_data()
    {
        QTest::addColumn<QString>("header");
        QTest::addColumn<qulonglong>("size");
        QTest::addColumn<int>("kind");
        QTest::addColumn<qulonglong>("first");
        QTest::addColumn<qulonglong>("last");
        const int whole = int(RangeRequest::Kind::Whole);
        const int part = int(RangeRequest::Kind::Partial);
        const int none = int(RangeRequest::Kind::Unsatisfiable);
        QTest::newRow("absent") << "" << 10ULL << whole << 0ULL << 0ULL;
        QTest::newRow("closed") << "bytes=2-5" << 10ULL << part << 2ULL << 5ULL;
        QTest::newRow("open end") << "bytes=7-" << 10ULL << part << 7ULL << 9ULL;
        QTest::newRow("last beyond end") << "bytes=7-100" << 10ULL << part << 7ULL << 9ULL;
        QTest::newRow("suffix") << "bytes=-3" << 10ULL << part << 7ULL << 9ULL;
        QTest::newRow("suffix over size") << "bytes=-30" << 10ULL << part << 0ULL << 9ULL;
        QTest::newRow("unit case, spaces") << "Bytes= 1-1 " << 10ULL << part << 1ULL << 1ULL;
        QTest::newRow("overlapping merge") << "bytes=0-3,2-6" << 10ULL << part << 0ULL << 6ULL;
        QTest::newRow("adjacent merge") << "bytes=4-5,0-3" << 10ULL << part << 0ULL << 5ULL;
        QTest::newRow("two apart: whole file") << "bytes=0-1,5-6" << 10ULL << whole << 0ULL << 0ULL;
        QTest::newRow("start past end") << "bytes=10-" << 10ULL << none << 0ULL << 0ULL;
        QTest::newRow("zero suffix") << "bytes=-0" << 10ULL << none << 0ULL << 0ULL;
        QTest::newRow("empty file") << "bytes=0-" << 0ULL << none << 0ULL << 0ULL;
        QTest::newRow("one bad of two") << "bytes=20-30,1-2" << 10ULL << part << 1ULL << 2ULL;
        QTest::newRow("reversed: ignored") << "bytes=5-2" << 10ULL << whole << 0ULL << 0ULL;
        QTest::newRow("not bytes") << "items=0-1" << 10ULL << whole << 0ULL << 0ULL;
        QTest::newRow("garbage") << "bytes=a-b" << 10ULL << whole << 0ULL << 0ULL;
        QTest::newRow("huge numbers") << "bytes=99999999999999999999999-" << 10ULL << none << 0ULL
                                      << 0ULL;
        QTest::newRow("too many ranges") << "bytes=" + QString("0-0,").repeated(70) + "0-0"
                                         << 10ULL << whole << 0ULL << 0ULL;
    }
    void rangesFollowRfc9110()
    {
        QFETCH(QString, header);
        QFETCH(qulonglong, size);
        QFETCH(int, kind);
        QFETCH(qulonglong, first);
        QFETCH(qulonglong, last);
        const auto range = RangeRequest::parse(header.toStdString(), size);
        QCOMPARE(int(range.kind), kind);
        if (range.kind == RangeRequest::Kind::Partial) {
            QCOMPARE(qulonglong(range.first), first);
            QCOMPARE(qulonglong(range.last), last);
        }
    }

    void framingIsStrict_data()
    {
        QTest::addColumn<QStringList>("headers"); // name, value, name, value, ...
        QTest::addColumn<int>("body");
        QTest::addColumn<int>("refusal");
        const int none = int(RequestFraming::Body::None);
        const int length = int(RequestFraming::Body::Length);
        const int chunked = int(RequestFraming::Body::Chunked);
        QTest::newRow("nothing") << QStringList{"Host", "x"} << none << 0;
        QTest::newRow("length") << QStringList{"content-length", "12"} << length << 0;
        QTest::newRow("same length twice")
            << QStringList{"Content-Length", "12", "Content-Length", "12, 12"} << length << 0;
        QTest::newRow("two lengths")
            << QStringList{"Content-Length", "12", "Content-Length", "13"} << none << 400;
        QTest::newRow("list of lengths") << QStringList{"Content-Length", "1, 2"} << none << 400;
        QTest::newRow("signed length") << QStringList{"Content-Length", "+5"} << none << 400;
        QTest::newRow("empty length") << QStringList{"Content-Length", ""} << none << 400;
        QTest::newRow("chunked") << QStringList{"Transfer-Encoding", "Chunked"} << chunked << 0;
        QTest::newRow("chunked and length")
            << QStringList{"Transfer-Encoding", "chunked", "Content-Length", "3"} << none << 400;
        QTest::newRow("unknown coding") << QStringList{"Transfer-Encoding", "gzip"} << none << 501;
        QTest::newRow("coding before chunked")
            << QStringList{"Transfer-Encoding", "gzip, chunked"} << none << 501;
        QTest::newRow("coding list of commas")
            << QStringList{"Transfer-Encoding", " , ", "Content-Length", "0"} << none << 400;
        QTest::newRow("chunked twice")
            << QStringList{"Transfer-Encoding", "chunked", "Transfer-Encoding", "chunked"} << none
            << 501;
    }
    void framingIsStrict()
    {
        QFETCH(QStringList, headers);
        QFETCH(int, body);
        QFETCH(int, refusal);
        Headers list;
        for (int i = 0; i + 1 < headers.size(); i += 2) {
            list.emplace_back(headers[i].toStdString(), headers[i + 1].toStdString());
        }
        const auto framing = RequestFraming::of(list);
        QCOMPARE(framing.refusal, refusal);
        if (refusal == 0) {
            QCOMPARE(int(framing.body), body);
        }
    }

    void cookiesAndFormFieldsAreFound()
    {
        const std::vector<std::string> cookies = {"a=1; pelkin_x=first", "  pelkin_y = two ;z"};
        QCOMPARE(RequestFields::cookieValue(cookies, "pelkin_x"), std::string("first"));
        QCOMPARE(RequestFields::cookieValue(cookies, "pelkin_y"), std::string("two"));
        QCOMPARE(RequestFields::cookieValue(cookies, "pelkin"), std::string());
        QCOMPARE(RequestFields::cookieValue({}, "a"), std::string());
        QCOMPARE(RequestFields::formField("x=1&password=p%C3%A4ss+w%26rd&y", "password"),
                 std::string("päss w&rd"));
        QCOMPARE(RequestFields::formField("pass%77ord=ok", "password"), std::string("ok"));
        QCOMPARE(RequestFields::formField("passwordx=1", "password"), std::string());
    }

    void bidiControlsAreShownEscaped()
    {
        // U+202E RIGHT-TO-LEFT OVERRIDE, U+2067 RLI, U+200F RLM; U+2010 is an ordinary hyphen.
        QCOMPARE(TextEncoding::htmlEscape("a\u202Etxt.exe\u2067\u200F\u2010"),
                 std::string("a%E2%80%AEtxt.exe%E2%81%A7%E2%80%8F\u2010"));
    }

    void guessesAreThrottledPerAddressAndUpload()
    {
        GuessThrottle throttle;
        const auto t0 = GuessThrottle::Clock::now();
        const int burst = int(GuessThrottle::perAddress.burst);
        for (int i = 0; i < burst; ++i) {
            QCOMPARE(throttle.take("192.0.2.1", "upload-a", t0), 0);
        }
        const int wait = throttle.take("192.0.2.1", "upload-a", t0);
        QCOMPARE(wait, int(GuessThrottle::perAddress.secondsPerGuess));
        // Another upload does not help the same address ...
        QVERIFY(throttle.take("192.0.2.1", "upload-b", t0) > 0);
        // ... but another address may still try (the owner is not locked out).
        QCOMPARE(throttle.take("192.0.2.2", "upload-a", t0), 0);
        // After the wait the address has one guess again.
        const auto later = t0 + std::chrono::seconds(wait);
        QCOMPARE(throttle.take("192.0.2.1", "upload-a", later), 0);
        QVERIFY(throttle.take("192.0.2.1", "upload-a", later) > 0);

        // Many addresses against one upload meet the upload's bucket.
        GuessThrottle shared;
        int allowed = 0;
        int lastWait = 0;
        for (int i = 0; i < 100; ++i) {
            lastWait = shared.take("198.51.100." + std::to_string(i), "target", t0);
            allowed += lastWait == 0;
        }
        QCOMPARE(allowed, int(GuessThrottle::perUpload.burst));
        QVERIFY(lastWait > 0 && lastWait <= int(GuessThrottle::perUpload.secondsPerGuess));
        QCOMPARE(GuessThrottle::addressKey("2001:db8:1:2:aaaa::1"),
                 GuessThrottle::addressKey("2001:db8:1:2:bbbb::9"));
    }
};

QTEST_APPLESS_MAIN(RequestParsersTest)
#include "tst_RequestParsers.moc"
