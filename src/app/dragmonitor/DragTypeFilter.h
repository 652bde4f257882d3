#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>

#include <optional>

// What the X11 source learnt of one drag, turned into the types it reports.
// Pure (no X11), so it can be tested and fuzzed on its own.
namespace DragTypeFilter {

struct Offer
{
    QStringList typeList;   // XdndTypeList of the owner window
    QStringList advertised; // the source's answer to TARGETS
    QStringList answered;   // targets the source converted for us
    // The converted text/uri-list, when it was read; nullopt when the source
    // did not answer in time (its word that it offers one is then kept).
    std::optional<QByteArray> uriList;
    // The list came in pieces (INCR) and was not read: taken to hold files.
    bool uriListTooLong = false;
};

// True when a text/uri-list holds at least one file: URI (comment lines and
// surrounding white space ignored, scheme case-insensitive).
bool uriListHasFile(QByteArrayView uriList);

// The drag's types in the order learnt, without duplicates or transfer
// targets (TARGETS, TIMESTAMP, ...); text/uri-list and text/x-moz-url only
// when the list holds a file.
QStringList reportedTypes(const Offer &offer);

} // namespace DragTypeFilter
