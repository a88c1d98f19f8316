#include "ui/LibraryListModel.h"

#include "application/AppModel.h"
#include "application/Background.h"
#include "ui/DateText.h"

#include <QFileInfo>

namespace kivo {

namespace {

using Found = QList<std::pair<QUuid, LibraryListModel::Files>>;

Found lookFor(const QList<RecordingRecord>& records) {
    Found found;
    found.reserve(records.size());
    for (const RecordingRecord& record : records) {
        LibraryListModel::Files files;
        files.checked = true;
        for (const QUrl& url : record.files()) {
            const QFileInfo info(url.toLocalFile());
            const bool exists = info.exists();
            files.present.append(exists);
            files.bytes += exists ? info.size() : 0;
        }
        found.append({record.id(), files});
    }
    return found;
}

bool sameRecords(const QList<RecordingRecord>& a, const QList<RecordingRecord>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const auto& x, const auto& y) { return x.id() == y.id(); });
}

} // namespace

LibraryListModel::LibraryListModel(QObject* parent)
    : QAbstractListModel(parent) {
    m_checks.setMaxThreadCount(1);
}

LibraryListModel::~LibraryListModel() {
    // A check on a folder that hangs is not waited for: its result is dropped.
    m_checks.clear();
}

void LibraryListModel::setRecords(const QList<RecordingRecord>& records) {
    if (sameRecords(records, m_records)) {
        m_records = records;
        if (!m_records.isEmpty()) {
            emit dataChanged(index(0), index(int(m_records.size()) - 1));
        }
    } else {
        beginResetModel();
        m_records = records;
        endResetModel();
    }
    // Rows whose files were looked for already are looked for again with the rows on screen.
    QList<RecordingRecord> unknown;
    for (const RecordingRecord& record : m_records) {
        if (!m_files.contains(record.id())) {
            unknown.append(record);
        }
    }
    check(unknown);
}

void LibraryListModel::setPlayback(std::optional<QUuid> playing, bool canPlay) {
    if (playing == m_playing && canPlay == m_canPlay) {
        return;
    }
    const std::optional<QUuid> before = std::exchange(m_playing, playing);
    const bool everyRow = canPlay != m_canPlay;
    m_canPlay = canPlay;
    for (int row = 0; row < int(m_records.size()); ++row) {
        const QUuid& id = m_records.at(row).id();
        if (everyRow || id == before || id == playing) {
            emit dataChanged(index(row), index(row));
        }
    }
}

void LibraryListModel::checkAllFiles() {
    check(m_records);
}

void LibraryListModel::checkFiles(int first, int last) {
    if (first < 0 || last < first || first >= int(m_records.size())) {
        return;
    }
    check(m_records.mid(first, std::min<qsizetype>(last, m_records.size() - 1) - first + 1));
}

void LibraryListModel::check(QList<RecordingRecord> records) {
    if (records.isEmpty()) {
        return;
    }
    if (m_checking) {
        m_nextCheck = std::move(records); // the newest request replaces an older one
        return;
    }
    m_checking = true;
    Background::run(
        this, [records] { return lookFor(records); },
        [this](const Found& found) {
            bool changed = false;
            for (const auto& [id, files] : found) {
                Files& known = m_files[id];
                changed = changed || known.present != files.present || known.bytes != files.bytes ||
                          !known.checked;
                known = files;
            }
            m_checking = false;
            if (changed && !m_records.isEmpty()) {
                emit dataChanged(index(0), index(int(m_records.size()) - 1));
                emit filesChecked();
            }
            if (m_nextCheck) {
                check(*std::exchange(m_nextCheck, std::nullopt));
            }
        },
        &m_checks);
}

int LibraryListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_records.size());
}

QVariant LibraryListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(m_records.size())) {
        return {};
    }
    const RecordingRecord& record = m_records.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return record.name();
    case Qt::AccessibleTextRole:
        return QStringLiteral("%1，%2，%3，%4，%5")
            .arg(record.name(), record.configuration().sourceDescription(),
                 dateTimeText(record.createdAt()), rawValue(record.configuration().format),
                 AppModel::clock(record.duration()));
    case Qt::AccessibleDescriptionRole:
        return QStringLiteral("Enter 播放，選單鍵開啟更多操作");
    default:
        return {};
    }
}

} // namespace kivo
