#pragma once

// What kivo-cli shares between its commands: printing to the terminal, the model's messages on
// stderr, and Ctrl+C, SIGTERM and SIGHUP turned into an ordinary event of the event loop.

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace kivo {
class AppModel;
} // namespace kivo

namespace kivo::cli {

void printError(const QString& message);
void printLine(const QString& line);
// True when stderr is a terminal: progress lines are drawn only there.
bool stderrIsTerminal();
// "\r" + text, redrawn in place on a terminal.
void showStatus(const QString& text);
// A bar of 12 cells for a level or fraction from 0 to 1.
QString meter(double level);
// The line a recording shows on a terminal: the save's progress while it saves, else the clock
// and both levels.
QString recordingLine(std::optional<double> saving, double elapsed, double system,
                      double microphone);

// Keys typed on the terminal while a recording runs, one at a time as they are pressed: the
// terminal leaves line editing and echo off while this lives (and gets them back after). Does
// nothing when stdin is not a terminal.
class TerminalKeys : public QObject {
    Q_OBJECT

public:
    explicit TerminalKeys(std::function<void(char key)> pressed);
    ~TerminalKeys() override;

private:
    struct Saved;
    std::unique_ptr<Saved> m_saved;
    std::function<void(char)> m_pressed;
};

// Prints each new notice and alert of the model to stderr, once.
class ModelMessages : public QObject {
    Q_OBJECT

public:
    explicit ModelMessages(AppModel& model);
    // Prints what is new now (also called on every change of the model).
    void flush();

private:
    AppModel& m_model;
    std::optional<QString> m_notice;
    std::optional<QString> m_alert;
};

} // namespace kivo::cli
