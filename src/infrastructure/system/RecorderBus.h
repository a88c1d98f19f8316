#pragma once

// Kivo on the session bus: the name app.kivo.Kivo and the object /app/kivo/Kivo with the
// interface app.kivo.Recorder1 (data/app.kivo.Kivo.Recorder1.xml), so that desktop shortcuts,
// `kivo --toggle-record` and `kivo-cli` reach the one Kivo that holds the library. Every method
// does what the window's own command does, through the same model call and by the same rules; a
// call the state does not allow is answered with the error kErrorName and the reason in
// Traditional Chinese. PropertiesChanged announces State and LastRecordName as they change and
// Elapsed once a second while it runs.
//
// Main thread only.

#include <QDBusContext>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace kivo {

class AppModel;

class RecorderBus : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.kivo.Recorder1")
    Q_PROPERTY(QString State READ state)
    Q_PROPERTY(double Elapsed READ elapsed)
    Q_PROPERTY(QString LastRecordName READ lastRecordName)
    Q_PROPERTY(QString LastRecordId READ lastRecordId)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(double SystemLevel READ systemLevel)
    Q_PROPERTY(double MicrophoneLevel READ microphoneLevel)
    Q_PROPERTY(double SaveProgress READ saveProgress)

public:
    static const QString kServiceName;   // app.kivo.Kivo
    static const QString kObjectPath;    // /app/kivo/Kivo
    static const QString kInterfaceName; // app.kivo.Recorder1
    static const QString kErrorName;     // app.kivo.Recorder1.Error.NotAllowed

    // `show` brings the window to the front; without one (kivo-cli), Show() is refused.
    RecorderBus(AppModel& model, std::function<void()> show, QObject* parent = nullptr);
    ~RecorderBus() override;

    // Exports the object on the session bus and takes the name. False (nothing exported) when
    // there is no session bus, or another program owns the name and `waitForName` is false;
    // with it, the name comes to this program once the other lets it go (a terminal recording
    // that ends while the window runs).
    bool publish(bool waitForName);

    // The commands, as the bus calls them; each returns why it was refused, or nothing. Also
    // called by the program itself for a command it was started with.
    std::optional<QString> record();
    std::optional<QString> recordWith(const QString& configurationJson);
    std::optional<QString> pause();
    std::optional<QString> resume();
    std::optional<QString> togglePause();
    std::optional<QString> toggleRecord();
    std::optional<QString> stop();
    std::optional<QString> mark(const QString& label);

    // "idle", "starting", "recording", "paused" or "saving".
    QString state() const;
    double elapsed() const;
    // The newest record in the library: its name and id, empty without one.
    QString lastRecordName() const;
    QString lastRecordId() const;
    // The window's one-line status ("錄音中", ...).
    QString status() const;
    // The latest linear peak of each source, 0 to 1.
    double systemLevel() const;
    double microphoneLevel() const;
    // The fraction of a running save, −1 when none runs.
    double saveProgress() const;

public slots:
    Q_SCRIPTABLE void Record();
    // Records with the configuration given as JSON (as presets and settings store it), as
    // kivo-cli does with its options; the window shows that configuration afterwards.
    Q_SCRIPTABLE void RecordWith(const QString& configuration);
    Q_SCRIPTABLE void Pause();
    Q_SCRIPTABLE void Resume();
    Q_SCRIPTABLE void Stop();
    Q_SCRIPTABLE void TogglePause();
    Q_SCRIPTABLE void ToggleRecord();
    Q_SCRIPTABLE void Show();
    // Marks the recording's present moment; an empty label gives "標記 N".
    Q_SCRIPTABLE void Mark(const QString& label);

private:
    // Answers the bus call with the refusal, if there is one.
    void answer(const std::optional<QString>& refusal);
    void announceChanges();

    AppModel& m_model;
    std::function<void()> m_show;
    bool m_published = false;
    // What PropertiesChanged announced last.
    QString m_state;
    qint64 m_second = 0;
    QString m_lastRecord;
};

} // namespace kivo
