// What a drag source offers, turned into the types the drag monitor reports:
// only offered types, each once, no transfer targets, in the order learnt;
// text/uri-list (and text/x-moz-url) dropped exactly when a list was read and
// holds no file: URI. uriListHasFile is checked by how lists combine.
#include "DragTypeFilter.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>

namespace {

void check(bool property)
{
    if (!property)
        __builtin_trap();
}

const char *const knownTypes[] = {
    "text/uri-list", "text/x-moz-url", "TARGETS",    "TIMESTAMP",  "MULTIPLE",
    "DELETE",        "SAVE_TARGETS",   "text/plain", "image/png",  "",
    "UTF8_STRING",   "x-special/gnome-copied-files",
};

bool isMeta(const QString &type)
{
    return type == QLatin1String("TARGETS") || type == QLatin1String("TIMESTAMP") ||
           type == QLatin1String("MULTIPLE") || type == QLatin1String("DELETE") ||
           type == QLatin1String("SAVE_TARGETS");
}

bool isUriType(const QString &type)
{
    return type == QLatin1String("text/uri-list") || type == QLatin1String("text/x-moz-url");
}

QStringList types(FuzzedDataProvider &input)
{
    QStringList list;
    const int count = input.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < count; ++i) {
        if (input.ConsumeBool()) {
            list.append(QString::fromLatin1(
                knownTypes[input.ConsumeIntegralInRange<size_t>(0, std::size(knownTypes) - 1)]));
        } else {
            const std::string raw = input.ConsumeRandomLengthString(24);
            list.append(QString::fromUtf8(raw.data(), qsizetype(raw.size())));
        }
    }
    return list;
}

// How a list's verdict follows from its lines.
void checkUriList(const QByteArray &list, const QByteArray &other)
{
    const bool has = DragTypeFilter::uriListHasFile(list);
    check(DragTypeFilter::uriListHasFile(list) == has);
    check(DragTypeFilter::uriListHasFile(list + '\n' + other) ==
          (has || DragTypeFilter::uriListHasFile(other)));
    check(DragTypeFilter::uriListHasFile(list.toUpper()) == has);
    check(DragTypeFilter::uriListHasFile(list.toLower()) == has);
    // CRLF line ends and surrounding white space change nothing.
    QByteArray crlf = list;
    crlf.replace('\n', "\r\n");
    check(DragTypeFilter::uriListHasFile(" \t" + crlf + "\r\n") == has);
    // One line: a comment never holds a file, a file: line always does.
    const QByteArray line = list.left(list.indexOf('\n'));
    check(!DragTypeFilter::uriListHasFile("#" + line));
    check(DragTypeFilter::uriListHasFile("  FiLe:" + line));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    DragTypeFilter::Offer offer;
    offer.typeList = types(input);
    offer.advertised = types(input);
    offer.answered = types(input);
    offer.uriListTooLong = input.ConsumeBool();
    const bool hasList = input.ConsumeBool();
    const std::string other = input.ConsumeRandomLengthString(64);
    const std::string rest = input.ConsumeRemainingBytesAsString();
    const QByteArray list(rest.data(), qsizetype(rest.size()));
    if (hasList)
        offer.uriList = list;
    checkUriList(list, QByteArray(other.data(), qsizetype(other.size())));

    const QStringList reported = DragTypeFilter::reportedTypes(offer);
    check(DragTypeFilter::reportedTypes(offer) == reported);

    const QStringList offered = offer.typeList + offer.advertised + offer.answered;
    const bool keepUris = !offer.uriList || offer.uriListTooLong ||
                          DragTypeFilter::uriListHasFile(*offer.uriList);
    // Exactly the offered types that count, each once, in order of first offer.
    QStringList expected;
    for (const QString &type : offered) {
        if (!type.isEmpty() && !isMeta(type) && (keepUris || !isUriType(type)) &&
            !expected.contains(type))
            expected.append(type);
    }
    check(reported == expected);
    check(reported.contains(QStringLiteral("text/uri-list")) ==
          (offered.contains(QStringLiteral("text/uri-list")) && keepUris));
    return 0;
}
