#include "ui/GainRow.h"

#include "ui/KivoSlider.h"
#include "ui/KivoSymbols.h"
#include "ui/KivoTheme.h"
#include "ui/Panel.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>
#include <cmath>

namespace kivo {

namespace {

// Slider steps per unit of gain: the arrow keys move 1 %, Page Up and Down 10 %.
constexpr int kSteps = 1000;
constexpr int kKeyStep = kSteps / 100;
constexpr int kPageStep = kSteps / 10;
constexpr int kSymbolSize = 16;

// A soft green capsule filled in green to the level, in the clip colour while the source is at
// full scale.
class LevelBar : public QWidget {
public:
    explicit LevelBar(const GainRow& row, QWidget* parent)
        : QWidget(parent)
        , m_row(row) {
        setFixedHeight(8);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        const QRectF track(rect());
        const qreal radius = track.height() / 2;
        painter.setBrush(KivoTheme::softGreen);
        painter.drawRoundedRect(track, radius, radius);
        const qreal filled = track.width() * std::clamp(double(m_row.level()), 0.0, 1.0);
        if (filled > 0) {
            painter.setBrush(m_row.clippingNow() ? KivoTheme::accent : KivoTheme::green);
            painter.drawRoundedRect(QRectF(track.topLeft(), QSizeF(filled, track.height())),
                                    std::min(radius, filled / 2), radius);
        }
    }

private:
    const GainRow& m_row;
};

} // namespace

GainRow::GainRow(const QString& title, const QString& symbol, QWidget* parent)
    : QWidget(parent)
    , m_levelBar(new LevelBar(*this, this))
    , m_slider(new KivoSlider(kKeyStep, kPageStep, this))
    , m_percentage(makeLabel(percentage(0), 12, KivoTheme::ink, QFont::Medium, this))
    , m_clipped(
          makeLabel(QStringLiteral("音量過大"), 11, KivoTheme::accentText, QFont::Medium, this)) {
    // Two lines, so that the row stays readable in a narrow window: the source and its gain
    // slider above, the level bar below, starting under the title.
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    auto* top = new QHBoxLayout;
    top->setSpacing(10);
    column->addLayout(top);

    auto* icon = new QLabel(this);
    icon->setPixmap(
        KivoSymbols::icon(symbol, KivoTheme::green).pixmap(QSize(kSymbolSize, kSymbolSize)));
    top->addWidget(icon);
    top->addWidget(makeLabel(title, 13, KivoTheme::ink, QFont::Medium, this));
    m_clipped->setObjectName(QStringLiteral("clipped"));
    m_clipped->hide();
    top->addWidget(m_clipped);
    top->addStretch(1);
    QLabel* volume = makeLabel(QStringLiteral("音量"), 11, KivoTheme::muted, QFont::Normal, this);
    volume->setBuddy(m_slider);
    top->addWidget(volume);
    m_slider->setRange(0, kSteps);
    m_slider->setAccessibleName(title + QStringLiteral(" 音量"));
    m_slider->setMinimumWidth(64);
    m_slider->setMaximumWidth(180);
    m_slider->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    top->addWidget(m_slider, 2);
    m_percentage->setFixedWidth(40);
    m_percentage->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    top->addWidget(m_percentage);

    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(kSymbolSize + 10, 0, 0, 0);
    bottom->addWidget(m_levelBar);
    column->addLayout(bottom);

    connect(m_slider, &QSlider::valueChanged, this, [this](int value) {
        m_gain = float(value) / float(kSteps);
        m_percentage->setText(percentage(m_gain));
        emit gainChanged(m_gain);
    });
}

QString GainRow::percentage(float gain) {
    // In single precision, as the gain is stored: 0.7F × 100 is 70, not 69.99….
    const float scaled = gain * 100.0F;
    return QString::number(static_cast<long long>(std::trunc(scaled))) + QLatin1Char('%');
}

void GainRow::setLevel(float level) {
    if (level != m_level) {
        m_level = level;
        m_levelBar->update();
    }
}

void GainRow::setClipping(bool now, bool since) {
    if (now != m_clippingNow) {
        m_clippingNow = now;
        m_levelBar->update();
    }
    m_clipped->setVisible(since);
}

void GainRow::setGain(float gain) {
    if (gain == m_gain) {
        return;
    }
    m_gain = gain;
    const QSignalBlocker blocker(m_slider);
    m_slider->setValue(int(std::lround(double(gain) * kSteps)));
    m_percentage->setText(percentage(gain));
}

QString GainRow::percentageText() const {
    return m_percentage->text();
}

} // namespace kivo
