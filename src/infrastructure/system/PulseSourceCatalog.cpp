#include "infrastructure/system/PulseSourceCatalog.h"

#include "application/Background.h"
#include "application/MainThread.h"

#include "infrastructure/capture/AudioDevices.h"
#include "infrastructure/pulse/PulseConnection.h"
#include "infrastructure/capture/RunningAudioApps.h"

#include <QCollator>
#include <QLocale>

#include <pulse/subscribe.h>

#include <algorithm>

namespace kivo {

namespace {

bool isClientRemoval(int event) {
    return (event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_CLIENT &&
           (event & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE;
}

} // namespace

PulseSourceCatalog::PulseSourceCatalog() {
    m_coalesce.setSingleShot(true);
    m_coalesce.setInterval(kCoalesceDelay);
    QObject::connect(&m_coalesce, &QTimer::timeout, [this] {
        if (onClientRemoved) {
            onClientRemoved();
        }
    });

    try {
        m_connection = std::make_shared<PulseConnection>();
    } catch (const PlatformError&) {
        return;
    }
    PulseConnection::Lock lock(*m_connection);
    m_connection->addListener(
        [this, timer = QPointer<QObject>(&m_coalesce)](int event, quint32) {
            if (isClientRemoval(event)) {
                // Pulse thread: the timer is the main thread's, so restart it there.
                MainThread::post(timer, [this] { m_coalesce.start(); });
            }
        },
        nullptr);
}

PulseSourceCatalog::~PulseSourceCatalog() = default;

namespace {

bool connected(const std::shared_ptr<PulseConnection>& connection) {
    if (!connection) {
        return false;
    }
    PulseConnection::Lock lock(*connection);
    return connection->isConnected();
}

} // namespace

bool PulseSourceCatalog::hasConnection() const {
    return connected(m_connection);
}

void PulseSourceCatalog::listInBackground(QObject* context, std::function<void(Lists)> done) {
    Background::run(
        context,
        [connection = m_connection] {
            Lists lists;
            if (!connected(connection)) {
                lists.applications = sortedByName(RunningAudioApps::list());
                lists.inputs = AudioDevices::inputs();
                return lists;
            }
            try {
                lists.applications = sortedByName(RunningAudioApps::list(*connection));
            } catch (const PlatformError&) {
                // The picker shows no programs while the server is away.
            }
            lists.inputs = AudioDevices::inputs(*connection);
            return lists;
        },
        std::move(done));
}

// The lists come over the catalog's own connection while it lasts: a connection opened just for
// a listing would leave the server when done, and its removal would be reported as a program
// quitting, which asks for the lists again.
std::vector<RunningAudioApp> PulseSourceCatalog::applications() {
    if (!hasConnection()) {
        return sortedByName(RunningAudioApps::list());
    }
    try {
        return sortedByName(RunningAudioApps::list(*m_connection));
    } catch (const PlatformError&) {
        // The picker shows no programs while the server is away, as without a connection.
        return {};
    }
}

std::vector<AudioInputDevice> PulseSourceCatalog::inputs() {
    return hasConnection() ? AudioDevices::inputs(*m_connection) : AudioDevices::inputs();
}

std::vector<RunningAudioApp> PulseSourceCatalog::sortedByName(std::vector<RunningAudioApp> apps) {
    // The C locale would compare code points; names are ordered as a person reads them.
    auto locale = QLocale();
    if (locale.language() == QLocale::C) {
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    }
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(apps.begin(), apps.end(), [&](const auto& a, const auto& b) {
        return collator.compare(a.name, b.name) < 0;
    });
    return apps;
}

} // namespace kivo
