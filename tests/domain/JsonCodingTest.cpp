#include "domain/JsonValue.h"
#include "domain/KivoError.h"
#include "domain/KivoLibrary.h"
#include "domain/RecordingConfiguration.h"
#include "domain/RecordingPreset.h"
#include "domain/RecordingRecord.h"

#include "TestMain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <bit>
#include <limits>

using namespace kivo;
using namespace Qt::StringLiterals;

namespace {

const QUrl kFolder = QUrl::fromLocalFile(u"/home/user/Music/Kivo/"_s);
const QByteArray kDefaultBytes =
    R"({"name":"我的錄音","mode":"system","includesMicrophone":true,"format":"AAC",)"
    R"("highQuality":false,"outputDirectory":"file:\/\/\/home\/user\/Music\/Kivo\/",)"
    R"("saveSeparateTracks":false,"systemGain":0.8,"microphoneGain":0.7})";

QJsonObject parsed(const QByteArray& json) {
    return QJsonDocument::fromJson(json).object();
}

RecordingConfiguration fullConfiguration() {
    RecordingConfiguration configuration(
        QUrl::fromLocalFile(u"/home/user/音樂/Kivo 錄音 #1 %?/"_s));
    configuration.name = u"週會 \"A/B\" \\ 紀錄\n👨‍👩‍👧"_s;
    configuration.mode = RecordingMode::application;
    configuration.includesMicrophone = false;
    configuration.applicationPID = -42;
    configuration.applicationName = u"Zoom"_s;
    configuration.applicationBundleID = u"/usr/bin/zoom"_s;
    configuration.microphoneDeviceID = 4294967295U;
    configuration.format = AudioOutputFormat::wav;
    configuration.highQuality = true;
    configuration.saveSeparateTracks = true;
    configuration.systemGain = 0.123456789F;
    configuration.microphoneGain = 1e-7F;
    return configuration;
}

RecordingRecord sampleRecord() {
    return RecordingRecord(QUuid(u"{0F8FAD5B-D9CB-469F-A165-70867728950E}"_s), u"訪談 2024/05/01"_s,
                           Date{737000123.456789}, 3723.25, fullConfiguration(),
                           {QUrl::fromLocalFile(u"/home/user/音樂/訪談.m4a"_s),
                            QUrl::fromLocalFile(u"/home/user/音樂/訪談-系統聲音.m4a"_s)});
}

// Applies the members of `change` (JSON) to `object`: null removes the key, unless the key is
// written "null:key", which sets it to null.
QJsonObject changed(QJsonObject object, const QByteArray& change) {
    const QJsonObject members = parsed(change);
    for (auto member = members.begin(); member != members.end(); ++member) {
        if (member.key().startsWith(u"null:")) {
            object.insert(member.key().mid(5), QJsonValue::Null);
        } else if (member.value().isNull()) {
            object.remove(member.key());
        } else {
            object.insert(member.key(), member.value());
        }
    }
    return object;
}

// The JSON of each document type, as written.
QJsonObject written(const QString& type) {
    if (type == u"record") {
        return parsed(writeCompact(sampleRecord().toJson()));
    }
    if (type == u"preset") {
        return parsed(
            writeCompact(RecordingPreset(u"p"_s, RecordingConfiguration(kFolder)).toJson()));
    }
    return parsed(kDefaultBytes);
}

void read(const QString& type, const QJsonValue& object) {
    type == u"record"   ? void(RecordingRecord::fromJson(object))
    : type == u"preset" ? void(RecordingPreset::fromJson(object))
                        : void(RecordingConfiguration::fromJson(object));
}

// Members other writers may write, and what they read back as: "change => expected" rows.
const char* const kAccepted =
    R"({"futureField":[1,2]} => {"futureField":null}|)"
    R"({"null:applicationPID":0,"null:applicationName":0,"null:applicationBundleID":0,)"
    R"("null:microphoneDeviceID":0} => {"applicationPID":null,"applicationName":null,)"
    R"("applicationBundleID":null,"microphoneDeviceID":null}|)"
    R"({"systemGain":1,"applicationPID":5.0} => {"systemGain":1,"applicationPID":5}|)"
    R"({"applicationPID":2147483647,"microphoneDeviceID":4294967295} => )"
    R"({"applicationPID":2147483647,"microphoneDeviceID":4294967295}|)"
    R"({"applicationPID":-2147483648} => {"applicationPID":-2147483648}|)"
    R"({"outputDirectory":"https://example.com/"} => {"outputDirectory":"https://example.com/"}|)"
    R"({"outputDirectory":"file:///tmp/my music/"} => {"outputDirectory":"file:///tmp/my%20music/"}|)"
    R"({"outputDirectory":"file:///音樂/"} => {"outputDirectory":"file:///%E9%9F%B3%E6%A8%82/"})";
// Members that make reading fail, for each document type.
const char* const kConfigurationFailures =
    R"({"name":1}|{"mode":"System"}|{"mode":"mic"}|{"format":"aac"}|{"format":"m4a"}|)"
    R"({"highQuality":1}|{"includesMicrophone":"true"}|{"systemGain":"0.8"}|)"
    R"({"microphoneGain":true}|{"systemGain":1e39}|{"applicationPID":1.5}|)"
    R"({"applicationPID":2147483648}|{"applicationPID":-2147483649}|)"
    R"({"applicationPID":"42"}|{"microphoneDeviceID":-1}|)"
    R"({"microphoneDeviceID":4294967296}|{"applicationBundleID":[]}|)"
    R"({"outputDirectory":5}|{"outputDirectory":""}|{"outputDirectory":"::::"}|)"
    R"({"outputDirectory":"http://[::1/"})";
const char* const kRecordFailures =
    R"({"id":"{0F8FAD5B-D9CB-469F-A165-70867728950E}"}|)"
    R"({"id":"0F8FAD5BD9CB469FA16570867728950E"}|)"
    R"({"id":"0F8FAD5B-D9CB-469F-A165-70867728950"}|)"
    R"({"id":"0F8FAD5B-D9CB-469F-A165-70867728950G"}|)"
    R"({"id":"0F8FAD5BD-9CB-469F-A165-70867728950E"}|{"id":7}|)"
    R"({"createdAt":"2024-05-01"}|{"duration":"1"}|{"files":"file:///a"}|{"files":[1]}|)"
    R"({"files":["::"]}|{"configuration":"{}"}|{"configuration":{"format":"MP3"}})";
const char* const kPresetFailures = R"({"name":1}|{"id":"0f8fad5bd9cb469fa16570867728950e"})";

} // namespace

class JsonCodingTest : public QObject {
    Q_OBJECT

private slots:
    void writesExactBytes_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("expected");
        RecordingConfiguration withOptionals(kFolder);
        withOptionals.applicationPID = 0;
        withOptionals.applicationName = QString();
        withOptionals.applicationBundleID = u"zoom"_s;
        withOptionals.microphoneDeviceID = 7;
        const RecordingRecord record(QUuid(u"0f8fad5b-d9cb-469f-a165-70867728950e"_s), u"a"_s,
                                     Date{-1}, 2.5, RecordingConfiguration(kFolder),
                                     {QUrl::fromLocalFile(u"/tmp/a.m4a"_s)});
        QTest::newRow("default configuration, compact")
            << writeCompact(RecordingConfiguration(kFolder).toJson()) << kDefaultBytes;
        QTest::newRow("optional fields in field order when present")
            << writeCompact(withOptionals.toJson())
            << QByteArray(R"({"name":"我的錄音","mode":"system","includesMicrophone":true,)"
                          R"("applicationPID":0,"applicationName":"","applicationBundleID":"zoom",)"
                          R"("microphoneDeviceID":7,)") +
                   kDefaultBytes.mid(kDefaultBytes.indexOf("\"format\""));
        QTest::newRow("record in field order, id upper case")
            << writeCompact(record.toJson())
            << R"({"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","name":"a","createdAt":-1,)"
               R"("duration":2.5,"configuration":)" +
                   kDefaultBytes + R"(,"files":["file:\/\/\/tmp\/a.m4a"]})";
        RecordingRecord marked = record;
        marked.setMarkers({{1.5, u"決定"_s}});
        QTest::newRow("markers after the files, only when there are some")
            << writeCompact(marked.toJson())
            << R"({"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","name":"a","createdAt":-1,)"
               R"("duration":2.5,"configuration":)" +
                   kDefaultBytes +
                   R"(,"files":["file:\/\/\/tmp\/a.m4a"],"markers":[{"at":1.5,"label":"決定"}]})";
        QTest::newRow("default configuration, sorted and indented")
            << writeSortedIndented(RecordingConfiguration(kFolder).toJson())
            << QStringLiteral("{\n  \"format\" : \"AAC\",\n  \"highQuality\" : false,\n"
                              "  \"includesMicrophone\" : true,\n  \"microphoneGain\" : 0.7,\n"
                              "  \"mode\" : \"system\",\n  \"name\" : \"我的錄音\",\n"
                              "  \"outputDirectory\" : "
                              "\"file:\\/\\/\\/home\\/user\\/Music\\/Kivo\\/\",\n"
                              "  \"saveSeparateTracks\" : false,\n  \"systemGain\" : 0.8\n}")
                   .toUtf8();
    }
    void writesExactBytes() {
        QFETCH(QByteArray, bytes);
        QTEST(bytes, "expected");
    }

    // Through either writer and Qt's parser, every value comes back equal, down to a zero
    // process id (present, unlike absent), a record without files and the microseconds of now.
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
        // A float whose shortest text reads as a double that rounds to the next float up.
        withZeroPID.systemGain = std::bit_cast<float>(0x15AE43FDu);
        withZeroPID.microphoneGain = std::numeric_limits<float>::denorm_min();
        for (const auto& configuration :
             {RecordingConfiguration(kFolder), fullConfiguration(), withZeroPID}) {
            QCOMPARE(RecordingConfiguration::fromJson(back(configuration.toJson())), configuration);
        }
        const RecordingRecord empty(QUuid::createUuid(), QString(), Date{-1}, 0,
                                    RecordingConfiguration(kFolder), {});
        const RecordingRecord recent(QUuid::createUuid(), u"x"_s, Date::now(), 1.5,
                                     RecordingConfiguration(kFolder), {});
        RecordingRecord marked = sampleRecord();
        marked.setMarkers({{0, u"開始"_s}, {1.25, QString()}, {1.25, u"同一刻"_s}});
        for (const auto& record : {sampleRecord(), empty, recent, marked}) {
            QCOMPARE(RecordingRecord::fromJson(back(record.toJson())), record);
        }
        QCOMPARE(Date::fromDateTime(QDateTime(QDate(2001, 1, 1), QTime(0, 0, 1, 500), Qt::UTC)),
                 Date{1.5});
        QCOMPARE(Date{-1}.toDateTime(), QDateTime(QDate(2000, 12, 31), QTime(23, 59, 59), Qt::UTC));
        const RecordingPreset preset(u"訪談"_s, fullConfiguration());
        QCOMPARE(RecordingPreset::fromJson(back(preset.toJson())), preset);
    }

    // A library of thousands is read in pieces side by side; it must read exactly as in one
    // piece, whatever its names hold, however it is laid out, and fail the same way.
    void aLargeLibraryReadsAsAWholeOne_data() {
        QTest::addColumn<QString>("layout");
        QTest::newRow("indented, as saved") << u"saved"_s;
        QTest::newRow("compact, recordings first") << u"compact"_s;
        QTest::newRow("a bad record far in") << u"bad"_s;
    }
    void aLargeLibraryReadsAsAWholeOne() {
        QFETCH(QString, layout);
        KivoLibrary library(kFolder);
        library.presets.append(RecordingPreset(u"訪談"_s, fullConfiguration()));
        for (int i = 0; i < 1100; ++i) {
            RecordingRecord record = sampleRecord();
            record = RecordingRecord(QUuid::createUuid(), u"]},{[\\\"\u3000 %1 \\"_s.arg(i),
                                     record.createdAt(), record.duration(), record.configuration(),
                                     record.files());
            library.recordings.append(record);
        }
        QByteArray json = library.encoded();
        if (layout == u"compact") {
            json = QJsonDocument(parsed(json)).toJson(QJsonDocument::Compact);
        }
        if (layout != u"bad") {
            QCOMPARE(KivoLibrary::decoded(json), library);
            return;
        }
        const QByteArray id =
            library.recordings[900].id().toString(QUuid::WithoutBraces).toUpper().toLatin1();
        json.replace(id, "not an id");
        KivoLibrary one(kFolder);
        one.recordings.append(library.recordings[900]);
        const QByteArray small = one.encoded().replace(id, "not an id");
        QCOMPARE(test::thrownText<JsonDecodingError>([&] { KivoLibrary::decoded(json); }),
                 test::thrownText<JsonDecodingError>([&] { KivoLibrary::decoded(small); }));
    }

    // File names and lists show the second a recording started in, never the next one.
    void datesAreTruncatedToTheMillisecond_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QDateTime>("expected");
        const auto at = [](int y, int mo, int d, int h, int mi, int s, int ms) {
            return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
        };
        QTest::newRow("half a millisecond before midnight")
            << 86399.9995 << at(2001, 1, 1, 23, 59, 59, 999);
        QTest::newRow("a whole millisecond stays") << 1.001 << at(2001, 1, 1, 0, 0, 1, 1);
        QTest::newRow("before the reference date") << -0.0005 << at(2000, 12, 31, 23, 59, 59, 999);
    }
    void datesAreTruncatedToTheMillisecond() {
        QFETCH(double, seconds);
        QTEST(Date{seconds}.toDateTime(), "expected");
    }

    // What other writers produce reads (unknown keys, null optionals as absent, integers
    // written as fractions, any URL as the folder), and is written back as `expected`.
    void readingAcceptsWhatOtherWritersProduce_data() {
        QTest::addColumn<QByteArray>("change");
        QTest::addColumn<QByteArray>("expected");
        for (const QByteArray& row : QByteArray(kAccepted).split('|')) {
            const auto parts = row.split('=');
            QTest::newRow(parts[0].constData()) << parts[0].trimmed() << parts[1].mid(1).trimmed();
        }
    }
    void readingAcceptsWhatOtherWritersProduce() {
        QFETCH(QByteArray, change);
        QFETCH(QByteArray, expected);
        const auto configuration =
            RecordingConfiguration::fromJson(changed(written(u"configuration"_s), change));
        const QJsonObject back = parsed(writeCompact(configuration.toJson()));
        const QJsonObject wanted = parsed(expected);
        for (auto member = wanted.begin(); member != wanted.end(); ++member) {
            QCOMPARE(back.value(member.key()),
                     member.value().isNull() ? QJsonValue(QJsonValue::Undefined) : member.value());
        }
        QCOMPARE(configuration.name, u"我的錄音"_s);
    }

    void readingFails_data() {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QByteArray>("change");
        const auto rows = [](const char* type, const char* changes) {
            for (const QByteArray& change : QByteArray(changes).split('|')) {
                QTest::addRow("%s %s", type, change.constData())
                    << QString::fromLatin1(type) << change;
            }
        };
        for (const char* key :
             {"name", "mode", "includesMicrophone", "format", "highQuality", "outputDirectory",
              "saveSeparateTracks", "systemGain", "microphoneGain"}) {
            QTest::addRow("configuration without %s", key)
                << u"configuration"_s << QByteArray("{\"") + key + "\":null}";
            QTest::addRow("configuration with null %s", key)
                << u"configuration"_s << QByteArray("{\"null:") + key + "\":0}";
        }
        for (const char* key : {"id", "name", "createdAt", "duration", "configuration", "files"}) {
            QTest::addRow("record without %s", key)
                << u"record"_s << QByteArray("{\"") + key + "\":null}";
        }
        for (const char* key : {"id", "name", "configuration"}) {
            QTest::addRow("preset without %s", key)
                << u"preset"_s << QByteArray("{\"") + key + "\":null}";
        }
        rows("configuration", kConfigurationFailures);
        rows("record", kRecordFailures);
        rows("preset", kPresetFailures);
    }
    void readingFails() {
        QFETCH(QString, type);
        QFETCH(QByteArray, change);
        QVERIFY_THROWS_EXCEPTION(JsonDecodingError, read(type, changed(written(type), change)));
        QVERIFY_THROWS_EXCEPTION(JsonDecodingError, read(type, QJsonArray{})); // not an object
    }
};

KIVO_TEST_CLASS(JsonCodingTest)
#include "JsonCodingTest.moc"
