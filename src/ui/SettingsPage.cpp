#include "ui/SettingsPage.h"

#include "application/AppModel.h"
#include "ui/BrandMark.h"
#include "ui/DesktopActions.h"
#include "ui/FolderText.h"
#include "ui/KivoButton.h"
#include "ui/KivoPicker.h"
#include "ui/KivoSwitch.h"
#include "ui/KivoSymbols.h"
#include "ui/KivoTheme.h"
#include "ui/Panel.h"
#include "ui/SymbolView.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QSignalBlocker>

namespace kivo {

namespace {

QString serverStateText(SoundServerState state) {
    switch (state) {
    case SoundServerState::connected:
        return QStringLiteral("已連線");
    case SoundServerState::unreachable:
        return QStringLiteral("未連線");
    case SoundServerState::refused:
        return QStringLiteral("已拒絕");
    }
    return {};
}

// A field heading above its control, as one block.
QVBoxLayout* field(const QString& heading, QWidget* control) {
    auto* layout = new QVBoxLayout;
    layout->setSpacing(6);
    layout->addWidget(new FieldHeading(heading));
    if (control != nullptr) {
        control->setMinimumWidth(260);
        layout->addWidget(control, 0, Qt::AlignLeft);
    }
    return layout;
}

QLabel* sectionTitle(const QString& text, QWidget* parent) {
    return makeLabel(text, 13, KivoTheme::ink, QFont::DemiBold, parent);
}

QLabel* paragraph(const QString& text, QWidget* parent) {
    auto* label = makeLabel(text, 12, KivoTheme::muted, QFont::Normal, parent);
    label->setWordWrap(true);
    return label;
}

QFrame* separator(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFixedHeight(1);
    line->setStyleSheet(QStringLiteral("background: %1;").arg(KivoTheme::line.name()));
    return line;
}

// A source row: symbol and title on the left, its state on the right.
QHBoxLayout* sourceRow(const QString& symbol, const QString& title, QLabel* state,
                       QWidget* parent) {
    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    row->addWidget(new SymbolView(symbol, KivoTheme::ink, 18, parent));
    row->addWidget(makeLabel(title, 13, KivoTheme::ink, QFont::Normal, parent));
    row->addStretch(1);
    row->addWidget(state);
    return row;
}

} // namespace

SettingsPage::SettingsPage(AppModel& model, DesktopActions& desktop, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_desktop(desktop) {
    auto* columns = new QHBoxLayout(this);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(18);
    columns->addWidget(defaultsPanel(), 3, Qt::AlignTop);
    columns->addWidget(aboutPanel(), 2, Qt::AlignTop);

    connect(&m_model, &AppModel::changed, this, &SettingsPage::refresh);
    refresh();
}

QWidget* SettingsPage::defaultsPanel() {
    m_defaults = new Panel(this);
    QVBoxLayout* content = m_defaults->content();
    content->setSpacing(16);
    content->addWidget(
        makeLabel(QStringLiteral("錄音預設值"), 15, KivoTheme::ink, QFont::DemiBold, m_defaults));

    m_mode = new KivoPicker(m_defaults);
    for (RecordingMode mode : kAllRecordingModes) {
        m_mode->addItem(KivoSymbols::icon(KivoSymbols::of(mode), KivoTheme::ink), title(mode));
    }
    connect(m_mode, &QComboBox::currentIndexChanged, this, [this](int index) {
        auto configuration = m_model.defaultConfiguration();
        configuration.mode = kAllRecordingModes.at(std::size_t(index));
        m_model.setDefaultConfiguration(configuration);
    });
    auto* modeField = field(QStringLiteral("預設錄音來源"), m_mode);
    m_microphone = new KivoSwitch(QStringLiteral("同時加入麥克風"), m_defaults);
    connect(m_microphone, &KivoSwitch::toggled, this, [this](bool on) {
        auto configuration = m_model.defaultConfiguration();
        configuration.includesMicrophone = on;
        m_model.setDefaultConfiguration(configuration);
    });
    modeField->addSpacing(4);
    modeField->addWidget(m_microphone);
    content->addLayout(modeField);

    m_format = new KivoPicker(m_defaults);
    for (AudioOutputFormat format : {AudioOutputFormat::aac, AudioOutputFormat::wav}) {
        m_format->addItem(rawValue(format), QVariant::fromValue(int(format)));
    }
    connect(m_format, &QComboBox::currentIndexChanged, this, [this](int index) {
        auto configuration = m_model.defaultConfiguration();
        configuration.format = AudioOutputFormat(m_format->itemData(index).toInt());
        m_model.setDefaultConfiguration(configuration);
    });
    content->addLayout(field(QStringLiteral("預設音檔格式"), m_format));

    m_folder = makeLabel(QString(), 12, KivoTheme::ink, QFont::Normal, m_defaults);
    m_folder->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_folder->installEventFilter(this);
    m_folder->setStyleSheet(QStringLiteral("background: %1; border-radius: 8px; padding: 8px 10px;")
                                .arg(KivoTheme::paper.name()));
    auto* choose =
        new KivoButton(QStringLiteral("選擇資料夾…"), KivoButton::Kind::ordinary, m_defaults);
    connect(choose, &QPushButton::clicked, this, [this] { m_model.selectFolder(true); });
    auto* folderRow = new QHBoxLayout;
    folderRow->setSpacing(10);
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(choose);
    auto* folderField = field(QStringLiteral("預設保存資料夾"), nullptr);
    folderField->addLayout(folderRow);
    content->addLayout(folderField);

    content->addWidget(separator(m_defaults));
    auto* sources = new QVBoxLayout;
    sources->setSpacing(10);
    sources->addWidget(sectionTitle(QStringLiteral("錄音來源"), m_defaults));
    sources->addLayout(sourceRow(QStringLiteral("desktopcomputer"), QStringLiteral("系統音訊"),
                                 makeLabel(QStringLiteral("經由音訊伺服器擷取，不需另外授權"), 12,
                                           KivoTheme::muted, QFont::Normal, m_defaults),
                                 m_defaults));
    m_serverState = makeLabel(QString(), 12, KivoTheme::muted, QFont::Medium, m_defaults);
    sources->addLayout(
        sourceRow(QStringLiteral("mic"), QStringLiteral("麥克風"), m_serverState, m_defaults));
    content->addLayout(sources);

    m_soundSettings =
        new KivoButton(QStringLiteral("開啟音效設定…"), KivoButton::Kind::ordinary, m_defaults);
    connect(m_soundSettings, &QPushButton::clicked, this,
            [this] { m_desktop.openSoundSettings(); });
    content->addWidget(m_soundSettings, 0, Qt::AlignLeft);
    content->addWidget(paragraph(
        QStringLiteral("系統音訊經由 PipeWire 或 PulseAudio "
                       "擷取。會議軟體可選 App；網頁會議可選瀏覽器，其他分頁的聲音也可能被錄製。"),
        m_defaults));
    return m_defaults;
}

QWidget* SettingsPage::aboutPanel() {
    auto* panel = new Panel(this);
    QVBoxLayout* content = panel->content();
    content->setSpacing(16);

    auto* brand = new QHBoxLayout;
    brand->setSpacing(12);
    brand->addWidget(new BrandMark(44, panel), 0, Qt::AlignTop);
    QVBoxLayout* names = makeBrandNames(15, QFont::DemiBold, 12, panel);
    brand->addLayout(names, 1);
    auto* about = new KivoButton(QStringLiteral("關於 Kivo"), KivoButton::Kind::ordinary, panel);
    connect(about, &QPushButton::clicked, this, &SettingsPage::aboutRequested);
    brand->addWidget(about, 0, Qt::AlignTop);
    content->addLayout(brand);

    content->addWidget(separator(panel));
    content->addWidget(sectionTitle(QStringLiteral("錄音保存方式"), panel));
    content->addWidget(paragraph(
        QStringLiteral("錄音先寫入本機暫存，停止後輸出音檔。音檔與紀錄都保存成功才清理暫存；"
                       "重新啟動時可復原未完成保存的錄音。"),
        panel));
    auto* location =
        new KivoButton(QStringLiteral("顯示錄音資料位置"), KivoButton::Kind::ordinary, panel);
    connect(location, &QPushButton::clicked, this, [this] {
        // The library folder: it holds the library document and the sessions' "Captures".
        const QString library = QFileInfo(m_model.capturesRoot()).absolutePath();
        m_desktop.openFolder(QUrl::fromLocalFile(library));
    });
    content->addWidget(location, 0, Qt::AlignLeft);

    content->addWidget(separator(panel));
    content->addWidget(sectionTitle(QStringLiteral("快捷鍵"), panel));
    auto* shortcuts = makeLabel(QStringLiteral("開始錄音\u3000Ctrl+Shift+R\n"
                                               "暫停 / 繼續\u3000Ctrl+Shift+P\n"
                                               "停止並保存\u3000Ctrl+Shift+S"),
                                12, KivoTheme::ink, QFont::Normal, panel);
    content->addWidget(shortcuts);
    m_globalShortcuts = paragraph(QString(), panel);
    m_globalShortcuts->setObjectName(QStringLiteral("globalShortcuts"));
    m_globalShortcuts->hide();
    content->addWidget(m_globalShortcuts);
    return panel;
}

void SettingsPage::showGlobalShortcuts(const std::optional<BoundShortcuts>& shortcuts) {
    if (!shortcuts) {
        m_globalShortcuts->setText(
            QStringLiteral("這個桌面沒有提供全域快速鍵；可在桌面設定的自訂快速鍵中加入指令 "
                           "kivo --toggle-record，在任何地方開始或停止錄音。"));
    } else {
        QStringList lines{QStringLiteral("全域快速鍵（在任何地方都能用）：")};
        for (const auto& [description, trigger] : *shortcuts) {
            lines << description + QStringLiteral("\u3000") +
                         (trigger.isEmpty() ? QStringLiteral("未設定") : trigger);
        }
        m_globalShortcuts->setText(lines.join(u'\n'));
    }
    m_globalShortcuts->show();
}

void SettingsPage::refresh() {
    m_defaults->setEnabled(m_model.coordinator().state() == RecordingState::idle &&
                           !m_model.recovering() && m_model.storageAvailable());
    const RecordingConfiguration& defaults = m_model.defaultConfiguration();
    const auto modeIndex =
        int(std::find(kAllRecordingModes.begin(), kAllRecordingModes.end(), defaults.mode) -
            kAllRecordingModes.begin());
    if (m_mode->currentIndex() != modeIndex) {
        const QSignalBlocker blocker(m_mode);
        m_mode->setCurrentIndex(modeIndex);
    }
    if (m_microphone->isChecked() != defaults.includesMicrophone) {
        const QSignalBlocker blocker(m_microphone);
        m_microphone->setChecked(defaults.includesMicrophone);
    }
    const int formatIndex = m_format->findData(int(defaults.format));
    if (m_format->currentIndex() != formatIndex) {
        const QSignalBlocker blocker(m_format);
        m_format->setCurrentIndex(formatIndex);
    }
    const QString path = folderText(defaults.outputDirectory);
    if (path != m_folderPath) {
        m_folderPath = path;
        m_folder->setToolTip(
            plainToolTip(QDir::toNativeSeparators(defaults.outputDirectory.toLocalFile())));
        showFolder();
    }
}

void SettingsPage::showFolder() {
    // The label's padding (10 px each side) is not part of the text's room.
    const int room = qMax(40, m_folder->width() - 20);
    m_folder->setText(elidedToFit(m_folder->font(), m_folderPath, Qt::ElideMiddle, room));
}

void SettingsPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The last answer stays until the new one arrives; the window never waits for the server.
    if (m_serverState->text().isEmpty()) {
        m_serverState->setText(QStringLiteral("確認中…"));
    }
    m_desktop.probeSoundServer(
        this, [this](SoundServerState state) { m_serverState->setText(serverStateText(state)); });
    m_soundSettings->setVisible(m_desktop.canOpenSoundSettings());
}

bool SettingsPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_folder && event->type() == QEvent::Resize) {
        showFolder();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace kivo
