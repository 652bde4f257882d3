#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <optional>
#include <span>

// Lookups over a constant table of enumeration cases and their stored raw
// values. Entry needs the fields `value` and `rawValue`; the first entry
// answers for a case missing from the table.
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

    std::optional<Value> fromRawValue(const QString &raw) const
    {
        for (const Entry &entry : entries) {
            if (entry.rawValue == raw)
                return entry.value;
        }
        return std::nullopt;
    }
};
