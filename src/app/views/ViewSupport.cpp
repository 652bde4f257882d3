#include "ViewSupport.h"

#include "DampedSpring.h"
#include "FileRowInfo.h"
#include "HistoryDateFormatter.h"
#include "PelkinConfig.h"
#include "TextLimits.h"
#include "ThemeFollower.h"
#include "ViewImageProvider.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <cmath>

ViewSupport::ViewSupport(ThemeFollower *follower, QObject *parent)
    : QObject(parent)
    , m_follower(follower)
{
    if (m_follower)
        connect(m_follower, &ThemeFollower::systemDarkChanged, this,
                &ViewSupport::systemDarkChanged);
}

ViewSupport *ViewSupport::create(QQmlEngine *, QJSEngine *)
{
    return new ViewSupport(ThemeFollower::shared());
}

bool ViewSupport::systemDark() const
{
    return m_follower ? m_follower->systemDark() : ThemeFollower::paletteIsDark();
}

bool ViewSupport::hasCharacter() const
{
    return !ViewImageProvider::characterArtwork().isNull();
}

QString ViewSupport::version() const
{
    return QString::fromUtf8(PelkinConfig::version);
}

QString ViewSupport::fontFamily() const
{
    return QStringLiteral("Noto Sans CJK JP");
}

QString ViewSupport::monospaceFamily() const
{
    return QStringLiteral("DejaVu Sans Mono");
}

QString ViewSupport::iconName(const QUrl &url) const
{
    return FileRowInfo::iconName(url);
}

QString ViewSupport::fileSize(const QUrl &url) const
{
    return FileRowInfo::fileSize(url).value_or(QString());
}

QString ViewSupport::fileName(const QUrl &url) const
{
    return url.fileName(QUrl::FullyDecoded);
}

QString ViewSupport::historyDate(const QDateTime &timestamp) const
{
    return HistoryDateFormatter::format(timestamp);
}

void ViewSupport::copyText(const QString &text) const
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
}

QString ViewSupport::firstCharacters(const QString &text, int count) const
{
    return TextLimits::firstCharacters(text, count);
}

QList<QUrl> ViewSupport::fileUrls(const QList<QUrl> &urls) const
{
    QList<QUrl> files;
    for (const QUrl &url : urls) {
        if (url.isLocalFile())
            files << url;
    }
    return files;
}

QVariantList ViewSupport::springCurve(double response, double dampingFraction) const
{
    return DampedSpring(response, dampingFraction).bezierSpline();
}

int ViewSupport::springDuration(double response, double dampingFraction) const
{
    return int(std::lround(DampedSpring(response, dampingFraction).settlingTime() * 1000.0));
}
