#pragma once

// Session folders on this computer: a session is exported on a thread of its own, so the main
// event loop keeps running, and its progress and outcome come back to the main thread.
//
// Main thread: construct, call and destroy it on the thread whose event loop receives the
// callbacks.

#include "application/PlatformServices.h"

#include <QObject>
#include <QPointer>

#include <memory>

namespace kivo {

class LinuxSessionFolders : public SessionFolders {
public:
    LinuxSessionFolders();
    // An export still running goes on to its end, but none of its callbacks is called any more.
    ~LinuxSessionFolders() override;
    LinuxSessionFolders(const LinuxSessionFolders&) = delete;
    LinuxSessionFolders& operator=(const LinuxSessionFolders&) = delete;

    // SessionExport::exportSession() of the item's folder with the length of its longest
    // track. `completion` is called once, unless this object is destroyed first.
    void exportSession(const RecoveryItem& item, std::function<void(double)> progress,
                       std::function<void(Result<RecordingRecord>)> completion) override;
    void remove(const QString& directory) override;

private:
    // The export threads, which may outlive this object, post their callbacks to run on the
    // main thread while it lives.
    QObject m_lifetime;
    const QPointer<QObject> m_alive{&m_lifetime};
};

} // namespace kivo
