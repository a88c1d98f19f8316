#include "app/FirstPaintReport.h"

#include "application/MainThread.h"

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <ctime>

#include <unistd.h>

namespace kivo {

FirstPaintReport::FirstPaintReport(QWidget& window)
    : m_window(window) {
    if (qEnvironmentVariableIsSet("KIVO_FIRST_PAINT_REPORT")) {
        // Any widget of the window may paint first; the filter goes once it has.
        qApp->installEventFilter(this);
    }
}

double FirstPaintReport::millisecondsSinceProcessStart() {
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly)) {
        return -1;
    }
    // The fields after the command name (which may hold spaces) start with field 3, the state;
    // field 22 is the start time in clock ticks since boot.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 20) {
        return -1;
    }
    const double started =
        fields[19].toDouble() / static_cast<double>(::sysconf(_SC_CLK_TCK)) * 1000.0;
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6 -
           started;
}

bool FirstPaintReport::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Paint && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == &m_window) {
        qApp->removeEventFilter(this);
        // The paint reaches the screen when the backing store is flushed, right after the
        // widgets have painted; a queued call runs after that.
        MainThread::post(this, [this] {
            std::fprintf(stderr, "first_paint_ms: %.0f\n", millisecondsSinceProcessStart());
            std::fflush(stderr);
            emit reported();
        });
    }
    return QObject::eventFilter(watched, event);
}

} // namespace kivo
