#include "ui/LinuxDesktopActions.h"
#include "TestMain.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using namespace kivo;
using namespace Qt::StringLiterals;

// Plays the desktop's file manager on a session bus of its own, and its opener of file URLs.
class LinuxDesktopActionsTest : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public slots:
    void ShowItems(const QStringList& uris, const QString&) { m_shown = uris; }
    void openUrl(const QUrl& url) { m_opened.append(url); }

private slots:
    void initTestCase() {
        // A bus that starts no services, so that no real file manager answers.
        QFile config(m_dir.filePath(u"bus.conf"_s));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("<busconfig><listen>unix:path=" + m_dir.filePath(u"bus"_s).toUtf8() +
                     "</listen><policy context='default'><allow send_destination='*'/>"
                     "<allow receive_sender='*'/><allow own='*'/></policy></busconfig>");
        config.close();
        m_daemon.start(u"dbus-daemon"_s, {u"--nofork"_s, u"--print-address=1"_s,
                                          u"--config-file="_s + config.fileName()});
        QVERIFY(m_daemon.waitForReadyRead(5000));
        const QByteArray address = m_daemon.readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        m_bus.emplace(QDBusConnection::connectToBus(QString::fromUtf8(address), u"files"_s));
        QVERIFY(m_bus->registerObject(u"/org/freedesktop/FileManager1"_s, this,
                                      QDBusConnection::ExportAllSlots));
        QDesktopServices::setUrlHandler(u"file"_s, this, "openUrl");
    }

    void cleanupTestCase() {
        QDesktopServices::unsetUrlHandler(u"file"_s);
        m_daemon.kill();
        m_daemon.waitForFinished();
    }

    // Without a file manager the folder opens; without anything to open it, the user is told
    // where the files are.
    void revealAsksTheFileManagerElseOpensTheFolder_data() {
        QTest::addColumn<bool>("fileManager");
        QTest::addColumn<bool>("opener");
        QTest::newRow("file manager on the bus") << true << true;
        QTest::newRow("none: the folder opens") << false << true;
        QTest::newRow("nothing opens it") << false << false;
    }

    void revealAsksTheFileManagerElseOpensTheFolder() {
        QFETCH(bool, fileManager);
        QFETCH(bool, opener);
        const QString name = u"org.freedesktop.FileManager1"_s;
        QVERIFY(!fileManager || m_bus->registerService(name));
        if (!fileManager) {
            m_bus->unregisterService(name);
        }
        const QByteArray path = qgetenv("PATH");
        const auto restore = qScopeGuard([&] {
            qputenv("PATH", path);
            QDesktopServices::setUrlHandler(u"file"_s, this, "openUrl");
        });
        if (!opener) {
            QDesktopServices::unsetUrlHandler(u"file"_s);
            qputenv("PATH", m_dir.path().toUtf8());
        }
        m_shown.clear();
        m_opened.clear();
        const QList<QUrl> files{QUrl::fromLocalFile(m_dir.filePath(u"錄音 #1.m4a"_s)),
                                QUrl::fromLocalFile(m_dir.filePath(u"錄音 #1.wav"_s))};
        LinuxDesktopActions desktop({});
        QStringList failures;
        desktop.onFailure = [&](const QString& message) { failures.append(message); };
        desktop.reveal(files);
        QTRY_COMPARE(QUrl::fromStringList(m_shown), fileManager ? files : QList<QUrl>());
        const QList<QUrl> folder{QUrl::fromLocalFile(m_dir.path())};
        QTRY_COMPARE(m_opened, fileManager || !opener ? QList<QUrl>() : folder);
        QTRY_COMPARE(failures, opener
                                   ? QStringList()
                                   : QStringList{u"無法開啟檔案管理員。位置："_s + m_dir.path()});
    }

    void copiedFilesPasteAsAFileList() {
        const QList<QUrl> files{QUrl::fromLocalFile(m_dir.filePath(u"錄音 #1.m4a"_s)),
                                QUrl::fromLocalFile(u"/tmp/b.wav"_s)};
        LinuxDesktopActions({}).copyFiles(files);
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        QCOMPARE(data->urls(), files);
        const QStringList gnome =
            QString::fromUtf8(data->data(u"x-special/gnome-copied-files"_s)).split(u'\n');
        QCOMPARE(gnome.value(0), u"copy"_s);
        QCOMPARE(QUrl::fromStringList(gnome.mid(1)), files);
        QCOMPARE(data->text(), files[0].toLocalFile() + u"\n/tmp/b.wav"_s);
    }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    std::optional<QDBusConnection> m_bus;
    QStringList m_shown;
    QList<QUrl> m_opened;
};

KIVO_TEST_CLASS(LinuxDesktopActionsTest)
#include "LinuxDesktopActionsTest.moc"
