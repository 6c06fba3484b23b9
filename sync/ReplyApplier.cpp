#include "ReplyApplier.h"

#include "Console.h"
#include "FastReply.h"
#include "ReplyWriter.h"
#include "SyncErrors.h"

#include <QSet>

#include <algorithm>
#include <limits>
#include <optional>
#include <stdexcept>

using nlohmann::ordered_json;

namespace {

// A member of a server note that is missing or not of its JSON type.
class NoteFieldError : public std::runtime_error {
public:
    explicit NoteFieldError(const char *member)
        : std::runtime_error(std::string("Missing or invalid field: ") + member)
    {
    }
};

QString stringMember(const ordered_json &object, const char *key)
{
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        throw NoteFieldError(key);
    return toQString(*it);
}

// Integers only: a float, a bool or a string of digits is the wrong type, and
// so is an integer beyond the signed 64-bit range.
std::optional<int64_t> asInt64(const ordered_json &value)
{
    if (value.is_number_unsigned()) {
        const auto raw = value.get<uint64_t>();
        if (raw > uint64_t(std::numeric_limits<int64_t>::max()))
            return std::nullopt;
        return int64_t(raw);
    }
    if (value.is_number_integer())
        return value.get<int64_t>();
    return std::nullopt;
}

int64_t integerMember(const ordered_json &object, const char *key)
{
    const auto it = object.find(key);
    if (it == object.end())
        throw NoteFieldError(key);
    const auto value = asInt64(*it);
    if (!value)
        throw NoteFieldError(key);
    return *value;
}

// The member's UTF-8 bytes as they came, without a round trip through UTF-16.
QByteArray bytesMember(const ordered_json &object, const char *key)
{
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        throw NoteFieldError(key);
    return QByteArray::fromStdString(it->get_ref<const std::string &>());
}

Note noteFromServer(const ordered_json &object)
{
    Note note;
    note.id = stringMember(object, "noteid");
    note.content = bytesMember(object, "content");
    note.type = integerMember(object, "type");
    note.isdeleted = integerMember(object, "isdeleted") == 1;
    note.createdDate = integerMember(object, "createdtime");
    note.lastModifiedDate = integerMember(object, "lastmodifiedtime");
    note.title = stringMember(object, "title");
    note.isfavorite = integerMember(object, "isfavorite");
    note.filelink = stringMember(object, "filelink");
    return note;
}

// The service's revision of the copy. An older service sends none; a
// revision is a positive integer.
std::optional<int64_t> revisionOf(const ordered_json &object)
{
    const auto it = object.find("rev");
    if (it == object.end())
        return std::nullopt;
    const auto value = asInt64(*it);
    if (!value || *value < 1)
        throw NoteFieldError("rev");
    return value;
}

bool isArrayOfObjects(const ordered_json &value)
{
    return value.is_array()
        && std::all_of(value.begin(), value.end(), [](const ordered_json &n) { return n.is_object(); });
}

// Purges the notes sent as deleted, then reads each of the `count` server
// notes with `read` and stores it; a NoteFieldError from `read` keeps the
// notes before it.
template <typename Read>
void applyEach(size_t count, const ReplyApplier::SentNotes &sent, const QString &databasePath, Read read)
{
    ReplyWriter writer(databasePath);
    QSet<QString> purged;
    try {
        const QStringList removed = writer.purgeSentDeletedNotes(sent.values());
        purged = QSet<QString>(removed.begin(), removed.end());
    } catch (const std::exception &error) {
        printLine(QStringLiteral("Error while deleting locally deleted notes: ") + errorDescription(error));
    }

    writer.beginBatch();
    try {
        for (size_t index = 0; index < count; ++index) {
            std::optional<FastReply::ServerNote> server;
            try {
                server.emplace(read(index));
            } catch (const NoteFieldError &) {
                // The notes before the malformed one stay stored.
                writer.commitBatch();
                throw;
            }
            if (writer.batchIsFull()) {
                writer.commitBatch();
                writer.beginBatch();
            }
            // A row this purge just removed was unchanged: the server's copy
            // takes its place as it would over any absent row.
            const Note &note = server->note;
            const auto it = sent.constFind(note.id);
            const Note *sentCopy = it != sent.cend() && !purged.contains(note.id) ? &*it : nullptr;
            writer.write(note, server->rev, sentCopy);
        }
        writer.commitBatch();
    } catch (...) {
        writer.rollbackBatch();
        throw;
    }
}

// Applies a 602 reply's notes; the sync's result with its printed line.
template <typename Apply>
ServerResult appliedReply(const QString &message, Apply apply)
{
    try {
        apply();
    } catch (...) {
        const ServerError error = currentError();
        printLine(QStringLiteral("Error updating local database: ") + error.description);
        return ServerResult::failure(error);
    }
    return ServerResult::success(message);
}

} // namespace

namespace ReplyApplier {

ServerResult handleReply(const QByteArray &body, const SentNotes &sent, const QString &databasePath, Parsing parsing)
{
    try {
        if (parsing == Parsing::fastFirst) {
            const FastReply fast(body);
            if (fast.accepted()) {
                if (fast.status() != 602)
                    return ServerResult::success(fast.message());
                return appliedReply(fast.message(), [&] {
                    applyEach(fast.noteCount(), sent, databasePath, [&fast](size_t index) { return fast.note(index); });
                });
            }
        }
        ordered_json reply;
        try {
            reply = parseReply(body);
        } catch (const std::exception &error) {
            // Every parser error counts: a syntax error, a number beyond any
            // double (out_of_range), bytes that are not UTF-8, a cut-off text.
            const ServerError parsed = errorFrom(error);
            printLine(QStringLiteral("JSON parsing error: ") + parsed.description);
            return ServerResult::failure(parsed);
        }

        // Both members are required whatever the status says.
        const bool wellFormed = reply.is_object() && reply.contains("status")
            && reply.at("status").is_number_integer() && reply.contains("msg") && reply.at("msg").is_string();
        if (!wellFormed) {
            printLine(QStringLiteral("Invalid JSON structure"));
            return ownFailure(QStringLiteral("Invalid JSON structure"));
        }
        const ordered_json &status = reply.at("status");
        const QString message = toQString(reply.at("msg"));

        if (status == 602) {
            const auto notesIt = reply.find("notes");
            if (notesIt == reply.end() || !isArrayOfObjects(*notesIt)) {
                printLine(QStringLiteral("Error: Status 602 but no notes found in response"));
                return ownFailure(QStringLiteral("Status 602 but no notes found"));
            }
            return appliedReply(message, [&] { applyServerNotes(*notesIt, sent, databasePath); });
        }
        if (status == 601)
            return ServerResult::success(message);
        // dump() writes an integer in decimal, also one beyond the 64-bit signed range.
        const QString text = QStringLiteral("Unexpected status code: ") + QString::fromStdString(status.dump());
        printLine(text);
        return ownFailure(text);
    } catch (...) {
        // Nothing a reply holds may end the process from a worker thread.
        return ServerResult::failure(currentError());
    }
}

void applyServerNotes(const ordered_json &serverNotes, const SentNotes &sent, const QString &databasePath)
{
    applyEach(serverNotes.size(), sent, databasePath, [&serverNotes](size_t index) {
        const ordered_json &object = serverNotes[index];
        FastReply::ServerNote server;
        server.note = noteFromServer(object);
        server.rev = revisionOf(object);
        return server;
    });
}

} // namespace ReplyApplier
