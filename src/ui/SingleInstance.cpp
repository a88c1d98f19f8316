#include "ui/SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace kivo {

namespace {

constexpr int kAnswerMs = 2000;
// "show\n", or "show <token>\n" with the later start's activation token.
constexpr char kShowRequest[] = "show";

} // namespace

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent)
    , m_name(name.isEmpty() ? defaultName() : std::move(name)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultName() {
    const QString socket = QStringLiteral("kivo-%1").arg(::getuid());
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return runtime.isEmpty() || !QDir(runtime).exists() ? socket : runtime + u'/' + socket;
}

bool SingleInstance::claim() {
    // Two tries: a program starting at the same moment may take the name between our look and
    // our listen; then it answers the second look.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (askRunningToShow()) {
            return false;
        }
        // Nobody answered: whatever is left under the name belongs to a program that is gone.
        QLocalServer::removeServer(m_name);
        auto server = std::make_unique<QLocalServer>(this);
        server->setSocketOptions(QLocalServer::UserAccessOption);
        if (server->listen(m_name)) {
            m_server = server.release();
            connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
            return true;
        }
        qWarning("kivo: cannot listen on %s: %s", qPrintable(m_name),
                 qPrintable(server->errorString()));
    }
    // Neither answering nor listening: run anyway rather than not at all; the library's writer
    // lock still keeps two programs from writing.
    return true;
}

bool SingleInstance::askRunningToShow() const {
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(kAnswerMs)) {
        return false;
    }
    QByteArray request = kShowRequest;
    const QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN").trimmed();
    if (!token.isEmpty() && !token.contains(' ')) {
        request += ' ' + token;
    }
    socket.write(request + '\n');
    socket.waitForBytesWritten(kAnswerMs);
    // The running program closes the connection once it has read the request.
    if (socket.state() == QLocalSocket::ConnectedState) {
        socket.waitForDisconnected(kAnswerMs);
    }
    return true;
}

void SingleInstance::onNewConnection() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            while (socket->canReadLine()) {
                const QByteArray line = socket->readLine(4096).trimmed();
                if (line == kShowRequest || line.startsWith(QByteArray(kShowRequest) + ' ')) {
                    emit activationRequested(QString::fromUtf8(line.mid(5)));
                }
                socket->disconnectFromServer();
            }
        });
    }
}

} // namespace kivo
