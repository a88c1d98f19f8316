#include "ModelTestSupport.h"

#include "CaptureTestSupport.h"

#include "infrastructure/audio/AudioRecordingWriter.h"

#include <QDir>
#include <QFile>

namespace kivo::test {
using namespace Qt::StringLiterals;

UserFolders::UserFolders()
    : m_previousData(qgetenv("XDG_DATA_HOME")) {
    qputenv("XDG_DATA_HOME", m_dir.filePath(u"data"_s).toUtf8());
}

UserFolders::~UserFolders() {
    qputenv("XDG_DATA_HOME", m_previousData);
}

QProcessEnvironment UserFolders::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"XDG_DATA_HOME"_s, m_dir.filePath(u"data"_s));
    // The music folder is found through the XDG user folders file.
    const QString config = m_dir.filePath(u"config"_s);
    QDir().mkpath(config);
    QFile folders(config + u"/user-dirs.dirs"_s);
    if (folders.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        folders.write("XDG_MUSIC_DIR=\"" + m_dir.filePath(u"music"_s).toUtf8() + "\"\n");
    }
    environment.insert(u"XDG_CONFIG_HOME"_s, config);
    // A session bus of the test's own or none: a Kivo of another test must not answer.
    environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s,
                       u"unix:path="_s + m_dir.filePath(u"no-bus"_s));
    return environment;
}

LinuxServices::Options UserFolders::options() const {
    LinuxServices::Options options;
    options.libraryFolder = library();
    options.outputFolder = output();
    return options;
}

std::unique_ptr<AppModel> UserFolders::model() const {
    return std::make_unique<AppModel>(LinuxServices::make(options()));
}

RecordingConfiguration UserFolders::configuration(RecordingMode mode) const {
    RecordingConfiguration configuration(output());
    configuration.name = u"測試"_s;
    configuration.mode = mode;
    configuration.includesMicrophone = false;
    configuration.format = AudioOutputFormat::wav;
    configuration.systemGain = 1.0F;
    configuration.microphoneGain = 1.0F;
    return configuration;
}

bool await(const std::function<void(std::function<void()>)>& operation, int timeoutMs) {
    bool done = false;
    operation([&done] { done = true; });
    return waitUntil([&] { return done; }, timeoutMs);
}

bool startRecording(AppModel& model) {
    if (!await([&](auto done) { model.start(done); }) ||
        model.coordinator().state() != RecordingState::recording) {
        qWarning("start failed: %s", qPrintable(model.alertMessage().value_or(QString())));
        return false;
    }
    return true;
}

RecoveryItem leftSession(const UserFolders& folders, double startedAt, double seconds) {
    const RecoveryManifest manifest(QUuid::createUuid(), Date{startedAt}, folders.configuration());
    const QString directory =
        folders.captures() + u'/' + manifest.id.toString(QUuid::WithoutBraces).toUpper();
    QDir().mkpath(directory);
    AudioRecordingWriter::writeManifest(manifest, directory);
    if (seconds > 0) {
        StereoSamples audio = silentSamples(static_cast<qint64>(seconds * 48000));
        for (qint64 i = 0; i < audio.frames(); ++i) {
            audio.left[i] = audio.right[i] = tone(440, 48000, i);
        }
        writeTrackFile(directory + u"/system.caf"_s, audio);
    }
    return RecoveryItem{directory, manifest};
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace kivo::test
