#include "ui/DialogFolderChooser.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QFileDialog>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QWindow>

namespace kivo {

namespace {

const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");

// A folder URL ends with a slash, as the default output folder does.
QUrl folderUrl(QString folder) {
    return QUrl::fromLocalFile(folder.endsWith(u'/') ? folder : folder + u'/');
}

// The window the chooser is modal to, as the portal names windows: "x11:<id>" on X11; on Wayland
// a window can only be named through an exported handle, so none is named and the desktop
// centres the chooser itself.
QString parentWindow() {
    QWidget* window = QApplication::activeWindow();
    if (window != nullptr && QGuiApplication::platformName() == u"xcb") {
        return QStringLiteral("x11:") + QString::number(window->winId(), 16);
    }
    return {};
}

// Swallows input to Kivo's windows while the desktop's chooser is open, as a modal dialog of
// Kivo's own would: the window keeps painting, but nothing in it is pressed meanwhile.
class InputBlock : public QObject {
public:
    InputBlock() { qApp->installEventFilter(this); }
    ~InputBlock() override { qApp->removeEventFilter(this); }
    InputBlock(const InputBlock&) = delete;
    InputBlock& operator=(const InputBlock&) = delete;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::Wheel:
        case QEvent::TouchBegin:
        case QEvent::Close:
            return true;
        default:
            return false;
        }
    }
};

} // namespace

// Receives the portal's Response signal (QtDBus connects signals to slots only).
class PortalResponse : public QObject {
    Q_OBJECT

public:
    std::optional<uint> code;
    QVariantMap results;

signals:
    void answered();

public slots:
    void receive(uint response, const QVariantMap& values) {
        if (!code) {
            code = response;
            results = values;
            emit answered();
        }
    }
};

DialogFolderChooser::DialogFolderChooser(QString busAddress)
    : m_busAddress(std::move(busAddress)) {}

std::optional<QUrl> DialogFolderChooser::chooseFolder(const QUrl& initialFolder) {
    if (auto answer = askPortal(initialFolder)) {
        return *answer;
    }
    const QString folder = QFileDialog::getExistingDirectory(
        QApplication::activeWindow(), QStringLiteral("選擇資料夾"), initialFolder.toLocalFile(),
        QFileDialog::ShowDirsOnly);
    if (folder.isEmpty()) {
        return std::nullopt;
    }
    return folderUrl(folder);
}

std::optional<std::optional<QUrl>> DialogFolderChooser::askPortal(const QUrl& initialFolder) {
    const QString name = QStringLiteral("kivo-folder-chooser");
    QDBusConnection bus = m_busAddress.isEmpty()
                              ? QDBusConnection::sessionBus()
                              : QDBusConnection::connectToBus(m_busAddress, name);
    const auto disconnect = qScopeGuard([&] {
        if (!m_busAddress.isEmpty()) {
            QDBusConnection::disconnectFromBus(name);
        }
    });
    if (!bus.isConnected()) {
        return std::nullopt;
    }
    // The portal answers on a request object named after this connection and a token of ours;
    // listening there before asking misses no answer. Older portals name it otherwise and say
    // so in their reply, which is listened to as well.
    const QString token =
        QStringLiteral("kivo%1").arg(QRandomGenerator::global()->generate(), 8, 16, QChar(u'0'));
    const QString sender = bus.baseService().mid(1).replace(u'.', u'_');
    const QString expected =
        QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    PortalResponse response;
    const auto listen = [&](const QString& path) {
        bus.connect(kPortal, path, kRequest, QStringLiteral("Response"), &response,
                    SLOT(receive(uint, QVariantMap)));
    };
    listen(expected);

    QString folder = initialFolder.toLocalFile();
    QVariantMap options{{QStringLiteral("handle_token"), token},
                        {QStringLiteral("modal"), true},
                        {QStringLiteral("directory"), true},
                        {QStringLiteral("accept_label"), QStringLiteral("選擇")}};
    if (!folder.isEmpty()) {
        options.insert(QStringLiteral("current_folder"), QFile::encodeName(folder) + '\0');
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        kPortal, QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.FileChooser"), QStringLiteral("OpenFile"));
    call << parentWindow() << QStringLiteral("選擇資料夾") << options;

    const InputBlock block;
    QEventLoop loop;
    bool unavailable = false;
    QObject::connect(&response, &PortalResponse::answered, &loop, &QEventLoop::quit);
    // A portal that goes away with the chooser open leaves no answer to wait for.
    QDBusServiceWatcher watcher(kPortal, bus, QDBusServiceWatcher::WatchForUnregistration);
    QObject::connect(&watcher, &QDBusServiceWatcher::serviceUnregistered, &loop, [&] {
        unavailable = true;
        loop.quit();
    });
    auto* pending = new QDBusPendingCallWatcher(bus.asyncCall(call, 10'000), &loop);
    QObject::connect(pending, &QDBusPendingCallWatcher::finished, &loop, [&] {
        const QDBusPendingReply<QDBusObjectPath> reply = *pending;
        if (reply.isError()) {
            unavailable = true; // no portal, or one without a file chooser
            loop.quit();
        } else if (reply.value().path() != expected) {
            listen(reply.value().path());
        }
    });
    if (!response.code && !unavailable) {
        loop.exec();
    }
    // 0: chosen, 1: cancelled by the user, 2: the portal failed to show a chooser.
    if (!response.code || *response.code == 2) {
        return std::nullopt;
    }
    const QStringList uris = response.results.value(QStringLiteral("uris")).toStringList();
    if (*response.code != 0 || uris.isEmpty()) {
        return std::optional<QUrl>();
    }
    const QUrl chosen(uris.first());
    if (!chosen.isLocalFile()) {
        return std::optional<QUrl>();
    }
    return std::optional<QUrl>(folderUrl(chosen.toLocalFile()));
}

} // namespace kivo

#include "DialogFolderChooser.moc"
