#include "infrastructure/storage/LinuxSessionFolders.h"

#include "infrastructure/audio/AudioRecordingWriter.h"
#include "infrastructure/storage/FileOperations.h"

#include <QMetaObject>

#include <mutex>
#include <thread>

namespace kivo {

// Where export threads post their callbacks: an object living on the main thread for as long as
// the LinuxSessionFolders does. Destroying it drops the calls still queued for it; the mutex
// keeps a thread from posting to it while it goes.
struct LinuxSessionFolders::Mailbox {
    std::mutex mutex;
    std::unique_ptr<QObject> receiver = std::make_unique<QObject>(); // guarded by mutex

    // Any thread: runs `call` on the receiver's thread, unless the receiver is gone by then.
    template <typename Call>
    void post(Call call) {
        std::lock_guard lock(mutex);
        if (receiver) {
            QMetaObject::invokeMethod(receiver.get(), std::move(call), Qt::QueuedConnection);
        }
    }
};

LinuxSessionFolders::LinuxSessionFolders()
    : m_mailbox(std::make_shared<Mailbox>()) {}

LinuxSessionFolders::~LinuxSessionFolders() {
    std::unique_ptr<QObject> receiver;
    {
        std::lock_guard lock(m_mailbox->mutex);
        receiver = std::move(m_mailbox->receiver);
    }
}

void LinuxSessionFolders::exportSession(const RecoveryItem& item,
                                        std::function<void(double)> progress,
                                        std::function<void(Result<RecordingRecord>)> completion) {
    // The callbacks travel to the main thread with the calls posted there, the last of which
    // takes them along, so they are neither called nor released on the export thread (unless
    // this object is gone and nothing can be posted any more).
    auto onProgress = std::make_shared<std::function<void(double)>>(std::move(progress));
    std::thread([mailbox = m_mailbox, item, onProgress,
                 completion = std::move(completion)]() mutable {
        // The export reports in steps already (AudioRecordingWriter::kExportProgressStep).
        const auto forward = [&](double fraction) {
            mailbox->post([onProgress, fraction] {
                if (*onProgress) {
                    (*onProgress)(fraction);
                }
            });
        };
        auto result = Result<RecordingRecord>::capture([&] {
            return AudioRecordingWriter::exportSession(item.manifest, item.directory, std::nullopt,
                                                       forward);
        });
        mailbox->post([completion = std::move(completion), onProgress = std::move(onProgress),
                       result = std::move(result)]() mutable {
            if (completion) {
                completion(std::move(result));
            }
        });
    }).detach();
}

void LinuxSessionFolders::remove(const QString& directory) {
    FileOperations::removeFolder(directory);
}

} // namespace kivo
