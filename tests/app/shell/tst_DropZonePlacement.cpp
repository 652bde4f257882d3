#include "DropZonePlacement.h"

#include <QtTest>

using namespace DropZonePlacement;

Q_DECLARE_METATYPE(std::optional<QRect>)

class TestDropZonePlacement : public QObject
{
    Q_OBJECT
private slots:
    void origin_data();
    void origin();
    void fallbackAnchorSitsInTheTopRightCorner();
};

void TestDropZonePlacement::origin_data()
{
    QTest::addColumn<QRect>("anchor");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<std::optional<QRect>>("available");
    QTest::addColumn<QPoint>("expected");

    const QRect screen(0, 24, 1280, 776); // a panel of 24 px on top
    const QSize compact(210, 36);
    const QSize expanded(260, 132);

    // Centred under a 24 px icon in the panel at x 600..624: 612 - 105 = 507;
    // top 4 px above the icon's bottom edge.
    QTest::newRow("centred under the icon")
        << QRect(600, 0, 24, 24) << compact << std::optional(screen) << QPoint(507, 20);
    QTest::newRow("expanded stays centred")
        << QRect(600, 0, 24, 24) << expanded << std::optional(screen) << QPoint(482, 20);
    // Icon at the far right: the right edge stays 12 px inside (1280 - 12 - 210).
    QTest::newRow("far right clamp")
        << QRect(1256, 0, 24, 24) << compact << std::optional(screen) << QPoint(1058, 20);
    // Icon at the far left: 12 px from the left edge.
    QTest::newRow("far left clamp")
        << QRect(0, 0, 24, 24) << compact << std::optional(screen) << QPoint(12, 20);
    // A second screen to the right keeps its own margins.
    QTest::newRow("far left of a second screen")
        << QRect(1280, 0, 24, 24) << compact << std::optional(QRect(1280, 0, 1024, 768))
        << QPoint(1292, 20);
    // Wider than the screen: both side bounds cannot hold, the left one wins.
    QTest::newRow("wider than the screen")
        << QRect(150, 0, 20, 20) << QSize(400, 36) << std::optional(QRect(0, 0, 300, 600))
        << QPoint(12, 16);
    // A tray at the bottom of the screen: the zone would hang below it, so the
    // bottom margin (6 px) wins over the top limit.
    QTest::newRow("bottom panel") << QRect(600, 776, 24, 24) << expanded
                                  << std::optional(QRect(0, 0, 1280, 776)) << QPoint(482, 638);
    // No screen to clamp against: the candidate stands, even off to the left.
    QTest::newRow("no screen") << QRect(0, 0, 24, 24) << compact << std::optional<QRect>()
                               << QPoint(-93, 20);
}

void TestDropZonePlacement::origin()
{
    QFETCH(QRect, anchor);
    QFETCH(QSize, size);
    QFETCH(std::optional<QRect>, available);
    QFETCH(QPoint, expected);

    const QPoint got = DropZonePlacement::origin(anchor, size, available);
    QCOMPARE(got, expected);
    if (available && size.width() + 2 * sideMargin <= available->width()) {
        const QRect zone(got, size);
        QVERIFY(zone.left() >= available->left() + sideMargin);
        QVERIFY(zone.right() <= available->right() - sideMargin);
        QVERIFY(got.y() + size.height() <= available->y() + available->height() - bottomMargin);
    }
}

void TestDropZonePlacement::fallbackAnchorSitsInTheTopRightCorner()
{
    const QRect available(100, 30, 1000, 700);
    const QRect anchor = fallbackAnchor(available);
    QCOMPARE(anchor.topRight(), available.topRight());
    QCOMPARE(anchor.size(), QSize(fallbackAnchorSize, fallbackAnchorSize));
    // And a zone under it ends 12 px from the right edge, just below the top.
    const QPoint at = DropZonePlacement::origin(anchor, QSize(210, 36), available);
    QCOMPARE(at, QPoint(1100 - 12 - 210, 30 + fallbackAnchorSize - anchorOverlap));
}

QTEST_APPLESS_MAIN(TestDropZonePlacement)
#include "tst_DropZonePlacement.moc"
