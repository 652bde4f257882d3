#include "DragTypeFilter.h"

#include <QLatin1String>

namespace DragTypeFilter {

namespace {

// Selection targets that describe the transfer, not the dragged data.
bool isMetaTarget(const QString &name)
{
    return name == QLatin1String("TARGETS") || name == QLatin1String("TIMESTAMP") ||
           name == QLatin1String("MULTIPLE") || name == QLatin1String("DELETE") ||
           name == QLatin1String("SAVE_TARGETS");
}

void appendUnique(QStringList &list, const QStringList &more)
{
    for (const QString &item : more) {
        if (!item.isEmpty() && !isMetaTarget(item) && !list.contains(item))
            list.append(item);
    }
}

} // namespace

bool uriListHasFile(QByteArrayView uriList)
{
    qsizetype from = 0;
    while (from < uriList.size()) {
        qsizetype end = uriList.indexOf('\n', from);
        if (end < 0)
            end = uriList.size();
        const QByteArrayView uri = uriList.sliced(from, end - from).trimmed();
        if (uri.size() >= 5 && uri.first(5).compare("file:", Qt::CaseInsensitive) == 0)
            return true;
        from = end + 1;
    }
    return false;
}

QStringList reportedTypes(const Offer &offer)
{
    QStringList types;
    appendUnique(types, offer.typeList);
    appendUnique(types, offer.advertised);
    appendUnique(types, offer.answered);
    // A list of URIs counts as files only when it holds one.
    if (offer.uriList && !offer.uriListTooLong && !uriListHasFile(*offer.uriList)) {
        types.removeAll(QStringLiteral("text/uri-list"));
        types.removeAll(QStringLiteral("text/x-moz-url"));
    }
    return types;
}

} // namespace DragTypeFilter
