#pragma once

#include <QString>

#include <exception>
#include <ostream>

/// The one user-facing error of Quenda. Every message is a complete Italian sentence shown as it stands.
/// Thrown by the checks of the core model, the store, the exchange formats and the services; caught at
/// the application model's action boundary.
class QuendaError : public std::exception {
public:
    enum class Kind {
        InvalidContent,     ///< content, state and settings checks
        IncompatibleFormat, ///< a file whose format version is not supported
        MissingRecord,      ///< an operation on a deck, note or card that no longer exists
    };

    static QuendaError invalidContent(const QString& message) { return {Kind::InvalidContent, message}; }
    static QuendaError incompatibleFormat(const QString& message) { return {Kind::IncompatibleFormat, message}; }
    static QuendaError missingRecord() { return {Kind::MissingRecord, {}}; }

    Kind kind() const { return m_kind; }
    /// The payload message (empty for `missingRecord`).
    const QString& message() const { return m_message; }
    /// The text shown to the user.
    QString errorDescription() const;
    const char* what() const noexcept override { return m_utf8.constData(); }

    friend bool operator==(const QuendaError& a, const QuendaError& b) {
        return a.m_kind == b.m_kind && a.m_message == b.m_message;
    }

private:
    QuendaError(Kind kind, const QString& message);
    Kind m_kind;
    QString m_message;
    QByteArray m_utf8;
};

/// A failure of the platform (file system, database engine, JSON reader, archive library). Its
/// description is the platform's own text, shown to the user unchanged.
class PlatformError : public std::exception {
public:
    explicit PlatformError(const QString& description)
        : m_description(description), m_utf8(description.toUtf8()) {}

    const QString& description() const { return m_description; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_description;
    QByteArray m_utf8;
};

/// Lets GoogleTest print the error in failure messages.
void PrintTo(const QuendaError& error, std::ostream* os);
