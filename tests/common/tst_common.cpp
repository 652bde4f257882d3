// src/common: where the riding character sits at the ends of its track, the artwork and its
// fallback (mirrored when loaded), and the text limits (grapheme counting, trimming).
#include "CharacterImage.h"
#include "CharacterTrack.h"
#include "TextLimits.h"

#include <QTest>

#include <limits>

using namespace PelkinCharacter;

class CommonTest : public QObject
{
    Q_OBJECT

private slots:
    void characterStaysOnItsTrack_data()
    {
        // Drop zone: 42-point character on a 240 track. Share panel: 48-point character resting
        // 8 above a bar at x 16, top 60. (-1, -1): no position.
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("progress");
        QTest::addColumn<QPointF>("dropZone"); // leading, centre from the track's top
        QTest::addColumn<QPointF>("sharePanel"); // top-left
        QTest::newRow("above 1: right edges meet") << 240.0 << 3.0 << QPointF(198, -10) << QPointF(208, 4);
        QTest::newRow("NaN: at the start") << 240.0 << std::numeric_limits<double>::quiet_NaN()
                                           << QPointF(0, -10) << QPointF(16, 4);
        QTest::newRow("narrower than the character") << 30.0 << 1.0 << QPointF(0, -10) << QPointF(16, 4);
        QTest::newRow("no track") << 0.0 << 1.0 << QPointF(0, -10) << QPointF(-1, -1);
    }
    void characterStaysOnItsTrack()
    {
        QFETCH(double, width);
        QFETCH(double, progress);
        QFETCH(QPointF, dropZone);
        QFETCH(QPointF, sharePanel);
        const TrackOffsets offsets = dropZoneOffsets(width, progress);
        QCOMPARE(QPointF(offsets.leading, offsets.centerFromTop), dropZone);
        const auto topLeft = sharePanelTopLeft(QRectF(16, 60, width, 10), QSizeF(48, 48), 52, progress);
        QCOMPARE(topLeft.value_or(QPointF(-1, -1)), sharePanel);
    }

    void artworkIsMirroredElseTheFallbackIs()
    {
        // Missing artwork: the asking deliverable's own face, mirrored (its highlight is off-centre).
        const QImage face = makeFallbackCharacterImage(Deliverable::sharePanel);
        const QImage loaded = loadCharacterImage(Deliverable::sharePanel, ":/pelkin/NoSuchImage.png");
        QVERIFY(loaded == face.mirrored(true, false) && loaded != face);
        QCOMPARE(loaded.devicePixelRatio(), face.devicePixelRatio());
        QVERIFY(makeFallbackCharacterImage(Deliverable::dropZone).scaled(face.size()) != face);
        ensureResources();
        const auto argb = [](const QImage &i) { return i.convertToFormat(QImage::Format_ARGB32_Premultiplied); };
        QCOMPARE(argb(loadCharacterImage(Deliverable::dropZone)), argb(QImage(characterResource)).mirrored(true, false));
    }

    void graphemesAreNeverSplit_data()
    {
        QTest::addColumn<QString>("character"); // one user-perceived character
        QTest::newRow("emoji family (ZWJ)") << QStringLiteral("👨‍👩‍👧‍👦");
        QTest::newRow("flag") << QStringLiteral("🇯🇵");
        QTest::newRow("keycap") << QStringLiteral("1\uFE0F\u20E3");
        QTest::newRow("combining marks") << QStringLiteral("e\u0301\u0323");
        QTest::newRow("conjoining jamo") << QStringLiteral("\u1100\u1161\u11A8");
    }
    void graphemesAreNeverSplit()
    {
        QFETCH(QString, character);
        // 150 of them and a flag: the first 100 survive, each intact; trimmed before shortened.
        const QString text = character.repeated(150) + QStringLiteral("🇺🇸");
        QCOMPARE(TextLimits::characterCount(text), 151);
        QCOMPARE(TextLimits::firstCharacters(text, 100), character.repeated(100));
        QCOMPARE(TextLimits::firstCharacters(text, 151), text);
        QCOMPARE(TextLimits::normalizedPassword(QStringLiteral("\u3000 ") + text), std::optional(character.repeated(100)));
    }

    void trimming()
    {
        QCOMPARE(TextLimits::trimmed(u"\t\r\n\x0B\x0C\u0085\u00A0\u1680\u2007\u2028 p \u3000 q "
                                     u"\u2029\u202F\u205F\u3000"_qs),
                 u"p \u3000 q"_qs);
        QCOMPARE(TextLimits::trimmed(u" \u200Bx\uFEFF😀 "_qs), u"\u200Bx\uFEFF😀"_qs); // not white space
        // Nothing left means no password.
        QCOMPARE(TextLimits::normalizedPassword(u" \u3000\n\u2029"_qs), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(CommonTest)
#include "tst_common.moc"
