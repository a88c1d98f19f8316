#pragma once

// The small player under the library list, shown while a record of the library is being played
// (or is paused): play/pause, the record's name, a position slider that seeks (the record's
// markers drawn on it), the position and length, a button that lists the markers and jumps to
// the one chosen, and a button that ends playback.
//
// Main thread only.

#include "ui/KivoSlider.h"
#include "ui/Panel.h"

class QLabel;
class QSlider;

namespace kivo {

class AppModel;
class RecordingRecord;
class KivoButton;

class PlayerBar : public Panel {
    Q_OBJECT

public:
    explicit PlayerBar(AppModel& model, QWidget* parent = nullptr);

    // Shows the model's playback as it is now; hidden when no record of the library plays.
    void refresh();

    KivoButton* toggleButton() const { return m_toggle; }
    QSlider* slider() const { return m_slider; }
    KivoButton* closeButton() const { return m_close; }
    KivoButton* markersButton() const { return m_markers; }

private:
    void toggle();
    void seek(int milliseconds);
    void showMarkers();
    void confirmRemoval(const RecordingRecord& record, qsizetype index);

    AppModel& m_model;
    KivoButton* m_toggle;
    QLabel* m_name;
    // Milliseconds.
    KivoSlider* m_slider;
    QLabel* m_time;
    // "標記 N": a menu of the markers, each "time  label"; chosen, playback jumps there.
    KivoButton* m_markers;
    KivoButton* m_close;
};

} // namespace kivo
