// The riding character: where it stands on the bar in the drop zone and in
// the share panel, its drawn fallbacks, the mirroring and the artwork.
#include "CharacterImage.h"
#include "CharacterTrack.h"

#include <QTest>

#include <cmath>
#include <limits>
#include <numbers>

using namespace PelkinCharacter;

namespace {

const double pi = std::numbers::pi;

// Pixel of the 64-unit canvas, whatever the pixel ratio.
QColor at(const QImage &image, double x, double y)
{
    return image.pixelColor(int(x * image.devicePixelRatio()), int(y * image.devicePixelRatio()));
}

bool mirrorsColumn(const QImage &original, const QImage &mirrored, int column)
{
    for (int y = 0; y < original.height(); ++y) {
        if (original.pixel(column, y) != mirrored.pixel(original.width() - 1 - column, y))
            return false;
    }
    return true;
}

} // namespace

class CharacterTest : public QObject
{
    Q_OBJECT

private slots:
    void dropZone_data();
    void dropZone();
    void sharePanel_data();
    void sharePanel();
    void fallbackFaces();
    void loaderMirrorsArtworkElseFallback();
};

void CharacterTest::dropZone_data()
{
    QTest::addColumn<double>("trackWidth");
    QTest::addColumn<double>("progress");
    QTest::addColumn<double>("leading");
    QTest::addColumn<double>("centre");
    QTest::newRow("start") << 240.0 << 0.0 << 0.0 << -10.0;
    QTest::newRow("half-way dips toward the bar") << 240.0 << 0.5 << 99.0 << -4.0;
    QTest::newRow("end: right edges meet") << 240.0 << 1.0 << 198.0 << -10.0;
    QTest::newRow("narrow track") << 30.0 << 0.7 << 0.0 << -10 + 6 * std::sin(pi * 0.7);
    QTest::newRow("no track") << 0.0 << 0.5 << 0.0 << -4.0;
    QTest::newRow("above 1") << 240.0 << 3.0 << 198.0 << -10.0;
    QTest::newRow("NaN") << 240.0 << std::numeric_limits<double>::quiet_NaN() << 0.0 << -10.0;
}

void CharacterTest::dropZone()
{
    QFETCH(double, trackWidth);
    QFETCH(double, progress);
    QFETCH(double, leading);
    QFETCH(double, centre);
    const TrackOffsets offsets = dropZoneOffsets(trackWidth, progress);
    QVERIFY(std::abs(offsets.leading - leading) < 1e-9);
    // Exactly -10 at the ends (sin(pi) is not quite 0).
    QVERIFY2(std::abs(offsets.centerFromTop - centre) < 1e-12,
             qPrintable(QString::number(offsets.centerFromTop, 'g', 17)));
}

void CharacterTest::sharePanel_data()
{
    // Bar at x 16, top 60 in a y-down container; the 48-point character rests
    // with its bottom 8 above the bar (52), so its top at 4.
    QTest::addColumn<QRectF>("bar");
    QTest::addColumn<double>("progress");
    QTest::addColumn<QPointF>("topLeft");
    const QRectF bar(16, 60, 292, 10);
    QTest::newRow("start") << bar << 0.0 << QPointF(16, 4);
    QTest::newRow("half-way rises 6") << bar << 0.5 << QPointF(138, -2);
    QTest::newRow("end") << bar << 1.0 << QPointF(260, 4);
    QTest::newRow("narrow bar") << QRectF(16, 60, 30, 10) << 0.8
                                << QPointF(16, 4 - 6 * std::sin(pi * 0.8));
    QTest::newRow("no bar: stay put") << QRectF(16, 60, 0, 10) << 0.5 << QPointF(-1, -1);
}

void CharacterTest::sharePanel()
{
    QFETCH(QRectF, bar);
    QFETCH(double, progress);
    QFETCH(QPointF, topLeft);
    const auto result = sharePanelTopLeft(bar, QSizeF(48, 48), bar.top() - 8, progress);
    QCOMPARE(result.has_value(), topLeft.x() >= 0);
    if (result)
        QVERIFY((*result - topLeft).manhattanLength() < 1e-9);
    QVERIFY(sharePanelShouldAnimate(true, 0.01) && !sharePanelShouldAnimate(true, 0.0));
}

void CharacterTest::fallbackFaces()
{
    const QImage zone = makeFallbackCharacterImage(Deliverable::dropZone, 4);
    const QImage panel = makeFallbackCharacterImage(Deliverable::sharePanel, 4);
    for (const QImage &face : {zone, panel}) {
        QCOMPARE(face.deviceIndependentSize(), QSizeF(64, 64));
        QCOMPARE(at(face, 2, 2).alpha(), 0);               // transparent outside the face
        QVERIFY(at(face, 10, 32).blue() > 200);            // blue face, 6 in from the edge
        QCOMPARE(at(face, 23.5, 24.5), QColor(Qt::white)); // eyes above the middle
        QCOMPARE(at(face, 40.5, 24.5), QColor(Qt::white));
    }
    // The drop zone's smile is black and dips to y 50.5; the share panel's is
    // pale and higher, and only the share panel has the highlight.
    QVERIFY(at(zone, 32, 50.5).lightness() < 40);
    QVERIFY(at(panel, 32, 50.5).blue() > 200);
    QVERIFY(at(panel, 32, 45.75).green() > 200);
    QCOMPARE(at(zone, 30, 16), at(zone, 10, 32));
    QVERIFY(at(panel, 30, 16).red() > at(zone, 30, 16).red() + 30);
}

void CharacterTest::loaderMirrorsArtworkElseFallback()
{
    // Missing artwork: the asking deliverable's face, mirrored.
    const QString missing = QStringLiteral(":/pelkin/NoSuchCharacter.png");
    const QImage face = makeFallbackCharacterImage(Deliverable::sharePanel);
    const QImage loaded = loadCharacterImage(Deliverable::sharePanel, missing);
    QCOMPARE(loaded, flippedHorizontally(face));
    QVERIFY(loaded != face); // the highlight is off-centre
    for (int column : {0, 100, 140, 255})
        QVERIFY(mirrorsColumn(face, loaded, column));
    QCOMPARE(loaded.devicePixelRatio(), face.devicePixelRatio());
    QVERIFY(flippedHorizontally(QImage()).isNull());

    // The artwork: large, transparent around the drop, mirrored when loaded.
    ensureResources();
    const QImage artwork =
        QImage(characterResource).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QVERIFY(artwork.width() >= 256 && artwork.height() >= 256);
    QCOMPARE(qAlpha(artwork.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(artwork.pixel(artwork.width() / 2, artwork.height() * 3 / 4)), 255);
    const QImage character = loadCharacterImage(Deliverable::dropZone);
    for (int column : {0, artwork.width() / 3, artwork.width() - 1})
        QVERIFY(mirrorsColumn(artwork, character, column));

    // Tray variants of the same size: one grey, one blue, same outline.
    const QImage tray(trayResource);
    const QImage lit(trayHighlightedResource);
    QVERIFY(tray.width() >= 64 && tray.size() == lit.size());
    const QPoint body(tray.width() / 2, tray.height() * 5 / 8 - 10);
    QCOMPARE(tray.pixelColor(body).hsvSaturation(), 0);
    QVERIFY(lit.pixelColor(body).blue() > lit.pixelColor(body).red() + 80);
    QCOMPARE(qAlpha(tray.pixel(2, 2)), qAlpha(lit.pixel(2, 2)));
}

QTEST_GUILESS_MAIN(CharacterTest)
#include "tst_character.moc"
