#include "infrastructure/storage/LinuxSessionFolders.h"

#include "application/MainThread.h"
#include "infrastructure/audio/SessionExport.h"
#include "infrastructure/files/FileOperations.h"

#include <thread>

namespace kivo {

LinuxSessionFolders::LinuxSessionFolders() = default;

LinuxSessionFolders::~LinuxSessionFolders() = default;

void LinuxSessionFolders::exportSession(const RecoveryItem& item,
                                        std::function<void(double)> progress,
                                        std::function<void(Result<RecordingRecord>)> completion) {
    // The callbacks travel to the main thread with the calls posted there, the last of which
    // takes them along, so they are neither called nor released on the export thread.
    auto onProgress = std::make_shared<std::function<void(double)>>(std::move(progress));
    std::thread([alive = m_alive, item, onProgress, completion = std::move(completion)]() mutable {
        // The export reports in steps already (SessionExport::kProgressStep).
        const auto forward = [&](double fraction) {
            MainThread::post(alive, [onProgress, fraction] {
                if (*onProgress) {
                    (*onProgress)(fraction);
                }
            });
        };
        auto result = Result<RecordingRecord>::capture([&] {
            return SessionExport::exportSession(item.manifest, item.directory, std::nullopt,
                                                forward);
        });
        MainThread::post(alive,
                         [completion = std::move(completion), onProgress = std::move(onProgress),
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
