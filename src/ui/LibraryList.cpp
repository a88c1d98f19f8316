#include "ui/LibraryList.h"

#include "ui/LibraryListModel.h"
#include "ui/Panel.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QToolTip>

namespace kivo {

using Button = LibraryRowDelegate::Button;

LibraryList::LibraryList(LibraryListModel& model, QWidget* parent)
    : QListView(parent)
    , m_model(model)
    , m_delegate(new LibraryRowDelegate(this)) {
    setModel(&m_model);
    setItemDelegate(m_delegate);
    // Every row is as tall as the others: the view lays out none of them to scroll.
    setUniformItemSizes(true);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalScrollBar()->setSingleStep(LibraryRowDelegate::kRowHeight / 2);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFrameShape(QFrame::NoFrame);
    setMouseTracking(true);
    setAccessibleName(QStringLiteral("錄音列表"));
    viewport()->setAutoFillBackground(false);
    setStyleSheet(QStringLiteral("QListView { background: transparent; }"));
}

void LibraryList::setChangesAllowed(bool allowed) {
    m_changesAllowed = allowed;
}

QRect LibraryList::buttonRect(int row, Button button) const {
    return LibraryRowDelegate::buttonRect(visualRect(m_model.index(row)), button);
}

std::pair<int, int> LibraryList::visibleRows() const {
    const QModelIndex first = indexAt(QPoint(1, 1));
    const QModelIndex last = indexAt(QPoint(1, viewport()->height() - 2));
    return {first.isValid() ? first.row() : 0,
            last.isValid() ? last.row() : m_model.rowCount() - 1};
}

QMenu* LibraryList::menuFor(int row) {
    const RecordingRecord record = m_model.record(row);
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* rename = menu->addAction(QStringLiteral("重新命名"));
    QAction* share = menu->addAction(QStringLiteral("分享音檔…"));
    menu->addSeparator();
    QAction* trash = menu->addAction(QStringLiteral("移至垃圾桶"));
    rename->setEnabled(m_changesAllowed);
    trash->setEnabled(m_changesAllowed);
    share->setEnabled(!record.files().isEmpty() && m_model.files(row).firstPresent());
    connect(rename, &QAction::triggered, this, [this, record] { emit renameRequested(record); });
    connect(share, &QAction::triggered, this, [this, record] { emit shareRequested(record); });
    connect(trash, &QAction::triggered, this, [this, record] { emit trashRequested(record); });
    return menu;
}

void LibraryList::showMenu(int row, const QPoint& globalPosition) {
    setCurrentIndex(m_model.index(row));
    menuFor(row)->popup(globalPosition);
}

void LibraryList::press(int row, Button button) {
    const RecordingRecord record = m_model.record(row);
    switch (button) {
    case Button::play:
        if (m_model.canPlay(row)) {
            emit playRequested(record);
        }
        break;
    case Button::reveal:
        emit revealRequested(record);
        break;
    case Button::more: {
        const QRect rect = buttonRect(row, Button::more);
        showMenu(row, viewport()->mapToGlobal(rect.bottomLeft()));
        break;
    }
    case Button::none:
        break;
    }
}

void LibraryList::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    const QModelIndex index = indexAt(at);
    const Button button =
        index.isValid() ? LibraryRowDelegate::buttonAt(visualRect(index), at) : Button::none;
    m_delegate->setHovered(index.isValid() ? index.row() : -1, button);
    viewport()->setCursor(button == Button::none ? Qt::ArrowCursor : Qt::PointingHandCursor);
    viewport()->update();
    QListView::mouseMoveEvent(event);
}

void LibraryList::leaveEvent(QEvent* event) {
    m_delegate->setHovered(-1, Button::none);
    viewport()->update();
    QListView::leaveEvent(event);
}

void LibraryList::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    const QModelIndex index = indexAt(at);
    m_pressedRow = index.isValid() ? index.row() : -1;
    m_pressedButton = index.isValid() && event->button() == Qt::LeftButton
                          ? LibraryRowDelegate::buttonAt(visualRect(index), at)
                          : Button::none;
    QListView::mousePressEvent(event);
}

void LibraryList::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    const QModelIndex index = indexAt(at);
    const Button button =
        index.isValid() ? LibraryRowDelegate::buttonAt(visualRect(index), at) : Button::none;
    QListView::mouseReleaseEvent(event);
    // A click is a press and a release on the same button.
    if (button != Button::none && button == m_pressedButton && index.row() == m_pressedRow) {
        press(index.row(), button);
    }
    m_pressedButton = Button::none;
}

void LibraryList::keyPressEvent(QKeyEvent* event) {
    const QModelIndex current = currentIndex();
    if (current.isValid()) {
        const int row = current.row();
        switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            press(row, Button::play);
            return;
        case Qt::Key_F2:
            if (m_changesAllowed) {
                emit renameRequested(m_model.record(row));
            }
            return;
        case Qt::Key_Delete:
            if (m_changesAllowed) {
                emit trashRequested(m_model.record(row));
            }
            return;
        case Qt::Key_Menu:
            showMenu(row, viewport()->mapToGlobal(visualRect(current).center()));
            return;
        case Qt::Key_F10:
            if (event->modifiers() & Qt::ShiftModifier) {
                showMenu(row, viewport()->mapToGlobal(visualRect(current).center()));
                return;
            }
            break;
        default:
            break;
        }
    }
    QListView::keyPressEvent(event);
}

void LibraryList::contextMenuEvent(QContextMenuEvent* event) {
    if (event->reason() == QContextMenuEvent::Mouse) {
        const QModelIndex index = indexAt(event->pos());
        if (index.isValid()) {
            showMenu(index.row(), event->globalPos());
        }
    }
}

bool LibraryList::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(help->pos());
        if (index.isValid()) {
            const int row = index.row();
            QString text;
            switch (LibraryRowDelegate::buttonAt(visualRect(index), help->pos())) {
            case Button::play:
                text = m_model.isPlaying(row) ? QStringLiteral("暫停播放")
                                              : QStringLiteral("播放錄音");
                break;
            case Button::reveal:
                text = QStringLiteral("在檔案管理員顯示");
                break;
            case Button::more:
                text = QStringLiteral("更多操作");
                break;
            case Button::none:
                text = plainToolTip(m_model.record(row).name());
                break;
            }
            QToolTip::showText(help->globalPos(), text, viewport());
            return true;
        }
    }
    return QListView::viewportEvent(event);
}

} // namespace kivo
