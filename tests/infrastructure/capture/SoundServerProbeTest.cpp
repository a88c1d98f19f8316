#include "CaptureTestSupport.h"
#include "TestMain.h"

#include "infrastructure/capture/SoundServerProbe.h"

#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <thread>

using namespace kivo;
using namespace Qt::StringLiterals;

namespace {

// A server on `path` that takes one client and answers its first request (the handshake) with
// the error "access denied", as a server does to a client it does not let in.
class RefusingServer {
public:
    explicit RefusingServer(const QString& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, path.toLocal8Bit().constData(), sizeof(address.sun_path));
        m_socket = socket(AF_UNIX, SOCK_STREAM, 0);
        bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        listen(m_socket, 1);
        m_thread = std::thread([this] { refuseOne(); });
    }
    ~RefusingServer() {
        shutdown(m_socket, SHUT_RDWR);
        m_thread.join();
        close(m_socket);
    }

private:
    void refuseOne() const {
        const int client = accept(m_socket, nullptr, nullptr);
        std::array<uchar, 64> request{};
        if (client >= 0 && recv(client, request.data(), request.size(), MSG_WAITALL) >= 30) {
            // A packet: five big-endian words (length, channel, offsets, flags), then the
            // tagged values "L ERROR", "L <the request's tag>", "L PA_ERR_ACCESS".
            std::array<uchar, 35> reply{};
            qToBigEndian<quint32>(15, reply.data());
            qToBigEndian<quint32>(0xffffffffU, reply.data() + 4);
            for (int i = 0; i < 3; ++i) {
                reply[std::size_t(20 + 5 * i)] = 'L';
            }
            std::copy_n(request.data() + 26, 4, reply.data() + 26); // the AUTH request's tag
            qToBigEndian<quint32>(1, reply.data() + 31);
            send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
            while (recv(client, request.data(), request.size(), 0) > 0) {
            }
        }
        if (client >= 0) {
            close(client);
        }
    }

    int m_socket = -1;
    std::thread m_thread;
};

} // namespace

// The settings page's answer to "is the sound server there": connected, nobody there, or a
// server that turns Kivo away.
class SoundServerProbeTest : public QObject {
    Q_OBJECT

private slots:
    void tellsHowTheServerAnswered_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<SoundServerReach>("expected");
        QTest::newRow("the test server") << u"test"_s << SoundServerReach::connected;
        QTest::newRow("no server on the socket") << u"none"_s << SoundServerReach::unreachable;
        QTest::newRow("a server denying access") << u"refusing"_s << SoundServerReach::refused;
    }

    void tellsHowTheServerAnswered() {
        QFETCH(QString, server);
        QFETCH(SoundServerReach, expected);
        KIVO_REQUIRE_SOUND_SERVER();
        QTemporaryDir folder(u"/tmp/kivo-probe-XXXXXX"_s);
        const QString socket = folder.filePath(u"native"_s);
        std::optional<RefusingServer> refusing;
        if (server == u"refusing"_s) {
            refusing.emplace(socket);
        }
        std::optional<test::ScopedPulseServer> address;
        if (server != u"test"_s) {
            address.emplace("unix:" + socket.toLocal8Bit());
        }
        QCOMPARE(probeSoundServer(), expected);
    }
};

KIVO_TEST_CLASS(SoundServerProbeTest)
#include "SoundServerProbeTest.moc"
