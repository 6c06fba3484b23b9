#pragma once

#include <QString>

// An error as the sync side reports it. Errors the system makes itself carry an
// empty domain and code 0; errors of the HTTP layer keep theirs.
struct ServerError {
    QString domain;
    int code = 0;
    QString description;
    // What the service said with a refusal (the "msg" of a 429 reply), for the
    // user to read; empty when it said nothing.
    QString serviceMessage = QString();

    // The text to show the user.
    const QString &shownText() const { return serviceMessage.isEmpty() ? description : serviceMessage; }

    static ServerError own(const QString &description) { return ServerError{QString(), 0, description}; }
};

// The outcome of a server call: a success message, or an error.
class ServerResult {
public:
    static ServerResult success(const QString &message) { return ServerResult(true, message, {}); }
    static ServerResult failure(const ServerError &error) { return ServerResult(false, {}, error); }

    bool isSuccess() const { return m_ok; }
    const QString &message() const { return m_message; }
    const ServerError &error() const { return m_error; }

private:
    ServerResult(bool ok, QString message, ServerError error)
        : m_ok(ok), m_message(std::move(message)), m_error(std::move(error)) {}
    bool m_ok;
    QString m_message;
    ServerError m_error;
};
