#pragma once

// The page where a recording is set up and run. Left: the sources (mode cards, the application
// and microphone choices) above the live preview (gains, levels, level history). Right, 265
// pixels wide: the saving settings, a tip about headphones and the two newest recordings.
//
// It keeps no state: every control writes straight into the model's configuration (or calls the
// model), and refresh() shows the model as it is. The editing controls are disabled unless the
// recorder is idle and no recovery runs; the gains stay adjustable during a recording.
//
// Main thread only.

#include "application/AudioInputDevice.h"
#include "application/RunningAudioApp.h"

#include <QList>
#include <QUrl>
#include <QUuid>
#include <QWidget>

#include <array>
#include <functional>
#include <vector>

class QBoxLayout;
class QComboBox;
class QLabel;
class QLineEdit;
class QVBoxLayout;

namespace kivo {

class AppModel;
class DesktopActions;
class GainRow;
class KivoButton;
class KivoSwitch;
class Panel;
class SegmentedChoice;
class SourceCard;
class WaveformView;
struct RecordingConfiguration;

class StudioPage : public QWidget {
    Q_OBJECT

public:
    // The right-hand column's width at the usual text size.
    static constexpr int kSideWidth = 265;

    StudioPage(AppModel& model, DesktopActions& desktop, QWidget* parent = nullptr);

    // Shows the model as it is now; touches only what differs from what is shown.
    void refresh();

protected:
    void resizeEvent(QResizeEvent* event) override;

signals:
    // The recent rows were built anew (the window orders its tab chain again).
    void rowsRebuilt();

private:
    QWidget* buildSources();
    QWidget* buildPreview();
    QWidget* buildSaving();
    QWidget* buildHeadphoneTip();
    QWidget* buildRecent();
    void edit(const std::function<void(RecordingConfiguration&)>& change);
    void changeGains(const std::function<void(RecordingConfiguration&)>& change);
    // An application as its picker lists it.
    static QString applicationLabel(const RunningAudioApp& application,
                                    const std::vector<RunningAudioApp>& all);
    // What the running recording records, in one line.
    QString sourcesSummary() const;
    void showApplications();
    void showDevices();
    void showRecent();

    AppModel& m_model;
    DesktopActions& m_desktop;

    QBoxLayout* m_columns = nullptr;
    QVBoxLayout* m_left = nullptr;
    QWidget* m_side = nullptr;
    int m_sideWidth = kSideWidth;
    std::array<SourceCard*, 3> m_cards{};
    QLabel* m_sourcesSummary = nullptr;
    QLabel* m_modeHint = nullptr;
    QWidget* m_applicationField = nullptr;
    QComboBox* m_applicationPicker = nullptr;
    KivoButton* m_applicationRefresh = nullptr;
    QWidget* m_microphoneRow = nullptr;
    KivoSwitch* m_microphoneSwitch = nullptr;
    QWidget* m_deviceField = nullptr;
    QComboBox* m_devicePicker = nullptr;
    KivoButton* m_deviceRefresh = nullptr;

    QLabel* m_previewCaption = nullptr;
    QWidget* m_systemGainRow = nullptr;
    GainRow* m_systemGain = nullptr;
    QWidget* m_muteRoom = nullptr;
    QWidget* m_microphoneGainRow = nullptr;
    GainRow* m_microphoneGain = nullptr;
    KivoButton* m_muteButton = nullptr;
    WaveformView* m_waveform = nullptr;

    Panel* m_savingPanel = nullptr;
    QLineEdit* m_nameField = nullptr;
    SegmentedChoice* m_format = nullptr;
    QLabel* m_formatLine = nullptr;
    SegmentedChoice* m_quality = nullptr;
    QLabel* m_folder = nullptr;
    QWidget* m_separateRow = nullptr;
    KivoSwitch* m_separateSwitch = nullptr;
    QLabel* m_summary = nullptr;

    QVBoxLayout* m_recentRows = nullptr;
    QList<KivoButton*> m_recentPlayButtons;
    QLabel* m_recentEmpty = nullptr;

    // What the pickers and the recent list show now, so that they are rebuilt only on a change.
    std::vector<RunningAudioApp> m_shownApplications;
    std::vector<AudioInputDevice> m_shownDevices;
    struct ShownRecord {
        QUuid id;
        QString name;
        double duration = 0;
        bool operator==(const ShownRecord&) const = default;
    };
    QList<ShownRecord> m_shownRecent;
    bool m_recentBuilt = false;
    // The output folder the folder line shows.
    QUrl m_shownFolder;
};

} // namespace kivo
