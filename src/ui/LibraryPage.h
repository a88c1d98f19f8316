#pragma once

// The library page: the finished recordings with a search field and source and order pickers,
// one row per recording (play, show in the file manager, rename, share, move to the trash), the
// empty states, and the player bar under the list. The list, the search and the playback live in
// the model; the page only shows them and passes the user's choices on.
//
// Main thread only.

#include "domain/RecordingRecord.h"

#include <QElapsedTimer>
#include <QList>
#include <QUuid>
#include <QWidget>

class QLabel;
class QLineEdit;
class QVBoxLayout;

namespace kivo {

class AppModel;
class DesktopActions;
class KivoPicker;
class LibraryRow;
class Panel;
class PlayerBar;

class LibraryPage : public QWidget {
    Q_OBJECT

public:
    LibraryPage(AppModel& model, DesktopActions& desktop, QWidget* parent = nullptr);

    // Shows the model as it is now. The rows are built again only when the listed records, their
    // names or which of their files exist change; otherwise only their play buttons follow.
    void refresh();

    QLineEdit* searchField() const { return m_search; }
    KivoPicker* sourcePicker() const { return m_source; }
    KivoPicker* orderPicker() const { return m_order; }
    // The rows shown now, in list order.
    const QList<LibraryRow*>& rows() const { return m_rows; }
    PlayerBar* playerBar() const { return m_player; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // What a row shows that can change while it is listed.
    struct RowKey {
        QUuid id;
        QString name;
        QList<bool> present;
        bool operator==(const RowKey&) const = default;
    };

    void rebuildRows(const QList<RecordingRecord>& records, const QList<RowKey>& keys);
    void reveal(const RecordingRecord& record);
    void rename(const RecordingRecord& record);
    void share(const RecordingRecord& record);
    void confirmTrash(const RecordingRecord& record);

    AppModel& m_model;
    DesktopActions& m_desktop;
    QLineEdit* m_search;
    KivoPicker* m_source;
    KivoPicker* m_order;
    Panel* m_list;
    QWidget* m_header;
    QWidget* m_rowsBox;
    QVBoxLayout* m_rowsLayout;
    QWidget* m_empty;
    QLabel* m_emptySymbol;
    QLabel* m_emptyTitle;
    QLabel* m_emptyMessage;
    PlayerBar* m_player;
    QList<LibraryRow*> m_rows;
    QList<RowKey> m_keys;
    // When the files were last looked for.
    QElapsedTimer m_filesChecked;
    static constexpr qint64 kFileCheckMilliseconds = 3000;
};

} // namespace kivo
