// The upload service against slow, silent and flooding clients, all from this one process on
// 127.0.0.1: idle sockets cost almost nothing here, so the test stays light on a loaded machine.
#include "RawConnection.h"
#include "ServerProcess.h"

#include <QtTest>

#include <sys/resource.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

const QByteArray indexPage = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
const QByteArray normalUpload = uploadRequest(multipart({{"normal.bin", QByteArray(20000, 'n')}}));
using Connections = std::vector<std::unique_ptr<RawConnection>>;

// The service's --timeout here: the headers deadline and the body rate window follow it, so the
// test sees them act within seconds.
constexpr int timeoutSeconds = 8;

// One whole request on a fresh connection: it must answer 200 within a second.
bool answersQuickly(quint16 port, const QByteArray &request)
{
    QElapsedTimer clock;
    clock.start();
    RawConnection connection;
    const bool sent = connection.connectTo(port, 5000) && connection.send(request);
    const int status = sent ? RawReply::parse(connection.readUntilClosed(10000)).status : 0;
    if (status != 200 || clock.elapsed() >= 1000)
        qWarning("status %d after %lld ms", status, clock.elapsed());
    return status == 200 && clock.elapsed() < 1000;
}

int openCount(Connections &connections)
{
    return int(std::count_if(connections.begin(), connections.end(),
                             [](auto &connection) { return !connection->closedByPeer(); }));
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
                        uploadRequest("Content-Length: 100000\r\n", "--B0undary\r\nContent-Disposition: "
                                      "form-data; name=\"file\"; filename=\"drip\"\r\n\r\n")));
        QElapsedTimer clock;
        clock.start();
        // Drip one byte a second on every slow connection; every two seconds, while all are
        // still held, a normal upload and the index page must each take less than a second.
        for (int second = 1; second < timeoutSeconds - 1; ++second) {
            QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() >= second * 1000, 2000);
            for (auto &connection : slowHeaders)
                connection->send("x");
            for (auto &connection : slowBodies)
                connection->send("y");
            if (second % 2 == 0) {
                QVERIFY(answersQuickly(port, normalUpload));
                QVERIFY(answersQuickly(port, indexPage));
                QCOMPARE(openCount(silent) + openCount(slowHeaders) + openCount(slowBodies), 500);
            }
        }
        // Headers have a total deadline (and silence an idle one), however steadily they drip;
        // so has a body that comes too slowly.
        QTRY_COMPARE_WITH_TIMEOUT(openCount(silent), 0, 4000);
        QTRY_COMPARE_WITH_TIMEOUT(openCount(slowHeaders), 0, 4000);
        QTRY_COMPARE_WITH_TIMEOUT(openCount(slowBodies), 0, (timeoutSeconds + 4) * 1000);
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

        // Eight requests of 20,000 headers each: refused once the per-connection memory is
        // full, never buffered whole.
        Connections floods;
        QByteArray headers;
        for (int i = 0; i < 20000; ++i)
            headers += "X-Flood-" + QByteArray::number(i) + ": value\r\n";
        for (int i = 0; i < 8; ++i) {
            floods.push_back(std::make_unique<RawConnection>());
            QVERIFY(floods.back()->connectTo(port));
            floods.back()->send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n", 3000);
        }
        for (auto &connection : floods)
            QCOMPARE(RawReply::parse(connection->readUntilClosed(5000)).status, 431);

        // A thousand open connections, each with nearly-full headers or an upload under way.
        Connections open;
        QVERIFY(openAll(open, 700, port, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: " + QByteArray(30000, 'p')));
        QVERIFY(openAll(open, 300, port, uploadRequest("Content-Length: 1000000\r\n",
                                                       multipart({{"half", QByteArray(60000, 'h')}}).chopped(20))));
        // Three hundred uploads starting at once cost the service some file system work; once
        // it has taken them in, normal requests are quick.
        QVERIFY(QTest::qWaitFor([&] { return answersQuickly(port, indexPage); }, 10000));
        QCOMPARE(openCount(open), 1000);
        for (int i = 0; i < 3; ++i)
            QVERIFY(answersQuickly(port, indexPage));
        QVERIFY(answersQuickly(port, normalUpload));
        const qint64 peak = processKb(server.pid(), "VmHWM");
        QVERIFY2(peak > 0 && peak < 128 * 1024, qPrintable(QString::number(peak)));
        open.clear();
        QCOMPARE(server.stop(), 0);
    }
};

QTEST_GUILESS_MAIN(ServiceUnderAttackTest)
#include "tst_ServiceUnderAttack.moc"
