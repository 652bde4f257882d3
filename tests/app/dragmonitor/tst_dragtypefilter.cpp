// What the X11 source reports for what a drag source told it.
#include "DragTypeFilter.h"

#include <QtTest>

using DragTypeFilter::Offer;
Q_DECLARE_METATYPE(Offer)

class TestDragTypeFilter : public QObject
{
    Q_OBJECT
private slots:
    void uriListHasFile_data();
    void uriListHasFile();
    void reportedTypes_data();
    void reportedTypes();
};

void TestDragTypeFilter::uriListHasFile_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<bool>("hasFile");
    QTest::newRow("one file") << QByteArray("file:///tmp/a.txt") << true;
    QTest::newRow("CRLF lines, file second")
        << QByteArray("https://example.org/\r\nfile:///tmp/a%20b\r\n") << true;
    QTest::newRow("upper-case scheme") << QByteArray("FILE:///tmp/a") << true;
    QTest::newRow("host form") << QByteArray("file://host/tmp/a") << true;
    QTest::newRow("leading blanks and trailing NUL") << QByteArray("  file:///a\r\n\0", 14) << true;
    QTest::newRow("web link") << QByteArray("https://example.org/file:///x") << false;
    QTest::newRow("commented file") << QByteArray("# file:///tmp/a\r\nhttp://x/") << false;
    QTest::newRow("scheme only, cut") << QByteArray("file") << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("blank lines") << QByteArray("\n\n\r\n") << false;
    QTest::newRow("NUL before scheme") << QByteArray("\0file:///a", 10) << false;
}

void TestDragTypeFilter::uriListHasFile()
{
    QFETCH(QByteArray, list);
    QFETCH(bool, hasFile);
    QCOMPARE(DragTypeFilter::uriListHasFile(list), hasFile);
}

void TestDragTypeFilter::reportedTypes_data()
{
    QTest::addColumn<Offer>("offer");
    QTest::addColumn<QStringList>("types");
    const QStringList qtUriTypes{"text/uri-list", "text/x-moz-url", "text/plain"};

    // As measured from a Qt source: no TARGETS, three types converted.
    QTest::newRow("Qt files") << Offer{{}, {}, qtUriTypes, QByteArray("file:///a\r\n"), false}
                              << qtUriTypes;
    QTest::newRow("Qt web link") << Offer{{}, {}, qtUriTypes, QByteArray("https://a/\r\n"), false}
                                 << QStringList{"text/plain"};
    // GTK answers TARGETS with the transfer targets, which are not types.
    QTest::newRow("GTK files")
        << Offer{{},
                 {"TIMESTAMP", "TARGETS", "MULTIPLE", "DELETE", "text/uri-list"},
                 {"text/uri-list"},
                 QByteArray("file:///a\r\n"),
                 false}
        << QStringList{"text/uri-list"};
    QTest::newRow("type list first, no duplicates")
        << Offer{{"x-special/gnome-icon-list", "text/uri-list"},
                 {"text/uri-list", "SAVE_TARGETS", "UTF8_STRING"},
                 {"text/uri-list", "x-special/gnome-icon-list"},
                 QByteArray("file:///a"),
                 false}
        << QStringList{"x-special/gnome-icon-list", "text/uri-list", "UTF8_STRING"};
    QTest::newRow("list not read in time: the offer stands")
        << Offer{{"text/uri-list", "text/plain"}, {}, {}, std::nullopt, false}
        << QStringList{"text/uri-list", "text/plain"};
    QTest::newRow("list in pieces: taken as files")
        << Offer{{}, {}, {"text/uri-list"}, QByteArray(), true} << QStringList{"text/uri-list"};
    QTest::newRow("empty list: no files")
        << Offer{{"text/uri-list", "XdndDirectSave0"}, {}, {}, QByteArray(), false}
        << QStringList{"XdndDirectSave0"};
    QTest::newRow("unnamed atoms dropped") << Offer{{"", "STRING"}, {""}, {}, std::nullopt, false}
                                           << QStringList{"STRING"};
    QTest::newRow("nothing learnt") << Offer{} << QStringList{};
}

void TestDragTypeFilter::reportedTypes()
{
    QFETCH(Offer, offer);
    QFETCH(QStringList, types);
    QCOMPARE(DragTypeFilter::reportedTypes(offer), types);
}

QTEST_MAIN(TestDragTypeFilter)
#include "tst_dragtypefilter.moc"
