#pragma once

// What the model and kivo-cli tests share: a user's folders in a temporary folder (library,
// output, trash), the Linux services built on them, and waiting for the model's asynchronous
// operations.

#include "application/AppModel.h"
#include "infrastructure/system/LinuxServices.h"

#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace kivo::test {

// While it lives, XDG_DATA_HOME (library, sessions, trash) and the output folder point into a
// temporary folder.
class UserFolders {
public:
    UserFolders();
    ~UserFolders();
    UserFolders(const UserFolders&) = delete;
    UserFolders& operator=(const UserFolders&) = delete;

    QString library() const { return m_dir.filePath(QStringLiteral("data/Kivo")); }
    QString captures() const { return library() + QStringLiteral("/Captures"); }
    QString outputPath() const { return m_dir.filePath(QStringLiteral("music/Kivo")); }
    QUrl output() const { return QUrl::fromLocalFile(outputPath() + QLatin1Char('/')); }
    QString trash() const { return m_dir.filePath(QStringLiteral("data/Trash/files")); }
    // For kivo-cli: the same folders, found through the XDG variables.
    QProcessEnvironment environment() const;

    LinuxServices::Options options() const;
    std::unique_ptr<AppModel> model() const;

    // A configuration recording the system output (no microphone) into WAV.
    RecordingConfiguration configuration(RecordingMode mode = RecordingMode::system) const;

private:
    QTemporaryDir m_dir;
    QByteArray m_previousData;
};

// Runs `operation`, handing it a completion, and spins the event loop until that is called.
bool await(const std::function<void(std::function<void()> done)>& operation, int timeoutMs = 30000);

// Starts a recording and waits until it runs; false with a warning when it did not start.
bool startRecording(AppModel& model);
// A session folder as a killed recording leaves it: the manifest, and `seconds` of a 440 Hz
// tone in the system track when `seconds` is above 0.
RecoveryItem leftSession(const UserFolders& folders, double startedAt, double seconds);
// Files directly in `folder`, hidden ones included.
QStringList filesIn(const QString& folder);

} // namespace kivo::test
