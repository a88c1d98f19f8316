#pragma once

// The records the library page lists, as a list model for a view that draws only the rows on
// screen: the filtered, ordered records of the application model, what is known of their files
// (looked for off the main thread, so a slow or unmounted folder never stalls the window) and
// which one plays.
//
// Main thread only.

#include "domain/RecordingRecord.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QThreadPool>
#include <QUuid>

#include <optional>

namespace kivo {

class LibraryListModel : public QAbstractListModel {
    Q_OBJECT

public:
    // What is known of a record's files; `checked` false until they were first looked for.
    struct Files {
        bool checked = false;
        QList<bool> present; // per file, in the record's order
        qint64 bytes = 0;    // of the files present
        bool firstPresent() const { return !checked || (!present.isEmpty() && present.front()); }
        bool missing() const { return checked && !firstPresent(); }
    };

    explicit LibraryListModel(QObject* parent = nullptr);
    ~LibraryListModel() override;

    // Shows `records`. The same records in the same order keep the view where it is (only their
    // texts are redrawn); others replace the list. Files not looked for yet are looked for.
    void setRecords(const QList<RecordingRecord>& records);
    // The record that plays (with the pause symbol) and whether any can be played now.
    void setPlayback(std::optional<QUuid> playing, bool canPlay);
    // Looks for the files of the rows `first` to `last` again, or of every row.
    void checkFiles(int first, int last);
    void checkAllFiles();

    const RecordingRecord& record(int row) const { return m_records.at(row); }
    Files files(int row) const { return m_files.value(m_records.at(row).id()); }
    bool isPlaying(int row) const { return m_playing && m_records.at(row).id() == *m_playing; }
    bool canPlay(int row) const { return m_canPlay && files(row).firstPresent(); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    // The name (display, tooltip) and, for screen readers, the whole row in words.
    QVariant data(const QModelIndex& index, int role) const override;

signals:
    // What is known of some rows' files changed.
    void filesChecked();

private:
    void check(QList<RecordingRecord> records);

    QList<RecordingRecord> m_records;
    QHash<QUuid, Files> m_files;
    std::optional<QUuid> m_playing;
    bool m_canPlay = true;
    // One thread, so that a folder that hangs holds up only these checks.
    QThreadPool m_checks;
    bool m_checking = false;
    std::optional<QList<RecordingRecord>> m_nextCheck; // asked for while one runs
};

} // namespace kivo
