#include "infrastructure/system/LinuxServices.h"

#include "application/RecordingCoordinator.h"
#include "infrastructure/audio/FfmpegAudioPlayerFactory.h"
#include "infrastructure/capture/AudioCaptureService.h"
#include "infrastructure/storage/KivoFolders.h"
#include "infrastructure/storage/LibraryStore.h"
#include "infrastructure/storage/LinuxSessionFolders.h"
#include "infrastructure/system/DesktopIdleInhibitor.h"
#include "infrastructure/system/FreedesktopTrash.h"
#include "infrastructure/system/LogindSleepMonitor.h"
#include "infrastructure/system/PidfdProcessWatcher.h"
#include "infrastructure/system/PulseSourceCatalog.h"

namespace kivo::LinuxServices {

AppServices make(const Options& options) {
    const QString library =
        options.libraryFolder.isEmpty() ? LibraryStore::defaultDirectory() : options.libraryFolder;
    const QUrl output = options.outputFolder.isEmpty()
                            ? QUrl::fromLocalFile(KivoFolders::defaultOutput() + QLatin1Char('/'))
                            : options.outputFolder;

    AppServices services;
    services.backend = std::make_shared<AudioCaptureService>(library + QStringLiteral("/Captures"));
    services.storage = std::make_unique<LibraryStore>(library, output);
    services.sessions = std::make_unique<LinuxSessionFolders>();
    services.trash = std::make_unique<FreedesktopTrash>();
    services.players = std::make_unique<FfmpegAudioPlayerFactory>();
    if (options.soundServer) {
        services.sources = std::make_unique<PulseSourceCatalog>();
    }
    if (options.systemEvents) {
        services.processes = std::make_unique<PidfdProcessWatcher>();
        services.sleep = std::make_unique<LogindSleepMonitor>(options.systemBusAddress);
        services.idle = std::make_unique<DesktopIdleInhibitor>(options.sessionBusAddress,
                                                               options.systemBusAddress);
    }
    services.folderChooser = options.folderChooser;
    services.defaultOutputFolder = output;
    services.clock = monotonicSeconds;
    services.viewOnly = options.viewOnly;
    return services;
}

} // namespace kivo::LinuxServices
