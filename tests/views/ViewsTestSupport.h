#pragma once

#include "DBManager.h"
#include "Note.h"
#include "TestHome.h"

#include <QByteArray>
#include <QTemporaryDir>
#include <QtGlobal>
#include <iostream>
#include <sstream>

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
