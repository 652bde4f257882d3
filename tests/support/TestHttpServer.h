#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <chrono>
#include <memory>

// A small real HTTP/1.1 (or, with a certificate, HTTPS) server for tests, on
// 127.0.0.1 with a free port and a thread of its own, so it keeps serving while
// the test's thread blocks. It records every request byte for byte and answers
// each with the next scripted Reply (then 200 {"success":true}). One request per
// connection; the body is read by its Content-Length (no chunked bodies).
class TestHttpServer
{
public:
    struct Reply
    {
        int status = 200;
        QList<QPair<QByteArray, QByteArray>> headers; // Content-Length is added unless given
        QByteArray body;
        std::chrono::milliseconds delay{0}; // wait this long before answering
        qint64 closeAfterBodyBytes = -1;    // >= 0: send this much body, then close
        bool answerBeforeBody = false;      // answer once the headers are in
        bool neverAnswer = false;           // read the request, stay silent
        qint64 stopReadingAfter = -1;       // >= 0: read this much body, then
                                            // neither read nor answer
        QByteArray raw;                     // non-empty: sent as is instead
    };

    struct Request
    {
        QByteArray method;
        QByteArray target;
        QList<QPair<QByteArray, QByteArray>> headers; // as received, in order
        QByteArray body;       // the body's first bytes, up to setBodyCaptureLimit()
        qint64 bodySize = 0;   // bytes of body received
        bool complete = false; // the whole Content-Length arrived

        // The first header of that name (case-insensitive), or a null array.
        QByteArray header(const QByteArray &name) const;
    };

    // With a certificate chain and EC private key (PEM files): HTTPS.
    explicit TestHttpServer(const QString &certificatePem = {}, const QString &privateKeyPem = {});
    ~TestHttpServer();

    // http(s)://127.0.0.1:PORT + path.
    QUrl url(const QString &path = QStringLiteral("/api/upload.php")) const;

    void enqueue(const Reply &reply);

    // Thread-safe snapshots of what arrived so far, in order of arrival.
    QList<Request> requests() const;
    int requestCount() const;
    int connectionCount() const;
    // Blocks (no event loop needed) until n requests are finished (answered,
    // or their connection closed) or the time-out passes.
    bool waitForRequests(int n, std::chrono::milliseconds timeout) const;

    // Body bytes kept per request (default 16 MiB); the size always covers
    // the whole body.
    void setBodyCaptureLimit(qint64 bytes);

    static Reply json(int status, const QByteArray &body);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
