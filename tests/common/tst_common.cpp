// src/common: where the riding character sits at the ends of its track, the artwork and its
// fallback (mirrored when loaded), and the text limits (grapheme counting, trimming).
#include "CharacterImage.h"
#include "CharacterTrack.h"
#include "TextLimits.h"

#include <QTest>

using namespace PelkinCharacter;

class CommonTest : public QObject
{
    Q_OBJECT

private slots:
    void characterStaysOnItsTrack()
    {
        // Drop zone: a 42-point character on its track. Share panel: a 48-point character
        // resting 8 above a bar at x 16, top 60; (-1, -1) for no place at all.
        const struct
        {
            double width, progress;
            QPointF dropZone, sharePanel;
        } rows[] = {{240, 3, {198, -10}, {208, 4}}, // past the end: the right edges meet
                    {240, qQNaN(), {0, -10}, {16, 4}},
                    {30, 1, {0, -10}, {16, 4}}, // narrower than the character
                    {0, 1, {0, -10}, {-1, -1}}};
        for (const auto &row : rows) {
            const TrackOffsets offsets = dropZoneOffsets(row.width, row.progress);
            QCOMPARE(QPointF(offsets.leading, offsets.centerFromTop), row.dropZone);
            const auto topLeft =
                sharePanelTopLeft(QRectF(16, 60, row.width, 10), QSizeF(48, 48), 52, row.progress);
            QCOMPARE(topLeft.value_or(QPointF(-1, -1)), row.sharePanel);
        }
    }

    void artworkIsMirroredElseTheFallbackIs()
    {
        // Missing artwork: the asker's own face, mirrored (its highlight is off-centre).
        const QImage face = makeFallbackCharacterImage(Deliverable::sharePanel);
        const QImage loaded = loadCharacterImage(Deliverable::sharePanel, ":/pelkin/None.png");
        QVERIFY(loaded == face.mirrored(true, false) && loaded != face);
        QCOMPARE(loaded.devicePixelRatio(), face.devicePixelRatio());
        QVERIFY(makeFallbackCharacterImage(Deliverable::dropZone).scaled(face.size()) != face);
        ensureResources();
        const QImage artwork = QImage(characterResource).mirrored(true, false);
        QCOMPARE(loadCharacterImage(Deliverable::dropZone).convertToFormat(artwork.format()),
                 artwork);
    }

    void textLimits()
    {
        // A ZWJ emoji family, a flag, a keycap, combining marks, conjoining jamo: 150 of one and
        // a flag, of which the first 100 survive, each intact; trimmed before shortened.
        for (const QString &character :
             {u"👨‍👩‍👧‍👦"_qs, u"🇯🇵"_qs, u"1\uFE0F\u20E3"_qs, u"e\u0301\u0323"_qs,
              u"\u1100\u1161\u11A8"_qs}) {
            const QString text = character.repeated(150) + u"🇺🇸"_qs;
            QCOMPARE(TextLimits::characterCount(text), 151);
            QCOMPARE(TextLimits::firstCharacters(text, 100), character.repeated(100));
            QCOMPARE(TextLimits::firstCharacters(text, 151), text);
            QCOMPARE(TextLimits::normalizedPassword(u"\u3000 "_qs + text),
                     std::optional(character.repeated(100)));
        }
        // White space as Unicode has it is trimmed, zero-width characters are not.
        QCOMPARE(TextLimits::trimmed(u"\t\r\n\x0B\x0C\u0085\u00A0\u1680\u2007\u2028 p \u3000 q "
                                     u"\u2029\u202F\u205F\u3000"_qs),
                 u"p \u3000 q"_qs);
        QCOMPARE(TextLimits::trimmed(u" \u200Bx\uFEFF😀 "_qs), u"\u200Bx\uFEFF😀"_qs);
        // Nothing left means no password.
        QCOMPARE(TextLimits::normalizedPassword(u" \u3000\n\u2029"_qs), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(CommonTest)
#include "tst_common.moc"
