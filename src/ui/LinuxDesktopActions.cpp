#include "ui/LinuxDesktopActions.h"

#include "application/Background.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>

namespace kivo {

namespace {

const QString kNoFileManager = QStringLiteral("無法開啟檔案管理員。位置：");

} // namespace

LinuxDesktopActions::LinuxDesktopActions(std::function<SoundServerState()> probe)
    : m_probe(std::move(probe)) {
    const Command candidates[] = {
        {QStringLiteral("gnome-control-center"), {QStringLiteral("sound")}},
        {QStringLiteral("systemsettings"), {QStringLiteral("kcm_pulseaudio")}},
        {QStringLiteral("pavucontrol"), {}},
    };
    for (const Command& candidate : candidates) {
        const QString path = QStandardPaths::findExecutable(candidate.program);
        if (!path.isEmpty()) {
            m_soundSettings = Command{path, candidate.arguments};
            break;
        }
    }
}

void LinuxDesktopActions::reveal(const QList<QUrl>& files) {
    if (files.isEmpty()) {
        return;
    }
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(files.first().toLocalFile()).absolutePath());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder(folder);
        return;
    }
    QStringList uris;
    for (const QUrl& file : files) {
        uris.append(file.toString(QUrl::FullyEncoded));
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();
    // Not waited for: a file manager started by the bus for this call may take a while.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    // The answer comes later; this object lives as long as the window.
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [this, watcher, folder] {
        if (watcher->isError()) {
            openFolder(folder);
        }
        watcher->deleteLater();
    });
}

void LinuxDesktopActions::openFolder(const QUrl& folder) {
    // Nothing visible would happen otherwise: say where the files are.
    if (!QDesktopServices::openUrl(folder) && onFailure) {
        onFailure(kNoFileManager + QDir::toNativeSeparators(folder.toLocalFile()));
    }
}

void LinuxDesktopActions::copyFiles(const QList<QUrl>& files) {
    QStringList uris;
    QStringList paths;
    for (const QUrl& file : files) {
        uris.append(file.toString(QUrl::FullyEncoded));
        paths.append(file.toLocalFile());
    }
    auto* data = new QMimeData;
    data->setUrls(files);
    data->setData(QStringLiteral("x-special/gnome-copied-files"),
                  (QStringLiteral("copy\n") + uris.join(QLatin1Char('\n'))).toUtf8());
    data->setText(paths.join(QLatin1Char('\n')));
    QGuiApplication::clipboard()->setMimeData(data);
}

void LinuxDesktopActions::openSoundSettings() {
    if (m_soundSettings) {
        QProcess::startDetached(m_soundSettings->program, m_soundSettings->arguments);
    }
}

void LinuxDesktopActions::probeSoundServer(QObject* context,
                                           std::function<void(SoundServerState)> done) {
    Background::run(
        context, [probe = m_probe] { return probe ? probe() : SoundServerState::unreachable; },
        std::move(done));
}

} // namespace kivo
