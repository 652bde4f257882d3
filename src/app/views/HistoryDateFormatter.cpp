#include "HistoryDateFormatter.h"

#include <QLocale>

namespace HistoryDateFormatter {

QString format(const QDateTime &timestamp)
{
    if (!timestamp.isValid())
        return {};
    static const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    return japanese.toString(timestamp.toLocalTime(), QStringLiteral("yyyy/MM/dd HH:mm"));
}

} // namespace HistoryDateFormatter
