#include "AppModel.h"
#include "StoreFixture.h"
#include "UploadHistoryCodec.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>

class AppModelHistoryTest : public QObject
{
    Q_OBJECT

private slots:
    void roundTripAndStoredForm();
    void decoding_data();
    void decoding();
    void cap();
    void removal();
    void timestamps();
    void encodingFailureKeepsStoredHistory();
};

namespace {

QJsonArray stored(const StoreFixture &store)
{
    return QJsonDocument::fromJson(store.value(historyKey).toByteArray()).array();
}

QJsonObject entry(int n)
{
    return {{"id", QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()},
            {"timestamp", QStringLiteral("2025-03-01T09:05:%1Z").arg(n % 60, 2, 10, QChar(u'0'))},
            {"fileNames", QJsonArray{QStringLiteral("file%1.txt").arg(n)}},
            {"url", QStringLiteral("https://example.test/%1").arg(n)},
            {"success", true},
            {"message", QString::number(n)}};
}

QByteArray entries(int count)
{
    QJsonArray array;
    for (int i = 0; i < count; ++i)
        array.append(entry(i));
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

// Two entries, the second with one member replaced (or removed when undefined).
QByteArray withMember(const QString &key, const QJsonValue &value)
{
    QJsonObject object = entry(1);
    if (value.isUndefined())
        object.remove(key);
    else
        object.insert(key, value);
    return QJsonDocument(QJsonArray{entry(0), object}).toJson(QJsonDocument::Compact);
}

} // namespace

void AppModelHistoryTest::roundTripAndStoredForm()
{
    StoreFixture store;
    AppModel model(store.path());
    QSignalSpy spy(&model, &AppModel::historyChanged);
    model.addHistory({QStringLiteral("a.txt"), QStringLiteral("写真 1.png")},
                     QStringLiteral("https://example.test/x"), true, QStringLiteral("発行"));
    // A name that is not valid Unicode is kept with a replacement character.
    model.addHistory({QStringLiteral("bad") + QChar(0xD800)}, std::nullopt, false,
                     QStringLiteral("失敗"));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(model.history().first().fileNames, QStringList{QStringLiteral("bad\uFFFD")});
    QCOMPARE(model.historyList().first().toMap().value("id"), model.history().first().idString());

    const QJsonArray array = stored(store);
    QCOMPARE(array.size(), 2);
    const QJsonObject newest = array.at(0).toObject();
    const QJsonObject oldest = array.at(1).toObject();
    QCOMPARE(newest.value("message"), QJsonValue("失敗"));
    QVERIFY(!newest.contains("url"));
    QCOMPARE(oldest.value("url"), QJsonValue("https://example.test/x"));
    QCOMPARE(oldest.value("fileNames"), QJsonValue(QJsonArray{"a.txt", "写真 1.png"}));
    QCOMPARE(oldest.value("success"), QJsonValue(true));
    static const QRegularExpression idForm(
        QStringLiteral("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$"));
    static const QRegularExpression timeForm(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$"));
    QVERIFY(idForm.match(newest.value("id").toString()).hasMatch());
    QVERIFY(timeForm.match(newest.value("timestamp").toString()).hasMatch());

    QCOMPARE(AppModel(store.path()).history(), model.history());
}

void AppModelHistoryTest::decoding_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("decodes");
    QTest::newRow("url missing") << withMember("url", QJsonValue::Undefined) << true;
    QTest::newRow("url null") << withMember("url", QJsonValue::Null) << true;
    QTest::newRow("extra member") << withMember("extra", 42) << true;
    QTest::newRow("lower-case id")
        << withMember("id", "0f8fad5b-d9cb-469f-a165-70867728950e") << true;
    QTest::newRow("400 entries") << entries(400) << true;

    QTest::newRow("message missing") << withMember("message", QJsonValue::Undefined) << false;
    QTest::newRow("id missing") << withMember("id", QJsonValue::Undefined) << false;
    QTest::newRow("timestamp missing") << withMember("timestamp", QJsonValue::Undefined) << false;
    QTest::newRow("fileNames missing") << withMember("fileNames", QJsonValue::Undefined) << false;
    QTest::newRow("success missing") << withMember("success", QJsonValue::Undefined) << false;
    QTest::newRow("fractional seconds")
        << withMember("timestamp", "2025-03-01T09:05:00.750Z") << false;
    QTest::newRow("zone offset") << withMember("timestamp", "2025-03-01T18:05:00+09:00") << false;
    QTest::newRow("no zone") << withMember("timestamp", "2025-03-01T09:05:00") << false;
    QTest::newRow("date only") << withMember("timestamp", "2025-03-01") << false;
    QTest::newRow("February 30th") << withMember("timestamp", "2025-02-30T09:05:00Z") << false;
    QTest::newRow("hour 24") << withMember("timestamp", "2025-03-01T24:00:00Z") << false;
    QTest::newRow("number timestamp") << withMember("timestamp", 760000000) << false;
    QTest::newRow("id in braces") << withMember("id", "{0F8FAD5B-D9CB-469F-A165-70867728950E}")
                                  << false;
    QTest::newRow("id not a UUID") << withMember("id", "not-a-uuid") << false;
    QTest::newRow("success as text") << withMember("success", "true") << false;
    QTest::newRow("file name a number") << withMember("fileNames", QJsonArray{"a", 1}) << false;
    QTest::newRow("url a number") << withMember("url", 5) << false;
    QTest::newRow("message null") << withMember("message", QJsonValue::Null) << false;
    QTest::newRow("entry not an object") << QByteArray("[1]") << false;
    QTest::newRow("object, not array") << QByteArray("{}") << false;
    QTest::newRow("truncated") << entries(3).chopped(5) << false;
    QTest::newRow("trailing garbage") << entries(1) + "x" << false;
    QTest::newRow("empty blob") << QByteArray() << false;
    QTest::newRow("invalid UTF-8") << QByteArray("[{\"message\":\"\xff\xfe\"}]") << false;
}

void AppModelHistoryTest::decoding()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, decodes);
    StoreFixture store;
    store.write({{historyKey, json}, {defaultPasswordKey, "kept"}});
    AppModel model(store.path());
    QCOMPARE(model.defaultPassword(), QStringLiteral("kept"));
    if (!decodes) {
        // All or nothing; what was thrown away survives in the copy.
        QVERIFY(model.history().isEmpty());
        QCOMPARE(store.value(historyKey), QVariant(QByteArray("[]")));
        QCOMPARE(QSettings(model.damagedStoreCopyPath(), QSettings::IniFormat).value(historyKey),
                 QVariant(json));
        return;
    }
    const QJsonArray original = QJsonDocument::fromJson(json).array();
    QCOMPARE(model.history().size(), original.size()); // no cap on load
    const UploadHistoryItem &second = model.history().at(1);
    QCOMPARE(second.url.has_value(), original.at(1).toObject().value("url").isString());
    QCOMPARE(second.timestamp, QDateTime(QDate(2025, 3, 1), QTime(9, 5, 1), QTimeZone::utc()));
    QCOMPARE(second.id, QUuid::fromString(original.at(1).toObject().value("id").toString()));
    QVERIFY(model.damagedStoreCopyPath().isEmpty());
    // Written back, an absent URL has no member at all.
    QCOMPARE(stored(store).at(1).toObject().contains("url"), second.url.has_value());
}

void AppModelHistoryTest::cap()
{
    for (const int count : {300, 400}) {
        StoreFixture store;
        store.write({{historyKey, entries(count)}});
        AppModel model(store.path());
        const QList<UploadHistoryItem> before = model.history();
        model.addHistory({QStringLiteral("new.txt")}, std::nullopt, true, QStringLiteral("new"));
        QCOMPARE(model.history().size(), 300);
        QCOMPARE(model.history().first().message, QStringLiteral("new"));
        QCOMPARE(model.history().mid(1), before.first(299));
        QCOMPARE(stored(store).size(), 300);
    }
}

void AppModelHistoryTest::removal()
{
    StoreFixture store;
    AppModel model(store.path());
    for (int i = 0; i < 3; ++i)
        model.addHistory({}, std::nullopt, true, QString::number(i));
    const QList<UploadHistoryItem> items = model.history();

    model.removeHistoryItem(items.at(1));
    QCOMPARE(model.history(), (QList<UploadHistoryItem>{items.at(0), items.at(2)}));
    model.removeHistoryItemById(items.at(2).idString().toLower());
    QCOMPARE(model.history(), QList<UploadHistoryItem>{items.at(0)});
    QCOMPARE(stored(store).size(), 1);

    // No match: the list stays, and the key is written anyway.
    store.write({}, {historyKey});
    model.removeHistoryItem(items.at(1));
    QCOMPARE(model.history(), QList<UploadHistoryItem>{items.at(0)});
    QCOMPARE(stored(store).size(), 1);

    model.clearHistory();
    QVERIFY(model.history().isEmpty());
    QCOMPARE(store.value(historyKey), QVariant(QByteArray("[]")));
}

void AppModelHistoryTest::timestamps()
{
    const QDateTime withFraction(QDate(2025, 3, 1), QTime(9, 5, 0, 750), QTimeZone::utc());
    QCOMPARE(UploadHistoryCodec::formatTimestamp(withFraction),
             QStringLiteral("2025-03-01T09:05:00Z"));
    const QDateTime tokyo(QDate(2025, 3, 1), QTime(18, 5, 0), QTimeZone("Asia/Tokyo"));
    QCOMPARE(UploadHistoryCodec::formatTimestamp(tokyo), QStringLiteral("2025-03-01T09:05:00Z"));

    // In memory as stored: whole seconds, so a reload compares equal.
    StoreFixture store;
    AppModel model(store.path());
    model.addHistory({}, std::nullopt, true, QString());
    const QDateTime stamp = model.history().first().timestamp;
    QCOMPARE(stamp.time().msec(), 0);
    QVERIFY(qAbs(stamp.secsTo(QDateTime::currentDateTimeUtc())) <= 2);
    QCOMPARE(AppModel(store.path()).history().first().timestamp, stamp);
}

void AppModelHistoryTest::encodingFailureKeepsStoredHistory()
{
    StoreFixture store;
    AppModel model(store.path());
    model.addHistory({QStringLiteral("a.txt")}, std::nullopt, true, QStringLiteral("kept"));
    const QVariant before = store.value(historyKey);
    QList<UploadHistoryItem> items = model.history();
    items.prepend(UploadHistoryItem(QUuid::createUuid(), QDateTime(), {}, std::nullopt, true, {}));
    model.setHistory(items);
    QCOMPARE(model.history().size(), 2);
    QCOMPARE(store.value(historyKey), before);
}

QTEST_GUILESS_MAIN(AppModelHistoryTest)
#include "tst_appmodel_history.moc"
