#pragma once

// The recording controls bar, shown below the studio page and, while a recording runs, below
// every page: the elapsed time with the status below it, a small progress indicator while the
// recorder starts or saves (the export's percentage once it is known), while a recording is open
// the latest marker's label (editable: Return keeps the new label, Escape the default) and the
// button that adds a marker, the pause/resume button and the main button that starts a
// recording or stops and saves it.
//
// Main thread only. Holds no state: refresh() shows the model as it is.

#include <QWidget>

class QLabel;
class QLineEdit;
class QProgressBar;

namespace kivo {

class AppModel;
class KivoButton;

class RecordingControlsView : public QWidget {
    Q_OBJECT

public:
    explicit RecordingControlsView(AppModel& model, QWidget* parent = nullptr);

    void refresh();

protected:
    void paintEvent(QPaintEvent* event) override;
    // Escape in the marker's label gives it back its default.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    AppModel& m_model;
    QLabel* m_clock;
    QLabel* m_statusSymbol;
    QLabel* m_status;
    QProgressBar* m_progress;
    QLabel* m_percentage;
    // objectName "markerLabel": the latest marker's label.
    QLineEdit* m_markerLabel;
    qsizetype m_shownMarkers = 0; // markers when the label was last filled in
    // objectName "markButton": "加入標記".
    KivoButton* m_mark;
    // objectName "pauseButton": "暫停" / "繼續".
    KivoButton* m_pause;
    // objectName "mainButton": "開始錄音" / "停止並保存".
    KivoButton* m_main;
    // Whether the status symbol shows the recording dot, so it is redrawn only on a change.
    int m_shownSymbol = -1;
    bool m_mainHadFocus = false; // the main button had the focus when it was disabled
};

} // namespace kivo
