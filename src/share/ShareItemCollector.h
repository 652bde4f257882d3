#pragma once

#include "ShareItemProvider.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

// Turns the shared items into local files. Each provider is resolved on a
// worker thread of the global pool, trying in turn: the item as a file URL,
// the file in place, a file representation, and the raw data. Each item gets
// its own fresh folder under the run folder, so two items with the same name
// never overwrite each other.
//
// Writes the diagnostic lines "provider types: …", "copyToTemp error: …" and
// "write dataRepresentation error: …" to standard output (or to the sink
// installed for tests).
class ShareItemCollector : public QObject
{
    Q_OBJECT

public:
    using DiagnosticSink = std::function<void(const QString &line)>;

    // runFolder must exist; the collector creates one sub-folder per item.
    explicit ShareItemCollector(QString runFolder, QObject *parent = nullptr);
    // Running resolutions stop at their next step and contribute nothing.
    ~ShareItemCollector() override;

    // Starts resolving; finished() follows on this object's thread. Call once.
    void collect(const QList<ShareItemProvider> &providers);
    // Makes running resolutions stop at their next step with nothing;
    // finished() still follows once every worker has returned.
    void abandon();
    bool isRunning() const { return m_running; }

    // Replaces standard output for the diagnostic lines (nullptr restores it).
    static void setDiagnosticSink(DiagnosticSink sink);
    static void diagnostic(const QString &line);

    // File name for an item from its suggested name, its original URL and the
    // type it was loaded as.
    static QString makeFilename(const std::optional<QString> &suggestedName,
                                const std::optional<QUrl> &originalUrl,
                                const std::optional<QString> &typeIdentifier);
    // Names the platform gives its own temporary files.
    static bool isTemporaryLikeName(const QString &name);
    // Extensions that say nothing about the content.
    static bool isBogusExtension(const std::optional<QString> &extension);
    // Splits a file name into base and extension; a leading or trailing dot
    // does not start an extension.
    static std::pair<QString, QString> splitName(const QString &name);
    // filename made safe to put under a folder: an empty base made
    // "untitled"; never empty, ".", ".." or holding '/' or NUL.
    static QString safeFileName(const QString &filename);
    // folder/safeFileName(filename); an existing file or folder of that name
    // is removed first.
    static QString makeTempPath(const QString &folder, const QString &filename);
    // Copies (or clones) a local file into folder under filename; on failure
    // writes "copyToTemp error: …" and returns nothing.
    static std::optional<QString> copyToTemp(const QString &source, const QString &folder,
                                             const QString &filename,
                                             const std::atomic<bool> *abandoned = nullptr);

signals:
    // The local files, in the order their resolutions finished.
    void finished(const QList<QUrl> &collectedURLs);

private:
    struct Run;
    static std::optional<QUrl> resolve(const ShareItemProvider &provider, const QString &folder,
                                       const std::atomic<bool> &abandoned);

    QString m_runFolder;
    std::shared_ptr<Run> m_run;
    bool m_running = false;
};
