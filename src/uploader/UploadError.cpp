#include "UploadError.h"

#include <QLocale>

UploadError UploadError::noFiles()
{
    return UploadError(Kind::noFiles);
}

UploadError UploadError::allBlocked(const QStringList &fileNames)
{
    UploadError e(Kind::allBlocked);
    e.m_names = fileNames;
    return e;
}

UploadError UploadError::cannotReadFile(const QString &fileName)
{
    UploadError e(Kind::cannotReadFile);
    e.m_names = {fileName};
    return e;
}

UploadError UploadError::totalSizeExceeded(qint64 limit, qint64 total)
{
    UploadError e(Kind::totalSizeExceeded);
    e.m_limit = limit;
    e.m_total = total;
    return e;
}

UploadError UploadError::serverError(const QString &message)
{
    UploadError e(Kind::serverError);
    e.m_message = message;
    return e;
}

UploadError UploadError::httpStatus(int statusCode)
{
    UploadError e(Kind::httpStatus);
    e.m_status = statusCode;
    return e;
}

UploadError UploadError::invalidResponse()
{
    return UploadError(Kind::invalidResponse);
}

QString UploadError::errorDescription() const
{
    switch (m_kind) {
    case Kind::noFiles:
        return QStringLiteral("ファイルが選択されていません。");
    case Kind::allBlocked:
        return QStringLiteral("これらのファイルはアップロードできません: ") +
               m_names.join(QStringLiteral(", "));
    case Kind::cannotReadFile:
        return QStringLiteral("ファイルを読み込めませんでした: ") + fileName();
    case Kind::totalSizeExceeded:
        return QStringLiteral("アップロード上限は") + formatBytes(m_limit) +
               QStringLiteral("です（現在: ") + formatBytes(m_total) + QStringLiteral("）。");
    case Kind::serverError:
        return m_message;
    case Kind::httpStatus:
        return QStringLiteral("HTTP ステータスコードエラー: ") + QString::number(m_status);
    case Kind::invalidResponse:
        return QStringLiteral("不正なレスポンスです。");
    }
    return {};
}

QString UploadError::formatBytes(qint64 bytes)
{
    constexpr double mib = 1024.0 * 1024.0;
    constexpr double gib = mib * 1024.0;
    // Only megabytes and gigabytes are used; the larger unit once the value
    // reaches one of it, with one fraction digit for MB and two for GB.
    const bool useGb = bytes >= static_cast<qint64>(gib);
    const double value = static_cast<double>(bytes) / (useGb ? gib : mib);
    const int digits = useGb ? 2 : 1;

    // Japanese number style ("1,024.5"), trailing fraction zeros dropped.
    static const QLocale locale(QLocale::Japanese, QLocale::Japan);
    QString number = locale.toString(value, 'f', digits);
    const QString point = locale.decimalPoint();
    if (number.contains(point)) {
        while (number.endsWith(QLatin1Char('0')))
            number.chop(1);
        if (number.endsWith(point))
            number.chop(point.size());
    }
    return number + (useGb ? QStringLiteral(" GB") : QStringLiteral(" MB"));
}
