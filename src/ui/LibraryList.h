#pragma once

// The library's list of records: only the rows on screen are drawn, so thousands of records cost
// what a screenful does. Each row's buttons work by mouse (play, show in the file manager, "…"
// for the row's menu); by keyboard the arrows move between rows, Return or Space plays, F2
// renames, Delete moves to the trash, and the menu key (or Shift+F10) opens the row's menu.
//
// Main thread only.

#include "domain/RecordingRecord.h"
#include "ui/LibraryRowDelegate.h"

#include <QListView>

class QMenu;

namespace kivo {

class LibraryListModel;

class LibraryList : public QListView {
    Q_OBJECT

public:
    explicit LibraryList(LibraryListModel& model, QWidget* parent = nullptr);

    // Renaming and moving to the trash change the library: offered only when `allowed`.
    void setChangesAllowed(bool allowed);
    // The row's menu ("重新命名", "分享音檔…", "移至垃圾桶"), made for `row`; the caller shows it.
    QMenu* menuFor(int row);
    // Where a row's button is drawn now, in the viewport's coordinates.
    QRect buttonRect(int row, LibraryRowDelegate::Button button) const;
    // The rows on screen now.
    std::pair<int, int> visibleRows() const;

signals:
    void playRequested(const kivo::RecordingRecord& record);
    void revealRequested(const kivo::RecordingRecord& record);
    void renameRequested(const kivo::RecordingRecord& record);
    void shareRequested(const kivo::RecordingRecord& record);
    void trashRequested(const kivo::RecordingRecord& record);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    void press(int row, LibraryRowDelegate::Button button);
    void showMenu(int row, const QPoint& globalPosition);

    LibraryListModel& m_model;
    LibraryRowDelegate* m_delegate;
    bool m_changesAllowed = true;
    int m_pressedRow = -1;
    LibraryRowDelegate::Button m_pressedButton = LibraryRowDelegate::Button::none;
};

} // namespace kivo
