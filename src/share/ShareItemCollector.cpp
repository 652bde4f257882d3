#include "ShareItemCollector.h"

#include "FileCloner.h"
#include "TextLimits.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QThreadPool>

#include <cstdio>
#include <mutex>

namespace {

std::mutex sinkLock;
ShareItemCollector::DiagnosticSink diagnosticSink;

QString describeList(const QStringList &items)
{
    QStringList quoted;
    for (const QString &item : items) {
        quoted << QLatin1Char('"') + item + QLatin1Char('"');
    }
    return QLatin1Char('[') + quoted.join(QLatin1String(", ")) + QLatin1Char(']');
}

QUrl urlFromItem(const QVariant &item)
{
    switch (item.typeId()) {
    case QMetaType::QUrl:
        return item.toUrl();
    case QMetaType::QString:
        return QUrl(item.toString());
    case QMetaType::QByteArray:
        return QUrl::fromEncoded(item.toByteArray());
    default:
        return {};
    }
}

} // namespace

struct ShareItemCollector::Run
{
    std::atomic<bool> abandoned{false};
    bool ownerGone = false; // main thread only
    std::atomic<int> pending{0};
    std::mutex lock;
    QList<QUrl> accumulator;
    ShareItemCollector *owner = nullptr; // read on the owner's thread only, while !ownerGone
};

ShareItemCollector::ShareItemCollector(QString runFolder, QObject *parent)
    : QObject(parent)
    , m_runFolder(std::move(runFolder))
{}

ShareItemCollector::~ShareItemCollector()
{
    if (m_run) {
        m_run->abandoned = true;
        m_run->ownerGone = true;
    }
}

void ShareItemCollector::abandon()
{
    if (m_run) {
        m_run->abandoned = true;
    }
}

void ShareItemCollector::setDiagnosticSink(DiagnosticSink sink)
{
    std::lock_guard guard(sinkLock);
    diagnosticSink = std::move(sink);
}

void ShareItemCollector::diagnostic(const QString &line)
{
    std::lock_guard guard(sinkLock);
    if (diagnosticSink) {
        diagnosticSink(line);
        return;
    }
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void ShareItemCollector::collect(const QList<ShareItemProvider> &providers)
{
    Q_ASSERT(!m_run);
    m_run = std::make_shared<Run>();
    m_run->owner = this;
    m_running = true;

    auto finish = [](const std::shared_ptr<Run> &run) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [run] {
                if (run->ownerGone) {
                    return;
                }
                QList<QUrl> urls;
                {
                    std::lock_guard guard(run->lock);
                    urls = run->accumulator;
                }
                run->owner->m_running = false;
                emit run->owner->finished(urls);
            },
            Qt::QueuedConnection);
    };
    if (providers.isEmpty()) {
        finish(m_run);
        return;
    }

    m_run->pending = int(providers.size());
    for (qsizetype i = 0; i < providers.size(); ++i) {
        const ShareItemProvider provider = providers.at(i);
        std::optional<QString> suggested = provider.suggestedName();
        if (suggested) {
            suggested = TextLimits::trimmed(*suggested);
        }
        const QStringList types = provider.registeredTypeIdentifiers();
        diagnostic(QStringLiteral("provider types: %1 suggested: %2")
                       .arg(describeList(types), suggested.value_or(QStringLiteral("nil"))));

        const QString folder = m_runFolder.isEmpty()
                                   ? QString()
                                   : m_runFolder + QLatin1Char('/') + QString::number(i + 1);
        QThreadPool::globalInstance()->start([run = m_run, provider, folder, finish] {
            const std::optional<QUrl> url = resolve(provider, folder, run->abandoned);
            if (url) {
                std::lock_guard guard(run->lock);
                run->accumulator.append(*url);
            }
            if (--run->pending == 0) {
                finish(run);
            }
        });
    }
}

std::optional<QUrl> ShareItemCollector::resolve(const ShareItemProvider &provider,
                                                const QString &folder,
                                                const std::atomic<bool> &abandoned)
{
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        diagnostic(QStringLiteral("copyToTemp error: cannot create %1").arg(folder));
        return std::nullopt;
    }
    std::optional<QString> suggested = provider.suggestedName();
    if (suggested) {
        suggested = TextLimits::trimmed(*suggested);
    }
    const QStringList types = provider.registeredTypeIdentifiers();

    // Each URL type under both of its names, as the host may register either;
    // here the names coincide, so a failing type is simply tried twice.
    static const QStringList candidates = {ShareItemProvider::fileUrlType,
                                           ShareItemProvider::fileUrlType,
                                           ShareItemProvider::urlType, ShareItemProvider::urlType};
    for (const QString &candidate : candidates) {
        if (!provider.hasItemConformingToTypeIdentifier(candidate)) {
            continue;
        }
        const QVariant item = provider.loadItem(candidate);
        if (abandoned) {
            return std::nullopt;
        }
        const QUrl url = urlFromItem(item);
        if (!url.isValid() || !url.isLocalFile()) {
            continue;
        }
        const QString name = makeFilename(suggested, url, std::nullopt);
        if (auto copy = copyToTemp(url.toLocalFile(), folder, name, &abandoned)) {
            return QUrl::fromLocalFile(*copy);
        }
    }

    for (const QString &type : types) {
        const std::optional<QUrl> url = provider.loadInPlaceFileRepresentation(type);
        if (abandoned) {
            return std::nullopt;
        }
        if (!url || !url->isLocalFile()) {
            continue;
        }
        if (auto copy = copyToTemp(url->toLocalFile(), folder, makeFilename(suggested, *url, type),
                                   &abandoned)) {
            return QUrl::fromLocalFile(*copy);
        }
    }

    for (const QString &type : types) {
        std::optional<QUrl> result;
        bool gone = false;
        // The copy happens inside the handler, while the provider's file exists.
        provider.loadFileRepresentation(type, [&](const std::optional<QUrl> &url) {
            if (abandoned) {
                gone = true;
                return;
            }
            if (!url || !url->isLocalFile()) {
                return;
            }
            if (auto copy = copyToTemp(url->toLocalFile(), folder,
                                       makeFilename(suggested, *url, type), &abandoned)) {
                result = QUrl::fromLocalFile(*copy);
            }
        });
        if (gone) {
            return std::nullopt;
        }
        if (result) {
            return result;
        }
    }

    for (const QString &type : types) {
        const std::optional<QByteArray> data = provider.loadDataRepresentation(type);
        if (abandoned) {
            return std::nullopt;
        }
        if (!data || data->isEmpty()) {
            continue;
        }
        const QString destination =
            makeTempPath(folder, makeFilename(suggested, std::nullopt, type));
        QFile file(destination);
        if (file.open(QIODevice::WriteOnly) && file.write(*data) == data->size() && file.flush()) {
            file.close();
            return QUrl::fromLocalFile(destination);
        }
        diagnostic(QStringLiteral("write dataRepresentation error: %1: %2")
                       .arg(destination, file.errorString()));
        file.close();
        QFile::remove(destination);
    }
    return std::nullopt;
}

QString ShareItemCollector::makeFilename(const std::optional<QString> &suggestedName,
                                         const std::optional<QUrl> &originalUrl,
                                         const std::optional<QString> &typeIdentifier)
{
    const QString untitled = QStringLiteral("untitled");
    QString name;
    if (suggestedName && !suggestedName->isEmpty()) {
        name = *suggestedName;
    } else if (originalUrl) {
        const QString component = originalUrl->fileName();
        if (!component.isEmpty() && !isTemporaryLikeName(component)) {
            name = component;
        }
    }
    if (name.isEmpty()) {
        name = untitled;
    }

    auto [base, extension] = splitName(name);
    extension = extension.toLower();
    if (base.isEmpty()) {
        base = untitled;
    }
    if (extension.isEmpty() && typeIdentifier) {
        const QMimeType type = QMimeDatabase().mimeTypeForName(*typeIdentifier);
        const QString preferred = type.isValid() ? type.preferredSuffix() : QString();
        if (!isBogusExtension(preferred)) {
            extension = preferred;
        }
    }
    if (extension.isEmpty() && originalUrl) {
        const QString own = splitName(originalUrl->fileName()).second;
        if (!isBogusExtension(own)) {
            extension = own.toLower();
        }
    }
    return extension.isEmpty() ? base : base + QLatin1Char('.') + extension;
}

bool ShareItemCollector::isTemporaryLikeName(const QString &name)
{
    const QString lower = name.toLower();
    return lower.startsWith(QLatin1String(".com.apple.")) ||
           lower.startsWith(QLatin1String("_cfnetworkdownload")) ||
           lower.startsWith(QLatin1String("cfnetworkdownload_")) ||
           lower.endsWith(QLatin1String(".tmp")) || lower == QLatin1String("file");
}

bool ShareItemCollector::isBogusExtension(const std::optional<QString> &extension)
{
    if (!extension || extension->isEmpty()) {
        return true;
    }
    const QString lower = extension->toLower();
    return lower == QLatin1String("tmp") || lower == QLatin1String("download") ||
           lower == QLatin1String("part");
}

std::pair<QString, QString> ShareItemCollector::splitName(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || dot == name.size() - 1) {
        return {name, QString()};
    }
    return {name.left(dot), name.mid(dot + 1)};
}

QString ShareItemCollector::safeFileName(const QString &filename)
{
    auto [base, extension] = splitName(filename);
    if (base.isEmpty()) {
        base = QStringLiteral("untitled");
    }
    QString finalName = extension.isEmpty() ? base : base + QLatin1Char('.') + extension;
    // A name is never a path: no separators, no NUL, no "." or "..".
    finalName.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QChar(0), QLatin1Char('_'));
    if (finalName == QLatin1String(".") || finalName == QLatin1String("..")) {
        finalName = QStringLiteral("untitled");
    }
    return finalName;
}

QString ShareItemCollector::makeTempPath(const QString &folder, const QString &filename)
{
    const QString path = folder + QLatin1Char('/') + safeFileName(filename);
    const QFileInfo existing(path);
    if (existing.isDir() && !existing.isSymLink()) {
        QDir(path).removeRecursively();
    } else if (existing.exists() || existing.isSymLink()) {
        QFile::remove(path);
    }
    return path;
}

std::optional<QString> ShareItemCollector::copyToTemp(const QString &source, const QString &folder,
                                                      const QString &filename,
                                                      const std::atomic<bool> *abandoned)
{
    const QString destination = makeTempPath(folder, filename);
    QString error;
    if (QFileInfo::exists(source)) {
        if (FileCloner::cloneOrCopy(source, destination, abandoned, &error)) {
            return destination;
        }
    } else {
        // Not reachable: a plain read, whose failure says why.
        QFile in(source);
        QFile out(destination);
        if (!in.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("cannot read %1: %2").arg(source, in.errorString());
        } else {
            const QByteArray bytes = in.readAll();
            if (out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.flush()) {
                return destination;
            }
            error = QStringLiteral("cannot write %1: %2").arg(destination, out.errorString());
            out.close();
            QFile::remove(destination);
        }
    }
    diagnostic(QStringLiteral("copyToTemp error: %1").arg(error));
    return std::nullopt;
}
