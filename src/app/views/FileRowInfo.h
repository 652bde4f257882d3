#pragma once

#include <QString>
#include <QUrl>
#include <optional>

// What a file row of the Home tab shows about one selected file.
namespace FileRowInfo {

// Symbol name for the file's extension (last extension only, case-insensitive).
QString iconName(const QUrl &url);

// Size text of the file at the URL's path, or nothing when the file cannot be
// inspected (missing, unreadable, not a local file) or is a folder.
std::optional<QString> fileSize(const QUrl &url);

// Decimal byte-count text in the "file" style: 1000 bytes to the kilobyte,
// adaptive fraction digits (none for KB, one for MB, two from GB on).
QString fileByteCountText(qint64 bytes);

} // namespace FileRowInfo
