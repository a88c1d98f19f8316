#pragma once

// The one error type of the domain: a message meant for the user, shown unchanged.

#include <QByteArray>
#include <QString>

#include <exception>

namespace kivo {

class KivoError : public std::exception {
public:
    explicit KivoError(QString text);

    // The one case of the error: `KivoError::message(text)`.
    static KivoError message(QString text) { return KivoError(std::move(text)); }

    // The user-visible description: the text, unchanged.
    const QString& text() const noexcept { return m_text; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_text;
    QByteArray m_utf8;
};

// The user-visible description of any error: a KivoError's text, another exception's what()
// read as UTF-8 (platform errors carry their own description there).
QString describe(const std::exception& error);
QString describe(const std::exception_ptr& error);

} // namespace kivo
