#pragma once

#include "ServerResult.h"

#include <QByteArray>
#include <QString>
#include <exception>
#include <nlohmann/json.hpp>

// The store's, the SQLite layer's and the JSON parser's errors keep their own
// identity; anything else becomes an error of the system's own.
ServerError errorFrom(const std::exception &error);
// For a catch-all handler: the error being handled.
ServerError currentError();
// A failure of the system's own with the given description.
ServerResult ownFailure(const QString &description);

// A reply body parsed as JSON; throws the parser's error.
nlohmann::ordered_json parseReply(const QByteArray &body);
QString toQString(const nlohmann::ordered_json &text);
