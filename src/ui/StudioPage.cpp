#include "ui/StudioPage.h"

#include "application/AppModel.h"
#include "ui/DesktopActions.h"
#include "ui/FolderText.h"
#include "ui/GainRow.h"
#include "ui/KivoButton.h"
#include "ui/KivoPicker.h"
#include "ui/KivoSwitch.h"
#include "ui/KivoSymbols.h"
#include "ui/KivoTheme.h"
#include "ui/Panel.h"
#include "ui/SegmentedChoice.h"
#include "ui/SourceCard.h"
#include "ui/SymbolView.h"
#include "ui/WaveformView.h"
#include "ui/WheelGuard.h"

#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QSignalBlocker>

namespace kivo {

namespace {

QString modeLine(RecordingMode mode) {
    switch (mode) {
    case RecordingMode::system:
        return QStringLiteral("錄下電腦播放的聲音");
    case RecordingMode::application:
        return QStringLiteral("只錄選定的應用程式");
    case RecordingMode::microphone:
        return QStringLiteral("錄下人聲與環境聲");
    }
    return {};
}

QString modeHint(RecordingMode mode) {
    switch (mode) {
    case RecordingMode::system:
        return QStringLiteral("不用指定 App；系統通知音也會一併收錄。");
    case RecordingMode::application:
        return QStringLiteral("瀏覽器錄音可能包含其他分頁播放的聲音。");
    case RecordingMode::microphone:
        return QStringLiteral("只收錄麥克風，不收錄電腦播放的聲音。");
    }
    return {};
}

// A title above a smaller line at the left, `control` at the right.
QWidget* switchRow(const QString& title, const QString& line, QWidget* control, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(makeLabel(title, 13, KivoTheme::ink, QFont::Medium, row));
    QLabel* below = makeLabel(line, 11.5, KivoTheme::muted, QFont::Normal, row);
    below->setWordWrap(true);
    texts->addWidget(below);
    layout->addLayout(texts, 1);
    layout->addWidget(control, 0, Qt::AlignVCenter);
    return row;
}

// A field heading above `body`.
QWidget* field(const QString& heading, QLayout* body, QWidget* parent) {
    auto* box = new QWidget(parent);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(new FieldHeading(heading, box));
    layout->addLayout(body);
    return box;
}

// A panel heading with a caption at its right.
QHBoxLayout* headingRow(const QString& step, const QString& title, QLabel* caption) {
    auto* row = new QHBoxLayout;
    row->addWidget(new PanelHeading(step, title));
    row->addStretch(1);
    if (caption) {
        row->addWidget(caption, 0, Qt::AlignBottom);
    }
    return row;
}

KivoButton* refreshButton(const QString& help, QWidget* parent) {
    auto* button = new KivoButton(QString(), KivoButton::Kind::ordinary, parent);
    button->setSymbol(QStringLiteral("arrow.clockwise"));
    button->setToolTip(help);
    button->setAccessibleName(help);
    return button;
}

// Text elided to `width` pixels in `label`'s font, the whole text as its tooltip when cut.
void setElided(QLabel* label, const QString& text, int width) {
    const QString shown = elidedToFit(label->font(), text, Qt::ElideMiddle, width);
    label->setText(shown);
    label->setToolTip(shown == text ? QString() : plainToolTip(text));
}

QString pageStyleSheet() {
    const auto rgb = [](const QColor& color) { return color.name(QColor::HexRgb); };
    return QStringLiteral(
               "QLineEdit { border: 1px solid %1; border-radius: 8px; padding: 6px 10px;"
               " background: white; color: %2; }"
               "QLineEdit:focus { border-color: %3; }"
               // While a recording runs the saving settings are fixed, and look it.
               "QLineEdit:disabled { color: %5; background: %4; }"
               "QSlider::groove:horizontal { height: 4px; border-radius: 2px; background: %1; }"
               "QSlider::sub-page:horizontal { border-radius: 2px; background: %3; }"
               "QSlider::handle:horizontal { width: 14px; margin: -6px 0; border-radius: 8px;"
               " background: white; border: 1px solid #c9cfc6; }"
               "QSlider::handle:horizontal:focus { border: 2px solid %3; }"
               "#headphoneTip { background: %4; border-radius: 12px; }"
               "QScrollBar:vertical { width: 8px; background: transparent; margin: 2px; }"
               "QScrollBar::handle:vertical { min-height: 40px; border-radius: 2px;"
               " background: #c9cfc6; }"
               "QScrollBar::add-line, QScrollBar::sub-line, QScrollBar::add-page,"
               " QScrollBar::sub-page { height: 0; background: none; }")
        .arg(rgb(KivoTheme::line), rgb(KivoTheme::ink), rgb(KivoTheme::green),
             rgb(KivoTheme::softGreen), rgb(KivoTheme::muted));
}

} // namespace

StudioPage::StudioPage(AppModel& model, DesktopActions& desktop, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_desktop(desktop) {
    setStyleSheet(pageStyleSheet());

    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("studioContent"));
    m_columns = new QBoxLayout(QBoxLayout::LeftToRight, content);
    m_columns->setContentsMargins(0, 0, 0, 0);
    m_columns->setSpacing(18);

    m_left = new QVBoxLayout;
    m_left->setSpacing(18);
    m_left->addWidget(buildSources());
    m_left->addWidget(buildPreview());
    m_left->addStretch(1);
    m_columns->addLayout(m_left, 1);

    auto* side = new QWidget(content);
    m_side = side;
    auto* right = new QVBoxLayout(side);
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(18);
    right->addWidget(buildSaving());
    right->addWidget(buildHeadphoneTip());
    right->addWidget(buildRecent());
    right->addStretch(1);
    m_columns->addWidget(side, 0, Qt::AlignTop);

    // The window scrolls the page when it is taller than the space left.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content);

    // The page asks only for the room of its left column: given less than both columns need, it
    // puts the saving settings below (see resizeEvent) instead of being cut off at the right.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setMinimumWidth(m_left->minimumSize().width());

    connect(&m_model, &AppModel::changed, this, &StudioPage::refresh);
    refresh();
    // Wider than usual when larger desktop text needs it, measured with the texts in place
    // (the folder is elided again to the width).
    m_sideWidth = qMax(kSideWidth, right->minimumSize().width());
    side->setFixedWidth(m_sideWidth);
    m_shownFolder = QUrl();
    refresh();
}

QWidget* StudioPage::buildSources() {
    auto* panel = new Panel(this);
    QVBoxLayout* content = panel->content();
    content->addLayout(
        headingRow(QStringLiteral("01"), QStringLiteral("聲音來源"),
                   makeLabel(QStringLiteral("可以同時加入麥克風"), 11.5, KivoTheme::muted)));

    auto* cards = new QHBoxLayout;
    cards->setSpacing(10);
    for (std::size_t index = 0; index < kAllRecordingModes.size(); ++index) {
        const RecordingMode mode = kAllRecordingModes[index];
        auto* card = new SourceCard(KivoSymbols::of(mode), title(mode), modeLine(mode), panel);
        card->setObjectName(QStringLiteral("modeCard_") + rawValue(mode));
        connect(card, &SourceCard::clicked, this,
                [this, mode] { edit([mode](RecordingConfiguration& c) { c.mode = mode; }); });
        cards->addWidget(card);
        m_cards[index] = card;
    }
    content->addLayout(cards);

    // While a recording runs the sources cannot change: one line says what is recorded, and the
    // meters below move up into view.
    m_sourcesSummary = makeLabel(QString(), 13, KivoTheme::ink, QFont::Medium, panel);
    m_sourcesSummary->setObjectName(QStringLiteral("sourcesSummary"));
    m_sourcesSummary->setWordWrap(true);
    content->addWidget(m_sourcesSummary);

    m_modeHint = makeLabel(QString(), 12, KivoTheme::muted, QFont::Normal, panel);
    m_modeHint->setObjectName(QStringLiteral("modeHint"));
    m_modeHint->setWordWrap(true);
    content->addWidget(m_modeHint);

    auto* applicationLine = new QHBoxLayout;
    m_applicationPicker = new KivoPicker(panel);
    m_applicationPicker->setObjectName(QStringLiteral("applicationPicker"));
    m_applicationPicker->setAccessibleName(QStringLiteral("App"));
    m_applicationPicker->addItem(QStringLiteral("請選擇 App"));
    applicationLine->addWidget(m_applicationPicker, 1);
    m_applicationRefresh = refreshButton(QStringLiteral("重新整理 App 與裝置"), panel);
    applicationLine->addWidget(m_applicationRefresh);
    m_applicationField = field(QStringLiteral("App"), applicationLine, panel);
    content->addWidget(m_applicationField);
    connect(m_applicationPicker, &QComboBox::currentIndexChanged, this, [this](int index) {
        const QVariant pid = m_applicationPicker->itemData(index);
        edit([&](RecordingConfiguration& c) {
            c.applicationPID =
                pid.isValid() ? std::optional<qint32>(pid.toInt()) : std::optional<qint32>();
        });
        m_model.applicationSelected();
    });
    connect(m_applicationRefresh, &QAbstractButton::clicked, &m_model,
            &AppModel::refreshSourcesInBackground);

    m_microphoneSwitch =
        new KivoSwitch(QStringLiteral("加入麥克風"), panel, KivoSwitch::Label::hidden);
    m_microphoneSwitch->setObjectName(QStringLiteral("microphoneSwitch"));
    m_microphoneRow =
        switchRow(QStringLiteral("加入麥克風"), QStringLiteral("讓自己的聲音也留在錄音裡"),
                  m_microphoneSwitch, panel);
    content->addWidget(m_microphoneRow);
    connect(m_microphoneSwitch, &QAbstractButton::toggled, this, [this](bool on) {
        edit([on](RecordingConfiguration& c) { c.includesMicrophone = on; });
    });

    auto* deviceLine = new QHBoxLayout;
    m_devicePicker = new KivoPicker(panel);
    m_devicePicker->setObjectName(QStringLiteral("devicePicker"));
    m_devicePicker->setAccessibleName(QStringLiteral("輸入裝置"));
    m_devicePicker->addItem(QStringLiteral("系統預設麥克風"));
    deviceLine->addWidget(m_devicePicker, 1);
    m_deviceRefresh = refreshButton(QStringLiteral("重新整理裝置"), panel);
    deviceLine->addWidget(m_deviceRefresh);
    m_deviceField = field(QStringLiteral("輸入裝置"), deviceLine, panel);
    content->addWidget(m_deviceField);
    connect(m_devicePicker, &QComboBox::currentIndexChanged, this, [this](int index) {
        const QVariant id = m_devicePicker->itemData(index);
        edit([&](RecordingConfiguration& c) {
            c.microphoneDeviceID =
                id.isValid() ? std::optional<quint32>(id.toUInt()) : std::optional<quint32>();
        });
    });
    connect(m_deviceRefresh, &QAbstractButton::clicked, &m_model,
            &AppModel::refreshSourcesInBackground);
    return panel;
}

QWidget* StudioPage::buildPreview() {
    auto* panel = new Panel(this);
    QVBoxLayout* content = panel->content();
    m_previewCaption = makeLabel(QString(), 11.5, KivoTheme::muted);
    m_previewCaption->setObjectName(QStringLiteral("previewCaption"));
    content->addLayout(
        headingRow(QStringLiteral("02"), QStringLiteral("聲音預覽"), m_previewCaption));

    // While the mute button shows beside the microphone row, the system row keeps the same room
    // free, so that both level bars and sliders stay in line.
    m_muteButton =
        new KivoButton(QStringLiteral("恢復麥克風收音"), KivoButton::Kind::ordinary, panel);
    m_muteButton->setObjectName(QStringLiteral("muteButton"));
    m_muteButton->setFixedWidth(m_muteButton->sizeHint().width());
    m_muteRoom = new QWidget(panel);
    m_muteRoom->setFixedWidth(m_muteButton->sizeHint().width());
    // Their room is kept while they are hidden, so that starting a recording moves no slider.
    for (QWidget* keep : {static_cast<QWidget*>(m_muteButton), m_muteRoom}) {
        QSizePolicy policy = keep->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        keep->setSizePolicy(policy);
    }
    const auto line = [panel](GainRow* row, QWidget* trailing) {
        auto* box = new QWidget(panel);
        auto* layout = new QHBoxLayout(box);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(12);
        layout->addWidget(row, 1);
        layout->addWidget(trailing);
        return box;
    };

    m_systemGain =
        new GainRow(QStringLiteral("電腦聲音"), QStringLiteral("desktopcomputer"), panel);
    m_systemGain->setObjectName(QStringLiteral("systemGainRow"));
    m_systemGainRow = line(m_systemGain, m_muteRoom);
    content->addWidget(m_systemGainRow);
    connect(m_systemGain, &GainRow::gainChanged, this, [this](float gain) {
        changeGains([gain](RecordingConfiguration& c) { c.systemGain = gain; });
    });

    m_microphoneGain = new GainRow(QStringLiteral("麥克風"), QStringLiteral("mic"), panel);
    m_microphoneGain->setObjectName(QStringLiteral("microphoneGainRow"));
    m_microphoneGainRow = line(m_microphoneGain, m_muteButton);
    content->addWidget(m_microphoneGainRow);
    connect(m_microphoneGain, &GainRow::gainChanged, this, [this](float gain) {
        changeGains([gain](RecordingConfiguration& c) { c.microphoneGain = gain; });
    });
    connect(m_muteButton, &QAbstractButton::clicked, this, [this] {
        m_model.setMicrophoneMuted(!m_model.microphoneMuted());
        m_model.updateGains();
    });

    m_waveform = new WaveformView(panel);
    m_waveform->setFixedHeight(96);
    content->addSpacing(4);
    content->addWidget(m_waveform);
    return panel;
}

QWidget* StudioPage::buildSaving() {
    m_savingPanel = new Panel(this);
    m_savingPanel->setObjectName(QStringLiteral("savingPanel"));
    QVBoxLayout* content = m_savingPanel->content();
    content->addLayout(headingRow(QStringLiteral("03"), QStringLiteral("保存設定"), nullptr));

    m_nameField = new QLineEdit(m_savingPanel);
    m_nameField->setObjectName(QStringLiteral("nameField"));
    m_nameField->setPlaceholderText(QStringLiteral("我的錄音"));
    m_nameField->setFont(KivoTheme::font(13));
    auto* nameLine = new QVBoxLayout;
    nameLine->addWidget(m_nameField);
    content->addWidget(field(QStringLiteral("錄音名稱"), nameLine, m_savingPanel));
    connect(m_nameField, &QLineEdit::textEdited, this, [this](const QString& text) {
        edit([&](RecordingConfiguration& c) { c.name = text; });
    });

    m_format = new SegmentedChoice({QStringLiteral("AAC (.m4a)"), QStringLiteral("WAV (.wav)")},
                                   m_savingPanel);
    m_format->setObjectName(QStringLiteral("formatChoice"));
    m_formatLine = makeLabel(QString(), 11.5, KivoTheme::muted, QFont::Normal, m_savingPanel);
    m_formatLine->setWordWrap(true);
    auto* formatBody = new QVBoxLayout;
    formatBody->setSpacing(6);
    formatBody->addWidget(m_format);
    formatBody->addWidget(m_formatLine);
    content->addWidget(field(QStringLiteral("音檔格式"), formatBody, m_savingPanel));
    connect(m_format, &SegmentedChoice::chosen, this, [this](int index) {
        edit([index](RecordingConfiguration& c) {
            c.format = kAllAudioOutputFormats[std::size_t(index)];
        });
    });

    m_quality =
        new SegmentedChoice({QStringLiteral("標準"), QStringLiteral("高品質")}, m_savingPanel);
    m_quality->setObjectName(QStringLiteral("qualityChoice"));
    auto* qualityBody = new QVBoxLayout;
    qualityBody->addWidget(m_quality);
    content->addWidget(field(QStringLiteral("錄音品質"), qualityBody, m_savingPanel));
    connect(m_quality, &SegmentedChoice::chosen, this, [this](int index) {
        edit([index](RecordingConfiguration& c) { c.highQuality = index == 1; });
    });

    auto* folderLine = new QHBoxLayout;
    folderLine->setSpacing(6);
    folderLine->addWidget(
        new SymbolView(QStringLiteral("folder"), KivoTheme::muted, 16, m_savingPanel));
    m_folder = makeLabel(QString(), 12, KivoTheme::ink, QFont::Normal, m_savingPanel);
    m_folder->setObjectName(QStringLiteral("folderLabel"));
    folderLine->addWidget(m_folder, 1);
    auto* folderBody = new QVBoxLayout;
    folderBody->setSpacing(8);
    folderBody->addLayout(folderLine);
    auto* choose =
        new KivoButton(QStringLiteral("選擇資料夾…"), KivoButton::Kind::ordinary, m_savingPanel);
    folderBody->addWidget(choose, 0, Qt::AlignLeft);
    content->addWidget(field(QStringLiteral("保存資料夾"), folderBody, m_savingPanel));
    connect(choose, &QAbstractButton::clicked, this, [this] { m_model.selectFolder(false); });

    m_separateSwitch =
        new KivoSwitch(QStringLiteral("另外保存分軌"), m_savingPanel, KivoSwitch::Label::hidden);
    m_separateSwitch->setObjectName(QStringLiteral("separateTracksSwitch"));
    m_separateRow =
        switchRow(QStringLiteral("另外保存分軌"), QStringLiteral("電腦聲音與麥克風各存一份"),
                  m_separateSwitch, m_savingPanel);
    content->addWidget(m_separateRow);
    connect(m_separateSwitch, &QAbstractButton::toggled, this, [this](bool on) {
        edit([on](RecordingConfiguration& c) { c.saveSeparateTracks = on; });
    });

    auto* summaryLine = new QHBoxLayout;
    summaryLine->setSpacing(6);
    summaryLine->addWidget(
        new SymbolView(QStringLiteral("checkmark"), KivoTheme::green, 14, m_savingPanel));
    m_summary = makeLabel(QString(), 12, KivoTheme::green, QFont::Medium, m_savingPanel);
    m_summary->setObjectName(QStringLiteral("summaryLabel"));
    summaryLine->addWidget(m_summary, 1);
    content->addLayout(summaryLine);
    return m_savingPanel;
}

QWidget* StudioPage::buildHeadphoneTip() {
    auto* tip = new QFrame(this);
    tip->setObjectName(QStringLiteral("headphoneTip"));
    auto* layout = new QHBoxLayout(tip);
    layout->setContentsMargins(16, 14, 16, 14);
    layout->setSpacing(12);
    layout->addWidget(new SymbolView(QStringLiteral("headphones"), KivoTheme::green, 20, tip), 0,
                      Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(makeLabel(QStringLiteral("戴上耳機，聲音更乾淨"), 13, KivoTheme::ink,
                               QFont::DemiBold, tip));
    QLabel* body = makeLabel(QStringLiteral("同時錄製麥克風時，使用耳機可減少喇叭聲被再次收錄。"),
                             11.5, KivoTheme::muted, QFont::Normal, tip);
    body->setWordWrap(true);
    texts->addWidget(body);
    layout->addLayout(texts, 1);
    return tip;
}

QWidget* StudioPage::buildRecent() {
    auto* panel = new Panel(this);
    QVBoxLayout* content = panel->content();
    content->setSpacing(10);
    auto* heading = new QHBoxLayout;
    heading->addWidget(
        makeLabel(QStringLiteral("最近的錄音"), 14, KivoTheme::ink, QFont::DemiBold, panel));
    heading->addStretch(1);
    auto* all = new KivoButton(QStringLiteral("查看全部 ↗"), KivoButton::Kind::plain, panel);
    all->setObjectName(QStringLiteral("showLibraryButton"));
    heading->addWidget(all);
    content->addLayout(heading);
    connect(all, &QAbstractButton::clicked, this, [this] { m_model.setPage(KivoPage::library); });

    m_recentRows = new QVBoxLayout;
    m_recentRows->setSpacing(8);
    content->addLayout(m_recentRows);
    m_recentEmpty = makeLabel(QStringLiteral("還沒有錄音，試著留下一段聲音。"), 12,
                              KivoTheme::muted, QFont::Normal, panel);
    m_recentEmpty->setWordWrap(true);
    content->addWidget(m_recentEmpty);
    return panel;
}

void StudioPage::edit(const std::function<void(RecordingConfiguration&)>& change) {
    RecordingConfiguration configuration = m_model.configuration();
    change(configuration);
    m_model.setConfiguration(std::move(configuration));
}

void StudioPage::changeGains(const std::function<void(RecordingConfiguration&)>& change) {
    edit(change);
    m_model.updateGains();
}

void StudioPage::refresh() {
    const RecordingConfiguration& configuration = m_model.configuration();
    const RecordingState state = m_model.coordinator().state();
    const bool editable = state == RecordingState::idle && !m_model.recovering();
    const RecordingMode mode = configuration.mode;

    for (std::size_t index = 0; index < m_cards.size(); ++index) {
        m_cards[index]->setSelected(kAllRecordingModes[index] == mode);
        m_cards[index]->setEnabled(editable);
        m_cards[index]->setVisible(editable);
    }
    m_sourcesSummary->setVisible(!editable);
    m_sourcesSummary->setText(sourcesSummary());
    m_modeHint->setVisible(editable);
    m_modeHint->setText(modeHint(mode));

    m_applicationField->setVisible(editable && mode == RecordingMode::application);
    m_applicationPicker->setEnabled(editable);
    m_applicationRefresh->setEnabled(editable);
    showApplications();
    m_microphoneRow->setVisible(editable && mode != RecordingMode::microphone);
    m_microphoneSwitch->setEnabled(editable);
    if (m_microphoneSwitch->isChecked() != configuration.includesMicrophone) {
        const QSignalBlocker blocker(m_microphoneSwitch);
        m_microphoneSwitch->setChecked(configuration.includesMicrophone);
    }
    m_deviceField->setVisible(editable && configuration.capturesMicrophone());
    m_devicePicker->setEnabled(editable);
    m_deviceRefresh->setEnabled(editable);
    showDevices();

    const AudioLevels levels = m_model.coordinator().levels();
    m_previewCaption->setText(state == RecordingState::recording
                                  ? QStringLiteral("即時音量")
                                  : QStringLiteral("開始錄音後顯示訊號"));
    m_systemGainRow->setVisible(configuration.capturesSystem());
    m_systemGain->setGain(configuration.systemGain);
    m_systemGain->setLevel(levels.system);
    const AppModel::Clipping clippingNow = m_model.clippingNow();
    const AppModel::Clipping clipped = m_model.clippedSinceStart();
    m_systemGain->setClipping(clippingNow.system, clipped.system);
    m_microphoneGain->setClipping(clippingNow.microphone, clipped.microphone);
    m_microphoneGainRow->setVisible(configuration.capturesMicrophone());
    m_microphoneGain->setGain(configuration.microphoneGain);
    m_microphoneGain->setLevel(levels.microphone);
    m_muteButton->setVisible(canStop(state));
    m_muteRoom->setVisible(canStop(state));
    m_muteButton->setText(m_model.microphoneMuted() ? QStringLiteral("恢復麥克風收音")
                                                    : QStringLiteral("麥克風靜音"));
    m_waveform->show(m_model.waveHistory(), state == RecordingState::recording);

    m_savingPanel->setEnabled(editable);
    if (m_nameField->text() != configuration.name) {
        const QSignalBlocker blocker(m_nameField);
        m_nameField->setText(configuration.name);
    }
    m_format->setCurrent(configuration.format == AudioOutputFormat::aac ? 0 : 1);
    m_formatLine->setText(configuration.format == AudioOutputFormat::aac
                              ? QStringLiteral("適合日常錄音，檔案容量較小。")
                              : QStringLiteral("保存 PCM 音訊，檔案容量較大。"));
    m_quality->setCurrent(configuration.highQuality ? 1 : 0);
    // Eliding lays out the text: only when the folder changed.
    if (configuration.outputDirectory != m_shownFolder) {
        m_shownFolder = configuration.outputDirectory;
        setElided(m_folder, folderText(m_shownFolder), m_sideWidth - 2 * 22 - 16 - 6 - 4);
    }
    m_separateRow->setVisible(mode != RecordingMode::microphone);
    m_separateSwitch->setEnabled(configuration.includesMicrophone);
    if (m_separateSwitch->isChecked() != configuration.saveSeparateTracks) {
        const QSignalBlocker blocker(m_separateSwitch);
        m_separateSwitch->setChecked(configuration.saveSeparateTracks);
    }
    const bool twoTracks = configuration.saveSeparateTracks && mode != RecordingMode::microphone &&
                           configuration.includesMicrophone;
    m_summary->setText(twoTracks ? QStringLiteral("合併音檔＋兩個分軌音檔")
                                 : QStringLiteral("合併為 1 個音檔"));
    showRecent();
}

QString StudioPage::applicationLabel(const RunningAudioApp& application,
                                     const std::vector<RunningAudioApp>& all) {
    // A name two programs share is told apart by what each plays, else by its process id.
    const auto sameName = std::count_if(all.begin(), all.end(), [&](const RunningAudioApp& other) {
        return other.name == application.name;
    });
    if (sameName < 2) {
        return application.name;
    }
    const auto samePlay = std::count_if(all.begin(), all.end(), [&](const RunningAudioApp& other) {
        return other.name == application.name && other.streamName == application.streamName;
    });
    if (application.streamName && samePlay < 2) {
        return application.name + QStringLiteral(" — ") + *application.streamName;
    }
    return application.name + QStringLiteral("（PID %1）").arg(application.id);
}

QString StudioPage::sourcesSummary() const {
    const RecordingConfiguration& configuration = m_model.configuration();
    QStringList parts{configuration.sourceDescription()};
    if (configuration.mode == RecordingMode::application) {
        parts.append(configuration.applicationName.value_or(QStringLiteral("App")));
    }
    if (configuration.capturesMicrophone()) {
        QString device = QStringLiteral("系統預設麥克風");
        for (const AudioInputDevice& input : m_model.devices()) {
            if (configuration.microphoneDeviceID == input.id) {
                device = input.name;
            }
        }
        parts.append(device);
    }
    return parts.join(QStringLiteral(" · "));
}

void StudioPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // Too narrow for two columns (the window at its smallest): the saving settings go below.
    const bool narrow =
        width() < m_left->minimumSize().width() + m_columns->spacing() + m_sideWidth;
    const auto direction = narrow ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight;
    if (m_columns->direction() != direction) {
        m_columns->setDirection(direction);
        m_side->setMinimumWidth(narrow ? 0 : m_sideWidth);
        m_side->setMaximumWidth(narrow ? QWIDGETSIZE_MAX : m_sideWidth);
    }
}

void StudioPage::showApplications() {
    const std::vector<RunningAudioApp>& applications = m_model.applications();
    const QSignalBlocker blocker(m_applicationPicker);
    if (applications != m_shownApplications) {
        m_shownApplications = applications;
        while (m_applicationPicker->count() > 1) {
            m_applicationPicker->removeItem(1);
        }
        for (const RunningAudioApp& application : applications) {
            m_applicationPicker->addItem(applicationLabel(application, applications),
                                         application.id);
        }
    }
    const std::optional<qint32>& pid = m_model.configuration().applicationPID;
    const int index = pid ? m_applicationPicker->findData(*pid) : 0;
    m_applicationPicker->setCurrentIndex(std::max(index, 0));
}

void StudioPage::showDevices() {
    const std::vector<AudioInputDevice>& devices = m_model.devices();
    const QSignalBlocker blocker(m_devicePicker);
    if (devices != m_shownDevices) {
        m_shownDevices = devices;
        while (m_devicePicker->count() > 1) {
            m_devicePicker->removeItem(1);
        }
        for (const AudioInputDevice& device : devices) {
            m_devicePicker->addItem(device.name, device.id);
        }
    }
    const std::optional<quint32>& id = m_model.configuration().microphoneDeviceID;
    const int index = id ? m_devicePicker->findData(*id) : 0;
    m_devicePicker->setCurrentIndex(std::max(index, 0));
}

void StudioPage::showRecent() {
    // Playing follows the model's rule: not while recording, saving or recovering.
    const bool canPlay = m_model.canPlay();
    for (KivoButton* play : std::as_const(m_recentPlayButtons)) {
        play->setEnabled(canPlay);
    }
    const QList<RecordingRecord>& records = m_model.library().recordings;
    QList<ShownRecord> recent;
    for (qsizetype index = 0; index < std::min<qsizetype>(records.size(), 2); ++index) {
        const RecordingRecord& record = records.at(index);
        recent.append({record.id(), record.name(), record.duration()});
    }
    if (m_recentBuilt && recent == m_shownRecent) {
        return;
    }
    m_recentBuilt = true;
    m_shownRecent = recent;
    m_recentPlayButtons.clear();
    while (QLayoutItem* item = m_recentRows->takeAt(0)) {
        // Later: the click that led here may still be running in the row's play button.
        item->widget()->hide();
        item->widget()->deleteLater();
        delete item;
    }
    const int nameWidth = m_sideWidth - 2 * 22 - 20 - 10 - 32 - 10;
    for (const ShownRecord& shown : recent) {
        auto* row = new QWidget;
        row->setObjectName(QStringLiteral("recentRow"));
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(10);
        layout->addWidget(new SymbolView(QStringLiteral("waveform"), KivoTheme::green, 18, row));
        auto* texts = new QVBoxLayout;
        texts->setSpacing(1);
        QLabel* name = makeLabel(QString(), 12.5, KivoTheme::ink, QFont::Medium, row);
        setElided(name, shown.name, nameWidth);
        texts->addWidget(name);
        texts->addWidget(
            makeLabel(AppModel::clock(shown.duration), 11, KivoTheme::muted, QFont::Normal, row));
        layout->addLayout(texts, 1);
        auto* play = new KivoButton(QString(), KivoButton::Kind::plain, row);
        play->setObjectName(QStringLiteral("playButton"));
        play->setSymbol(QStringLiteral("play"));
        play->setAccessibleName(QStringLiteral("播放 ") + shown.name);
        play->setToolTip(QStringLiteral("播放"));
        m_recentPlayButtons.append(play);
        layout->addWidget(play);
        connect(play, &QAbstractButton::clicked, this, [this, id = shown.id] {
            for (const RecordingRecord& record : m_model.library().recordings) {
                if (record.id() == id) {
                    m_model.play(record);
                    return;
                }
            }
        });
        m_recentRows->addWidget(row);
    }
    m_recentEmpty->setVisible(recent.isEmpty());
    emit rowsRebuilt();
}

} // namespace kivo
