#include "core/QuendaError.h"

QuendaError::QuendaError(Kind kind, const QString& message)
    : m_kind(kind), m_message(message), m_utf8(errorDescription().toUtf8()) {}

QString QuendaError::errorDescription() const {
    if (m_kind == Kind::MissingRecord)
        return QStringLiteral("Questo elemento non è più disponibile.");
    return m_message;
}

void PrintTo(const QuendaError& error, std::ostream* os) {
    static const char* const names[] = {"invalidContent", "incompatibleFormat", "missingRecord"};
    *os << names[static_cast<int>(error.kind())] << "(\"" << error.what() << "\")";
}
