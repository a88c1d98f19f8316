#pragma once

// One recording in the library list: its source symbol, name, source, date and size (or that
// its file is missing), format, length, and its actions: play, show in the file manager, and a
// menu to rename, share or move it to the trash. The row only shows and announces; the library
// page acts.
//
// Main thread only.

#include "domain/RecordingRecord.h"

#include <QWidget>

class QAction;
class QMenu;
class QToolButton;

namespace kivo {

class LibraryRow : public QWidget {
    Q_OBJECT

public:
    // Widths of the format, length and action columns, shared with the list's header.
    static constexpr int kFormatWidth = 72;
    static constexpr int kLengthWidth = 88;
    static constexpr int kActionsWidth = 118;

    // `firstFileExists`: the record's first (merged) file is on disk.
    LibraryRow(RecordingRecord record, bool firstFileExists, QWidget* parent = nullptr);

    const RecordingRecord& record() const { return m_record; }
    bool firstFileExists() const { return m_firstFileExists; }

    // "pause.circle" while this record plays; play is offered only when `canPlay`.
    void setPlayback(bool playing, bool canPlay);
    // Renaming and moving to the trash change the library: offered only when `allowed`.
    void setChangesAllowed(bool allowed);
    // The play button's symbol now.
    const QString& playSymbol() const { return m_playSymbol; }

    QToolButton* playButton() const { return m_play; }
    QToolButton* revealButton() const { return m_reveal; }
    QMenu* menu() const { return m_menu; }
    QAction* renameAction() const { return m_rename; }
    QAction* shareAction() const { return m_share; }
    QAction* trashAction() const { return m_trash; }

signals:
    void playRequested();
    void revealRequested();
    void renameRequested();
    void shareRequested();
    void trashRequested();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    RecordingRecord m_record;
    bool m_firstFileExists;
    QString m_playSymbol;
    QToolButton* m_play;
    QToolButton* m_reveal;
    QToolButton* m_more;
    QMenu* m_menu;
    QAction* m_rename;
    QAction* m_share;
    QAction* m_trash;
};

} // namespace kivo
