#include "domain/JsonValue.h"
#include "domain/KivoError.h"
#include "domain/RecordingConfiguration.h"
#include "domain/RecordingPreset.h"
#include "domain/RecordingRecord.h"

#include "TestMain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <functional>
#include <limits>

using namespace kivo;

namespace {

const QUrl kFolder = QUrl::fromLocalFile(QStringLiteral("/home/user/Music/Kivo/"));

QJsonValue parsed(const QByteArray& json) {
    QJsonParseError error{};
    const auto document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) {
        qFatal("unparsable test JSON: %s", json.constData());
    }
    return document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array());
}

RecordingConfiguration fullConfiguration() {
    RecordingConfiguration configuration(
        QUrl::fromLocalFile(QStringLiteral("/home/user/音樂/Kivo 錄音 #1 %?/")));
    configuration.name = QStringLiteral("週會 \"A/B\" \\ 紀錄\n👨‍👩‍👧");
    configuration.mode = RecordingMode::application;
    configuration.includesMicrophone = false;
    configuration.applicationPID = -42;
    configuration.applicationName = QStringLiteral("Zoom");
    configuration.applicationBundleID = QStringLiteral("/usr/bin/zoom");
    configuration.microphoneDeviceID = 4294967295U;
    configuration.format = AudioOutputFormat::wav;
    configuration.highQuality = true;
    configuration.saveSeparateTracks = true;
    configuration.systemGain = 0.123456789F;
    configuration.microphoneGain = 1e-7F;
    return configuration;
}

RecordingRecord sampleRecord() {
    return RecordingRecord(
        QUuid(QStringLiteral("{0F8FAD5B-D9CB-469F-A165-70867728950E}")),
        QStringLiteral("訪談 2024/05/01"), Date{737000123.456789}, 3723.25, fullConfiguration(),
        {QUrl::fromLocalFile(QStringLiteral("/home/user/音樂/訪談.m4a")),
         QUrl::fromLocalFile(QStringLiteral("/home/user/音樂/訪談-系統聲音.m4a"))});
}

// The default configuration's object with one change applied.
QJsonObject configurationObject(const std::function<void(QJsonObject&)>& change = {}) {
    auto object = parsed(writeCompact(RecordingConfiguration(kFolder).toJson())).toObject();
    if (change) {
        change(object);
    }
    return object;
}

QJsonObject recordObject(const std::function<void(QJsonObject&)>& change = {}) {
    auto object = parsed(writeCompact(sampleRecord().toJson())).toObject();
    if (change) {
        change(object);
    }
    return object;
}

using Change = std::function<void(QJsonObject&)>;

Change removing(const QString& key) {
    return [key](QJsonObject& o) { o.remove(key); };
}

Change setting(const QString& key, const QJsonValue& value) {
    return [key, value](QJsonObject& o) { o.insert(key, value); };
}

} // namespace

Q_DECLARE_METATYPE(Change)

class JsonCodingTest : public QObject {
    Q_OBJECT

private slots:
    void defaultConfigurationCompactBytes() {
        QCOMPARE(
            writeCompact(RecordingConfiguration(kFolder).toJson()),
            QStringLiteral(R"({"name":"我的錄音","mode":"system","includesMicrophone":true,)"
                           R"("format":"AAC","highQuality":false,)"
                           R"("outputDirectory":"file:\/\/\/home\/user\/Music\/Kivo\/",)"
                           R"("saveSeparateTracks":false,"systemGain":0.8,"microphoneGain":0.7})")
                .toUtf8());
    }

    void defaultConfigurationSortedIndentedBytes() {
        QCOMPARE(writeSortedIndented(RecordingConfiguration(kFolder).toJson()),
                 QStringLiteral(
                     "{\n"
                     "  \"format\" : \"AAC\",\n"
                     "  \"highQuality\" : false,\n"
                     "  \"includesMicrophone\" : true,\n"
                     "  \"microphoneGain\" : 0.7,\n"
                     "  \"mode\" : \"system\",\n"
                     "  \"name\" : \"我的錄音\",\n"
                     "  \"outputDirectory\" : \"file:\\/\\/\\/home\\/user\\/Music\\/Kivo\\/\",\n"
                     "  \"saveSeparateTracks\" : false,\n"
                     "  \"systemGain\" : 0.8\n"
                     "}")
                     .toUtf8());
    }

    void optionalFieldsAreWrittenInFieldOrderWhenPresent() {
        RecordingConfiguration configuration(kFolder);
        configuration.applicationPID = 0;
        configuration.applicationName = QString();
        configuration.applicationBundleID = QStringLiteral("zoom");
        configuration.microphoneDeviceID = 7;
        QCOMPARE(writeCompact(configuration.toJson()),
                 QStringLiteral(
                     R"({"name":"我的錄音","mode":"system","includesMicrophone":true,)"
                     R"("applicationPID":0,"applicationName":"","applicationBundleID":"zoom",)"
                     R"("microphoneDeviceID":7,"format":"AAC","highQuality":false,)"
                     R"("outputDirectory":"file:\/\/\/home\/user\/Music\/Kivo\/",)"
                     R"("saveSeparateTracks":false,"systemGain":0.8,"microphoneGain":0.7})")
                     .toUtf8());
    }

    void nonAsciiFoldersArePercentEncoded() {
        const RecordingConfiguration configuration(
            QUrl::fromLocalFile(QStringLiteral("/home/user/音樂/a b/")));
        const auto object = parsed(writeCompact(configuration.toJson())).toObject();
        QCOMPARE(object.value(u"outputDirectory").toString(),
                 QStringLiteral("file:///home/user/%E9%9F%B3%E6%A8%82/a%20b/"));
    }

    // Through either writer and Qt's parser, every value comes back equal, down to a zero
    // process id (present, unlike absent) and the microseconds of a date made now.
    void everythingRoundTrips_data() {
        QTest::addColumn<bool>("sorted");
        QTest::newRow("compact") << false;
        QTest::newRow("sorted and indented") << true;
    }
    void everythingRoundTrips() {
        QFETCH(bool, sorted);
        const auto back = [sorted](const JsonValue& value) {
            return parsed(sorted ? writeSortedIndented(value) : writeCompact(value));
        };
        auto withZeroPID = RecordingConfiguration(kFolder);
        withZeroPID.applicationPID = 0;
        for (const auto& configuration :
             {RecordingConfiguration(kFolder), fullConfiguration(), withZeroPID}) {
            QCOMPARE(RecordingConfiguration::fromJson(back(configuration.toJson())), configuration);
        }
        const RecordingRecord empty(QUuid::createUuid(), QString(), Date{-1}, 0,
                                    RecordingConfiguration(kFolder), {});
        const RecordingRecord recent(QUuid::createUuid(), QStringLiteral("x"), Date::now(), 1.5,
                                     RecordingConfiguration(kFolder), {});
        for (const auto& record : {sampleRecord(), empty, recent}) {
            QCOMPARE(RecordingRecord::fromJson(back(record.toJson())), record);
        }
        const RecordingPreset preset(QStringLiteral("訪談"), fullConfiguration());
        QCOMPARE(RecordingPreset::fromJson(back(preset.toJson())), preset);
    }

    void recordIsWrittenInFieldOrder() {
        const RecordingRecord record(QUuid(QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e")),
                                     QStringLiteral("a"), Date{0}, 2.5,
                                     RecordingConfiguration(kFolder),
                                     {QUrl::fromLocalFile(QStringLiteral("/tmp/a.m4a"))});
        const QByteArray configuration = writeCompact(RecordingConfiguration(kFolder).toJson());
        QCOMPARE(writeCompact(record.toJson()),
                 QByteArrayLiteral(R"({"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","name":"a",)") +
                     R"("createdAt":0,"duration":2.5,"configuration":)" + configuration +
                     R"(,"files":["file:\/\/\/tmp\/a.m4a"]})");
    }

    void datesCountFromTheReferenceDate() {
        const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
        QCOMPARE(Date::fromDateTime(reference), Date{0});
        QCOMPARE(Date::fromDateTime(reference.addSecs(-1)), Date{-1});
        QCOMPARE(Date::fromDateTime(reference.addMSecs(1500)), Date{1.5});
        QCOMPARE(Date{-1}.toDateTime(), reference.addSecs(-1));
        QCOMPARE(Date::fromDateTime(QDateTime(QDate(1970, 1, 1), QTime(0, 0), Qt::UTC)),
                 Date{-978307200});

        const auto before = Date::fromDateTime(QDateTime::currentDateTimeUtc());
        const auto now = Date::now();
        QVERIFY(now.secondsSinceReferenceDate >= before.secondsSinceReferenceDate);
        QVERIFY(now.secondsSinceReferenceDate < before.secondsSinceReferenceDate + 5);

        RecordingRecord record(QUuid::createUuid(), QStringLiteral("a"), Date{0}, 0,
                               RecordingConfiguration(kFolder), {});
        QCOMPARE(parsed(writeCompact(record.toJson())).toObject().value(u"createdAt").toDouble(),
                 0.0);
        record = RecordingRecord(QUuid::createUuid(), QStringLiteral("a"), Date{-1}, 0,
                                 RecordingConfiguration(kFolder), {});
        QVERIFY(writeCompact(record.toJson()).contains(R"("createdAt":-1,)"));
    }

    void uuidsAreWrittenUpperCaseAndReadInEitherCase() {
        auto object =
            parsed(
                writeCompact(
                    RecordingPreset(QStringLiteral("p"), RecordingConfiguration(kFolder)).toJson()))
                .toObject();
        object.insert(u"id", QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e"));
        const auto preset = RecordingPreset::fromJson(object);
        QCOMPARE(preset.id, QUuid(QStringLiteral("{0F8FAD5B-D9CB-469F-A165-70867728950E}")));
        QVERIFY(writeCompact(preset.toJson())
                    .startsWith(R"({"id":"0F8FAD5B-D9CB-469F-A165-70867728950E",)"));
        object.insert(u"id", QStringLiteral("0f8fAD5B-d9cb-469F-a165-70867728950E"));
        QCOMPARE(RecordingPreset::fromJson(object).id, preset.id);
        object.insert(u"id", QStringLiteral("00000000-0000-0000-0000-000000000000"));
        QVERIFY(RecordingPreset::fromJson(object).id.isNull());
    }

    void newPresetsGetRandomVersionFourIds() {
        const RecordingPreset first(QStringLiteral("a"), RecordingConfiguration(kFolder));
        const RecordingPreset second(QStringLiteral("a"), RecordingConfiguration(kFolder));
        QCOMPARE(first.id.version(), QUuid::Random);
        QVERIFY(first.id != second.id);
        QVERIFY(first != second);
        QVERIFY(first ==
                RecordingPreset(first.id, QStringLiteral("a"), RecordingConfiguration(kFolder)));
    }

    void recordsCompareEveryField() {
        const auto record = sampleRecord();
        auto renamed = record;
        renamed.setName(QStringLiteral("新名稱"));
        QVERIFY(renamed != record);
        QCOMPARE(renamed.id(), record.id());
        auto files = record.files();
        std::swap(files[0], files[1]);
        const RecordingRecord reordered(record.id(), record.name(), record.createdAt(),
                                        record.duration(), record.configuration(), files);
        QVERIFY(reordered != record);
    }

    void readingAcceptsWhatOtherWritersProduce_data() {
        QTest::addColumn<Change>("change");
        QTest::newRow("unknown keys") << setting(QStringLiteral("futureField"), QJsonArray{1, 2});
        QTest::newRow("null optionals") << Change([](QJsonObject& o) {
            for (const auto* key : {"applicationPID", "applicationName", "applicationBundleID",
                                    "microphoneDeviceID"}) {
                o.insert(QString::fromLatin1(key), QJsonValue::Null);
            }
        });
        QTest::newRow("integer gains") << setting(QStringLiteral("systemGain"), 1);
        QTest::newRow("largest process id")
            << setting(QStringLiteral("applicationPID"), 2147483647);
        QTest::newRow("smallest process id")
            << setting(QStringLiteral("applicationPID"), -2147483647 - 1);
        QTest::newRow("largest device id")
            << setting(QStringLiteral("microphoneDeviceID"), 4294967295.0);
        QTest::newRow("integer written with a zero fraction")
            << setting(QStringLiteral("applicationPID"), 5.0);
        QTest::newRow("non-file folder is read (validated() refuses it)")
            << setting(QStringLiteral("outputDirectory"), QStringLiteral("https://example.com/"));
        QTest::newRow("unescaped slashes")
            << setting(QStringLiteral("outputDirectory"), QStringLiteral("file:///tmp/x/"));
        QTest::newRow("hand-typed space in the folder")
            << setting(QStringLiteral("outputDirectory"), QStringLiteral("file:///tmp/my music/"));
    }
    void readingAcceptsWhatOtherWritersProduce() {
        QFETCH(Change, change);
        const auto configuration = RecordingConfiguration::fromJson(configurationObject(change));
        QCOMPARE(configuration.name, QStringLiteral("我的錄音"));
    }

    void nullReadsAsAbsent() {
        const auto configuration = RecordingConfiguration::fromJson(
            configurationObject(setting(QStringLiteral("applicationName"), QJsonValue::Null)));
        QCOMPARE(configuration.applicationName, std::nullopt);
        QCOMPARE(configuration, RecordingConfiguration(kFolder));
    }

    void readFoldersParseAsUrls() {
        auto configuration = RecordingConfiguration::fromJson(configurationObject(
            setting(QStringLiteral("outputDirectory"), QStringLiteral("https://example.com/"))));
        QCOMPARE(configuration.outputDirectory, QUrl(QStringLiteral("https://example.com/")));
        QVERIFY_THROWS_EXCEPTION(KivoError, configuration.validated());
        configuration = RecordingConfiguration::fromJson(configurationObject(
            setting(QStringLiteral("outputDirectory"), QStringLiteral("file:///tmp/my music/"))));
        QCOMPARE(configuration.outputDirectory.toLocalFile(), QStringLiteral("/tmp/my music/"));
    }

    void configurationReadingFails_data() {
        QTest::addColumn<Change>("change");
        for (const auto* key :
             {"name", "mode", "includesMicrophone", "format", "highQuality", "outputDirectory",
              "saveSeparateTracks", "systemGain", "microphoneGain"}) {
            QTest::addRow("missing %s", key) << removing(QString::fromLatin1(key));
            QTest::addRow("null %s", key) << setting(QString::fromLatin1(key), QJsonValue::Null);
        }
        QTest::newRow("number name") << setting(QStringLiteral("name"), 1);
        QTest::newRow("capitalised mode")
            << setting(QStringLiteral("mode"), QStringLiteral("System"));
        QTest::newRow("unknown mode") << setting(QStringLiteral("mode"), QStringLiteral("mic"));
        QTest::newRow("lower-case format")
            << setting(QStringLiteral("format"), QStringLiteral("aac"));
        QTest::newRow("extension as format")
            << setting(QStringLiteral("format"), QStringLiteral("m4a"));
        QTest::newRow("number as boolean") << setting(QStringLiteral("highQuality"), 1);
        QTest::newRow("text as boolean")
            << setting(QStringLiteral("includesMicrophone"), QStringLiteral("true"));
        QTest::newRow("text as gain")
            << setting(QStringLiteral("systemGain"), QStringLiteral("0.8"));
        QTest::newRow("boolean as gain") << setting(QStringLiteral("microphoneGain"), true);
        QTest::newRow("gain beyond a float") << setting(QStringLiteral("systemGain"), 1e39);
        QTest::newRow("fractional process id") << setting(QStringLiteral("applicationPID"), 1.5);
        QTest::newRow("process id beyond 32 bits")
            << setting(QStringLiteral("applicationPID"), 2147483648.0);
        QTest::newRow("process id below 32 bits")
            << setting(QStringLiteral("applicationPID"), -2147483649.0);
        QTest::newRow("text process id")
            << setting(QStringLiteral("applicationPID"), QStringLiteral("42"));
        QTest::newRow("negative device id") << setting(QStringLiteral("microphoneDeviceID"), -1);
        QTest::newRow("device id beyond 32 bits")
            << setting(QStringLiteral("microphoneDeviceID"), 4294967296.0);
        QTest::newRow("array bundle id")
            << setting(QStringLiteral("applicationBundleID"), QJsonArray{});
        QTest::newRow("number folder") << setting(QStringLiteral("outputDirectory"), 5);
        QTest::newRow("empty folder")
            << setting(QStringLiteral("outputDirectory"), QStringLiteral(""));
        QTest::newRow("unparsable folder")
            << setting(QStringLiteral("outputDirectory"), QStringLiteral("::::"));
        QTest::newRow("unclosed host")
            << setting(QStringLiteral("outputDirectory"), QStringLiteral("http://[::1/"));
    }
    void configurationReadingFails() {
        QFETCH(Change, change);
        QVERIFY_THROWS_EXCEPTION(JsonDecodingError,
                                 RecordingConfiguration::fromJson(configurationObject(change)));
    }

    void notAnObjectFails() {
        QVERIFY_THROWS_EXCEPTION(JsonDecodingError, RecordingConfiguration::fromJson(QJsonArray{}));
        QVERIFY_THROWS_EXCEPTION(JsonDecodingError,
                                 RecordingRecord::fromJson(QJsonValue(QStringLiteral("{}"))));
        QVERIFY_THROWS_EXCEPTION(JsonDecodingError, RecordingPreset::fromJson(QJsonValue()));
    }

    void recordReadingFails_data() {
        QTest::addColumn<Change>("change");
        for (const auto* key : {"id", "name", "createdAt", "duration", "configuration", "files"}) {
            QTest::addRow("missing %s", key) << removing(QString::fromLatin1(key));
        }
        QTest::newRow("braced id") << setting(
            QStringLiteral("id"), QStringLiteral("{0F8FAD5B-D9CB-469F-A165-70867728950E}"));
        QTest::newRow("id without dashes")
            << setting(QStringLiteral("id"), QStringLiteral("0F8FAD5BD9CB469FA16570867728950E"));
        QTest::newRow("short id") << setting(QStringLiteral("id"),
                                             QStringLiteral("0F8FAD5B-D9CB-469F-A165-70867728950"));
        QTest::newRow("id with a non-hex letter") << setting(
            QStringLiteral("id"), QStringLiteral("0F8FAD5B-D9CB-469F-A165-70867728950G"));
        QTest::newRow("id with dashes moved") << setting(
            QStringLiteral("id"), QStringLiteral("0F8FAD5BD-9CB-469F-A165-70867728950E"));
        QTest::newRow("number id") << setting(QStringLiteral("id"), 7);
        QTest::newRow("text date")
            << setting(QStringLiteral("createdAt"), QStringLiteral("2024-05-01"));
        QTest::newRow("text duration") << setting(QStringLiteral("duration"), QStringLiteral("1"));
        QTest::newRow("infinite duration")
            << setting(QStringLiteral("duration"), std::numeric_limits<double>::infinity());
        QTest::newRow("files as text")
            << setting(QStringLiteral("files"), QStringLiteral("file:///a"));
        QTest::newRow("file as number") << setting(QStringLiteral("files"), QJsonArray{1});
        QTest::newRow("unparsable file")
            << setting(QStringLiteral("files"), QJsonArray{QStringLiteral("::")});
        QTest::newRow("configuration as text")
            << setting(QStringLiteral("configuration"), QStringLiteral("{}"));
        QTest::newRow("broken configuration inside") << Change([](QJsonObject& o) {
            auto configuration = o.value(u"configuration").toObject();
            configuration.insert(u"format", QStringLiteral("MP3"));
            o.insert(u"configuration", configuration);
        });
    }
    void recordReadingFails() {
        QFETCH(Change, change);
        QVERIFY_THROWS_EXCEPTION(JsonDecodingError,
                                 RecordingRecord::fromJson(recordObject(change)));
    }

    void recordWithNoFilesReads() {
        const auto record =
            RecordingRecord::fromJson(recordObject(setting(QStringLiteral("files"), QJsonArray{})));
        QVERIFY(record.files().isEmpty());
    }

    void presetReadingFails_data() {
        QTest::addColumn<Change>("change");
        for (const auto* key : {"id", "name", "configuration"}) {
            QTest::addRow("missing %s", key) << removing(QString::fromLatin1(key));
        }
        QTest::newRow("number name") << setting(QStringLiteral("name"), 1);
        QTest::newRow("lower-case id without dashes")
            << setting(QStringLiteral("id"), QStringLiteral("0f8fad5bd9cb469fa16570867728950e"));
    }
    void presetReadingFails() {
        QFETCH(Change, change);
        auto object =
            parsed(
                writeCompact(
                    RecordingPreset(QStringLiteral("p"), RecordingConfiguration(kFolder)).toJson()))
                .toObject();
        change(object);
        QVERIFY_THROWS_EXCEPTION(JsonDecodingError, RecordingPreset::fromJson(object));
    }

    void decodingErrorsNameTheKey() {
        try {
            RecordingConfiguration::fromJson(
                configurationObject(setting(QStringLiteral("applicationPID"), 1.5)));
            QFAIL("no error");
        } catch (const JsonDecodingError& error) {
            QVERIFY2(QString::fromUtf8(error.what()).contains(u"applicationPID"), error.what());
        }
    }
};

KIVO_TEST_CLASS(JsonCodingTest)
#include "JsonCodingTest.moc"
