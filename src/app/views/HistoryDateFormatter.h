#pragma once

#include <QDateTime>
#include <QString>

// Timestamps of history entries: "yyyy/MM/dd HH:mm", 24-hour clock, in the
// local time zone, Western digits whatever the system locale.
namespace HistoryDateFormatter {

QString format(const QDateTime &timestamp);

} // namespace HistoryDateFormatter
