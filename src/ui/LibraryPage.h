#pragma once

// The library page: the finished recordings with a search field and source and order pickers,
// the list of records (play, show in the file manager, rename, share, move to the trash), the
// empty states, and the player bar under the list. The list, the search and the playback live in
// the model; the page only shows them and passes the user's choices on.
//
// Main thread only.

#include "domain/RecordingRecord.h"

#include <QTimer>
#include <QWidget>

class QLabel;
class QLineEdit;

namespace kivo {

class AppModel;
class DesktopActions;
class KivoPicker;
class LibraryList;
class LibraryListModel;
class Panel;
class PlayerBar;

class LibraryPage : public QWidget {
    Q_OBJECT

public:
    // While the page is shown, the files of the rows on screen are looked for this often.
    static constexpr int kFileCheckMilliseconds = 3000;

    LibraryPage(AppModel& model, DesktopActions& desktop, QWidget* parent = nullptr);

    // Shows the model as it is now. The list is given new records only when the model's list
    // changed; otherwise only the playing row follows.
    void refresh();

    QLineEdit* searchField() const { return m_search; }
    KivoPicker* sourcePicker() const { return m_source; }
    KivoPicker* orderPicker() const { return m_order; }
    LibraryList* list() const { return m_list; }
    LibraryListModel* listModel() const { return m_listModel; }
    PlayerBar* playerBar() const { return m_player; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void reveal(const RecordingRecord& record);
    void rename(const RecordingRecord& record);
    void share(const RecordingRecord& record);
    void confirmTrash(const RecordingRecord& record);
    // The record's files that were found (all of them, before they were looked for).
    QList<QUrl> existingFiles(const RecordingRecord& record) const;

    AppModel& m_model;
    DesktopActions& m_desktop;
    QLineEdit* m_search;
    KivoPicker* m_source;
    KivoPicker* m_order;
    Panel* m_panel;
    QWidget* m_header;
    LibraryListModel* m_listModel;
    LibraryList* m_list;
    QWidget* m_empty;
    QLabel* m_emptySymbol;
    QLabel* m_emptyTitle;
    QLabel* m_emptyMessage;
    PlayerBar* m_player;
    // The model's list revision the list shows; none before the first refresh.
    std::optional<quint64> m_shownRevision;
    QTimer m_fileCheck;
};

} // namespace kivo
