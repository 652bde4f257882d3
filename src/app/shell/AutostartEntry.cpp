#include "AutostartEntry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

namespace {

QString defaultProgram()
{
    const QString self = QCoreApplication::applicationFilePath();
    const QString name = QFileInfo(self).fileName();
    const QString found = QStandardPaths::findExecutable(name);
    if (!found.isEmpty() && QFileInfo(found).canonicalFilePath() == QFileInfo(self).canonicalFilePath())
        return name;
    return self;
}

// Desktop entries quote arguments with reserved characters in double quotes,
// escaping ", `, $ and \ inside; a literal % is written %%.
QString quotedArgument(const QString &argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString text = argument;
    text.replace(QLatin1Char('%'), QStringLiteral("%%"));
    bool needsQuotes = false;
    for (const QChar c : argument)
        needsQuotes = needsQuotes || reserved.contains(c);
    if (!needsQuotes)
        return text;
    QString quoted;
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// The key-file format also escapes backslashes in values.
QString escapedValue(const QString &value)
{
    QString text = value;
    return text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
}

} // namespace

AutostartEntry::AutostartEntry(QString program)
    : m_program(program.isEmpty() ? defaultProgram() : std::move(program))
{
}

QString AutostartEntry::filePath() const
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/") + QLatin1String(fileName);
}

bool AutostartEntry::isEnabled() const
{
    if (!QFileInfo(filePath()).isFile())
        return false;
    QSettings entry(filePath(), QSettings::IniFormat);
    entry.beginGroup(QStringLiteral("Desktop Entry"));
    const auto isTrue = [&entry](const QString &key, const QString &otherwise) {
        return entry.value(key, otherwise).toString().trimmed() == QLatin1String("true");
    };
    return !isTrue(QStringLiteral("Hidden"), QStringLiteral("false")) &&
           isTrue(QStringLiteral("X-GNOME-Autostart-enabled"), QStringLiteral("true"));
}

QString AutostartEntry::execLine(const QString &program)
{
    return escapedValue(quotedArgument(program) + QLatin1Char(' ') +
                        QLatin1String(backgroundOption));
}

bool AutostartEntry::setEnabled(bool enabled)
{
    m_error.clear();
    const QString path = filePath();
    if (!enabled) {
        if (!QFileInfo::exists(path) || QFile::remove(path))
            return true;
        m_error = QStringLiteral("自動起動の設定ファイルを削除できませんでした。\n%1")
                      .arg(QDir::toNativeSeparators(path));
        return false;
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        m_error = QStringLiteral("自動起動の設定フォルダを作成できませんでした。\n%1")
                      .arg(QDir::toNativeSeparators(QFileInfo(path).absolutePath()));
        return false;
    }
    QSaveFile file(path);
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Pelkin Drop\n"
                                        "Comment=ファイルをドロップしてアップロードし、共有URLを受け取ります\n"
                                        "Exec=%1\n"
                                        "Icon=org.pelkin.PelkinDrop\n"
                                        "Terminal=false\n"
                                        "NoDisplay=true\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(execLine(m_program));
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit()) {
        m_error = QStringLiteral("自動起動の設定ファイルを書き込めませんでした。\n%1")
                      .arg(QDir::toNativeSeparators(path));
        return false;
    }
    return true;
}
