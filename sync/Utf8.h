#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The bytes read as UTF-8, or nothing when any byte sequence is invalid or cut
// short. Unlike QString::fromUtf8 nothing is replaced, and a leading byte-order
// mark is kept as a character.
std::optional<QString> strictUtf8(const QByteArray &bytes);
