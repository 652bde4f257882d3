// The stored upload history. Two directions:
//  - bytes that decode must re-encode, and the encoding must decode to the
//    same list (and re-encode to the same bytes);
//  - a list built from the bytes (any text, any time) that encodes must
//    decode to that list with its text made valid and its time in seconds.
#include "UploadHistoryCodec.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QTimeZone>

#include <cstdint>

namespace {

void check(bool property)
{
    if (!property)
        __builtin_trap();
}

void decodeThenEncode(const QByteArray &bytes)
{
    const std::optional<QList<UploadHistoryItem>> items = UploadHistoryCodec::decode(bytes);
    if (!items)
        return;
    const std::optional<QByteArray> encoded = UploadHistoryCodec::encode(*items);
    check(encoded.has_value());
    const std::optional<QList<UploadHistoryItem>> again = UploadHistoryCodec::decode(*encoded);
    check(again == items);
    check(UploadHistoryCodec::encode(*again) == encoded);
}

// Arbitrary UTF-16, lone surrogates included.
QString anyText(FuzzedDataProvider &input)
{
    const std::string bytes = input.ConsumeRandomLengthString(64);
    return QString(reinterpret_cast<const QChar *>(bytes.data()), qsizetype(bytes.size() / 2));
}

void encodeThenDecode(FuzzedDataProvider &input)
{
    QList<UploadHistoryItem> items;
    const int count = input.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < count; ++i) {
        UploadHistoryItem item;
        std::string raw = input.ConsumeBytesAsString(16);
        raw.resize(16);
        item.id = QUuid::fromRfc4122(QByteArrayView(raw.data(), 16));
        // Years around both ends of the range the codec can write.
        const qint64 msecs = input.ConsumeIntegralInRange<qint64>(-62198755200000LL - 86400000LL * 2,
                                                                  253402300799999LL + 86400000LL * 2);
        const int offset = input.ConsumeIntegralInRange(-14 * 3600, 14 * 3600);
        item.timestamp = QDateTime::fromMSecsSinceEpoch(msecs, QTimeZone(offset));
        const int names = input.ConsumeIntegralInRange(0, 3);
        for (int n = 0; n < names; ++n)
            item.fileNames.append(anyText(input));
        if (input.ConsumeBool())
            item.url = anyText(input);
        item.success = input.ConsumeBool();
        item.message = anyText(input);
        items.append(item);
    }

    const std::optional<QByteArray> encoded = UploadHistoryCodec::encode(items);
    bool writable = true;
    for (const UploadHistoryItem &item : items) {
        const int year = item.timestamp.toUTC().date().year();
        writable = writable && year >= 1 && year <= 9999;
    }
    check(encoded.has_value() == writable);
    if (!encoded)
        return;
    const std::optional<QList<UploadHistoryItem>> decoded = UploadHistoryCodec::decode(*encoded);
    check(decoded.has_value() && decoded->size() == items.size());
    for (qsizetype i = 0; i < items.size(); ++i) {
        const UploadHistoryItem &in = items.at(i);
        const UploadHistoryItem &out = decoded->at(i);
        check(out.id == in.id);
        const qint64 seconds = in.timestamp.toMSecsSinceEpoch() / 1000 -
                               (in.timestamp.toMSecsSinceEpoch() % 1000 < 0 ? 1 : 0);
        check(out.timestamp.toSecsSinceEpoch() == seconds);
        check(out.fileNames.size() == in.fileNames.size());
        for (qsizetype n = 0; n < in.fileNames.size(); ++n)
            check(out.fileNames.at(n) == UploadHistoryCodec::validUnicode(in.fileNames.at(n)));
        check(out.url.has_value() == in.url.has_value());
        if (in.url)
            check(*out.url == UploadHistoryCodec::validUnicode(*in.url));
        check(out.success == in.success);
        check(out.message == UploadHistoryCodec::validUnicode(in.message));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Inputs that start with a JSON array are stored histories; others
    // describe a list to encode.
    if (size > 0 && data[0] == '[') {
        decodeThenEncode(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    } else {
        FuzzedDataProvider input(data, size);
        encodeThenDecode(input);
    }
    return 0;
}
