#include "application/KivoAppDelegate.h"

#include "application/MainThread.h"

#include <QTimer>

namespace kivo {

const QString KivoAppDelegate::kBusyMessage =
    QStringLiteral("正在啟動、保存或復原，請稍後再退出。");

KivoAppDelegate::KivoAppDelegate(std::shared_ptr<QuitQuestion> question, QObject* parent)
    : QObject(parent)
    , m_question(std::move(question)) {}

TerminateReply KivoAppDelegate::applicationShouldTerminate(std::function<void(bool)> reply) {
    if (!m_model) {
        return TerminateReply::now;
    }
    const auto idle = [this] {
        return m_model->coordinator().state() == RecordingState::idle && !m_model->recovering() &&
               !m_model->stopInProgress();
    };
    if (idle()) {
        return TerminateReply::now;
    }
    if (m_waitingToQuit) {
        return TerminateReply::cancel;
    }
    if (!m_question || !m_question->confirmStopAndQuit()) {
        return TerminateReply::cancel;
    }
    // The question was modal: the state is read again, a stop may have begun meanwhile.
    const RecordingState state = m_model->coordinator().state();
    if (state != RecordingState::recording && state != RecordingState::paused) {
        if (idle()) {
            // A stop that failed while the question was open: its alert must be read first.
            return m_model->alertMessage() ? TerminateReply::cancel : TerminateReply::now;
        }
        m_model->setAlertMessage(kBusyMessage);
        return TerminateReply::cancel;
    }
    m_waitingToQuit = true;
    const QPointer<KivoAppDelegate> self(this);
    // Posted to the application, not to this delegate: the reply is owed even if it goes.
    MainThread::post(QCoreApplication::instance(), [self, reply = std::move(reply)] {
        if (!self || !self->m_model) {
            if (reply) {
                reply(true);
            }
            return;
        }
        // stop() also waits for a stop that began elsewhere (a capture failure, sleep) and is
        // still saving, so the program never ends in the middle of a save.
        self->m_model->stop([self, reply] {
            if (!self) {
                return;
            }
            self->m_waitingToQuit = false;
            if (reply) {
                reply(!self->m_model || !self->m_model->alertMessage());
            }
        });
    });
    return TerminateReply::later;
}

} // namespace kivo
