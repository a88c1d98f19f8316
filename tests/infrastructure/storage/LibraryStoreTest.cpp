#include "TestMain.h"
#include "audio/AudioTestSupport.h"

#include "domain/KivoError.h"
#include "infrastructure/PlatformError.h"
#include "infrastructure/storage/LibraryStore.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace kivo;

namespace {

const QUrl kOutput = QUrl::fromLocalFile(QStringLiteral("/home/someone/Music/Kivo/"));

// A library using every kind of value the document holds; the optionals of its settings absent.
KivoLibrary sampleLibrary(int recordings = 1) {
    KivoLibrary library(kOutput);
    library.settings.systemGain = 0.35F;
    RecordingConfiguration configuration(QUrl::fromLocalFile(QStringLiteral("/srv/錄音 檔/")));
    configuration.mode = RecordingMode::application;
    configuration.applicationPID = 4242;
    configuration.applicationName = QStringLiteral("會議 App");
    configuration.microphoneDeviceID = 7;
    for (int i = 0; i < recordings; ++i) {
        library.recordings.append(RecordingRecord(
            QUuid::createUuid(), QStringLiteral("週會 %1").arg(i), Date{786297600.25}, 8.0,
            configuration,
            {QUrl::fromLocalFile(QStringLiteral("/srv/錄音 檔/週會_%1.m4a").arg(i)),
             QUrl::fromLocalFile(QStringLiteral("/srv/錄音 檔/週會_%1_麥克風.m4a").arg(i))}));
    }
    library.presets.append(RecordingPreset(QStringLiteral("訪談"), configuration));
    return library;
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

// JSON text with the members of every object in reverse order, "/" not escaped, no white space.
QByteArray reversedKeys(const QJsonValue& value) {
    QByteArray out;
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        const QStringList keys = object.keys();
        for (auto key = keys.crbegin(); key != keys.crend(); ++key) {
            out += (out.isEmpty() ? "{" : ",") + reversedKeys(*key) + ':' +
                   reversedKeys(object.value(*key));
        }
        return out.isEmpty() ? "{}" : out + '}';
    }
    if (value.isArray()) {
        for (const QJsonValue& element : value.toArray()) {
            out += (out.isEmpty() ? "[" : ",") + reversedKeys(element);
        }
        return out.isEmpty() ? "[]" : out + ']';
    }
    out = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return out.mid(1, out.size() - 2);
}

// Sets `key` to `value` in the object found by following `path` from `root`.
void setMember(QJsonObject& root, const QStringList& path, const QString& key, QJsonValue value) {
    if (path.isEmpty()) {
        root.insert(key, value);
        return;
    }
    QJsonValue child = root.value(path.first());
    if (child.isArray()) {
        QJsonArray array = child.toArray();
        QJsonObject first = array.first().toObject();
        setMember(first, path.mid(1), key, value);
        array.replace(0, first);
        root.insert(path.first(), array);
    } else {
        QJsonObject object = child.toObject();
        setMember(object, path.mid(1), key, value);
        root.insert(path.first(), object);
    }
}

} // namespace

class LibraryStoreTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_temporary;
    QString m_folder; // the store's folder, not yet made
    const KivoLibrary m_sample = sampleLibrary();

    std::unique_ptr<LibraryStore> store() {
        return std::make_unique<LibraryStore>(m_folder, kOutput);
    }
    QString libraryPath() const { return m_folder + QStringLiteral("/library.json"); }
    QString backupPath() const { return m_folder + QStringLiteral("/library.backup.json"); }

private slots:
    void init() {
        m_temporary = std::make_unique<QTemporaryDir>();
        QVERIFY(m_temporary->isValid());
        m_folder = m_temporary->filePath(QStringLiteral("share/Kivo"));
    }

    void firstRunGivesTheDefaultsAndCreatesNothing() {
        QCOMPARE(store()->load(), KivoLibrary(kOutput));
        QVERIFY(!QFileInfo::exists(m_temporary->filePath(QStringLiteral("share"))));
    }

    void eachSaveKeepsTheReplacedDocumentByteForByte() {
        const KivoLibrary first = sampleLibrary();
        store()->save(first);
        QCOMPARE(entries(m_folder), QStringList{QStringLiteral("library.json")});
        QCOMPARE(store()->load(), first);
        const QByteArray document = contents(libraryPath());
        QVERIFY(document.indexOf("\"presets\"") < document.indexOf("\"recordings\""));
        QVERIFY(document.indexOf("\"recordings\"") < document.indexOf("\"settings\""));

        // Another program's layout is kept as it was, not re-encoded.
        const QByteArray foreign = " " + QJsonDocument::fromJson(document).toJson() + "\n";
        writeFile(libraryPath(), foreign);
        const KivoLibrary second = sampleLibrary(2);
        store()->save(second);
        QCOMPARE(contents(backupPath()), foreign);
        QCOMPARE(store()->load(), second);

        store()->save(second);
        QCOMPARE(contents(backupPath()), contents(libraryPath()));
        QCOMPARE(entries(m_folder), (QStringList{QStringLiteral("library.backup.json"),
                                                 QStringLiteral("library.json")}));
    }

    void documentsInAnyValidJsonFormLoad_data() {
        QTest::addColumn<QByteArray>("document");
        const KivoLibrary& library = m_sample;
        const QByteArray ours = library.encoded();
        const QJsonObject object = QJsonDocument::fromJson(ours).object();

        QByteArray spaced = ours;
        spaced.replace(" : ", "\t:\r\n ").replace("\n", "\n\n    ").prepend("\r\n");
        QTest::newRow("other white space") << spaced;
        QTest::newRow("keys in reverse order, slashes unescaped") << reversedKeys(object);
        QByteArray lowerCase = ours;
        for (const QUuid& id : {library.recordings[0].id(), library.presets[0].id}) {
            const QByteArray text = id.toString(QUuid::WithoutBraces).toLatin1();
            lowerCase.replace(text.toUpper(), text.toLower());
        }
        QTest::newRow("lower-case identifiers") << lowerCase;

        QJsonObject nulls = object;
        for (const char* key :
             {"applicationPID", "applicationName", "microphoneDeviceID", "applicationBundleID"}) {
            setMember(nulls, {QStringLiteral("settings")}, QString::fromLatin1(key), QJsonValue());
        }
        setMember(nulls, {QStringLiteral("recordings"), QStringLiteral("configuration")},
                  QStringLiteral("applicationBundleID"), QJsonValue());
        QTest::newRow("null optionals") << QJsonDocument(nulls).toJson();

        QJsonObject unknown = object;
        const QJsonValue extra = QJsonObject{{QStringLiteral("x"), QJsonArray{1, true}}};
        for (const QStringList& path :
             {QStringList{},
              {QStringLiteral("settings")},
              {QStringLiteral("recordings")},
              {QStringLiteral("presets"), QStringLiteral("configuration")}}) {
            setMember(unknown, path, QStringLiteral("addedLater"), extra);
        }
        QTest::newRow("unknown keys") << QJsonDocument(unknown).toJson();
    }
    void documentsInAnyValidJsonFormLoad() {
        QFETCH(QByteArray, document);
        QVERIFY(QDir().mkpath(m_folder));
        writeFile(libraryPath(), document);
        QCOMPARE(store()->load(), m_sample);
    }

    void unreadableDocumentIsReportedAndLeftAlone_data() {
        QTest::addColumn<QByteArray>("document");
        const QJsonObject object = QJsonDocument::fromJson(sampleLibrary().encoded()).object();
        for (const char* key : {"recordings", "presets", "settings"}) {
            QJsonObject lacking = object;
            lacking.remove(QString::fromLatin1(key));
            QTest::addRow("without %s", key) << QJsonDocument(lacking).toJson();
        }
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("not JSON") << QByteArray("{\"presets\": [");
        QTest::newRow("top level not an object") << QByteArray("[]");
        QTest::newRow("a folder in its place") << QByteArray();
    }
    void unreadableDocumentIsReportedAndLeftAlone() {
        QFETCH(QByteArray, document);
        QVERIFY(QDir().mkpath(m_folder));
        const bool folderInPlace = QTest::currentDataTag() == QByteArray("a folder in its place");
        if (folderInPlace) {
            QVERIFY(QDir().mkpath(libraryPath()));
        } else {
            writeFile(libraryPath(), document);
        }
        try {
            store()->load();
            QFAIL("the document loaded");
        } catch (const KivoError& error) {
            const QString prefix = QStringLiteral("無法讀取錄音紀錄。原始檔案已保留，請先檢查 ") +
                                   libraryPath() + QStringLiteral("。\n");
            QVERIFY2(error.text().startsWith(prefix), qPrintable(error.text()));
            QVERIFY(error.text().size() > prefix.size()); // followed by the reason
        }
        if (!folderInPlace) {
            QCOMPARE(contents(libraryPath()), document);
        }
        QCOMPARE(entries(m_folder), QStringList{QStringLiteral("library.json")});
    }

    void failedSaveLeavesTheDocumentAsItWas_data() {
        QTest::addColumn<QByteArray>("obstacle");
        QTest::addColumn<QByteArray>("failingFile"); // named by the error
        const auto row = [](const char* name, const char* obstacle, const char* failingFile) {
            QTest::newRow(name) << QByteArray(obstacle) << QByteArray(failingFile);
        };
        row("a file in place of the folder", "folder", "Kivo");
        row("a folder in place of the document", "document", "library.json");
        row("a folder in place of the backup", "backup", "library.backup.json");
        row("disk full writing the backup", "full before backup", "library.backup.json");
        row("disk full writing the document", "full before document", "library.json");
    }
    void failedSaveLeavesTheDocumentAsItWas() {
        QFETCH(QByteArray, obstacle);
        QFETCH(QByteArray, failingFile);
        const QByteArray previous = KivoLibrary(kOutput).encoded();
        const QByteArray larger = sampleLibrary(20).encoded();
        if (obstacle == "folder") {
            QVERIFY(QDir().mkpath(m_temporary->filePath(QStringLiteral("share"))));
            writeFile(m_folder, previous);
        } else if (obstacle == "document") {
            QVERIFY(QDir().mkpath(libraryPath()));
        } else {
            QVERIFY(QDir().mkpath(m_folder));
            writeFile(libraryPath(), previous);
            if (obstacle == "backup") {
                QVERIFY(QDir().mkpath(backupPath()));
            }
        }
        const QString existing = obstacle == "folder" ? m_folder : libraryPath();
        const QByteArray existingBytes = contents(existing);
        const QStringList before = entries(m_folder);
        try {
            std::unique_ptr<test::FileSizeLimit> limit;
            if (obstacle == "full before backup") {
                limit = std::make_unique<test::FileSizeLimit>(previous.size() / 2);
            } else if (obstacle == "full before document") {
                limit = std::make_unique<test::FileSizeLimit>(larger.size() / 2);
            }
            store()->save(sampleLibrary(20));
            QFAIL("the save succeeded");
        } catch (const PlatformError& error) {
            const QString named = u'/' + QString::fromUtf8(failingFile) + u'」';
            QVERIFY2(error.description().contains(named), qPrintable(error.description()));
        }
        QCOMPARE(contents(existing), existingBytes);
        if (obstacle == "full before document") {
            QCOMPARE(contents(backupPath()), previous); // the backup step had completed
            QCOMPARE(entries(m_folder), QStringList() << QStringLiteral("library.backup.json")
                                                      << QStringLiteral("library.json"));
        } else {
            QCOMPARE(entries(m_folder), before); // no backup, no temporary file
        }
    }

    void onlyOneStoreAtATimeHoldsTheWriterLock() {
        auto first = store();
        QVERIFY(first->lockForWriting()); // makes the missing folder
        QVERIFY(first->lockForWriting());
        auto second = store();
        QVERIFY(!second->lockForWriting());
        first.reset();
        QVERIFY(second->lockForWriting());
        QCOMPARE(entries(m_folder), QStringList{});

        writeFile(m_temporary->filePath(QStringLiteral("plain")), "x");
        LibraryStore onAFile(m_temporary->filePath(QStringLiteral("plain")), kOutput);
        QVERIFY_THROWS_EXCEPTION(PlatformError, onAFile.lockForWriting());
    }
};

KIVO_TEST_CLASS(LibraryStoreTest)
#include "LibraryStoreTest.moc"
