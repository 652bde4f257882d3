#pragma once

#include <QByteArray>
#include <QList>
#include <QSettings>
#include <QString>
#include <QVariant>
#include <utility>

// The INI file behind AppModel. Every write is synced at once; QSettings
// replaces the file by rename, so a crash leaves the old or the new file,
// never a mix. The file holds the default password: it is kept private to
// the user (0600).
class ModelStore
{
public:
    explicit ModelStore(const QString &filePath);

    QString filePath() const { return m_filePath; }

    bool contains(const QString &key) const;
    QVariant value(const QString &key) const;
    // The value as text. An unquoted value with commas, as a hand edit may
    // leave it, reads back as a list: it is taken as the text it was.
    QString text(const QString &key) const;
    // Writes all pairs, then syncs once: they reach the file together.
    void setValues(const QList<std::pair<QString, QVariant>> &values);
    void remove(const QString &key);

    // True when the file could not be parsed completely at opening.
    bool openedDamaged() const { return m_openedDamaged; }

    // Copies the file as it was at opening next to it ("<name>.damaged-<UTC time>.ini"),
    // once, so a user can recover what the next writes discard. Returns the copy's path.
    QString preserveOriginal();
    QString preservedCopyPath() const { return m_preservedCopyPath; }

private:
    void sync();
    void restrictPermissions();

    QString m_filePath;
    QByteArray m_originalBytes;
    bool m_openedDamaged = false;
    QString m_preservedCopyPath;
    QSettings m_settings;
};
