// The service's pure pieces fed directly, no network: the multipart reader split at every offset,
// password hashes and the guess throttle with its own clock. Ranges, framing, text escaping and
// the command line are judged end to end in tst_UploadServer.
#include "GuessThrottle.h"
#include "MultipartReader.h"
#include "PasswordHash.h"

#include <QtTest>

namespace {

// What a reader produced: "part(name|file|type)", then that part's data.
struct Transcript
{
    std::vector<std::string> events;
    bool ok = true;
    bool complete = false;
};

Transcript readInPieces(const std::string &body, const std::vector<std::size_t> &cuts)
{
    Transcript t;
    MultipartReader reader(
        "B0undary",
        [&](const MultipartReader::PartHeader &h) {
            t.events.push_back("part(" + h.name + "|" + (h.hasFileName ? h.fileName : "-") + "|" +
                               h.contentType + ")");
            t.events.emplace_back();
            return true;
        },
        [&](std::string_view bytes) { return t.events.back().append(bytes), true; });
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
    "preamble to ignore\r\n--B0undary\r\n"
    "Content-Disposition: form-data; name=\"file\"; filename=\"a;b \\\"q\\\".txt\"\r\n"
    "Content-Type: text/plain\r\n\r\nline one\r\n--B0undar not yet\r\n\r\n\r\n--B0undary  \r\n"
    "content-disposition: form-data; name=password\r\n\r\npw\r\n--B0undary\r\n"
    "Content-Disposition: form-data; name=\"files[]\"; filename=\"\"\r\n\r\n"
    "\r\n--B0undary--\r\nepilogue --B0undary\r\n";

const std::vector<std::string> sampleEvents = {
    "part(file|a;b \"q\".txt|text/plain)", "line one\r\n--B0undar not yet\r\n\r\n",
    "part(password|-|)", "pw", "part(files[]||)", ""};

} // namespace

class ServerPartsTest : public QObject
{
    Q_OBJECT

private slots:
    void multipartSurvivesEverySplit()
    {
        // Every single cut, then every pair of cuts: networks split anywhere.
        for (std::size_t i = 0; i <= sampleBody.size(); ++i) {
            for (std::size_t j = i; j <= sampleBody.size(); j += (i % 3 == 0 ? 1 : sampleBody.size())) {
                const Transcript t = readInPieces(sampleBody, {i, j});
                QVERIFY2(t.ok && t.complete && t.events == sampleEvents,
                         qPrintable(QString("%1,%2").arg(i).arg(j)));
            }
        }
        std::vector<std::size_t> everyByte;
        for (std::size_t i = 1; i < sampleBody.size(); ++i)
            everyByte.push_back(i);
        QCOMPARE(readInPieces(sampleBody, everyByte).events, sampleEvents);
    }

    void malformedMultipartFails()
    {
        const std::string part = "--B0undary\r\nContent-Disposition: form-data; name=\"f\"\r\n\r\nx";
        const std::string endless = "--B0undary\r\nX: " + std::string(MultipartReader::maxPartHeaderBytes + 10, 'h');
        // body, complete, ok
        for (const auto &[body, complete, ok] : std::vector<std::tuple<std::string, bool, bool>>{
                 {part + "\r\n", false, true}, // no closing delimiter
                 {"just text", false, true},
                 {"--B0undary\r\nContent-Disposition: attachment\r\n\r\nx\r\n--B0undary--", false, false},
                 {"--B0undary\r\nContent-Disposition: form-data\r\n\r\nx\r\n--B0undary--", false, false},
                 {"--B0undary\r\n\r\nx\r\n--B0undary--", false, false}, // no part headers
                 {"--B0undary\r\nContent-Disposition: form-data; name=a\r\nbad\r\n\r\nx", false, false},
                 {part + "\r\n--B0undaryX\r\n", false, false}, // text after the delimiter
                 {endless, false, false},
                 {part + "\r\n--B0undary--", true, true}}) {
            const Transcript t = readInPieces(body, {});
            QVERIFY2(t.complete == complete && t.ok == ok, body.substr(0, 80).c_str());
        }
    }

    void boundariesAndFileNames()
    {
        const auto boundary = [](const std::string &type) {
            return MultipartReader::boundaryOf(type).value_or("<none>");
        };
        QCOMPARE(boundary("Multipart/Form-Data; charset=x; BOUNDARY=\"a b;c\""), "a b;c");
        QCOMPARE(boundary("multipart/form-data"), "<none>");
        QCOMPARE(boundary("multipart/form-data; boundary="), "<none>");
        QCOMPARE(boundary("multipart/form-data; boundary=" + std::string(71, 'x')), "<none>");
        QCOMPARE(boundary("multipart/mixed; boundary=abc"), "<none>");
        const auto fileName = [](const std::string &value) {
            const auto h = MultipartReader::parsePartHeader(
                "Content-Disposition: form-data; name=\"f\"; filename=" + value);
            return h ? h->fileName : "<none>";
        };
        QCOMPARE(fileName("\"  a b  \" "), "  a b  ");
        QCOMPARE(fileName("\"dir\\\""), "dir\\"); // a trailing backslash, as browsers send it
        QCOMPARE(fileName("\"a\\\"b\""), "a\"b");
    }

    void passwordHashesAreSaltedAndStrict()
    {
        const std::string first = PasswordHash::create("秘密 pass", 1000);
        const std::string second = PasswordHash::create("秘密 pass", 1000);
        QVERIFY(first != second && first.find("秘密") == std::string::npos);
        QVERIFY(PasswordHash::verify("秘密 pass", first) && PasswordHash::verify("秘密 pass", second));
        QVERIFY(!PasswordHash::verify("秘密 pass ", first) && !PasswordHash::verify("", first));
        for (const char *broken : {"", "pbkdf2-sha256$1000$abc", "md5$1$a$b",
                                   "pbkdf2-sha256$0$abc$def", "pbkdf2-sha256$x$abc$def"})
            QVERIFY(!PasswordHash::verify("", broken));
    }

    // The service's own test shows an address running out of guesses; here the finer rules.
    void guessesAreThrottledPerAddressAndUpload()
    {
        GuessThrottle throttle;
        const auto t0 = GuessThrottle::Clock::now();
        int wait = 0;
        while ((wait = throttle.take("192.0.2.1", "upload-a", t0)) == 0) {
        }
        // Another upload does not help the same address, but another address may still try
        // (the owner is not locked out); after the wait the address has one guess again.
        QVERIFY(throttle.take("192.0.2.1", "upload-b", t0) > 0);
        QCOMPARE(throttle.take("192.0.2.2", "upload-a", t0), 0);
        const auto later = t0 + std::chrono::seconds(wait);
        QCOMPARE(throttle.take("192.0.2.1", "upload-a", later), 0);
        QVERIFY(throttle.take("192.0.2.1", "upload-a", later) > 0);
        // Many addresses against one upload meet the upload's bucket; one IPv6 /64 is one address.
        GuessThrottle shared;
        int allowed = 0;
        for (int i = 0; i < 100; ++i)
            allowed += shared.take("198.51.100." + std::to_string(i), "target", t0) == 0;
        QCOMPARE(allowed, int(GuessThrottle::perUpload.burst));
        QCOMPARE(GuessThrottle::addressKey("2001:db8:1:2:aaaa::1"),
                 GuessThrottle::addressKey("2001:db8:1:2:bbbb::9"));
    }
};

QTEST_APPLESS_MAIN(ServerPartsTest)
#include "tst_ServerParts.moc"
