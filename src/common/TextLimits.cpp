#include "TextLimits.h"

#include <QChar>

#include <memory>
#include <unicode/ubrk.h>

// ICU rather than QTextBoundaryFinder: Qt 6.4 splits a flag that follows
// an emoji ZWJ sequence into its two regional indicators.

namespace {

struct BreakIteratorCloser
{
    void operator()(UBreakIterator *iterator) const { ubrk_close(iterator); }
};
using BreakIterator = std::unique_ptr<UBreakIterator, BreakIteratorCloser>;

BreakIterator graphemeIterator(QStringView text)
{
    UErrorCode status = U_ZERO_ERROR;
    BreakIterator iterator(
        ubrk_open(UBRK_CHARACTER, "", text.utf16(), static_cast<int32_t>(text.size()), &status));
    if (U_FAILURE(status))
        return nullptr;
    return iterator;
}

} // namespace

qsizetype TextLimits::characterCount(QStringView text)
{
    if (text.isEmpty())
        return 0;
    const BreakIterator iterator = graphemeIterator(text);
    if (!iterator)
        return text.size();
    qsizetype count = 0;
    while (ubrk_next(iterator.get()) != UBRK_DONE)
        ++count;
    return count;
}

QString TextLimits::firstCharacters(QStringView text, qsizetype count)
{
    if (count <= 0 || text.isEmpty())
        return QString();
    // Fast path: never more characters than UTF-16 units.
    if (text.size() <= count)
        return text.toString();
    const BreakIterator iterator = graphemeIterator(text);
    if (!iterator)
        return text.first(count).toString();
    qsizetype end = 0;
    for (qsizetype n = 0; n < count; ++n) {
        const int32_t next = ubrk_next(iterator.get());
        if (next == UBRK_DONE)
            break;
        end = next;
    }
    return text.first(end).toString();
}

bool TextLimits::isWhitespaceOrNewline(char32_t codePoint)
{
    // QChar::isSpace covers U+0009..U+000D, U+0085 and the Zs, Zl and Zp
    // categories, which is exactly Unicode's White_Space set.
    return QChar::isSpace(codePoint);
}

QString TextLimits::trimmed(QStringView text)
{
    // No white space lies outside the Basic Multilingual Plane, so a
    // surrogate is never trimmed and walking by UTF-16 unit is exact.
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isWhitespaceOrNewline(text[begin].unicode()))
        ++begin;
    while (end > begin && isWhitespaceOrNewline(text[end - 1].unicode()))
        --end;
    return text.sliced(begin, end - begin).toString();
}

std::optional<QString> TextLimits::normalizedPassword(QStringView text)
{
    const QString trimmedText = trimmed(text);
    if (trimmedText.isEmpty())
        return std::nullopt;
    return firstCharacters(trimmedText, passwordCharacterLimit);
}
