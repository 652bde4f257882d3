#pragma once

#include <QString>

// A failure that comes from below the upload client (file system, network,
// TLS, time-out, a reply that is not decodable), with a short Japanese
// description for the user and the technical detail for diagnostics.
class PlatformError
{
public:
    enum class Kind {
        fileSystem, // a file's attributes could not be read (e.g. it does not exist)
        hostLookup, // the server's name could not be resolved
        connection, // the server could not be reached (refused, unreachable, proxy)
        timedOut,   // nothing moved for the idle time-out
        tls,        // TLS handshake or certificate verification failed
        transfer,   // the connection broke while sending or receiving
        decoding,   // a 2xx reply whose body is not a valid reply document
        internal,   // anything else the transport reported
    };

    PlatformError(Kind kind, QString description, QString detail = {})
        : m_kind(kind)
        , m_description(std::move(description))
        , m_detail(std::move(detail))
    {}

    Kind kind() const { return m_kind; }
    // Japanese, for the user.
    QString localizedDescription() const { return m_description; }
    // Technical (English) detail, e.g. the transport's own message; not for the user.
    QString detail() const { return m_detail; }

    bool operator==(const PlatformError &) const = default;

private:
    Kind m_kind;
    QString m_description;
    QString m_detail;
};
