#include "TestMain.h"
#include "audio/AudioTestSupport.h"

#include "domain/KivoError.h"
#include "infrastructure/PlatformError.h"
#include "infrastructure/files/FileOperations.h"
#include "infrastructure/storage/LibraryStore.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace kivo;
using namespace Qt::StringLiterals;

namespace {

const QUrl kOutput = QUrl::fromLocalFile(u"/home/someone/Music/Kivo/"_s);

// Records and a preset with optionals set, and settings without.
KivoLibrary sampleLibrary(int recordings = 1) {
    KivoLibrary library(kOutput);
    RecordingConfiguration used(QUrl::fromLocalFile(u"/srv/錄音 檔/"_s));
    used.applicationPID = 4242;
    used.microphoneDeviceID = 7;
    for (int i = 0; i < recordings; ++i) {
        const QUrl file = QUrl::fromLocalFile(u"/srv/錄音 檔/週會_%1.m4a"_s.arg(i));
        library.recordings.append(
            RecordingRecord(QUuid::createUuid(), u"週會"_s, Date{786297600.25}, 8.0, used, {file}));
    }
    library.presets.append(RecordingPreset(u"訪談"_s, used));
    return library;
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

class LibraryStoreTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_temporary;
    QString m_folder; // the store's folder, not made yet
    const KivoLibrary m_sample = sampleLibrary();

    std::unique_ptr<LibraryStore> store() {
        return std::make_unique<LibraryStore>(m_folder, kOutput);
    }
    QString libraryPath() const { return m_folder + u"/library.json"_s; }
    QString backupPath() const { return m_folder + u"/library.backup.json"_s; }

private slots:
    void init() {
        m_temporary = std::make_unique<QTemporaryDir>();
        m_folder = m_temporary->filePath(u"share/Kivo"_s);
    }

    void firstSaveWritesTheDocumentAndEachNextOneKeepsTheReplacedBytes() {
        QCOMPARE(store()->load(), KivoLibrary(kOutput)); // first run: defaults, nothing made
        QCOMPARE(entries(m_temporary->path()), QStringList());
        {
            const test::ScopedUmask umask(0); // private whatever the umask
            store()->save(m_sample);
        }
        QCOMPARE(test::permissionsOf(m_folder), 0700);
        QCOMPARE(test::permissionsOf(libraryPath()), 0600);
        QCOMPARE(entries(m_folder), QStringList{u"library.json"_s});
        QCOMPARE(store()->load(), m_sample);
        const QByteArray ours = contents(libraryPath());
        QVERIFY(ours.indexOf("\"presets\"") < ours.indexOf("\"recordings\""));
        QVERIFY(ours.indexOf("\"recordings\"") < ours.indexOf("\"settings\""));

        // Another program's layout is kept as it was, not re-encoded.
        const QByteArray foreign = " " + QJsonDocument::fromJson(ours).toJson();
        QVERIFY(writeFile(libraryPath(), foreign));
        const KivoLibrary second = sampleLibrary(2);
        store()->save(second);
        QCOMPARE(contents(backupPath()), foreign);
        QCOMPARE(store()->load(), second);
        store()->save(second);
        QCOMPARE(contents(backupPath()), contents(libraryPath()));
    }

    void loadsAnyValidJsonFormAndReportsTheRest_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<bool>("loads"); // the sample library, or the error
        const QByteArray ours = m_sample.encoded();
        QByteArray lowerCase = ours;
        for (const QUuid& id : {m_sample.recordings[0].id(), m_sample.presets[0].id}) {
            const QByteArray text = id.toString(QUuid::WithoutBraces).toLatin1();
            lowerCase.replace(text.toUpper(), text.toLower());
        }
        QTest::newRow("lower-case identifiers") << lowerCase << true;
        QTest::newRow("unknown keys") << "{\"addedLater\" : 1," + ours.mid(1) << true;

        for (const char* key : {"recordings", "presets", "settings"}) {
            QJsonObject lacking = QJsonDocument::fromJson(ours).object();
            lacking.remove(QString::fromLatin1(key));
            QTest::addRow("without %s", key) << QJsonDocument(lacking).toJson() << false;
        }
        QTest::newRow("empty file") << QByteArray() << false;
        QTest::newRow("not JSON") << QByteArray("{\"presets\": [") << false;
        QTest::newRow("top level not an object") << QByteArray("[]") << false;
        QTest::newRow("a folder in its place") << QByteArray("folder") << false;
    }
    void loadsAnyValidJsonFormAndReportsTheRest() {
        QFETCH(QByteArray, document);
        QFETCH(bool, loads);
        const bool folder = document == "folder";
        QVERIFY(QDir().mkpath(folder ? libraryPath() : m_folder));
        QVERIFY(folder || writeFile(libraryPath(), document));
        if (loads) {
            QCOMPARE(store()->load(), m_sample);
            return;
        }
        const QString text = test::thrownText([&] { store()->load(); });
        const QString prefix =
            u"無法讀取錄音紀錄。原始檔案已保留，請先檢查 "_s + libraryPath() + u"。\n"_s;
        QVERIFY2(text.startsWith(prefix) && text.size() > prefix.size(), qPrintable(text));
        QCOMPARE(contents(libraryPath()), folder ? QByteArray("<unreadable>") : document);
        QCOMPARE(entries(m_folder), QStringList{u"library.json"_s});
    }

    void failedSaveLeavesTheDocumentAsItWas_data() {
        QTest::addColumn<QString>("obstacle"); // a folder made where the store writes a file
        QTest::addColumn<int>("fileSizeLimit");
        QTest::addColumn<QString>("failingFile"); // named by the error
        const QString document = u"library.json"_s;
        const QString backup = u"library.backup.json"_s;
        QTest::newRow("a folder in place of the document") << document << 0 << document;
        QTest::newRow("a folder in place of the backup") << backup << 0 << backup;
        QTest::newRow("disk full writing the backup") << QString() << 100 << backup;
        QTest::newRow("disk full writing the document") << QString() << 5000 << document;
    }
    void failedSaveLeavesTheDocumentAsItWas() {
        QFETCH(QString, obstacle);
        QFETCH(int, fileSizeLimit);
        QFETCH(QString, failingFile);
        const QByteArray previous = KivoLibrary(kOutput).encoded();
        QVERIFY(previous.size() > 100 && previous.size() < 5000);
        QVERIFY(sampleLibrary(10).encoded().size() > 5000);
        const bool documentIsAFolder = obstacle == u"library.json";
        QVERIFY(QDir().mkpath(m_folder + u'/' + obstacle));
        QVERIFY(documentIsAFolder || writeFile(libraryPath(), previous));
        const QStringList before = entries(m_folder);
        const QString text = test::thrownText<PlatformError>([&] {
            std::optional<test::FileSizeLimit> limit;
            if (fileSizeLimit > 0) {
                limit.emplace(fileSizeLimit);
            }
            store()->save(sampleLibrary(10));
        });
        QVERIFY2(text.contains(u'/' + failingFile + u'」'), qPrintable(text));
        QCOMPARE(contents(libraryPath()), documentIsAFolder ? "<unreadable>" : previous);
        if (failingFile == u"library.json" && obstacle.isEmpty()) {
            QCOMPARE(contents(backupPath()), previous); // the backup step had completed
        } else {
            QCOMPARE(entries(m_folder), before); // no backup, no temporary file
        }
    }

    // Once renamed into place the document is saved: some file systems cannot sync a folder.
    void aFolderThatCannotBeSyncedStillTakesTheDocument() {
        QVERIFY(QDir().mkpath(m_folder));
        QVERIFY(writeFile(libraryPath(), "old"));
        FileOperations::writeAtomically(libraryPath(), "new", [](const QString& folder) {
            throw PlatformError::fromErrno(folder, EINVAL);
        });
        QCOMPARE(contents(libraryPath()), QByteArray("new"));
        QCOMPARE(entries(m_folder), QStringList{u"library.json"_s});
    }

    void onlyOneStoreAtATimeHoldsTheWriterLock() {
        auto first = store();
        QVERIFY(first->lockForWriting()); // makes the missing folder
        QVERIFY(first->lockForWriting());
        auto second = store();
        QVERIFY(!second->lockForWriting());
        first.reset();
        QVERIFY(second->lockForWriting());
        QCOMPARE(entries(m_folder), QStringList());
    }

    void aPlainFileInPlaceOfTheFolderFailsAndStays() {
        QVERIFY(QDir().mkpath(m_temporary->filePath(u"share"_s)));
        QVERIFY(writeFile(m_folder, "mine"));
        // Not absent, not a damaged document: a file where the folder belongs.
        QVERIFY(test::thrownText([&] { store()->load(); }).contains(u"是一個檔案，不是資料夾"_s));
        QVERIFY_THROWS_EXCEPTION(PlatformError, store()->save(m_sample));
        QVERIFY_THROWS_EXCEPTION(PlatformError, store()->lockForWriting());
        QCOMPARE(contents(m_folder), QByteArray("mine"));
    }
};

KIVO_TEST_CLASS(LibraryStoreTest)
#include "LibraryStoreTest.moc"
