#include "ui/LibraryRow.h"

#include "application/AppModel.h"
#include "ui/DateText.h"
#include "ui/KivoSymbols.h"
#include "ui/KivoTheme.h"
#include "ui/Panel.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QToolButton>

namespace kivo {

namespace {

constexpr int kSymbolSquare = 34;
constexpr int kButtonSize = 30;

QToolButton* actionButton(const QString& symbol, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setIcon(KivoSymbols::icon(symbol, KivoTheme::ink));
    button->setIconSize(QSize(18, 18));
    button->setFixedSize(kButtonSize, kButtonSize);
    button->setAutoRaise(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QStringLiteral("QToolButton { border: none; border-radius: 8px; }"
                                         "QToolButton:hover { background: %1; }"
                                         "QToolButton::menu-indicator { image: none; }")
                              .arg(KivoTheme::paper.name()));
    return button;
}

// The source symbol in a small rounded square.
QLabel* sourceSquare(RecordingMode mode, QWidget* parent) {
    auto* square = new QLabel(parent);
    square->setFixedSize(kSymbolSquare, kSymbolSquare);
    square->setAlignment(Qt::AlignCenter);
    square->setStyleSheet(
        QStringLiteral("background: %1; border-radius: 9px;").arg(KivoTheme::softGreen.name()));
    square->setPixmap(KivoSymbols::icon(symbol(mode), KivoTheme::green)
                          .pixmap(QSize(17, 17), square->devicePixelRatioF()));
    return square;
}

// All of the record's files; a file that cannot be read counts as nothing.
QString sizeText(const RecordingRecord& record) {
    qint64 bytes = 0;
    for (const QUrl& file : record.files()) {
        const QFileInfo info(file.toLocalFile());
        bytes += info.exists() ? info.size() : 0;
    }
    // Decimal units, whole kilobytes, one decimal from a megabyte on.
    return QLocale(QLocale::Chinese, QLocale::Taiwan)
        .formattedDataSize(bytes, bytes < 1000 * 1000 ? 0 : 1, QLocale::DataSizeSIFormat);
}

} // namespace

LibraryRow::LibraryRow(RecordingRecord record, bool firstFileExists, QWidget* parent)
    : QWidget(parent)
    , m_record(std::move(record))
    , m_firstFileExists(firstFileExists)
    , m_play(actionButton(QStringLiteral("play.circle"), this))
    , m_reveal(actionButton(QStringLiteral("folder"), this))
    , m_more(actionButton(QStringLiteral("ellipsis"), this))
    , m_menu(new QMenu(this))
    , m_rename(m_menu->addAction(QStringLiteral("重新命名")))
    , m_share(m_menu->addAction(QStringLiteral("分享音檔…")))
    , m_trash(nullptr) {
    m_menu->addSeparator();
    m_trash = m_menu->addAction(QStringLiteral("移至垃圾桶"));
    m_share->setEnabled(m_firstFileExists);
    m_playSymbol = QStringLiteral("play.circle");
    for (auto [button, help] : {std::pair{m_play, QStringLiteral("播放錄音")},
                                {m_reveal, QStringLiteral("在檔案管理員顯示")}}) {
        button->setToolTip(help);
        button->setAccessibleName(help);
    }
    m_more->setMenu(m_menu);
    m_more->setPopupMode(QToolButton::InstantPopup);

    const RecordingConfiguration& configuration = m_record.configuration();
    auto* name = makeLabel(m_record.name(), 13, KivoTheme::ink, QFont::Medium, this);
    auto* details = makeLabel(configuration.sourceDescription() + QStringLiteral(" · ") +
                                  dateTimeText(m_record.createdAt()) + QStringLiteral(" · "),
                              11, KivoTheme::muted, QFont::Normal, this);
    const bool missing = m_record.files().isEmpty() || !m_firstFileExists;
    auto* size = makeLabel(missing ? QStringLiteral("檔案不存在") : sizeText(m_record), 11,
                           missing ? KivoTheme::accent : KivoTheme::muted, QFont::Normal, this);
    // Long names are cut at the column's edge instead of widening the list.
    name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    name->setToolTip(m_record.name());

    auto* detailsRow = new QHBoxLayout;
    detailsRow->setSpacing(0);
    detailsRow->addWidget(details);
    detailsRow->addWidget(size);
    detailsRow->addStretch();
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    texts->addWidget(name);
    texts->addLayout(detailsRow);

    auto* format =
        makeLabel(rawValue(configuration.format), 12, KivoTheme::ink, QFont::Normal, this);
    format->setFixedWidth(kFormatWidth);
    auto* length =
        makeLabel(AppModel::clock(m_record.duration()), 12, KivoTheme::ink, QFont::Normal, this);
    length->setFixedWidth(kLengthWidth);

    auto* actions = new QHBoxLayout;
    actions->setSpacing(4);
    actions->addStretch();
    actions->addWidget(m_play);
    actions->addWidget(m_reveal);
    actions->addWidget(m_more);
    auto* actionsBox = new QWidget(this);
    actionsBox->setLayout(actions);
    actions->setContentsMargins(0, 0, 0, 0);
    actionsBox->setFixedWidth(kActionsWidth);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 12, 0, 12);
    layout->setSpacing(12);
    layout->addWidget(sourceSquare(configuration.mode, this));
    layout->addLayout(texts, 1);
    layout->addWidget(format);
    layout->addWidget(length);
    layout->addWidget(actionsBox);

    connect(m_play, &QToolButton::clicked, this, &LibraryRow::playRequested);
    connect(m_reveal, &QToolButton::clicked, this, &LibraryRow::revealRequested);
    connect(m_rename, &QAction::triggered, this, &LibraryRow::renameRequested);
    connect(m_share, &QAction::triggered, this, &LibraryRow::shareRequested);
    connect(m_trash, &QAction::triggered, this, &LibraryRow::trashRequested);
}

void LibraryRow::setPlayback(bool playing, bool canPlay) {
    const QString symbol = playing ? QStringLiteral("pause.circle") : QStringLiteral("play.circle");
    if (symbol != m_playSymbol) {
        m_playSymbol = symbol;
        m_play->setIcon(KivoSymbols::icon(symbol, KivoTheme::ink));
    }
    m_play->setEnabled(canPlay && m_firstFileExists);
}

void LibraryRow::setChangesAllowed(bool allowed) {
    m_rename->setEnabled(allowed);
    m_trash->setEnabled(allowed);
}

void LibraryRow::paintEvent(QPaintEvent*) {
    // The line above each row separates it from the header or the row before.
    QPainter painter(this);
    painter.fillRect(QRect(0, 0, width(), 1), KivoTheme::line);
}

} // namespace kivo
