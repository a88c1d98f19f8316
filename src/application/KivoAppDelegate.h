#pragma once

// The program's answer to a request to quit: at once when nothing runs; after asking, by
// stopping and saving the recording first; not while a recording is starting or being saved or
// a recovery runs. Closing the window never quits (the program stays in the tray).
//
// Main thread only.

#include "application/AppModel.h"
#include "application/PlatformServices.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

namespace kivo {

enum class TerminateReply { cancel = 0, now = 1, later = 2 };

class KivoAppDelegate : public QObject {
    Q_OBJECT

public:
    static const QString kBusyMessage;

    explicit KivoAppDelegate(std::shared_ptr<QuitQuestion> question, QObject* parent = nullptr);

    void setModel(AppModel* model) { m_model = model; }
    AppModel* model() const { return m_model; }

    static bool applicationShouldTerminateAfterLastWindowClosed() { return false; }

    // Answers a request to quit. After `later`, `reply` is called once on the main thread: true
    // when the program may end now (the recording was stopped and saved without an alert, and
    // nothing is saving any more), false when it stays.
    TerminateReply applicationShouldTerminate(std::function<void(bool terminate)> reply);

    bool waitingToQuit() const { return m_waitingToQuit; }

private:
    std::shared_ptr<QuitQuestion> m_question;
    QPointer<AppModel> m_model;
    bool m_waitingToQuit = false;
};

} // namespace kivo
