#include "ui/WindowMemory.h"

#include "ui/WindowFitting.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QWidget>

namespace kivo {

namespace {

const QString kSize = QStringLiteral("window/size");
const QString kMaximized = QStringLiteral("window/maximized");

} // namespace

WindowMemory::WindowMemory(QWidget& window, QString file)
    : m_window(window)
    , m_file(std::move(file))
    , m_normalSize(window.size()) {
    m_saveLater.setSingleShot(true);
    m_saveLater.setInterval(500);
    connect(&m_saveLater, &QTimer::timeout, this, &WindowMemory::save);
    m_window.installEventFilter(this);
}

WindowMemory::~WindowMemory() {
    if (m_saveLater.isActive()) {
        save();
    }
}

QString WindowMemory::defaultFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Kivo/window.conf");
}

bool WindowMemory::restore(std::optional<QRect> area) {
    const QSettings settings(m_file, QSettings::IniFormat);
    const QSize remembered = settings.value(kSize).toSize();
    if (remembered.isValid()) {
        if (!area) {
            if (const QScreen* screen = m_window.screen() != nullptr
                                            ? m_window.screen()
                                            : QGuiApplication::primaryScreen()) {
                area = screen->availableGeometry();
            }
        }
        QSize size = remembered;
        if (area) {
            const int margin = WindowFitting::kMargin;
            size = size.boundedTo(area->adjusted(margin, margin, -margin, -margin).size());
        }
        m_window.resize(size.expandedTo(m_window.minimumSize()));
        m_normalSize = m_window.size();
    }
    return settings.value(kMaximized, false).toBool();
}

bool WindowMemory::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &m_window) {
        if (event->type() == QEvent::Resize && m_window.isVisible() &&
            !(m_window.windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))) {
            m_normalSize = m_window.size();
            m_saveLater.start();
        } else if (event->type() == QEvent::WindowStateChange) {
            m_saveLater.start();
        }
    }
    return QObject::eventFilter(watched, event);
}

void WindowMemory::save() {
    m_saveLater.stop();
    if (m_file.isEmpty()) {
        return;
    }
    QDir().mkpath(QFileInfo(m_file).absolutePath());
    QSettings settings(m_file, QSettings::IniFormat);
    settings.setValue(kSize, m_normalSize);
    settings.setValue(kMaximized, bool(m_window.windowState() & Qt::WindowMaximized));
    settings.sync();
}

} // namespace kivo
