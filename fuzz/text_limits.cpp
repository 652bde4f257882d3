// Counting and cutting user-perceived characters. The input's first byte is
// the limit (and, in its top bit, how the rest is read): the text as raw
// UTF-16 (lone surrogates included), or one byte per character from a set of
// code points that exercise every grapheme rule, since ICU's own branches
// give the fuzzer no coverage to follow.
#include "TextLimits.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

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

// CR, LF, controls, combining and spacing marks, prepend, ZWJ, ZWNJ,
// variation selector, Hangul L/V/T/LV/LVT, regional indicators, emoji with
// modifiers, extended pictographics, white space, plain letters, surrogates.
constexpr char32_t alphabet[] = {
    0x000D, 0x000A, 0x0000, 0x0009, 0x0085, 0x0301, 0x0323, 0x0903, 0x0600, 0x200D,
    0x200C, 0xFE0F, 0x1100, 0x1161, 0x11A8, 0xAC00, 0xAC01, 0x1F1EF, 0x1F1F5, 0x1F1FA,
    0x1F468, 0x1F469, 0x1F467, 0x1F3FD, 0x1F44D, 0x2764, 0x00A9, 0x20E3, 0x0031, 0x3000,
    0x0020, 0x2028, 0x0061, 0x30D1, 0x20BB7, 0xE007F, 0xE0067, 0x1F3F4, 0xD800, 0xDC00,
    0x0E33, 0x0D4E, 0x094D, 0x0915, 0x200B, 0xFEFF};

QString fromAlphabet(const uint8_t *data, size_t size)
{
    QString text;
    for (size_t i = 0; i < size; ++i) {
        const char32_t c = alphabet[data[i] % std::size(alphabet)];
        if (c >= 0xD800 && c <= 0xDFFF)
            text.append(QChar(char16_t(c)));
        else
            text.append(QString::fromUcs4(&c, 1));
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const qsizetype limit = (data[0] & 0x7F) % 40;
    const QString text =
        data[0] & 0x80
            ? fromAlphabet(data + 1, size - 1)
            : QString(reinterpret_cast<const QChar *>(data + 1), qsizetype((size - 1) / 2));
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
