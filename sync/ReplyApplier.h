#pragma once

#include "Note.h"
#include "ServerResult.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <nlohmann/json.hpp>

// The handling of a sync reply that arrived whole, apart from the window's
// thread: parsing tens of megabytes and writing a hundred thousand notes takes
// seconds. Every function here may run on any thread and prints the sync's
// failure lines itself.
namespace ReplyApplier {

// Each note as the request carried it, by identifier.
using SentNotes = QHash<QString, Note>;

// How handleReply() reads the reply: the fast reader for the common valid
// reply with the full tree for anything else, or the full tree alone. Both
// give the same result and lines; the second exists to show that they do.
enum class Parsing { fastFirst, treeOnly };

// Parses the reply, checks its form and applies a 602 reply's notes to the
// store at `databasePath`. Never throws: every failure is the result.
ServerResult handleReply(const QByteArray &body, const SentNotes &sent, const QString &databasePath,
                         Parsing parsing = Parsing::fastFirst);

// Purges the notes sent as deleted, then stores each server note in order,
// both only where the local row is unchanged since it was sent, each note's
// base with it. Throws the first error that stops it; the notes before a
// malformed one are stored.
void applyServerNotes(const nlohmann::ordered_json &serverNotes, const SentNotes &sent,
                      const QString &databasePath);

} // namespace ReplyApplier
