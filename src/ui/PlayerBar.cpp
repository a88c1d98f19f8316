#include "ui/PlayerBar.h"

#include "application/AppModel.h"
#include "ui/KivoButton.h"
#include "ui/KivoDialog.h"
#include "ui/KivoSlider.h"
#include "ui/KivoTheme.h"
#include "ui/NameSheet.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>
#include <cmath>

namespace kivo {

namespace {

// The first record of the library with the playback's id.
const RecordingRecord* playedRecord(const AppModel& model) {
    if (!model.playbackID()) {
        return nullptr;
    }
    for (const RecordingRecord& record : model.library().recordings) {
        if (record.id() == *model.playbackID()) {
            return &record;
        }
    }
    return nullptr;
}

int milliseconds(double seconds) {
    return std::isfinite(seconds) ? int(std::lround(std::clamp(seconds, 0.0, 2.0e6) * 1000)) : 0;
}

} // namespace

PlayerBar::PlayerBar(AppModel& model, QWidget* parent)
    : Panel(parent)
    , m_model(model)
    , m_toggle(new KivoButton(QString(), KivoButton::Kind::prominent, this))
    , m_name(makeLabel(QString(), 13, KivoTheme::ink, QFont::Medium, this))
    // Milliseconds: the arrow keys move 5 s, Page Up and Down 30 s.
    , m_slider(new KivoSlider(5000, 30000, this))
    , m_time(makeLabel(QString(), 12, KivoTheme::muted, QFont::Normal, this))
    , m_markers(new KivoButton(QString(), KivoButton::Kind::ordinary, this))
    , m_close(new KivoButton(QString(), KivoButton::Kind::plain, this)) {
    content()->setContentsMargins(16, 12, 18, 12);
    auto* row = new QHBoxLayout;
    row->setSpacing(14);
    content()->addLayout(row);

    m_toggle->setSymbol(QStringLiteral("play.fill"));
    m_close->setSymbol(QStringLiteral("xmark"));
    m_close->setToolTip(QStringLiteral("結束播放"));
    m_close->setAccessibleName(QStringLiteral("結束播放"));
    m_name->setMaximumWidth(260);
    m_slider->setAccessibleName(QStringLiteral("播放位置"));
    m_slider->setStyleSheet(
        QStringLiteral("QSlider::groove:horizontal { height: 4px; border-radius: 2px; "
                       "background: %1; }"
                       "QSlider::sub-page:horizontal { border-radius: 2px; background: %2; }"
                       "QSlider::handle:horizontal { width: 14px; margin: -5px 0; "
                       "border-radius: 7px; background: white; border: 1px solid %3; }"
                       "QSlider::handle:horizontal:focus { border: 2px solid %2; }")
            .arg(KivoTheme::line.name(), KivoTheme::green.name(), KivoTheme::muted.name()));
    // A fixed width, so that the ticking clock never moves the slider.
    m_time->setMinimumWidth(
        QFontMetrics(m_time->font()).horizontalAdvance(QStringLiteral("00:00:00 / 00:00:00")) + 4);
    m_time->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    row->addWidget(m_toggle);
    row->addWidget(m_name);
    row->addWidget(m_slider, 1);
    row->addWidget(m_time);
    m_markers->setObjectName(QStringLiteral("markersButton"));
    m_markers->setToolTip(QStringLiteral("跳到標記"));
    row->addWidget(m_markers);
    row->addWidget(m_close);

    connect(m_toggle, &QPushButton::clicked, this, &PlayerBar::toggle);
    connect(m_close, &QPushButton::clicked, &m_model, &AppModel::stopPlayback);
    connect(m_markers, &QPushButton::clicked, this, &PlayerBar::showMarkers);
    // Dragging, clicking the groove and the keys all seek.
    connect(m_slider, &QSlider::valueChanged, this, &PlayerBar::seek);
    refresh();
}

void PlayerBar::refresh() {
    const RecordingRecord* record = playedRecord(m_model);
    setVisible(record != nullptr);
    if (!record) {
        return;
    }
    m_name->setText(elidedToFit(m_name->font(), record->name(), Qt::ElideRight, 260));
    m_name->setToolTip(plainToolTip(record->name()));
    m_toggle->setSymbol(m_model.playing() ? QStringLiteral("pause.fill")
                                          : QStringLiteral("play.fill"));
    const QString action = m_model.playing() ? QStringLiteral("暫停播放") : QStringLiteral("播放");
    m_toggle->setToolTip(action);
    m_toggle->setAccessibleName(action);
    const QSignalBlocker blocker(m_slider);
    m_slider->setMaximum(milliseconds(m_model.playbackDuration()));
    // The player's position would pull the handle back from under the user's pointer.
    if (!m_slider->isSliderDown()) {
        m_slider->setValue(milliseconds(m_model.playbackPosition()));
    }
    m_time->setText(AppModel::clock(m_model.playbackPosition()) + QStringLiteral(" / ") +
                    AppModel::clock(m_model.playbackDuration()));
    QList<int> ticks;
    for (const RecordingMarker& marker : record->markers()) {
        ticks.append(milliseconds(marker.at));
    }
    m_slider->setTicks(ticks);
    m_markers->setVisible(!ticks.isEmpty());
    m_markers->setText(QStringLiteral("標記 %1").arg(ticks.size()));
}

void PlayerBar::showMarkers() {
    const RecordingRecord* played = playedRecord(m_model);
    if (!played) {
        return;
    }
    const RecordingRecord record = *played; // the library may change under the menu
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("markersMenu"));
    QMenu* rename = new QMenu(QStringLiteral("重新命名標記"), &menu);
    QMenu* remove = new QMenu(QStringLiteral("刪除標記"), &menu);
    for (qsizetype i = 0; i < record.markers().size(); ++i) {
        const RecordingMarker& marker = record.markers()[i];
        // "&" in a label is shown, not taken as a shortcut letter.
        const QString text = AppModel::clock(marker.at) + QStringLiteral("\u3000") +
                             QString(marker.label).replace(u'&', QStringLiteral("&&"));
        menu.addAction(text, this, [this, at = marker.at] { m_model.setPlaybackPosition(at); });
        rename->addAction(text, this, [this, record, i, label = marker.label] {
            NameSheet::ask(
                this, QStringLiteral("重新命名標記"), label,
                [this, record, i](const QString& name) { m_model.renameMarker(record, i, name); });
        });
        remove->addAction(text, this, [this, record, i] { confirmRemoval(record, i); });
    }
    menu.addSeparator();
    menu.addMenu(rename);
    menu.addMenu(remove);
    menu.exec(m_markers->mapToGlobal(QPoint(0, m_markers->height())));
}

void PlayerBar::confirmRemoval(const RecordingRecord& record, qsizetype index) {
    auto* box = new KivoDialog(KivoDialog::Symbol::question, QStringLiteral("刪除標記？"),
                               QStringLiteral("「%1」會從錄音紀錄中刪除；已保存的音檔不會改變。")
                                   .arg(record.markers()[index].label),
                               this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    KivoButton* cancel = box->addButton(QStringLiteral("取消"), KivoDialog::Role::cancel);
    KivoButton* remove = box->addButton(QStringLiteral("刪除"), KivoDialog::Role::destructive);
    box->setDefaultButton(cancel);
    connect(box, &KivoDialog::buttonClicked, this, [this, remove, record, index](KivoButton* b) {
        if (b == remove) {
            m_model.removeMarker(record, index);
        }
    });
    box->open();
}

void PlayerBar::toggle() {
    if (const RecordingRecord* record = playedRecord(m_model)) {
        // A copy: playing may change the library the pointer points into.
        m_model.play(RecordingRecord(*record));
    }
}

void PlayerBar::seek(int milliseconds) {
    m_model.setPlaybackPosition(milliseconds / 1000.0);
}

} // namespace kivo
