#pragma once

// One source's live level and gain: the source's symbol and title, a level bar, a slider for
// the gain (0 to 1) and the gain as a whole percentage. Setting the gain from code does not
// announce it; moving the slider does.
//
// Main thread only.

#include <QWidget>

class QLabel;
class QSlider;

namespace kivo {

class GainRow : public QWidget {
    Q_OBJECT

public:
    GainRow(const QString& title, const QString& symbol, QWidget* parent = nullptr);

    // The gain as the row shows it: gain × 100 truncated toward zero, then "%" (0.805 → "80%").
    static QString percentage(float gain);

    float level() const { return m_level; }
    // The latest level (0…1; values outside are drawn clamped). Repaints only on a change.
    void setLevel(float level);
    // The source reached full scale: `now` turns the level bar to the clip colour, `since`
    // shows "音量過大" beside the title.
    void setClipping(bool now, bool since);
    bool clippingNow() const { return m_clippingNow; }
    float gain() const { return m_gain; }
    void setGain(float gain);

    QSlider* slider() const { return m_slider; }
    QString percentageText() const;

signals:
    // The user moved the slider.
    void gainChanged(float gain);

private:
    QWidget* m_levelBar;
    QSlider* m_slider;
    QLabel* m_percentage;
    QLabel* m_clipped;
    float m_level = 0;
    bool m_clippingNow = false;
    float m_gain = 0;
};

} // namespace kivo
