#include "ui/AboutWindow.h"

#include "ui/BrandMark.h"
#include "ui/KivoBrand.h"
#include "ui/KivoTheme.h"
#include "ui/Panel.h"
#include "ui/SymbolView.h"

#include <QShortcut>
#include <QUrl>

#include <initializer_list>

namespace kivo {

namespace {

// The width of the window's column, in pixels.
constexpr int kColumnWidth = 440;

struct AboutRow {
    QString title;
    QString symbol;
    QString text;
};

// A titled card of rows: each row's symbol and title, and its text below in a caption font.
QWidget* section(const QString& title, std::initializer_list<AboutRow> rows, QWidget* parent) {
    auto* block = new QWidget(parent);
    auto* layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(makeLabel(title, 13, KivoTheme::ink, QFont::DemiBold, block));
    auto* card = new Panel(block);
    card->content()->setContentsMargins(12, 12, 12, 12);
    card->content()->setSpacing(10);
    for (const AboutRow& row : rows) {
        auto* heading = new QHBoxLayout;
        heading->setSpacing(8);
        heading->addWidget(new SymbolView(row.symbol, KivoTheme::green, 16, card));
        heading->addWidget(makeLabel(row.title, 13, KivoTheme::ink, QFont::Medium, card), 1);
        auto* entry = new QVBoxLayout;
        entry->setSpacing(2);
        entry->addLayout(heading);
        auto* caption = makeLabel(row.text, 11.5, KivoTheme::muted, QFont::Normal, card);
        // Under the title, past the symbol.
        caption->setContentsMargins(24, 0, 0, 0);
        entry->addWidget(caption);
        card->content()->addLayout(entry);
    }
    layout->addWidget(card);
    return block;
}

QString link(const char* address) {
    const QUrl url(QString::fromLatin1(address));
    const QString shown = url.scheme() == QStringLiteral("mailto") ? url.path() : url.host();
    return QStringLiteral("<a href=\"%1\" style=\"color: %2; text-decoration: none;\">%3</a>")
        .arg(url.toString(), KivoTheme::greenText.name(), shown.toHtmlEscaped());
}

} // namespace

AboutWindow::AboutWindow(QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("關於 Kivo"));
    setAutoFillBackground(true);
    QPalette colors = palette();
    colors.setColor(QPalette::Window, KivoTheme::paper);
    setPalette(colors);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 28, 28, 24);
    layout->setSpacing(18);
    // Sized to the content and fixed there: the window cannot be resized.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto* header = new QHBoxLayout;
    header->setSpacing(16);
    header->addWidget(new BrandMark(64, this));
    QVBoxLayout* names = makeBrandNames(20, QFont::Bold, 13, this);
    names->insertStretch(0, 1);
    names->addStretch(1);
    header->addLayout(names, 1);
    layout->addLayout(header);

    auto* intro =
        makeLabel(QStringLiteral("Kivo 保存電腦的系統音訊、指定 App "
                                 "聲音與麥克風聲音，適合線上會議、課程、訪談與日常錄音。"),
                  13, KivoTheme::ink, QFont::Normal, this);
    intro->setWordWrap(true);
    intro->setFixedWidth(kColumnWidth);
    intro->setFixedHeight(intro->heightForWidth(kColumnWidth));
    layout->addWidget(intro);

    layout->addWidget(section(QStringLiteral("主要功能"),
                              {{QStringLiteral("聲音來源"), QStringLiteral("waveform"),
                                QStringLiteral("錄製系統音訊、指定 App 與麥克風")},
                               {QStringLiteral("錄音控制"), QStringLiteral("record.circle"),
                                QStringLiteral("開始、暫停、繼續與停止，支援獨立音量")},
                               {QStringLiteral("音檔保存"), QStringLiteral("folder"),
                                QStringLiteral("AAC／WAV 格式，可另存電腦聲音與麥克風分軌")},
                               {QStringLiteral("錄音管理"), QStringLiteral("list.bullet.rectangle"),
                                QStringLiteral("搜尋、播放、分享與錄音方案，未完成保存可復原")}},
                              this));
    layout->addWidget(section(QStringLiteral("隱私與需求"),
                              {{QStringLiteral("隱私"), QStringLiteral("lock"),
                                QStringLiteral("錄音與設定保存在本機，不會自動上傳")},
                               {QStringLiteral("授權"), QStringLiteral("mic"),
                                QStringLiteral("錄音時需要對應的系統音訊與麥克風權限")},
                               {QStringLiteral("系統需求"), QStringLiteral("desktopcomputer"),
                                QStringLiteral("Linux，PipeWire 或 PulseAudio")}},
                              this));

    auto* links = makeLabel(link(KivoBrand::kWebAddress) + QStringLiteral("　·　") +
                                link(KivoBrand::kContactAddress),
                            12, KivoTheme::muted, QFont::Normal, this);
    links->setTextFormat(Qt::RichText);
    links->setOpenExternalLinks(true);
    layout->addWidget(links, 0, Qt::AlignHCenter);
    auto* maker = makeLabel(QStringLiteral("Kivo 團隊製作\n在本機保存每一段聲音。"), 11,
                            KivoTheme::muted, QFont::Normal, this);
    maker->setAlignment(Qt::AlignHCenter);
    layout->addWidget(maker, 0, Qt::AlignHCenter);

    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
            &QWidget::close);
}

} // namespace kivo
