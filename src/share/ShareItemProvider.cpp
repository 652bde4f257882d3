#include "ShareItemProvider.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>

const QString ShareItemProvider::fileUrlType = QStringLiteral("text/uri-list");
const QString ShareItemProvider::urlType = QStringLiteral("text/x-uri");

struct ShareItemProvider::Data
{
    Kind kind = Kind::data;
    QString path;     // localFile
    QUrl link;        // webLink
    QByteArray bytes; // data
    QStringList types;
    std::optional<QString> suggestedName;
};

ShareItemProvider::ShareItemProvider(QSharedPointer<const Data> data)
    : d(std::move(data))
{}

ShareItemProvider ShareItemProvider::forLocalFile(const QString &absolutePath)
{
    auto data = QSharedPointer<Data>::create();
    data->kind = Kind::localFile;
    data->path = absolutePath;
    data->types = {QMimeDatabase().mimeTypeForFile(absolutePath).name()};
    return ShareItemProvider(data);
}

ShareItemProvider ShareItemProvider::forWebLink(const QUrl &url)
{
    auto data = QSharedPointer<Data>::create();
    data->kind = Kind::webLink;
    data->link = url;
    data->types = {urlType};
    return ShareItemProvider(data);
}

ShareItemProvider ShareItemProvider::forData(const QByteArray &bytes, const QStringList &types,
                                             const std::optional<QString> &suggestedName)
{
    auto data = QSharedPointer<Data>::create();
    data->kind = Kind::data;
    data->bytes = bytes;
    data->types = types;
    data->suggestedName = suggestedName;
    return ShareItemProvider(data);
}

ShareItemProvider
ShareItemProvider::fromArgument(const QString &argument,
                                const std::function<QByteArray()> &readStandardInput)
{
    if (argument == QLatin1String("-")) {
        const QByteArray bytes = readStandardInput ? readStandardInput() : QByteArray();
        return forData(bytes, {QMimeDatabase().mimeTypeForData(bytes).name()});
    }
    if (argument.startsWith(QLatin1String("file://"), Qt::CaseInsensitive)) {
        return forLocalFile(QDir::cleanPath(QUrl(argument).toLocalFile()));
    }
    if (argument.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
        argument.startsWith(QLatin1String("https://"), Qt::CaseInsensitive)) {
        return forWebLink(QUrl(argument));
    }
    // Lexical clean-up only: a symbolic link keeps its own name.
    return forLocalFile(QDir::cleanPath(QDir::current().absoluteFilePath(argument)));
}

ShareItemProvider::Kind ShareItemProvider::kind() const
{
    return d->kind;
}

std::optional<QString> ShareItemProvider::suggestedName() const
{
    return d->suggestedName;
}

QStringList ShareItemProvider::registeredTypeIdentifiers() const
{
    return d->types;
}

bool ShareItemProvider::hasItemConformingToTypeIdentifier(const QString &type) const
{
    switch (d->kind) {
    case Kind::localFile:
        return type == fileUrlType || type == urlType || d->types.contains(type);
    case Kind::webLink:
        return type == urlType;
    case Kind::data:
        return d->types.contains(type);
    }
    return false;
}

QVariant ShareItemProvider::loadItem(const QString &type) const
{
    if (type != fileUrlType && type != urlType) {
        return {};
    }
    if (d->kind == Kind::localFile) {
        return QUrl::fromLocalFile(d->path);
    }
    if (d->kind == Kind::webLink && type == urlType) {
        return d->link;
    }
    return {};
}

std::optional<QUrl> ShareItemProvider::loadInPlaceFileRepresentation(const QString &type) const
{
    if (d->kind == Kind::localFile && d->types.contains(type)) {
        return QUrl::fromLocalFile(d->path);
    }
    return std::nullopt;
}

void ShareItemProvider::loadFileRepresentation(
    const QString &type, const std::function<void(const std::optional<QUrl> &)> &handler) const
{
    // A local file already is a file; other kinds have no file form.
    handler(loadInPlaceFileRepresentation(type));
}

std::optional<QByteArray> ShareItemProvider::loadDataRepresentation(const QString &type) const
{
    if (!d->types.contains(type)) {
        return std::nullopt;
    }
    switch (d->kind) {
    case Kind::localFile: {
        // Whole-file reads only for regular files: a device or pipe may never end.
        if (!QFileInfo(d->path).isFile()) {
            return std::nullopt;
        }
        QFile file(d->path);
        if (!file.open(QIODevice::ReadOnly)) {
            return std::nullopt;
        }
        QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError) {
            return std::nullopt;
        }
        return bytes;
    }
    case Kind::webLink:
        return d->link.toEncoded();
    case Kind::data:
        return d->bytes;
    }
    return std::nullopt;
}
