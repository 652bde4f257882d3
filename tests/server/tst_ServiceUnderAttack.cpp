// The upload service against slow, silent and flooding clients, all from this
// one process on 127.0.0.1: idle sockets cost almost nothing here, so the test
// stays light on a loaded machine. Figures are printed for the server README.
#include "RawConnection.h"
#include "ServerProcess.h"

#include <QRegularExpression>
#include <QtTest>

#include <sys/resource.h>

#include <memory>
#include <vector>

namespace {

const QByteArray indexPage = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
using Connections = std::vector<std::unique_ptr<RawConnection>>;

// The service's --timeout here: the headers deadline and the body rate window
// follow it, so the test sees them act within seconds.
constexpr int timeoutSeconds = 8;

qint64 statusField(qint64 pid, const char *field)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    const auto match = QRegularExpression(QString(field) + ":\\s+(\\d+) kB")
                           .match(status.open(QIODevice::ReadOnly) ? status.readAll() : "");
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

QByteArray uploadRequest(const QByteArray &content)
{
    const QByteArray body = "--B0undary\r\nContent-Disposition: form-data; name=\"file\"; "
                            "filename=\"normal.bin\"\r\n\r\n" +
                            content + "\r\n--B0undary--\r\n";
    return "POST /api/upload.php HTTP/1.1\r\nHost: 127.0.0.1\r\n"
           "Content-Type: multipart/form-data; boundary=B0undary\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// One whole request on a fresh connection; the status, and the time in ms.
QPair<int, qint64> timedRequest(quint16 port, const QByteArray &request)
{
    QElapsedTimer clock;
    clock.start();
    RawConnection connection;
    const bool sent = connection.connectTo(port, 5000) && connection.send(request);
    return {sent ? RawReply::parse(connection.readUntilClosed(10000)).status : 0, clock.elapsed()};
}

int openCount(Connections &connections)
{
    int open = 0;
    for (auto &connection : connections)
        open += connection->closedByPeer() ? 0 : 1;
    return open;
}

bool openAll(Connections &connections, int count, quint16 port, const QByteArray &first)
{
    for (int i = 0; i < count; ++i) {
        auto connection = std::make_unique<RawConnection>();
        if (!connection->connectTo(port) || (!first.isEmpty() && !connection->send(first)))
            return false;
        connections.push_back(std::move(connection));
    }
    return true;
}

} // namespace

class ServiceUnderAttackTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // A thousand sockets here and as many in the service.
        rlimit limit{};
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &limit) == 0);
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        QVERIFY2(limit.rlim_cur >= 2200, "the descriptor limit is too low for this test");
    }

    void normalRequestsAreServedWhileSlowClientsHang()
    {
        ServerProcess server({"--timeout", QString::number(timeoutSeconds)});
        QVERIFY(server.start());
        const quint16 port = server.port();
        Connections silent, slowHeaders, slowBodies;
        QVERIFY(openAll(silent, 200, port, {}));
        QVERIFY(openAll(slowHeaders, 200, port, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Drip: "));
        QVERIFY(openAll(slowBodies, 100, port,
                        "POST /api/upload.php HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                        "Content-Type: multipart/form-data; boundary=B0undary\r\n"
                        "Content-Length: 100000\r\n\r\n--B0undary\r\nContent-Disposition: "
                        "form-data; name=\"file\"; filename=\"drip\"\r\n\r\n"));
        QElapsedTimer clock;
        clock.start();
        qint64 worstUpload = 0, worstPage = 0;
        int held = 0;
        // Drip one byte a second on every slow connection; every two seconds,
        // while all are still held, time a normal upload and the index page.
        for (int second = 1; second < timeoutSeconds - 1; ++second) {
            QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() >= second * 1000, 2000);
            for (auto &connection : slowHeaders)
                connection->send("x");
            for (auto &connection : slowBodies)
                connection->send("y");
            if (second % 2 == 0) {
                const auto upload = timedRequest(port, uploadRequest(QByteArray(20000, 'n')));
                const auto page = timedRequest(port, indexPage);
                QCOMPARE(upload.first, 200);
                QCOMPARE(page.first, 200);
                worstUpload = qMax(worstUpload, upload.second);
                worstPage = qMax(worstPage, page.second);
                held = openCount(silent) + openCount(slowHeaders) + openCount(slowBodies);
                QCOMPARE(held, 500);
            }
        }
        qInfo("held %d slow/silent connections; worst upload %lld ms, worst GET / %lld ms", held,
              worstUpload, worstPage);
        QVERIFY2(worstUpload < 1000, qPrintable(QString::number(worstUpload)));
        QVERIFY2(worstPage < 1000, qPrintable(QString::number(worstPage)));

        // Headers have a total deadline (and silence an idle one), however
        // steadily they drip; so has a body that comes too slowly.
        QTRY_COMPARE_WITH_TIMEOUT(openCount(silent), 0, 4000);
        QTRY_COMPARE_WITH_TIMEOUT(openCount(slowHeaders), 0, 4000);
        qInfo("headers deadline: all closed after %lld ms", clock.elapsed());
        QTRY_COMPARE_WITH_TIMEOUT(openCount(slowBodies), 0, (timeoutSeconds + 4) * 1000);
        qInfo("slow bodies: all closed after %lld ms", clock.elapsed());
        QTRY_COMPARE_WITH_TIMEOUT(
            QDir(server.dataDir() + "/incoming").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            QStringList(), 5000);
        QCOMPARE(server.stop(), 0);
    }

    void thousandConnectionsAndHeaderFloodsStayWithinMemory()
    {
        ServerProcess server;
        QVERIFY(server.start());
        const quint16 port = server.port();
        const qint64 before = statusField(server.pid(), "VmRSS");

        // Eight requests of 20,000 headers each: refused once the per-connection
        // memory is full, never buffered whole.
        Connections floods;
        QByteArray headers;
        for (int i = 0; i < 20000; ++i)
            headers += "X-Flood-" + QByteArray::number(i) + ": value\r\n";
        for (int i = 0; i < 8; ++i) {
            auto connection = std::make_unique<RawConnection>();
            QVERIFY(connection->connectTo(port));
            connection->send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n", 3000);
            floods.push_back(std::move(connection));
        }
        for (auto &connection : floods)
            QCOMPARE(RawReply::parse(connection->readUntilClosed(5000)).status, 431);

        // A thousand open connections, each with nearly-full headers or an
        // upload under way.
        Connections open;
        const QByteArray padding(30000, 'p');
        QVERIFY(openAll(open, 700, port, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: " + padding));
        QVERIFY(openAll(open, 300, port,
                        "POST /api/upload.php HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                        "Content-Type: multipart/form-data; boundary=B0undary\r\n"
                        "Content-Length: 1000000\r\n\r\n--B0undary\r\nContent-Disposition: "
                        "form-data; name=\"file\"; filename=\"half\"\r\n\r\n" +
                            QByteArray(60000, 'h')));
        // Three hundred uploads starting at once cost the service some file
        // system work; once it has taken them in, normal requests are quick.
        QElapsedTimer settle;
        settle.start();
        auto page = timedRequest(port, indexPage);
        const qint64 duringBurst = page.second;
        while (page.second >= 1000 && settle.elapsed() < 10000)
            page = timedRequest(port, indexPage);
        QCOMPARE(openCount(open), 1000);
        qint64 worst = 0;
        for (int i = 0; i < 3; ++i) {
            page = timedRequest(port, indexPage);
            QCOMPARE(page.first, 200);
            worst = qMax(worst, page.second);
        }
        const auto upload = timedRequest(port, uploadRequest(QByteArray(20000, 'n')));
        QCOMPARE(upload.first, 200);
        const qint64 rss = statusField(server.pid(), "VmRSS");
        const qint64 peak = statusField(server.pid(), "VmHWM");
        qInfo("RSS %lld kB before, %lld kB with 1000 open connections (peak %lld kB); "
              "GET / %lld ms during the burst, then at worst %lld ms; upload %lld ms",
              before, rss, peak, duringBurst, worst, upload.second);
        QVERIFY2(worst < 1000, qPrintable(QString::number(worst)));
        QVERIFY2(upload.second < 1000, qPrintable(QString::number(upload.second)));
        QVERIFY2(peak < 128 * 1024, qPrintable(QString::number(peak)));
        open.clear();
        QCOMPARE(server.stop(), 0);
    }
};

QTEST_GUILESS_MAIN(ServiceUnderAttackTest)
#include "tst_ServiceUnderAttack.moc"
