#pragma once

// What the interface tests share: a model on a scripted recording backend, a real library
// folder in a temporary folder, players that only keep their state and a trash that deletes, a
// desktop that records what it is asked, and ways to reach the states a recording passes through.

#include "FakeRecordingBackend.h"
#include "application/AppModel.h"
#include "ui/DesktopActions.h"

#include <QAbstractButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QWidget>

#include <functional>
#include <memory>

namespace kivo::test {

class RecordingDesktop : public DesktopActions {
public:
    // "reveal <paths>", "open <path>", "copy <paths>", "soundSettings".
    QStringList calls;
    bool soundSettings = true;
    SoundServerState server = SoundServerState::connected;

    void reveal(const QList<QUrl>& files) override;
    void openFolder(const QUrl& folder) override;
    void copyFiles(const QList<QUrl>& files) override;
    bool canOpenSoundSettings() const override { return soundSettings; }
    void openSoundSettings() override { calls.append(QStringLiteral("soundSettings")); }
    void probeSoundServer(QObject*, std::function<void(SoundServerState)> done) override {
        done(server);
    }
};

// The sound server's lists as the model sees them: two applications (unless a test gives others)
// and one microphone.
class FakeSourceCatalog : public SourceCatalog {
public:
    std::vector<RunningAudioApp> apps{
        {4242, QStringLiteral("Firefox"), QStringLiteral("firefox"), std::nullopt},
        {5151, QStringLiteral("Zoom"), QStringLiteral("zoom"), std::nullopt}};
    std::vector<RunningAudioApp> applications() override { return apps; }
    std::vector<AudioInputDevice> inputs() override { return {{7, QStringLiteral("USB 麥克風")}}; }
};

class UiFixture {
public:
    // `records` recordings (newest first) are stored before the model starts; a record's file is
    // written unless listed in `missing` (by index), which instead keeps a second, track file.
    // The second record has markers at 10 s and 42.5 s.
    explicit UiFixture(int records = 0, QList<int> missing = {});

    AppModel& model() { return *m_model; }
    FakeRecordingBackend& backend() { return *m_backend; }
    FakeSourceCatalog& sources() { return *m_sources; }
    RecordingDesktop& desktop() { return m_desktop; }
    QString folder() const { return m_dir.path(); }

    // Drives the model into a recording state: recording, paused or saving (a held stop).
    void record();
    void pause();
    void beginSaving();
    // Finishes a held stop.
    void finishSaving();

private:
    QTemporaryDir m_dir;
    std::shared_ptr<FakeRecordingBackend> m_backend;
    FakeSourceCatalog* m_sources = nullptr; // the model's
    RecordingDesktop m_desktop;
    std::unique_ptr<AppModel> m_model;
};

// The visible, enabled state of the button showing `text` under `root` (first match), or null.
QAbstractButton* buttonWithText(QWidget* root, const QString& text);
// Every visible label text under `root`, in widget order.
QStringList visibleTexts(QWidget* root);

// Texts under `root` drawn in less room than they need (labels and buttons), or outside their
// parent: one line each, "<text>: needs WxH, has WxH".
QStringList clippedTexts(QWidget* root);

// The desktop's text at `points` while it lives (10 is the usual size): Kivo's look is applied
// again over it, so widgets made meanwhile take the larger fonts.
class DesktopTextSize {
public:
    explicit DesktopTextSize(int points);
    ~DesktopTextSize();
    DesktopTextSize(const DesktopTextSize&) = delete;
    DesktopTextSize& operator=(const DesktopTextSize&) = delete;
};

// What a dark desktop theme (Breeze Dark, GNOME's dark style) gives Qt before Kivo sets its own.
QPalette darkDesktopPalette();

// Everything a person can meet in Kivo's windows, one state at a time: every page idle, while
// recording and saving, the recovery panel, the notice, every dialog and every menu. `visit` gets
// the state's name, the window and, when one is open in front of it, the dialog or menu. With
// `moving`, the meters are fed for a few seconds first, as a recording shows them.
using SceneVisitor = std::function<void(const QString& name, QWidget& window, QWidget* over)>;
void walkScenes(const SceneVisitor& visit, bool moving = false);

} // namespace kivo::test
