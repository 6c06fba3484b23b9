#pragma once

#include "Note.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

// Reads the common sync reply, a valid 601 or 602 with well-formed notes,
// several times faster than building a full tree. Anything else (a parse
// error, a wrong type, an unknown status, a repeated member, a number that
// is not a plain integer) is refused and left to the tree parser, whose
// answer and printed lines are the ones the user sees.
class FastReply {
public:
    struct ServerNote {
        Note note;
        std::optional<int64_t> rev;
    };

    // Parses and checks the whole body; read nothing from a refused one.
    explicit FastReply(const QByteArray &body);
    ~FastReply();
    FastReply(const FastReply &) = delete;
    FastReply &operator=(const FastReply &) = delete;

    bool accepted() const { return m_accepted; }
    int64_t status() const { return m_status; }
    const QString &message() const { return m_message; }

    // A 602 reply's notes, in order. Each is built only when asked for, so
    // a hundred thousand of them are never in memory at once.
    size_t noteCount() const;
    ServerNote note(size_t index) const;

private:
    struct Document;
    std::unique_ptr<Document> m_document;
    bool m_accepted = false;
    int64_t m_status = 0;
    QString m_message;
};
