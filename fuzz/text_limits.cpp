// Counting and cutting user-perceived characters. The input's first byte is
// the limit; the rest is the text as UTF-16 (lone surrogates included).
#include "TextLimits.h"

#include <cstdint>

namespace {

void check(bool property)
{
    if (!property)
        __builtin_trap();
}

bool validUtf16(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const qsizetype limit = data[0] % 40;
    const QString text(reinterpret_cast<const QChar *>(data + 1), qsizetype((size - 1) / 2));
    const bool valid = validUtf16(text);

    const qsizetype count = TextLimits::characterCount(text);
    check(count >= 0 && count <= text.size() && (count == 0) == text.isEmpty());

    // The cut is the first min(limit, count) characters, whole, in order.
    const QString cut = TextLimits::firstCharacters(text, limit);
    check(text.startsWith(cut));
    check(TextLimits::characterCount(cut) == std::min(limit, count));
    check(TextLimits::firstCharacters(cut, limit) == cut);
    check(TextLimits::firstCharacters(text, TextLimits::characterCount(cut)) == cut);
    // One character more extends it, never changes it.
    check(TextLimits::firstCharacters(text, limit + 1).startsWith(cut));
    check(!valid || validUtf16(cut));

    const QString trimmed = TextLimits::trimmed(text);
    check(text.contains(trimmed) && TextLimits::trimmed(trimmed) == trimmed);
    check(trimmed.isEmpty() || (!TextLimits::isWhitespaceOrNewline(trimmed.front().unicode()) &&
                                !TextLimits::isWhitespaceOrNewline(trimmed.back().unicode())));
    check(!valid || validUtf16(trimmed));

    const std::optional<QString> password = TextLimits::normalizedPassword(text);
    check(password.has_value() == !trimmed.isEmpty());
    if (password) {
        check(trimmed.startsWith(*password));
        check(TextLimits::characterCount(*password) ==
              std::min(TextLimits::passwordCharacterLimit, TextLimits::characterCount(trimmed)));
        check(!valid || validUtf16(*password));
    }
    return 0;
}
