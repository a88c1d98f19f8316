#include "ui/LibraryRowDelegate.h"

#include "application/AppModel.h"
#include "ui/DateText.h"
#include "ui/KivoSymbols.h"
#include "ui/KivoTheme.h"
#include "ui/LibraryListModel.h"
#include "ui/Panel.h"

#include <QLocale>
#include <QPainter>

#include <cmath>

namespace kivo {

namespace {

constexpr int kSymbolSquare = 34;
constexpr int kButtonSize = 30;
constexpr int kButtonGap = 4;
constexpr int kIconSize = 18;
constexpr int kLineGap = 3; // between the name and the details line

QFont nameFont() {
    return KivoTheme::font(13, QFont::Medium);
}

QFont detailsFont() {
    return KivoTheme::font(11);
}

// Decimal units, whole kilobytes, one decimal from a megabyte on.
QString sizeText(qint64 bytes) {
    return QLocale(QLocale::Chinese, QLocale::Taiwan)
        .formattedDataSize(bytes, bytes < 1000 * 1000 ? 0 : 1, QLocale::DataSizeSIFormat);
}

} // namespace

LibraryRowDelegate::LibraryRowDelegate(QObject* parent)
    : QStyledItemDelegate(parent) {}

QRect LibraryRowDelegate::buttonRect(const QRect& row, Button button) {
    // Right-aligned: play, show in folder, "…".
    const int index = button == Button::play ? 2 : button == Button::reveal ? 1 : 0;
    const int right = row.right() - index * (kButtonSize + kButtonGap);
    return {right - kButtonSize + 1, row.center().y() - kButtonSize / 2, kButtonSize, kButtonSize};
}

LibraryRowDelegate::Button LibraryRowDelegate::buttonAt(const QRect& row, const QPoint& point) {
    for (Button button : {Button::play, Button::reveal, Button::more}) {
        if (buttonRect(row, button).contains(point)) {
            return button;
        }
    }
    return Button::none;
}

void LibraryRowDelegate::setHovered(int row, Button button) {
    m_hoveredRow = row;
    m_hoveredButton = button;
}

QSize LibraryRowDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
    // The name and the details line with a little room above and below: taller than kRowHeight
    // only when the desktop's text is large.
    const int lines =
        QFontMetrics(nameFont()).height() + kLineGap + QFontMetrics(detailsFont()).height();
    return {400, std::max(kRowHeight, lines + 8)};
}

void LibraryRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    const auto* model = static_cast<const LibraryListModel*>(index.model());
    const int row = index.row();
    const RecordingRecord& record = model->record(row);
    const RecordingConfiguration& configuration = record.configuration();
    const LibraryListModel::Files files = model->files(row);
    const QRect area = option.rect;

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    // The line above each row separates it from the header or the row before.
    painter->fillRect(QRect(area.left(), area.top(), area.width(), 1), KivoTheme::line);
    if (option.state & QStyle::State_Selected) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(KivoTheme::waveBackground);
        painter->drawRoundedRect(QRectF(area).adjusted(0, 2, 0, -1), 8, 8);
    }
    if ((option.state & QStyle::State_HasFocus) && (option.state & QStyle::State_Active)) {
        painter->setPen(QPen(KivoTheme::green, 1.5));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(area).adjusted(1, 3, -1, -2), 8, 8);
    }

    // The source symbol in a small rounded square.
    const QRect square(area.left() + 4, area.center().y() - kSymbolSquare / 2, kSymbolSquare,
                       kSymbolSquare);
    painter->setPen(Qt::NoPen);
    painter->setBrush(KivoTheme::softGreen);
    painter->drawRoundedRect(QRectF(square), 9, 9);
    KivoSymbols::icon(KivoSymbols::of(configuration.mode), KivoTheme::green)
        .paint(painter, square.adjusted(8, 8, -8, -8));

    const int actionsLeft = area.right() - kActionsWidth + 1;
    const int lengthLeft = actionsLeft - kSpacing - kLengthWidth;
    const int formatLeft = lengthLeft - kSpacing - kFormatWidth;
    const int textLeft = square.right() + 1 + kSpacing;
    const int textWidth = std::max(0, formatLeft - kSpacing - textLeft);

    const QFont nameFont = kivo::nameFont();
    const QFont smallFont = detailsFont();
    const QFont columnFont = KivoTheme::font(12);
    painter->setFont(nameFont);
    painter->setPen(KivoTheme::ink);
    const QFontMetrics nameMetrics(nameFont);
    const QFontMetrics smallMetrics(smallFont);
    const int nameTop =
        area.center().y() - (nameMetrics.height() + kLineGap + smallMetrics.height()) / 2;
    painter->drawText(QRect(textLeft, nameTop, textWidth, nameMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter,
                      elidedToFit(nameFont, record.name(), Qt::ElideRight, textWidth));

    painter->setFont(smallFont);
    const QString separator = QStringLiteral(" · ");
    QString details =
        configuration.sourceDescription() + separator + dateTimeText(record.createdAt());
    if (!record.markers().isEmpty()) {
        details += separator + QStringLiteral("%1 個標記").arg(record.markers().size());
    }
    const QString size = record.files().isEmpty() || files.missing() ? QStringLiteral("檔案不存在")
                         : files.checked                             ? sizeText(files.bytes)
                                                                     : QString();
    const QRect detailsLine(textLeft, nameTop + nameMetrics.height() + kLineGap, textWidth,
                            smallMetrics.height());
    // The size, or the warning that the file is missing, stays whole: the details give way to it.
    const auto tailWidth =
        static_cast<int>(std::ceil(QFontMetricsF(smallFont).size(0, separator + size).width()));
    const QString shownDetails =
        elidedToFit(smallFont, details, Qt::ElideRight, std::max(0, textWidth - tailWidth)) +
        separator;
    painter->setPen(KivoTheme::muted);
    painter->drawText(detailsLine, Qt::AlignLeft | Qt::AlignVCenter, shownDetails);
    const int sizeLeft = textLeft + smallMetrics.horizontalAdvance(shownDetails);
    painter->setPen(size == u"檔案不存在" ? KivoTheme::accentText : KivoTheme::muted);
    painter->drawText(QRect(sizeLeft, detailsLine.top(),
                            std::max(0, textLeft + textWidth - sizeLeft), detailsLine.height()),
                      Qt::AlignLeft | Qt::AlignVCenter, size);

    painter->setFont(columnFont);
    painter->setPen(KivoTheme::ink);
    painter->drawText(QRect(formatLeft, area.top(), kFormatWidth, area.height()),
                      Qt::AlignLeft | Qt::AlignVCenter, rawValue(configuration.format));
    painter->drawText(QRect(lengthLeft, area.top(), kLengthWidth, area.height()),
                      Qt::AlignLeft | Qt::AlignVCenter, AppModel::clock(record.duration()));

    const bool playing = model->isPlaying(row);
    for (Button button : {Button::play, Button::reveal, Button::more}) {
        const QRect rect = buttonRect(area, button);
        const bool enabled = button != Button::play || model->canPlay(row);
        if (enabled && row == m_hoveredRow && button == m_hoveredButton) {
            painter->setPen(Qt::NoPen);
            painter->setBrush(KivoTheme::paper);
            painter->drawRoundedRect(QRectF(rect), 8, 8);
        }
        const QString name = button == Button::play     ? (playing ? QStringLiteral("pause.circle")
                                                                   : QStringLiteral("play.circle"))
                             : button == Button::reveal ? QStringLiteral("folder")
                                                        : QStringLiteral("ellipsis");
        painter->setOpacity(enabled ? 1.0 : 0.35);
        const int inset = (kButtonSize - kIconSize) / 2;
        KivoSymbols::icon(name, KivoTheme::ink)
            .paint(painter, rect.adjusted(inset, inset, -inset, -inset));
        painter->setOpacity(1.0);
    }
    painter->restore();
}

} // namespace kivo
