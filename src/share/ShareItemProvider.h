#pragma once

#include <QByteArray>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <functional>
#include <optional>

// One shared item as the share panel receives it: a local file, a web link or
// a block of data. It answers the four kinds of load request the collection
// tries in turn. Type identifiers are MIME type names.
//
// Providers are immutable after creation and cheap to copy; every load
// function may be called from any thread and answers synchronously.
class ShareItemProvider
{
public:
    // The type a local file conforms to besides its own MIME type: a file
    // URL (the same name the drag-and-drop code uses for file lists).
    static const QString fileUrlType;
    // The type every URL conforms to, file URLs and web links alike.
    static const QString urlType;

    enum class Kind { localFile, webLink, data };

    // A local file (or folder) at an absolute path; its MIME type is taken
    // from its name and content.
    static ShareItemProvider forLocalFile(const QString &absolutePath);
    // An http(s) link.
    static ShareItemProvider forWebLink(const QUrl &url);
    // Bytes registered under the given types (for standard input: the
    // sniffed type), optionally with a suggested name.
    static ShareItemProvider forData(const QByteArray &data, const QStringList &types,
                                     const std::optional<QString> &suggestedName = {});

    // One command-line argument: "-" is standard input (readStandardInput is
    // called for it), "file://…" a local file, "http(s)://…" a web link, and
    // anything else a path, relative to the working folder.
    static ShareItemProvider fromArgument(const QString &argument,
                                          const std::function<QByteArray()> &readStandardInput);

    Kind kind() const;
    std::optional<QString> suggestedName() const;
    QStringList registeredTypeIdentifiers() const;
    bool hasItemConformingToTypeIdentifier(const QString &type) const;

    // A QUrl for the URL types (nothing for other types).
    QVariant loadItem(const QString &type) const;
    // The file itself, where the item is a local file registered under type.
    std::optional<QUrl> loadInPlaceFileRepresentation(const QString &type) const;
    // Calls handler exactly once, with a file that is valid only during the call.
    void
    loadFileRepresentation(const QString &type,
                           const std::function<void(const std::optional<QUrl> &)> &handler) const;
    // The item's bytes under type; nothing when they cannot be read.
    std::optional<QByteArray> loadDataRepresentation(const QString &type) const;

private:
    struct Data;
    explicit ShareItemProvider(QSharedPointer<const Data> d);
    QSharedPointer<const Data> d;
};
