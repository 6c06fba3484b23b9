#include "SyncErrors.h"

#include "Console.h"
#include "DBError.h"

#include <SQLiteCpp/Exception.h>

using nlohmann::ordered_json;

ServerError errorFrom(const std::exception &error)
{
    if (const auto *db = dynamic_cast<const DBError *>(&error))
        return ServerError{QStringLiteral("DBError"), int(db->code()), errorDescription(error)};
    if (const auto *sqlite = dynamic_cast<const SQLite::Exception *>(&error))
        return ServerError{QStringLiteral("SQLite"), sqlite->getErrorCode(), errorDescription(error)};
    if (const auto *json = dynamic_cast<const ordered_json::exception *>(&error))
        return ServerError{QStringLiteral("nlohmann::json"), json->id, errorDescription(error)};
    return ServerError::own(errorDescription(error));
}

ServerError currentError()
{
    try {
        throw;
    } catch (const std::exception &error) {
        return errorFrom(error);
    } catch (...) {
        return ServerError::own(QStringLiteral("Unknown error"));
    }
}

ServerResult ownFailure(const QString &description)
{
    return ServerResult::failure(ServerError::own(description));
}

ordered_json parseReply(const QByteArray &body)
{
    return ordered_json::parse(body.cbegin(), body.cend());
}

QString toQString(const ordered_json &text)
{
    return QString::fromStdString(text.get_ref<const std::string &>());
}
