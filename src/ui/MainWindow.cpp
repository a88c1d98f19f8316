#include "ui/MainWindow.h"

#include "application/MainThread.h"

#include "ui/BrandMark.h"
#include "ui/DateText.h"
#include "ui/DesktopActions.h"
#include "ui/KivoButton.h"
#include "ui/KivoTheme.h"
#include "ui/LibraryPage.h"
#include "ui/NameSheet.h"
#include "ui/Panel.h"
#include "ui/PresetsPage.h"
#include "ui/RecordingControlsView.h"
#include "ui/SettingsPage.h"
#include "ui/SidebarButton.h"
#include "ui/StudioPage.h"
#include "ui/SymbolView.h"
#include "ui/TabOrder.h"
#include "ui/WindowFitting.h"

#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QWindow>

namespace kivo {

namespace {

struct PageText {
    KivoPage page;
    const char* symbol;
    const char* title;
    const char* eyebrow;
    const char* subtitle;
    const char* button;
};

// In sidebar order.
const std::array<PageText, 4> kPages{{
    {KivoPage::studio, "record.circle", "錄音工作室", "YOUR SOUND, SAVED.",
     "選好聲音來源，留下每一段值得保存的聲音。", "儲存為方案"},
    {KivoPage::library, "list.bullet.rectangle", "錄音紀錄", "A PLACE FOR EVERY SOUND.",
     "把靈感、對話與日常聲音，收在同一個地方。", "＋ 新錄音"},
    {KivoPage::presets, "slider.horizontal.3", "錄音方案", "READY WHEN YOU ARE.",
     "常用的來源與保存設定，下次一鍵就準備好。", "儲存為方案"},
    {KivoPage::settings, "gearshape", "偏好設定", "MAKE IT YOURS.",
     "讓每次錄音都從熟悉的設定開始。", "儲存設定"},
}};

const PageText& textOf(KivoPage page) {
    return kPages.at(static_cast<std::size_t>(page));
}

QString utf8(const char* text) {
    return QString::fromUtf8(text);
}

// A widget painted in one colour, for the sidebar and the page background.
class Backdrop : public QWidget {
public:
    explicit Backdrop(const QColor& color) {
        setAutoFillBackground(true);
        QPalette colors = palette();
        colors.setColor(QPalette::Window, color);
        setPalette(colors);
    }
};

} // namespace

MainWindow::MainWindow(AppModel& model, DesktopActions& desktop, QWidget* parent)
    : QMainWindow(parent)
    , m_model(model)
    , m_desktop(desktop) {
    setWindowTitle(QStringLiteral("Kivo 奇沃"));
    setObjectName(QStringLiteral("main"));
    resize(kDefaultSize);
    setMinimumSize(kMinimumSize);

    auto* root = new Backdrop(KivoTheme::paper);
    auto* columns = new QHBoxLayout(root);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);
    columns->addWidget(buildSidebar());

    auto* main = new QVBoxLayout;
    main->setContentsMargins(0, 0, 0, 0);
    main->setSpacing(0);
    main->addWidget(buildTopBar());

    auto* content = new Backdrop(KivoTheme::paper);
    auto* stack = new QVBoxLayout(content);
    stack->setContentsMargins(34, 26, 34, 26);
    stack->setSpacing(20);
    stack->addWidget(buildHeading());

    m_recoveryPanel = new Panel;
    auto* recoveryTitle = new QHBoxLayout;
    recoveryTitle->setSpacing(8);
    recoveryTitle->addWidget(
        new SymbolView(QStringLiteral("arrow.clockwise.circle"), KivoTheme::accent, 16));
    recoveryTitle->addWidget(
        makeLabel(QStringLiteral("找到未完成保存的錄音"), 13, KivoTheme::ink, QFont::DemiBold));
    recoveryTitle->addStretch();
    m_recoveryPanel->content()->addLayout(recoveryTitle);
    m_recoveryRows = new QVBoxLayout;
    m_recoveryRows->setSpacing(8);
    m_recoveryPanel->content()->addLayout(m_recoveryRows);
    QLabel* recoveryNote = makeLabel(QStringLiteral("原始錄音會保留到音檔與紀錄都保存成功。若目的地"
                                                    "無法使用，可先在檔案管理員檢查暫存資料。"),
                                     11, KivoTheme::muted);
    recoveryNote->setWordWrap(true);
    m_recoveryPanel->content()->addWidget(recoveryNote);
    m_recoveryPanel->setVisible(false);
    stack->addWidget(m_recoveryPanel);

    m_studio = new StudioPage(m_model, m_desktop);
    m_library = new LibraryPage(m_model, m_desktop);
    m_presets = new PresetsPage(m_model, m_desktop);
    m_settings = new SettingsPage(m_model, m_desktop);
    // Only the page on screen follows the model; a page catches up when it is shown.
    m_refreshPage = {[this] { m_studio->refresh(); }, [this] { m_library->refresh(); },
                     [this] { m_presets->refresh(); }, [this] { m_settings->refresh(); }};
    for (QWidget* page : {static_cast<QWidget*>(m_studio), static_cast<QWidget*>(m_library),
                          static_cast<QWidget*>(m_presets), static_cast<QWidget*>(m_settings)}) {
        disconnect(&m_model, nullptr, page, nullptr);
        page->setVisible(false);
        stack->addWidget(page);
    }
    // The library's list fills what the heading leaves; the other pages stay at the top.
    stack->setStretchFactor(m_library, 1);
    stack->addStretch();

    m_scroll = new QScrollArea;
    m_scroll->setWidget(content);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    main->addWidget(m_scroll, 1);

    m_controls = new RecordingControlsView(m_model);
    main->addWidget(m_controls);
    columns->addLayout(main, 1);
    // The notice lies over the bottom of the page, above the controls: its coming and going
    // moves nothing.
    buildNoticeLine()->setParent(root);
    m_scroll->installEventFilter(this);

    setCentralWidget(root);
    m_desktop.onFailure = [this](const QString& message) { m_model.setNotice(message); };
    connect(&m_model, &AppModel::changed, this, &MainWindow::refresh);
    connect(m_studio, &StudioPage::rowsRebuilt, this, [this] { orderTabs(); });
    connect(m_presets, &PresetsPage::rowsRebuilt, this, [this] { orderTabs(); });
    refresh();
    orderTabs();
}

void MainWindow::orderTabs() {
    // After the rows of this turn are in their layouts.
    if (!m_tabsOrdered) {
        return;
    }
    m_tabsOrdered = false;
    MainThread::post(this, [this] {
        m_tabsOrdered = true;
        TabOrder::followLayouts(this);
    });
}

MainWindow::~MainWindow() = default;

QWidget* MainWindow::buildSidebar() {
    auto* sidebar = new Backdrop(KivoTheme::sidebar);
    auto* layout = new QVBoxLayout(sidebar);
    layout->setContentsMargins(18, 24, 18, 18);
    layout->setSpacing(6);

    auto* brand = new QHBoxLayout;
    brand->setSpacing(12);
    brand->addWidget(new BrandMark(40));
    auto* names = new QVBoxLayout;
    names->setSpacing(0);
    names->addWidget(makeLabel(QStringLiteral("Kivo"), 29, Qt::white, QFont::Bold));
    names->addWidget(
        makeLabel(QStringLiteral("奇沃 · 聲音錄製工具"), 11, QColor(255, 255, 255, 160)));
    brand->addLayout(names);
    brand->addStretch();
    layout->addLayout(brand);
    layout->addSpacing(26);

    QLabel* section =
        makeLabel(QStringLiteral("工作空間"), 10, QColor(255, 255, 255, 150), QFont::Medium);
    section->setFont(KivoTheme::spaced(section->font(), 2));
    layout->addWidget(section);
    layout->addSpacing(4);
    for (const PageText& text : kPages) {
        auto* button = new SidebarButton(utf8(text.symbol), utf8(text.title));
        button->setObjectName(QStringLiteral("page-") + QString::number(int(text.page)));
        const KivoPage page = text.page;
        connect(button, &QAbstractButton::clicked, this, [this, page] { m_model.setPage(page); });
        m_pageButtons.at(static_cast<std::size_t>(page)) = button;
        layout->addWidget(button);
    }
    layout->addStretch();

    auto* card = new QFrame;
    card->setObjectName(QStringLiteral("sidebarCard"));
    card->setStyleSheet(QStringLiteral("#sidebarCard { background: rgba(255,255,255,0.06); "
                                       "border-radius: 12px; }"));
    auto* cardLayout = new QVBoxLayout(card);
    cardLayout->setContentsMargins(14, 14, 14, 14);
    cardLayout->setSpacing(6);
    cardLayout->addWidget(new SymbolView(QStringLiteral("waveform"), KivoTheme::brand, 20));
    QLabel* line =
        makeLabel(QStringLiteral("想留的聲音，隨手錄下。"), 12, Qt::white, QFont::Medium);
    cardLayout->addWidget(line);
    cardLayout->addWidget(makeLabel(QStringLiteral("從日常靈感到重要對話\n把聲音好好保存。"), 10,
                                    QColor(255, 255, 255, 150)));
    layout->addWidget(card);
    layout->addSpacing(10);

    auto* footer = new QHBoxLayout;
    footer->addWidget(makeLabel(QStringLiteral("Kivo 0.1"), 10, QColor(255, 255, 255, 150)));
    footer->addStretch();
    footer->addWidget(makeLabel(QStringLiteral("Linux"), 10, QColor(255, 255, 255, 150)));
    layout->addLayout(footer);
    // 236 pixels, or what its texts need on a desktop with larger text.
    sidebar->setFixedWidth(qMax(236, layout->minimumSize().width()));
    return sidebar;
}

QWidget* MainWindow::buildTopBar() {
    auto* bar = new Backdrop(KivoTheme::paper);
    auto* outer = new QVBoxLayout(bar);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* layout = new QHBoxLayout;
    layout->setContentsMargins(34, 14, 34, 14);
    layout->setSpacing(8);
    layout->addWidget(makeLabel(QStringLiteral("工作空間"), 12, KivoTheme::muted));
    layout->addWidget(makeLabel(QStringLiteral("/"), 12, KivoTheme::muted));
    m_topTitle = makeLabel(QString(), 12, KivoTheme::ink, QFont::Medium);
    layout->addWidget(m_topTitle);
    layout->addStretch();
    m_statusDot = new StatusDot;
    layout->addWidget(m_statusDot);
    m_status = makeLabel(QString(), 12, KivoTheme::greenText, QFont::Medium);
    m_status->setObjectName(QStringLiteral("status"));
    layout->addWidget(m_status);
    outer->addLayout(layout);
    auto* separator = new QFrame;
    separator->setFrameShape(QFrame::HLine);
    separator->setStyleSheet(QStringLiteral("color: %1;").arg(KivoTheme::line.name()));
    outer->addWidget(separator);
    return bar;
}

QWidget* MainWindow::buildHeading() {
    auto* heading = new QWidget;
    auto* layout = new QHBoxLayout(heading);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    m_eyebrow = makeLabel(QString(), 11, KivoTheme::accentText, QFont::DemiBold);
    m_eyebrow->setFont(KivoTheme::spaced(m_eyebrow->font(), 2.5));
    m_title = makeLabel(QString(), 29, KivoTheme::ink, QFont::Bold);
    m_subtitle = makeLabel(QString(), 13, KivoTheme::muted);
    texts->addWidget(m_eyebrow);
    texts->addWidget(m_title);
    texts->addWidget(m_subtitle);
    layout->addLayout(texts, 1);
    m_headingButton = new KivoButton(QString(), KivoButton::Kind::ordinary);
    m_headingButton->setObjectName(QStringLiteral("headingButton"));
    connect(m_headingButton, &QPushButton::clicked, this, &MainWindow::onHeadingButton);
    layout->addWidget(m_headingButton, 0, Qt::AlignBottom);
    return heading;
}

QWidget* MainWindow::buildNoticeLine() {
    m_noticeLine = new Backdrop(KivoTheme::softGreen);
    auto* layout = new QHBoxLayout(m_noticeLine);
    layout->setContentsMargins(34, 8, 26, 8);
    layout->setSpacing(8);
    layout->addWidget(new SymbolView(QStringLiteral("checkmark.circle"), KivoTheme::green, 16));
    m_noticeText = makeLabel(QString(), 12, KivoTheme::ink);
    m_noticeText->setObjectName(QStringLiteral("notice"));
    m_noticeText->setWordWrap(true);
    layout->addWidget(m_noticeText, 1);
    auto* close = new KivoButton(QString(), KivoButton::Kind::plain);
    close->setSymbol(QStringLiteral("xmark"));
    close->setObjectName(QStringLiteral("closeNotice"));
    close->setAccessibleName(QStringLiteral("關閉"));
    connect(close, &QPushButton::clicked, this, [this] { m_model.setNotice(std::nullopt); });
    layout->addWidget(close);
    m_noticeLine->setVisible(false);
    return m_noticeLine;
}

SidebarButton* MainWindow::pageButton(KivoPage page) const {
    return m_pageButtons.at(static_cast<std::size_t>(page));
}

QWidget* MainWindow::page(KivoPage page) const {
    switch (page) {
    case KivoPage::studio:
        return m_studio;
    case KivoPage::library:
        return m_library;
    case KivoPage::presets:
        return m_presets;
    case KivoPage::settings:
        break;
    }
    return m_settings;
}

void MainWindow::refresh() {
    const KivoPage current = m_model.page();
    for (const PageText& text : kPages) {
        pageButton(text.page)->setSelected(text.page == current);
    }
    pageButton(KivoPage::library)->setCount(int(m_model.library().recordings.size()));
    m_refreshPage.at(static_cast<std::size_t>(current))();
    if (current != m_shownPage || !page(current)->isVisibleTo(this)) {
        page(m_shownPage)->setVisible(false);
        page(current)->setVisible(true);
        m_shownPage = current;
        m_scroll->verticalScrollBar()->setValue(0);
    }

    const RecordingState state = m_model.coordinator().state();
    m_topTitle->setText(utf8(textOf(current).title));
    m_statusDot->setColor(state == RecordingState::recording ? KivoTheme::accent
                          : state == RecordingState::paused  ? KivoTheme::brand
                                                             : KivoTheme::green);
    m_status->setText(m_model.status());

    refreshHeading();
    refreshRecoveries();
    m_controls->setVisible(current == KivoPage::studio || state != RecordingState::idle);

    const auto& notice = m_model.notice();
    if (notice) {
        m_noticeText->setText(*notice);
    }
    if (m_noticeLine->isVisible() != notice.has_value()) {
        m_noticeLine->setVisible(notice.has_value());
        placeNotice();
    }
    refreshAlert();
}

void MainWindow::refreshHeading() {
    const PageText& text = textOf(m_model.page());
    m_eyebrow->setText(utf8(text.eyebrow));
    m_title->setText(utf8(text.title));
    m_subtitle->setText(utf8(text.subtitle));
    m_headingButton->setText(utf8(text.button));
    const bool savesPreset =
        m_model.page() == KivoPage::studio || m_model.page() == KivoPage::presets;
    m_headingButton->setSymbol(savesPreset ? QStringLiteral("slider.horizontal.3") : QString());
    m_headingButton->setKind(m_model.page() == KivoPage::library ? KivoButton::Kind::prominent
                                                                 : KivoButton::Kind::ordinary);
    m_headingButton->setEnabled(m_model.page() == KivoPage::library ||
                                (m_model.coordinator().state() == RecordingState::idle &&
                                 !m_model.recovering() && m_model.storageAvailable()));
}

void MainWindow::onHeadingButton() {
    switch (m_model.page()) {
    case KivoPage::library:
        m_model.setPage(KivoPage::studio);
        break;
    case KivoPage::settings:
        m_model.saveDefaults();
        break;
    case KivoPage::studio:
    case KivoPage::presets:
        NameSheet::ask(this, QStringLiteral("儲存錄音方案"), QStringLiteral("我的錄音方案"),
                       [this](const QString& name) { m_model.savePreset(name); });
        break;
    }
}

void MainWindow::refreshRecoveries() {
    const QList<RecoveryItem>& items = m_model.recoveries();
    m_recoveryPanel->setVisible(!items.isEmpty());
    if (items != m_shownRecoveries) {
        m_shownRecoveries = items;
        m_recoverButtons.clear();
        while (QLayoutItem* item = m_recoveryRows->takeAt(0)) {
            // Later: the click that led here may still be running in one of the row's buttons.
            item->widget()->hide();
            item->widget()->deleteLater();
            delete item;
        }
        for (const RecoveryItem& item : items) {
            auto* row = new QWidget;
            auto* layout = new QHBoxLayout(row);
            layout->setContentsMargins(0, 0, 0, 0);
            auto* texts = new QVBoxLayout;
            texts->setSpacing(2);
            texts->addWidget(
                makeLabel(item.manifest.configuration.name, 13, KivoTheme::ink, QFont::Medium));
            texts->addWidget(
                makeLabel(dateTimeText(item.manifest.startedAt), 11, KivoTheme::muted));
            layout->addLayout(texts, 1);
            auto* button = new KivoButton(QStringLiteral("復原音檔"));
            connect(button, &QPushButton::clicked, this, [this, item] { m_model.recover(item); });
            m_recoverButtons.append(button);
            layout->addWidget(button);
            m_recoveryRows->addWidget(row);
            row->show();
        }
        orderTabs();
    }
    const bool enabled = m_model.coordinator().state() == RecordingState::idle &&
                         !m_model.recovering() && m_model.storageAvailable();
    for (KivoButton* button : m_recoverButtons) {
        button->setEnabled(enabled);
    }
}

void MainWindow::refreshAlert() {
    const auto& message = m_model.alertMessage();
    if (!message) {
        if (m_alert) {
            m_alert->close();
        }
        return;
    }
    if (m_alert) {
        m_alert->setText(*message);
        return;
    }
    // Alerts may hold a record's name or a path: the dialog shows them as text, never as markup.
    m_alert = new KivoDialog(KivoDialog::Symbol::warning, QStringLiteral("Kivo"), *message, this);
    m_alert->setObjectName(QStringLiteral("alert"));
    m_alert->addButton(QStringLiteral("好"), KivoDialog::Role::accept);
    m_alert->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_alert, &QDialog::finished, this, [this] {
        if (m_model.alertMessage()) {
            m_model.setAlertMessage(std::nullopt);
        }
    });
    m_alert->open();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    emit closeRequested();
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    watchScreen();
    MainThread::post(this, [this] { WindowFitting::fitVisibleScreen(*this); });
}

void MainWindow::placeNotice() {
    if (!m_noticeLine->isVisible()) {
        return;
    }
    const QRect page = m_scroll->geometry();
    const int height = m_noticeLine->heightForWidth(page.width()) > 0
                           ? m_noticeLine->heightForWidth(page.width())
                           : m_noticeLine->sizeHint().height();
    m_noticeLine->setGeometry(page.left(), page.bottom() + 1 - height, page.width(), height);
    m_noticeLine->raise();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_scroll && (event->type() == QEvent::Resize || event->type() == QEvent::Move)) {
        placeNotice();
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    scheduleFit();
}

void MainWindow::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    // The window manager's frame arrives after the window is shown, as a move: only then is the
    // title bar's height known to the fit.
    scheduleFit();
}

void MainWindow::scheduleFit() {
    // A resize or a drag by hand ends when the events stop coming; fit once then.
    if (!m_fitScheduled && isVisible()) {
        m_fitScheduled = true;
        QTimer::singleShot(300, this, [this] {
            m_fitScheduled = false;
            WindowFitting::fitVisibleScreen(*this);
        });
    }
}

void MainWindow::watchScreen() {
    if (m_screenWatched || windowHandle() == nullptr) {
        return;
    }
    m_screenWatched = true;
    const auto fit = [this] { WindowFitting::fitVisibleScreen(*this); };
    // One screen at a time: the one the window is on.
    const auto follow = [this, fit](QScreen* screen) {
        disconnect(m_screenConnection);
        if (screen != nullptr) {
            m_screenConnection = connect(screen, &QScreen::availableGeometryChanged, this, fit);
        }
    };
    connect(windowHandle(), &QWindow::screenChanged, this, [follow, fit](QScreen* screen) {
        follow(screen);
        fit();
    });
    follow(windowHandle()->screen());
}

} // namespace kivo
