#pragma once

// The small player under the library list, shown while a record of the library is being played
// (or is paused): play/pause, the record's name, a position slider that seeks, the position and
// length, and a button that ends playback.
//
// Main thread only.

#include "ui/Panel.h"

class QLabel;
class QSlider;

namespace kivo {

class AppModel;
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

private:
    void toggle();
    void seek(int milliseconds);

    AppModel& m_model;
    KivoButton* m_toggle;
    QLabel* m_name;
    // Milliseconds.
    QSlider* m_slider;
    QLabel* m_time;
    KivoButton* m_close;
};

} // namespace kivo
