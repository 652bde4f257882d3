#include "TextLimits.h"

#include <QTest>

class TextLimitsTest : public QObject
{
    Q_OBJECT

private slots:
    void graphemes_data();
    void graphemes();
    void trimming_data();
    void trimming();
};

void TextLimitsTest::graphemes_data()
{
    QTest::addColumn<QString>("character"); // one user-perceived character
    QTest::newRow("emoji family (ZWJ)") << QStringLiteral("👨‍👩‍👧‍👦");
    QTest::newRow("flag") << QStringLiteral("🇯🇵");
    QTest::newRow("skin tone") << QStringLiteral("👍🏽");
    QTest::newRow("keycap") << QStringLiteral("1\uFE0F\u20E3");
    QTest::newRow("combining marks") << QStringLiteral("e\u0301\u0323");
    QTest::newRow("conjoining jamo") << QStringLiteral("\u1100\u1161\u11A8");
    QTest::newRow("CR LF") << QStringLiteral("\r\n");
    QTest::newRow("astral letter") << QStringLiteral("𠮷");
    QTest::newRow("kana") << QStringLiteral("パ");
}

void TextLimitsTest::graphemes()
{
    QFETCH(QString, character);
    QCOMPARE(TextLimits::characterCount(character), 1);
    // 150 of them: the first 100 survive, each intact; a following flag is not split.
    const QString text = character.repeated(150) + QStringLiteral("🇺🇸");
    QCOMPARE(TextLimits::characterCount(text), 151);
    QCOMPARE(TextLimits::firstCharacters(text, 100), character.repeated(100));
    QCOMPARE(TextLimits::firstCharacters(text, 151), text);
    QCOMPARE(TextLimits::firstCharacters(text, 0), QString());
    // Trimmed before it is shortened: leading spaces do not use up the limit.
    if (!TextLimits::isWhitespaceOrNewline(character.front().unicode()))
        QCOMPARE(TextLimits::normalizedPassword(QStringLiteral("\u3000 ") + text),
                 std::optional(character.repeated(100)));
}

void TextLimitsTest::trimming_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("trimmed");
    QTest::newRow("spaces, tabs, line breaks") << "\t\r\n p \n\x0B\x0C"
                                               << "p";
    QTest::newRow("ideographic space") << "\u3000パス\u3000"
                                       << "パス";
    QTest::newRow("line and paragraph separators") << "\u2028a b\u2029"
                                                   << "a b";
    QTest::newRow("next line") << "\u0085x\u0085"
                               << "x";
    QTest::newRow("no-break and other spaces") << "\u00A0\u202F\u2007x\u205F\u1680"
                                               << "x";
    QTest::newRow("zero width space stays") << "\u200Bx\u200B"
                                            << "\u200Bx\u200B";
    QTest::newRow("byte order mark stays") << "\uFEFFx"
                                           << "\uFEFFx";
    QTest::newRow("inner space stays") << " a \u3000 b "
                                       << "a \u3000 b";
    QTest::newRow("astral character at the edge") << " 😀 "
                                                  << "😀";
    QTest::newRow("only white space") << " \u3000\n\u2029"
                                      << "";
}

void TextLimitsTest::trimming()
{
    QFETCH(QString, text);
    QFETCH(QString, trimmed);
    QCOMPARE(TextLimits::trimmed(text), trimmed);
    // Nothing left means no password.
    const std::optional<QString> password = TextLimits::normalizedPassword(text);
    QCOMPARE(password.value_or(QString()), trimmed);
    QCOMPARE(password.has_value(), !trimmed.isEmpty());
}

QTEST_GUILESS_MAIN(TextLimitsTest)
#include "tst_textlimits.moc"
