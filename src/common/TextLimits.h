#pragma once

#include <QString>
#include <QStringView>
#include <optional>

// Length limits and trimming for user-entered text (passwords). Lengths are
// counted in user-perceived characters (extended grapheme clusters): an emoji
// family, a flag, a letter with combining marks or a conjoining Hangul
// syllable each count as one.
class TextLimits
{
public:
    // Longest password the application stores or sends, in characters.
    static constexpr qsizetype passwordCharacterLimit = 100;

    // Number of user-perceived characters in text.
    static qsizetype characterCount(QStringView text);

    // The prefix of text made of at most count user-perceived characters
    // (the whole text when it is shorter; empty for count <= 0).
    static QString firstCharacters(QStringView text, qsizetype count);

    // Unicode white space and line breaks: U+0009..U+000D, U+0020, U+0085,
    // U+00A0, U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F,
    // U+3000. U+200B and U+FEFF are not white space.
    static bool isWhitespaceOrNewline(char32_t codePoint);

    // text without white space and line breaks at either end; characters
    // inside stay.
    static QString trimmed(QStringView text);

    // Password as sent: trimmed; none when nothing is left; otherwise its
    // first passwordCharacterLimit characters.
    static std::optional<QString> normalizedPassword(QStringView text);
};
