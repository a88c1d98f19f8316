#include "domain/KivoError.h"

namespace kivo {

KivoError::KivoError(QString text)
    : m_text(std::move(text))
    , m_utf8(m_text.toUtf8()) {}

QString describe(const std::exception& error) {
    if (const auto* kivoError = dynamic_cast<const KivoError*>(&error)) {
        return kivoError->text();
    }
    return QString::fromUtf8(error.what());
}

QString describe(const std::exception_ptr& error) {
    if (!error) {
        return {};
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return describe(e);
    } catch (...) {
        return QStringLiteral("發生未知錯誤。");
    }
}

} // namespace kivo
