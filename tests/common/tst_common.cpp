// src/common: the riding character (positions at the track's ends, drawn
// faces, mirroring, artwork) and the text limits (grapheme counting, trimming).
#include "CharacterImage.h"
#include "CharacterTrack.h"
#include "TextLimits.h"

#include <QDir>
#include <QTest>

#include <limits>

using namespace PelkinCharacter;

class CommonTest : public QObject
{
    Q_OBJECT

private slots:
    void characterOnItsTrack_data();
    void characterOnItsTrack();
    void fallbackFaces();
    void loaderMirrorsArtworkElseFallback();
    void graphemes_data();
    void graphemes();
    void trimming_data();
    void trimming();
};

void CommonTest::characterOnItsTrack_data()
{
    // Drop zone: 42-point character on a 240 track. Share panel: 48-point
    // character resting 8 above a bar at x 16, top 60 (y grows downwards).
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("progress");
    QTest::addColumn<QPointF>("dropZone"); // leading, centre from the track's top
    QTest::addColumn<QPointF>("sharePanel"); // top-left; (-1, -1): no position
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("start") << 240.0 << 0.0 << QPointF(0, -10) << QPointF(16, 4);
    QTest::newRow("half-way: towards the bar, away from it") << 240.0 << 0.5 << QPointF(99, -4)
                                                             << QPointF(112, -2);
    QTest::newRow("end: right edges meet") << 240.0 << 1.0 << QPointF(198, -10) << QPointF(208, 4);
    QTest::newRow("above 1") << 240.0 << 3.0 << QPointF(198, -10) << QPointF(208, 4);
    QTest::newRow("NaN") << 240.0 << nan << QPointF(0, -10) << QPointF(16, 4);
    QTest::newRow("narrower than the character") << 30.0 << 1.0 << QPointF(0, -10)
                                                 << QPointF(16, 4);
    QTest::newRow("no track") << 0.0 << 1.0 << QPointF(0, -10) << QPointF(-1, -1);
}

void CommonTest::characterOnItsTrack()
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

// Saved for a look into $PELKIN_BINARY_DIR/screenshots/common/.
void CommonTest::fallbackFaces()
{
    const QImage zone = makeFallbackCharacterImage(Deliverable::dropZone, 4);
    const QImage panel = makeFallbackCharacterImage(Deliverable::sharePanel, 2);
    for (const QImage &face : {zone, panel}) {
        QCOMPARE(face.deviceIndependentSize(), QSizeF(64, 64));
        const qreal dpr = face.devicePixelRatio();
        QCOMPARE(face.pixelColor(int(2 * dpr), int(2 * dpr)).alpha(), 0); // round face
        QCOMPARE(face.pixelColor(int(10 * dpr), int(32 * dpr)).alpha(), 255);
    }
    QVERIFY(zone.scaled(panel.size()) != panel); // each deliverable has its own face
    const QString dir = qEnvironmentVariable("PELKIN_BINARY_DIR") + "/screenshots/common/";
    QVERIFY(QDir().mkpath(dir));
    QVERIFY(zone.save(dir + "fallback-dropzone.png") && panel.save(dir + "fallback-sharepanel.png"));
}

void CommonTest::loaderMirrorsArtworkElseFallback()
{
    // Missing artwork: the asking deliverable's face, mirrored.
    const QImage face = makeFallbackCharacterImage(Deliverable::sharePanel);
    const QImage loaded = loadCharacterImage(Deliverable::sharePanel, ":/pelkin/NoSuchImage.png");
    QCOMPARE(loaded, face.mirrored(true, false));
    QVERIFY(loaded != face); // the highlight is off-centre
    QCOMPARE(loaded.devicePixelRatio(), face.devicePixelRatio());
    QVERIFY(flippedHorizontally(QImage()).isNull());

    // The artwork: large, transparent around the drop, mirrored when loaded.
    ensureResources();
    const QImage artwork =
        QImage(characterResource).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QVERIFY(artwork.width() >= 256 && artwork.height() >= 256);
    QCOMPARE(qAlpha(artwork.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(artwork.pixel(artwork.width() / 2, artwork.height() * 3 / 4)), 255);
    QCOMPARE(loadCharacterImage(Deliverable::dropZone)
                 .convertToFormat(QImage::Format_ARGB32_Premultiplied),
             artwork.mirrored(true, false));

    // Tray variants of the same size and outline: one grey, one blue.
    const QImage tray(trayResource);
    const QImage lit(trayHighlightedResource);
    QVERIFY(tray.width() >= 64 && tray.size() == lit.size());
    const QPoint body(tray.width() / 2, tray.height() * 5 / 8 - 10);
    QCOMPARE(tray.pixelColor(body).hsvSaturation(), 0);
    QVERIFY(lit.pixelColor(body).blue() > lit.pixelColor(body).red() + 80);
    QCOMPARE(qAlpha(tray.pixel(2, 2)), qAlpha(lit.pixel(2, 2)));
}

void CommonTest::graphemes_data()
{
    QTest::addColumn<QString>("character"); // one user-perceived character
    QTest::newRow("emoji family (ZWJ)") << QStringLiteral("👨‍👩‍👧‍👦");
    QTest::newRow("flag") << QStringLiteral("🇯🇵");
    QTest::newRow("keycap") << QStringLiteral("1\uFE0F\u20E3");
    QTest::newRow("combining marks") << QStringLiteral("e\u0301\u0323");
    QTest::newRow("conjoining jamo") << QStringLiteral("\u1100\u1161\u11A8");
    QTest::newRow("CR LF") << QStringLiteral("\r\n");
}

void CommonTest::graphemes()
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
    if (character != QStringLiteral("\r\n"))
        QCOMPARE(TextLimits::normalizedPassword(QStringLiteral("\u3000 ") + text),
                 std::optional(character.repeated(100)));
}

void CommonTest::trimming_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("trimmed");
    QTest::newRow("every kind of white space and line break")
        << "\t\r\n\x0B\x0C\u0085\u00A0\u1680\u2007\u2028 p \u2029\u202F\u205F\u3000"
        << "p";
    QTest::newRow("zero width space and byte order mark stay") << "\u200Bx\uFEFF"
                                                               << "\u200Bx\uFEFF";
    QTest::newRow("inner space stays") << " a \u3000 b "
                                       << "a \u3000 b";
    QTest::newRow("astral character at the edge") << " 😀 "
                                                  << "😀";
    QTest::newRow("only white space") << " \u3000\n\u2029"
                                      << "";
}

void CommonTest::trimming()
{
    QFETCH(QString, text);
    QFETCH(QString, trimmed);
    QCOMPARE(TextLimits::trimmed(text), trimmed);
    // Nothing left means no password.
    const std::optional<QString> password = TextLimits::normalizedPassword(text);
    QCOMPARE(password.value_or(QString()), trimmed);
    QCOMPARE(password.has_value(), !trimmed.isEmpty());
}

QTEST_GUILESS_MAIN(CommonTest)
#include "tst_common.moc"
