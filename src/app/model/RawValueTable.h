#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <QVariantList>
#include <QVariantMap>
#include <optional>
#include <span>

// Lookups over a constant table of enumeration cases and their stored raw
// values, in display order. Entry needs the fields `value`, `rawValue` and
// `label`; the first entry answers for a case missing from the table.
template<typename Entry>
struct RawValueTable
{
    using Value = decltype(Entry::value);

    std::span<const Entry> entries;

    const Entry &info(Value value) const
    {
        for (const Entry &entry : entries) {
            if (entry.value == value)
                return entry;
        }
        return entries.front();
    }

    QList<Value> allCases() const
    {
        QList<Value> cases;
        for (const Entry &entry : entries)
            cases.append(entry.value);
        return cases;
    }

    QString rawValue(Value value) const { return info(value).rawValue.toString(); }

    // Exact, case-sensitive match of a raw value; none for anything else.
    std::optional<Value> fromRawValue(const QString &raw) const
    {
        for (const Entry &entry : entries) {
            if (entry.rawValue == raw)
                return entry.value;
        }
        return std::nullopt;
    }

    // [{ value, rawValue, label }] in display order, for QML; `more` adds an
    // entry's own fields to its map.
    template<typename More>
    QVariantList choices(More more) const
    {
        QVariantList list;
        for (const Entry &entry : entries) {
            QVariantMap item{{QStringLiteral("value"), int(entry.value)},
                             {QStringLiteral("rawValue"), entry.rawValue.toString()},
                             {QStringLiteral("label"), entry.label.toString()}};
            more(entry, item);
            list.append(item);
        }
        return list;
    }
    QVariantList choices() const
    {
        return choices([](const Entry &, QVariantMap &) {});
    }
};
