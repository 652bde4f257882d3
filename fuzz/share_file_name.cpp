// The share panel's local file name for an item, from its suggested name,
// its URL and its type: never empty, ".", "..", nor holding '/' or NUL.
#include "ShareItemCollector.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>

namespace {

void check(bool property)
{
    if (!property)
        __builtin_trap();
}

std::optional<QString> maybeText(FuzzedDataProvider &input)
{
    if (!input.ConsumeBool())
        return std::nullopt;
    const std::string bytes = input.ConsumeRandomLengthString(96);
    // Either UTF-8 or raw UTF-16, so that NUL and lone surrogates reach the name.
    if (input.ConsumeBool())
        return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
    return QString(reinterpret_cast<const QChar *>(bytes.data()), qsizetype(bytes.size() / 2));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::optional<QString> suggested = maybeText(input);
    const std::optional<QString> urlText = maybeText(input);
    const std::optional<QString> type = maybeText(input);
    std::optional<QUrl> url;
    if (urlText)
        url = input.ConsumeBool() ? QUrl(*urlText) : QUrl::fromLocalFile(*urlText);

    const QString name = ShareItemCollector::makeFilename(suggested, url, type);
    check(!name.isEmpty());
    const QString safe = ShareItemCollector::safeFileName(name);
    check(!safe.isEmpty() && safe != QLatin1String(".") && safe != QLatin1String(".."));
    check(!safe.contains(QLatin1Char('/')) && !safe.contains(QChar(0)));
    // Already safe names stay as they are.
    check(ShareItemCollector::safeFileName(safe) == safe);
    return 0;
}
