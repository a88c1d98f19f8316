#include "infrastructure/system/RunningKivo.h"

#include "infrastructure/system/RecorderBus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

namespace kivo {

namespace {

constexpr int kAnswerMilliseconds = 10000;

} // namespace

bool RunningKivo::isRunning() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface()->isServiceRegistered(RecorderBus::kServiceName);
}

RunningKivo::Answer RunningKivo::call(const QString& method, const QVariantList& arguments) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return {Outcome::notRunning, QStringLiteral("無法連線到工作階段的 D-Bus。")};
    }
    if (!bus.interface()->isServiceRegistered(RecorderBus::kServiceName)) {
        return {Outcome::notRunning, QStringLiteral("Kivo 沒有在執行。")};
    }
    auto message = QDBusMessage::createMethodCall(
        RecorderBus::kServiceName, RecorderBus::kObjectPath, RecorderBus::kInterfaceName, method);
    message.setArguments(arguments);
    const QDBusMessage reply = bus.call(message, QDBus::Block, kAnswerMilliseconds);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        return {Outcome::taken, QString()};
    }
    if (reply.errorName() == RecorderBus::kErrorName) {
        return {Outcome::refused, reply.errorMessage()};
    }
    // The program went away or hangs: not reached, in its own words.
    return {Outcome::notRunning, QStringLiteral("Kivo 沒有回應：") + reply.errorMessage()};
}

QVariantMap RunningKivo::properties() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return {};
    }
    auto message = QDBusMessage::createMethodCall(
        RecorderBus::kServiceName, RecorderBus::kObjectPath,
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
    message << RecorderBus::kInterfaceName;
    const QDBusReply<QVariantMap> reply = bus.call(message, QDBus::Block, kAnswerMilliseconds);
    return reply.isValid() ? reply.value() : QVariantMap();
}

} // namespace kivo
