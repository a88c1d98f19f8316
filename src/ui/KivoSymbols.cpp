#include "ui/KivoSymbols.h"

#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace kivo::KivoSymbols {

namespace {

const QHash<QString, QStringList>& names() {
    static const QHash<QString, QStringList> table{
        {QStringLiteral("record.circle"), {QStringLiteral("media-record")}},
        {QStringLiteral("record.circle.fill"), {QStringLiteral("media-record")}},
        {QStringLiteral("list.bullet.rectangle"), {QStringLiteral("view-list")}},
        {QStringLiteral("gearshape"),
         {QStringLiteral("emblem-system"), QStringLiteral("preferences-system")}},
        {QStringLiteral("checkmark.circle"), {QStringLiteral("emblem-ok")}},
        {QStringLiteral("checkmark.circle.fill"), {QStringLiteral("emblem-ok")}},
        {QStringLiteral("checkmark"), {QStringLiteral("object-select")}},
        {QStringLiteral("xmark"), {QStringLiteral("window-close")}},
        {QStringLiteral("arrow.clockwise"), {QStringLiteral("view-refresh")}},
        {QStringLiteral("arrow.clockwise.circle"), {QStringLiteral("view-refresh")}},
        {QStringLiteral("desktopcomputer"), {QStringLiteral("computer")}},
        {QStringLiteral("square.grid.2x2"),
         {QStringLiteral("view-app-grid"), QStringLiteral("view-grid")}},
        {QStringLiteral("mic"), {QStringLiteral("audio-input-microphone")}},
        {QStringLiteral("folder"), {QStringLiteral("folder")}},
        {QStringLiteral("headphones"), {QStringLiteral("audio-headphones")}},
        {QStringLiteral("play"), {QStringLiteral("media-playback-start")}},
        {QStringLiteral("play.fill"), {QStringLiteral("media-playback-start")}},
        {QStringLiteral("play.circle"), {QStringLiteral("media-playback-start")}},
        {QStringLiteral("pause.fill"), {QStringLiteral("media-playback-pause")}},
        {QStringLiteral("pause.circle"), {QStringLiteral("media-playback-pause")}},
        {QStringLiteral("stop.fill"), {QStringLiteral("media-playback-stop")}},
        {QStringLiteral("ellipsis"), {QStringLiteral("view-more")}},
        {QStringLiteral("magnifyingglass"),
         {QStringLiteral("system-search"), QStringLiteral("edit-find")}},
        {QStringLiteral("lock"),
         {QStringLiteral("changes-prevent"), QStringLiteral("system-lock-screen")}},
        {QStringLiteral("trash"), {QStringLiteral("user-trash")}},
        // Drawn by Kivo: icon themes have no level-bars waveform, no three-slider mixer and no
        // plain dots ("circle", "circle.fill", "waveform", "slider.horizontal.3"); their warning
        // and question icons are triangles and old balloons, not the calm circles of Kivo's
        // alerts ("exclamationmark.circle", "questionmark.circle").
    };
    return table;
}

QIcon themeIcon(const QString& symbol) {
    for (const QString& name : names().value(symbol)) {
        for (const QString& candidate : {name + QStringLiteral("-symbolic"), name}) {
            if (QIcon::hasThemeIcon(candidate)) {
                return QIcon::fromTheme(candidate);
            }
        }
    }
    return {};
}

// Draws the theme icon (symbolic icons come in one grey) or Kivo's own drawing, then tints it.
class SymbolEngine : public QIconEngine {
public:
    SymbolEngine(QString symbol, QColor color)
        : m_symbol(std::move(symbol))
        , m_color(std::move(color))
        , m_theme(themeIcon(m_symbol)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawPixmap(rect, render(rect.size(), ratio, mode));
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        return render(size, 1.0, mode);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override {
        return render(size, scale, mode);
    }

    QIconEngine* clone() const override { return new SymbolEngine(m_symbol, m_color); }

private:
    // Drawn once per size, pixel ratio and mode: buttons repaint their symbol often.
    QPixmap render(const QSize& size, qreal ratio, QIcon::Mode mode) const {
        const QString key = QStringLiteral("%1x%2@%3/%4")
                                .arg(size.width())
                                .arg(size.height())
                                .arg(ratio)
                                .arg(int(mode));
        if (const auto found = m_drawn.constFind(key); found != m_drawn.constEnd()) {
            return *found;
        }
        QPixmap image = draw(size, ratio, mode);
        m_drawn.insert(key, image);
        return image;
    }

    QPixmap draw(const QSize& size, qreal ratio, QIcon::Mode mode) const {
        QPixmap image(size * ratio);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF area(QPointF(0, 0), QSizeF(size));
        QColor color = m_color;
        if (mode == QIcon::Disabled) {
            color.setAlphaF(color.alphaF() * 0.4F);
        }
        if (!m_theme.isNull()) {
            const QPixmap drawn = m_theme.pixmap(size, ratio);
            painter.drawPixmap(area, drawn, QRectF(drawn.rect()));
            painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            painter.fillRect(area, color);
        } else {
            paintFallback(painter, m_symbol, area, color);
        }
        return image;
    }

    QString m_symbol;
    QColor m_color;
    QIcon m_theme;
    mutable QHash<QString, QPixmap> m_drawn;
};

} // namespace

QString of(RecordingMode mode) {
    switch (mode) {
    case RecordingMode::system:
        return QStringLiteral("desktopcomputer");
    case RecordingMode::application:
        return QStringLiteral("square.grid.2x2");
    case RecordingMode::microphone:
        return QStringLiteral("mic");
    }
    Q_UNREACHABLE();
}

QStringList themeNames(const QString& symbol) {
    return names().value(symbol);
}

bool fromTheme(const QString& symbol) {
    return !themeIcon(symbol).isNull();
}

QIcon icon(const QString& symbol, const QColor& color) {
    // Looking the symbol up in the theme touches the disk: once per symbol and colour. Never
    // destroyed: pixmaps must not outlive the application object, and these would.
    static auto* const icons = new QHash<QString, QIcon>;
    const QString key = symbol + QLatin1Char('/') + QString::number(color.rgba(), 16);
    auto found = icons->find(key);
    if (found == icons->end()) {
        found = icons->insert(key, QIcon(new SymbolEngine(symbol, color)));
    }
    return *found;
}

void paintFallback(QPainter& painter, const QString& symbol, const QRectF& rect,
                   const QColor& color) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = qMin(rect.width(), rect.height());
    // Drawn on a 16 × 16 grid centred in `rect`.
    painter.translate(rect.center().x() - side / 2, rect.center().y() - side / 2);
    painter.scale(side / 16.0, side / 16.0);
    QPen pen(color, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const auto fill = [&] {
        painter.setBrush(color);
        painter.setPen(Qt::NoPen);
    };
    const QString& s = symbol;
    if (s == QStringLiteral("circle.fill") || s == QStringLiteral("record.circle.fill")) {
        fill();
        painter.drawEllipse(QRectF(2, 2, 12, 12));
    } else if (s == QStringLiteral("circle")) {
        painter.drawEllipse(QRectF(2.5, 2.5, 11, 11));
    } else if (s == QStringLiteral("record.circle")) {
        painter.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        fill();
        painter.drawEllipse(QRectF(5, 5, 6, 6));
    } else if (s == QStringLiteral("waveform")) {
        const qreal heights[] = {4, 9, 13, 7, 10, 5};
        for (int i = 0; i < 6; ++i) {
            const qreal x = 2.5 + i * 2.2;
            painter.drawLine(QPointF(x, 8 - heights[i] / 2), QPointF(x, 8 + heights[i] / 2));
        }
    } else if (s == QStringLiteral("list.bullet.rectangle")) {
        painter.drawRoundedRect(QRectF(1.5, 2.5, 13, 11), 2, 2);
        for (qreal y : {6.0, 8.5, 11.0}) {
            painter.drawPoint(QPointF(4.5, y));
            painter.drawLine(QPointF(6.5, y), QPointF(12, y));
        }
    } else if (s == QStringLiteral("slider.horizontal.3")) {
        for (auto [y, knob] : {std::pair{4.0, 10.0}, {8.0, 5.0}, {12.0, 9.0}}) {
            painter.drawLine(QPointF(2, y), QPointF(14, y));
            painter.save();
            fill();
            painter.drawEllipse(QPointF(knob, y), 1.8, 1.8);
            painter.restore();
        }
    } else if (s == QStringLiteral("gearshape")) {
        for (int i = 0; i < 8; ++i) {
            painter.save();
            painter.translate(8, 8);
            painter.rotate(i * 45.0);
            painter.drawLine(QPointF(0, -5), QPointF(0, -7));
            painter.restore();
        }
        painter.drawEllipse(QPointF(8, 8), 4.5, 4.5);
        painter.drawEllipse(QPointF(8, 8), 1.8, 1.8);
    } else if (s == QStringLiteral("checkmark") || s.startsWith(QStringLiteral("checkmark."))) {
        if (s == QStringLiteral("checkmark.circle.fill")) {
            painter.save();
            fill();
            painter.drawEllipse(QRectF(1, 1, 14, 14));
            painter.restore();
            painter.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        } else if (s == QStringLiteral("checkmark.circle")) {
            painter.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        }
        painter.drawPolyline(QPolygonF{QPointF(4.8, 8.2), QPointF(7, 10.5), QPointF(11.2, 5.5)});
    } else if (s == QStringLiteral("xmark")) {
        painter.drawLine(QPointF(4, 4), QPointF(12, 12));
        painter.drawLine(QPointF(12, 4), QPointF(4, 12));
    } else if (s.startsWith(QStringLiteral("arrow.clockwise"))) {
        if (s.endsWith(QStringLiteral(".circle"))) {
            painter.drawEllipse(QRectF(0.8, 0.8, 14.4, 14.4));
        }
        painter.drawArc(QRectF(4, 4, 8, 8), 80 * 16, 290 * 16);
        painter.drawPolyline(QPolygonF{QPointF(8.5, 2.3), QPointF(10.4, 4.1), QPointF(8.5, 5.9)});
    } else if (s == QStringLiteral("desktopcomputer")) {
        painter.drawRoundedRect(QRectF(1.5, 2.5, 13, 8.5), 1.5, 1.5);
        painter.drawLine(QPointF(8, 11), QPointF(8, 13.5));
        painter.drawLine(QPointF(5, 13.5), QPointF(11, 13.5));
    } else if (s == QStringLiteral("square.grid.2x2")) {
        for (qreal x : {2.0, 9.0}) {
            for (qreal y : {2.0, 9.0}) {
                painter.drawRoundedRect(QRectF(x, y, 5, 5), 1.2, 1.2);
            }
        }
    } else if (s == QStringLiteral("mic")) {
        painter.drawRoundedRect(QRectF(5.5, 1.5, 5, 8.5), 2.5, 2.5);
        painter.drawArc(QRectF(3, 4, 10, 8.5), 180 * 16, 180 * 16);
        painter.drawLine(QPointF(8, 12.5), QPointF(8, 14.5));
    } else if (s == QStringLiteral("folder")) {
        QPainterPath path;
        path.moveTo(1.5, 4);
        path.lineTo(6, 4);
        path.lineTo(7.5, 5.5);
        path.lineTo(14.5, 5.5);
        path.lineTo(14.5, 13);
        path.lineTo(1.5, 13);
        path.closeSubpath();
        painter.drawPath(path);
    } else if (s == QStringLiteral("headphones")) {
        painter.drawArc(QRectF(2, 2.5, 12, 12), 0, 180 * 16);
        fill();
        painter.drawRoundedRect(QRectF(1.5, 8.5, 3.2, 5.5), 1, 1);
        painter.drawRoundedRect(QRectF(11.3, 8.5, 3.2, 5.5), 1, 1);
    } else if (s.startsWith(QStringLiteral("play")) || s.startsWith(QStringLiteral("pause")) ||
               s == QStringLiteral("stop.fill")) {
        const bool circled = s.endsWith(QStringLiteral(".circle"));
        if (circled) {
            painter.drawEllipse(QRectF(1, 1, 14, 14));
            painter.translate(8, 8);
            painter.scale(0.55, 0.55);
            painter.translate(-8, -8);
        }
        const bool outline = s == QStringLiteral("play");
        if (!outline) {
            fill();
        }
        if (s.startsWith(QStringLiteral("play"))) {
            painter.drawPolygon(QPolygonF{QPointF(4, 2.5), QPointF(13.5, 8), QPointF(4, 13.5)});
        } else if (s.startsWith(QStringLiteral("pause"))) {
            painter.drawRoundedRect(QRectF(3.5, 2.5, 3.2, 11), 1, 1);
            painter.drawRoundedRect(QRectF(9.3, 2.5, 3.2, 11), 1, 1);
        } else {
            painter.drawRoundedRect(QRectF(3, 3, 10, 10), 1.5, 1.5);
        }
    } else if (s == QStringLiteral("ellipsis")) {
        fill();
        for (qreal x : {3.5, 8.0, 12.5}) {
            painter.drawEllipse(QPointF(x, 8), 1.4, 1.4);
        }
    } else if (s == QStringLiteral("magnifyingglass")) {
        painter.drawEllipse(QRectF(2, 2, 8.5, 8.5));
        painter.drawLine(QPointF(9.5, 9.5), QPointF(14, 14));
    } else if (s == QStringLiteral("exclamationmark.circle")) {
        painter.drawEllipse(QRectF(1, 1, 14, 14));
        painter.drawLine(QPointF(8, 4.5), QPointF(8, 9));
        fill();
        painter.drawEllipse(QPointF(8, 11.6), 1, 1);
    } else if (s == QStringLiteral("questionmark.circle")) {
        painter.drawEllipse(QRectF(1, 1, 14, 14));
        QPainterPath hook;
        hook.moveTo(5.8, 6.2);
        hook.cubicTo(5.8, 3.4, 10.2, 3.4, 10.2, 6.2);
        hook.cubicTo(10.2, 7.9, 8, 8, 8, 9.6);
        painter.drawPath(hook);
        fill();
        painter.drawEllipse(QPointF(8, 12), 1, 1);
    } else if (s == QStringLiteral("trash")) {
        painter.drawLine(QPointF(2.5, 4), QPointF(13.5, 4));
        painter.drawPolyline(
            QPolygonF{QPointF(6, 4), QPointF(6, 2), QPointF(10, 2), QPointF(10, 4)});
        painter.drawPolyline(
            QPolygonF{QPointF(3.8, 4), QPointF(4.6, 14), QPointF(11.4, 14), QPointF(12.2, 4)});
        painter.drawLine(QPointF(6.6, 6.8), QPointF(6.8, 11.4));
        painter.drawLine(QPointF(9.4, 6.8), QPointF(9.2, 11.4));
    } else if (s == QStringLiteral("lock")) {
        painter.drawRoundedRect(QRectF(3, 7, 10, 7.5), 1.5, 1.5);
        painter.drawArc(QRectF(5, 2, 6, 9), 0, 180 * 16);
        painter.drawLine(QPointF(5, 6.5), QPointF(5, 7));
        painter.drawLine(QPointF(11, 6.5), QPointF(11, 7));
    } else {
        fill();
        painter.drawEllipse(QRectF(4, 4, 8, 8));
    }
    painter.restore();
}

} // namespace kivo::KivoSymbols
