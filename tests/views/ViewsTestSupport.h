#pragma once

#include "DBManager.h"
#include "Note.h"

#include <QByteArray>
#include <QTemporaryDir>
#include <QtGlobal>
#include <iostream>
#include <sstream>

// A home folder of the test's own, with a store set up in it.
class TestHome {
public:
    TestHome()
    {
        qputenv("HOME", m_dir.path().toLocal8Bit());
        DBManager::shared().setupDatabase();
    }
    QString path() const { return m_dir.path(); }
    // Points HOME where no store can be opened, so every store call fails.
    void breakStore() { qputenv("HOME", (m_dir.path() + QStringLiteral("/missing/folder")).toLocal8Bit()); }

private:
    QTemporaryDir m_dir;
};

// What is printed to standard output while it lives.
class CapturedOutput {
public:
    CapturedOutput() : m_saved(std::cout.rdbuf(m_stream.rdbuf())) {}
    ~CapturedOutput() { std::cout.rdbuf(m_saved); }
    QString text() const { return QString::fromStdString(m_stream.str()); }

private:
    std::ostringstream m_stream;
    std::streambuf *m_saved;
};

// A note record with the fields the grid looks at.
inline Note makeNote(const QString &id, const QByteArray &content, int64_t type = 1, int64_t isfavorite = 0,
                     int64_t lastModified = 1000, const QString &title = QString())
{
    Note note;
    note.id = id;
    note.content = content;
    note.type = type;
    note.isfavorite = isfavorite;
    note.createdDate = lastModified;
    note.lastModifiedDate = lastModified;
    note.title = title;
    return note;
}

// The same note written into the store, with its change time kept.
inline Note storeNote(const QString &id, const QByteArray &content, int64_t type = 1, int64_t isfavorite = 0,
                      int64_t lastModified = 1000)
{
    const Note note = makeNote(id, content, type, isfavorite, lastModified);
    DBManager::shared().upsertNote(note);
    return note;
}

inline QStringList idsOf(const QList<Note> &notes)
{
    QStringList ids;
    for (const Note &note : notes)
        ids << note.id;
    return ids;
}
