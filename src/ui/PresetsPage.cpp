#include "ui/PresetsPage.h"

#include "application/AppModel.h"
#include "ui/DesktopActions.h"
#include "ui/KivoButton.h"
#include "ui/KivoDialog.h"
#include "ui/KivoSymbols.h"
#include "ui/KivoTheme.h"
#include "ui/Panel.h"
#include "ui/SymbolView.h"

#include <QPushButton>

namespace kivo {

namespace {

// "AAC · 標準品質\n合併音檔": the format, the quality and the saving mode.
QString detail(const RecordingConfiguration& configuration) {
    return rawValue(configuration.format) + QStringLiteral(" · ") +
           (configuration.highQuality ? QStringLiteral("高品質") : QStringLiteral("標準品質")) +
           QLatin1Char('\n') +
           (configuration.saveSeparateTracks ? QStringLiteral("合併＋分軌保存")
                                             : QStringLiteral("合併音檔"));
}

// The source symbol on a soft green tile.
QWidget* symbolTile(const QString& symbol, QWidget* parent) {
    auto* tile = new QLabel(parent);
    tile->setFixedSize(40, 40);
    tile->setStyleSheet(
        QStringLiteral("background: %1; border-radius: 10px;").arg(KivoTheme::softGreen.name()));
    auto* layout = new QVBoxLayout(tile);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new SymbolView(symbol, KivoTheme::green, 20, tile), 0, Qt::AlignCenter);
    return tile;
}

} // namespace

PresetsPage::PresetsPage(AppModel& model, DesktopActions& desktop, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_desktop(desktop) {
    auto* column = new QWidget;
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(column);

    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);

    m_empty = new Panel(column);
    m_empty->content()->setContentsMargins(22, 34, 22, 34);
    m_empty->content()->setSpacing(8);
    m_empty->content()->addWidget(
        new SymbolView(QStringLiteral("slider.horizontal.3"), KivoTheme::muted, 30, m_empty), 0,
        Qt::AlignHCenter);
    m_empty->content()->addSpacing(4);
    m_empty->content()->addWidget(makeLabel(QStringLiteral("把常用設定存成錄音方案"), 15,
                                            KivoTheme::ink, QFont::DemiBold, m_empty),
                                  0, Qt::AlignHCenter);
    m_empty->content()->addWidget(
        makeLabel(QStringLiteral("先在錄音工作室選好來源、音量與音檔設定，再按「儲存為方案」。"),
                  12, KivoTheme::muted, QFont::Normal, m_empty),
        0, Qt::AlignHCenter);
    layout->addWidget(m_empty);

    m_list = new QVBoxLayout;
    m_list->setSpacing(12);
    layout->addLayout(m_list);

    m_note = makeLabel(
        QStringLiteral("套用方案後會回到錄音工作室。App 與麥克風若已關閉或拔除，請重新選擇來源。"),
        12, KivoTheme::muted, QFont::Normal, column);
    m_note->setWordWrap(true);
    layout->addWidget(m_note);
    layout->addStretch(1);

    connect(&m_model, &AppModel::changed, this, &PresetsPage::refresh);
    refresh();
}

void PresetsPage::refresh() {
    const QList<RecordingPreset>& presets = m_model.library().presets;
    if (!m_built || presets != m_shown) {
        rebuild(presets);
    }
    const bool idle =
        m_model.coordinator().state() == RecordingState::idle && !m_model.recovering();
    for (KivoButton* apply : std::as_const(m_applyButtons)) {
        apply->setEnabled(idle);
    }
    // Deleting changes the library, which a Kivo that only looks may not.
    for (KivoButton* remove : std::as_const(m_deleteButtons)) {
        remove->setEnabled(idle && m_model.storageAvailable());
    }
}

void PresetsPage::rebuild(const QList<RecordingPreset>& presets) {
    m_built = true;
    m_shown = presets;
    for (QWidget* card : std::as_const(m_cards)) {
        // Later: the click that led here may still be on the stack of one of its buttons.
        card->hide();
        card->deleteLater();
    }
    m_cards.clear();
    m_applyButtons.clear();
    m_deleteButtons.clear();
    for (const RecordingPreset& preset : presets) {
        QWidget* card = presetPanel(preset);
        m_list->addWidget(card);
        m_cards.append(card);
    }
    m_empty->setVisible(presets.isEmpty());
    m_note->setVisible(!presets.isEmpty());
    emit rowsRebuilt();
}

QWidget* PresetsPage::presetPanel(const RecordingPreset& preset) {
    auto* panel = new Panel;
    auto* row = new QHBoxLayout;
    row->setSpacing(14);
    panel->content()->addLayout(row);
    row->addWidget(symbolTile(KivoSymbols::of(preset.configuration.mode), panel));

    auto* names = new QVBoxLayout;
    names->setSpacing(3);
    auto* name = makeLabel(preset.name, 15, KivoTheme::ink, QFont::DemiBold, panel);
    name->setTextFormat(Qt::PlainText);
    names->addWidget(name);
    names->addWidget(makeLabel(preset.configuration.sourceDescription(), 12, KivoTheme::muted,
                               QFont::Normal, panel));
    row->addLayout(names, 1);

    auto* details =
        makeLabel(detail(preset.configuration), 12, KivoTheme::muted, QFont::Normal, panel);
    details->setMinimumWidth(120);
    row->addWidget(details);
    row->addSpacing(8);

    auto* remove = new KivoButton(QStringLiteral("刪除"), KivoButton::Kind::plain, panel);
    connect(remove, &QPushButton::clicked, this, [this, preset] { confirmDelete(preset); });
    row->addWidget(remove);
    auto* apply = new KivoButton(QStringLiteral("套用方案 →"), KivoButton::Kind::prominent, panel);
    connect(apply, &QPushButton::clicked, this, [this, preset] { m_model.applyPreset(preset); });
    row->addWidget(apply);
    m_deleteButtons << remove;
    m_applyButtons << apply;
    return panel;
}

void PresetsPage::confirmDelete(const RecordingPreset& preset) {
    auto* box = new KivoDialog(KivoDialog::Symbol::trash, QStringLiteral("刪除錄音方案？"),
                               QString(), this);
    box->setObjectName(QLatin1String(kDeleteConfirmationName));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    KivoButton* cancel = box->addButton(QStringLiteral("取消"), KivoDialog::Role::cancel);
    KivoButton* remove = box->addButton(QStringLiteral("刪除方案"), KivoDialog::Role::destructive);
    // Return keeps the preset: only a deliberate choice deletes.
    box->setDefaultButton(cancel);
    connect(box, &KivoDialog::buttonClicked, this, [this, remove, preset](KivoButton* b) {
        if (b == remove) {
            m_model.removePreset(preset);
        }
    });
    box->open();
}

} // namespace kivo
