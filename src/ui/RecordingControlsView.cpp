#include "ui/RecordingControlsView.h"

#include "application/AppModel.h"
#include "ui/KivoButton.h"
#include "ui/KivoSymbols.h"
#include "ui/KivoTheme.h"
#include "ui/Panel.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>

#include <cmath>

namespace kivo {

RecordingControlsView::RecordingControlsView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_clock(makeLabel(QString(), 26, KivoTheme::ink, QFont::DemiBold, this))
    , m_statusSymbol(new QLabel(this))
    , m_status(makeLabel(QString(), 11, KivoTheme::muted, QFont::Medium, this))
    , m_progress(new QProgressBar(this))
    , m_percentage(makeLabel(QString(), 12, KivoTheme::muted, QFont::Medium, this))
    , m_markerLabel(new QLineEdit(this))
    , m_mark(new KivoButton(QStringLiteral("加入標記"), KivoButton::Kind::ordinary, this))
    , m_pause(new KivoButton(QStringLiteral("暫停"), KivoButton::Kind::ordinary, this))
    , m_main(new KivoButton(QStringLiteral("開始錄音"), KivoButton::Kind::prominent, this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(34, 12, 34, 12);
    layout->setSpacing(12);

    auto* time = new QVBoxLayout;
    time->setSpacing(0);
    m_clock->setObjectName(QStringLiteral("clockLabel"));
    time->addWidget(m_clock);
    auto* status = new QHBoxLayout;
    status->setSpacing(5);
    m_statusSymbol->setFixedSize(10, 10);
    status->addWidget(m_statusSymbol);
    m_status->setObjectName(QStringLiteral("statusLabel"));
    status->addWidget(m_status);
    status->addStretch(1);
    time->addLayout(status);
    layout->addLayout(time);
    layout->addStretch(1);

    m_progress->setObjectName(QStringLiteral("busyIndicator"));
    m_progress->setTextVisible(false);
    m_progress->setFixedSize(90, 6);
    m_progress->setStyleSheet(
        QStringLiteral("QProgressBar { border: none; border-radius: 3px; background: %1; }"
                       "QProgressBar::chunk { border-radius: 3px; background: %2; }")
            .arg(KivoTheme::softGreen.name(), KivoTheme::green.name()));
    layout->addWidget(m_progress);
    m_percentage->setObjectName(QStringLiteral("progressLabel"));
    layout->addWidget(m_percentage);
    layout->addSpacing(8);

    m_markerLabel->setObjectName(QStringLiteral("markerLabel"));
    m_markerLabel->setAccessibleName(QStringLiteral("標記名稱"));
    m_markerLabel->setPlaceholderText(QStringLiteral("標記名稱"));
    m_markerLabel->setToolTip(QStringLiteral("輸入標記名稱後按 Return；按 Esc 使用預設名稱"));
    m_markerLabel->setStyleSheet(KivoTheme::fieldStyleSheet());
    m_markerLabel->setMaxLength(200);
    m_markerLabel->setFixedWidth(m_markerLabel->fontMetrics().horizontalAdvance(u'標') * 10);
    m_markerLabel->installEventFilter(this);
    layout->addWidget(m_markerLabel);
    m_mark->setObjectName(QStringLiteral("markButton"));
    m_mark->setToolTip(QStringLiteral("在目前的錄音時間加入標記（Ctrl+Shift+M）"));
    layout->addWidget(m_mark);
    m_pause->setObjectName(QStringLiteral("pauseButton"));
    layout->addWidget(m_pause);
    m_main->setObjectName(QStringLiteral("mainButton"));
    m_main->setRecording(true);
    layout->addWidget(m_main);

    connect(m_mark, &QAbstractButton::clicked, this, [this] { m_model.addMarker(); });
    connect(m_markerLabel, &QLineEdit::returnPressed, this, [this] {
        m_model.relabelLastMarker(m_markerLabel->text());
        m_markerLabel->clearFocus();
    });
    connect(m_pause, &QAbstractButton::clicked, this,
            [this] { m_model.coordinator().togglePause(); });
    connect(m_main, &QAbstractButton::clicked, this, [this] {
        if (canStop(m_model.coordinator().state())) {
            m_model.stop();
        } else {
            m_model.start();
        }
    });
    connect(&m_model, &AppModel::changed, this, &RecordingControlsView::refresh);
    refresh();
}

void RecordingControlsView::refresh() {
    const RecordingState state = m_model.coordinator().state();
    const bool open = canStop(state);

    m_clock->setText(AppModel::clock(m_model.coordinator().elapsed()));
    m_status->setText(m_model.status());
    const bool recording = state == RecordingState::recording;
    if (m_shownSymbol != int(recording)) {
        m_shownSymbol = int(recording);
        m_statusSymbol->setPixmap(
            KivoSymbols::icon(recording ? QStringLiteral("circle.fill") : QStringLiteral("circle"),
                              recording ? KivoTheme::accent : KivoTheme::muted)
                .pixmap(QSize(10, 10)));
    }

    const bool busy = state == RecordingState::starting || state == RecordingState::saving;
    const std::optional<double>& progress = m_model.exportProgress();
    m_progress->setVisible(busy);
    m_percentage->setVisible(busy && progress.has_value());
    if (busy && progress) {
        const int percent = int(std::clamp(std::trunc(*progress * 100), 0.0, 100.0));
        m_progress->setRange(0, 100);
        m_progress->setValue(percent);
        m_percentage->setText(QString::number(percent) + QLatin1Char('%'));
    } else if (busy && m_progress->maximum() != 0) {
        // An unknown amount of work: the bar runs back and forth.
        m_progress->setRange(0, 0);
    }

    // A new marker's label is ready to be typed over at once.
    const auto& markers = m_model.markers();
    m_markerLabel->setVisible(open && !markers.isEmpty());
    if (markers.size() != m_shownMarkers || (!m_markerLabel->hasFocus() && !markers.isEmpty() &&
                                             m_markerLabel->text() != markers.back().label)) {
        const bool added = markers.size() > m_shownMarkers;
        m_shownMarkers = markers.size();
        m_markerLabel->setText(markers.isEmpty() ? QString() : markers.back().label);
        if (added && open) {
            m_markerLabel->setFocus(Qt::OtherFocusReason);
            m_markerLabel->selectAll();
        }
    }
    m_mark->setEnabled(m_model.canMark());

    m_pause->setText(state == RecordingState::paused ? QStringLiteral("繼續")
                                                     : QStringLiteral("暫停"));
    m_pause->setEnabled(open);
    m_main->setText(open ? QStringLiteral("停止並保存") : QStringLiteral("開始錄音"));
    m_main->setSymbol(open ? QStringLiteral("stop.fill") : QStringLiteral("circle.fill"));
    // Disabled while starting or saving, the button loses the keyboard focus; it gets it back
    // when it is enabled again, so that Space stops what Space started.
    const bool enabled = m_model.canRecord() || open;
    if (!enabled && m_main->hasFocus()) {
        m_mainHadFocus = true;
    }
    m_main->setEnabled(enabled);
    if (enabled && std::exchange(m_mainHadFocus, false)) {
        m_main->setFocus(Qt::OtherFocusReason);
    }
}

bool RecordingControlsView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_markerLabel && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        m_model.relabelLastMarker(QString());
        m_markerLabel->clearFocus();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void RecordingControlsView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    painter.setPen(KivoTheme::line);
    painter.drawLine(0, 0, width(), 0);
}

} // namespace kivo
