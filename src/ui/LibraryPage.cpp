#include "ui/LibraryPage.h"

#include "application/AppModel.h"
#include "ui/DesktopActions.h"
#include "ui/KivoButton.h"
#include "ui/KivoDialog.h"
#include "ui/KivoPicker.h"
#include "ui/KivoSymbols.h"
#include "ui/KivoTheme.h"
#include "ui/LibraryList.h"
#include "ui/LibraryListModel.h"
#include "ui/LibraryRowDelegate.h"
#include "ui/NameSheet.h"
#include "ui/Panel.h"
#include "ui/PlayerBar.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

namespace kivo {

namespace {

// A column title of the list's header, `width` wide (0: the stretching first column).
QLabel* columnTitle(const QString& text, int width, QWidget* parent) {
    QLabel* label = makeLabel(text, 11, KivoTheme::muted, QFont::Medium, parent);
    if (width > 0) {
        label->setFixedWidth(width);
    }
    return label;
}

} // namespace

LibraryPage::LibraryPage(AppModel& model, DesktopActions& desktop, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_desktop(desktop)
    , m_search(new QLineEdit(this))
    , m_source(new KivoPicker(this))
    , m_order(new KivoPicker(this))
    , m_panel(new Panel(this))
    , m_header(new QWidget(this))
    , m_listModel(new LibraryListModel(this))
    , m_list(new LibraryList(*m_listModel, this))
    , m_empty(new QWidget(this))
    , m_emptySymbol(new QLabel(this))
    , m_emptyTitle(makeLabel(QString(), 15, KivoTheme::ink, QFont::DemiBold, this))
    , m_emptyMessage(makeLabel(QString(), 12, KivoTheme::muted, QFont::Normal, this))
    , m_player(new PlayerBar(model, this)) {
    // Filter bar.
    m_search->setPlaceholderText(QStringLiteral("搜尋錄音名稱或標記"));
    m_search->setAccessibleName(QStringLiteral("搜尋錄音名稱或標記"));
    m_search->addAction(KivoSymbols::icon(QStringLiteral("magnifyingglass"), KivoTheme::muted),
                        QLineEdit::LeadingPosition);
    m_search->setClearButtonEnabled(true);
    m_search->setFont(KivoTheme::font(12));
    m_search->setStyleSheet(KivoTheme::fieldStyleSheet());
    m_source->setAccessibleName(QStringLiteral("來源"));
    m_order->setAccessibleName(QStringLiteral("排序"));
    m_source->addItem(QStringLiteral("全部來源"), QStringLiteral("all"));
    for (RecordingMode mode : kAllRecordingModes) {
        m_source->addItem(title(mode), rawValue(mode));
    }
    m_order->addItem(QStringLiteral("最新優先"), true);
    m_order->addItem(QStringLiteral("最舊優先"), false);

    auto* filters = new QHBoxLayout;
    filters->setSpacing(10);
    filters->addWidget(m_search, 1);
    filters->addSpacing(8);
    filters->addWidget(
        makeLabel(QStringLiteral("來源"), 12, KivoTheme::muted, QFont::Medium, this));
    filters->addWidget(m_source);
    filters->addSpacing(8);
    filters->addWidget(
        makeLabel(QStringLiteral("排序"), 12, KivoTheme::muted, QFont::Medium, this));
    filters->addWidget(m_order);

    // The list: header and rows, or an empty state in their place.
    auto* header = new QHBoxLayout(m_header);
    header->setContentsMargins(4, 0, 0, 0);
    header->setSpacing(LibraryRowDelegate::kSpacing);
    header->addWidget(columnTitle(QStringLiteral("錄音名稱 / 來源"), 0, m_header), 1);
    header->addWidget(
        columnTitle(QStringLiteral("格式"), LibraryRowDelegate::kFormatWidth, m_header));
    header->addWidget(
        columnTitle(QStringLiteral("長度"), LibraryRowDelegate::kLengthWidth, m_header));
    QLabel* actions =
        columnTitle(QStringLiteral("操作"), LibraryRowDelegate::kActionsWidth, m_header);
    actions->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    header->addWidget(actions);

    m_emptySymbol->setPixmap(KivoSymbols::icon(QStringLiteral("waveform"), KivoTheme::muted)
                                 .pixmap(QSize(36, 36), devicePixelRatioF()));
    auto* empty = new QVBoxLayout(m_empty);
    empty->setContentsMargins(0, 40, 0, 40);
    empty->setSpacing(8);
    empty->addStretch();
    for (QLabel* label : {m_emptySymbol, m_emptyTitle, m_emptyMessage}) {
        label->setParent(m_empty);
        label->setAlignment(Qt::AlignCenter);
        empty->addWidget(label);
    }
    empty->addSpacing(4);
    empty->addStretch();

    // The page fills the window's height; the list scrolls within it.
    m_list->setMinimumHeight(3 * LibraryRowDelegate::kRowHeight);
    m_panel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_panel->content()->addLayout(filters);
    m_panel->content()->addSpacing(6);
    m_panel->content()->addWidget(m_header);
    m_panel->content()->addWidget(m_list, 1);
    m_panel->content()->addWidget(m_empty, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    layout->addWidget(m_panel, 1);
    layout->addWidget(m_player);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    connect(m_search, &QLineEdit::textChanged, &m_model, &AppModel::setSearch);
    connect(m_source, &KivoPicker::currentIndexChanged, this,
            [this] { m_model.setSourceFilter(m_source->currentData().toString()); });
    connect(m_order, &KivoPicker::currentIndexChanged, this,
            [this] { m_model.setNewestFirst(m_order->currentData().toBool()); });
    connect(m_list, &LibraryList::playRequested, this,
            [this](const RecordingRecord& record) { m_model.play(record); });
    connect(m_list, &LibraryList::revealRequested, this, &LibraryPage::reveal);
    connect(m_list, &LibraryList::renameRequested, this, &LibraryPage::rename);
    connect(m_list, &LibraryList::shareRequested, this, &LibraryPage::share);
    connect(m_list, &LibraryList::trashRequested, this, &LibraryPage::confirmTrash);
    // Files removed or brought back outside Kivo are noticed for the rows on screen.
    m_fileCheck.setInterval(kFileCheckMilliseconds);
    connect(&m_fileCheck, &QTimer::timeout, this, [this] {
        const auto [first, last] = m_list->visibleRows();
        m_listModel->checkFiles(first, last);
    });
    connect(&m_model, &AppModel::changed, this, &LibraryPage::refresh);
    refresh();
}

void LibraryPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
    m_listModel->checkAllFiles();
    m_fileCheck.start();
}

void LibraryPage::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_fileCheck.stop();
}

void LibraryPage::refresh() {
    if (m_search->text() != m_model.search()) {
        const QSignalBlocker blocker(m_search);
        m_search->setText(m_model.search());
    }
    if (const int index = m_source->findData(m_model.sourceFilter());
        index >= 0 && index != m_source->currentIndex()) {
        const QSignalBlocker blocker(m_source);
        m_source->setCurrentIndex(index);
    }
    if (const int index = m_model.newestFirst() ? 0 : 1; index != m_order->currentIndex()) {
        const QSignalBlocker blocker(m_order);
        m_order->setCurrentIndex(index);
    }

    // The model changes many times a second while recording; the list only when it did, and
    // only once the page is on screen: a library of thousands costs nothing at the window's start.
    if (isVisible() && m_shownRevision != m_model.listRevision()) {
        m_shownRevision = m_model.listRevision();
        m_listModel->setRecords(m_model.filteredRecords());
        const bool listed = m_listModel->rowCount() > 0;
        m_header->setVisible(listed);
        m_list->setVisible(listed);
        m_empty->setVisible(!listed);
        if (!listed) {
            const bool libraryEmpty = m_model.library().recordings.isEmpty();
            m_emptySymbol->setVisible(libraryEmpty);
            m_emptyTitle->setText(libraryEmpty ? QStringLiteral("還沒有錄音")
                                               : QStringLiteral("沒有符合條件的錄音"));
            m_emptyMessage->setText(libraryEmpty
                                        ? QStringLiteral("開始一段新錄音，把想留的聲音保存下來。")
                                        : QStringLiteral("試著更換關鍵字或來源。"));
        }
    }
    m_listModel->setPlayback(m_model.playing() ? m_model.playbackID() : std::nullopt,
                             m_model.canPlay());
    m_list->setChangesAllowed(m_model.storageAvailable());
    m_player->refresh();
}

QList<QUrl> LibraryPage::existingFiles(const RecordingRecord& record) const {
    for (int row = 0; row < m_listModel->rowCount(); ++row) {
        if (m_listModel->record(row).id() != record.id()) {
            continue;
        }
        const LibraryListModel::Files files = m_listModel->files(row);
        QList<QUrl> existing;
        for (qsizetype i = 0; i < record.files().size(); ++i) {
            if (!files.checked || files.present.value(i)) {
                existing.append(record.files().at(i));
            }
        }
        return existing;
    }
    return record.files();
}

void LibraryPage::reveal(const RecordingRecord& record) {
    const QList<QUrl> files = existingFiles(record);
    if (!files.isEmpty()) {
        m_desktop.reveal(files);
    }
}

void LibraryPage::rename(const RecordingRecord& record) {
    NameSheet::ask(this, QStringLiteral("重新命名錄音"), record.name(),
                   [this, record](const QString& name) { m_model.rename(record, name); });
}

void LibraryPage::share(const RecordingRecord& record) {
    const QList<QUrl> files = existingFiles(record);
    if (files.isEmpty()) {
        return;
    }
    m_desktop.copyFiles(files);
    m_model.setNotice(QStringLiteral("已複製音檔，可貼到其他 App。"));
}

void LibraryPage::confirmTrash(const RecordingRecord& record) {
    auto* box = new KivoDialog(
        KivoDialog::Symbol::trash, QStringLiteral("將錄音移至垃圾桶？"),
        QStringLiteral("合併音檔與分軌音檔會一起移至垃圾桶，可以從檔案管理員的垃圾桶復原。"), this);
    box->setObjectName(QStringLiteral("trashConfirmation"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    KivoButton* cancel = box->addButton(QStringLiteral("取消"), KivoDialog::Role::cancel);
    KivoButton* trash = box->addButton(QStringLiteral("移至垃圾桶"), KivoDialog::Role::destructive);
    box->setDefaultButton(cancel);
    connect(box, &KivoDialog::buttonClicked, this, [this, trash, record](KivoButton* button) {
        if (button == trash) {
            m_model.trash(record);
        }
    });
    box->open();
}

} // namespace kivo
