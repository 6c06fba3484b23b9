#pragma once

#include "DBManager.h"
#include "Note.h"

#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>
#include <SQLiteCpp/Transaction.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>

// `count` notes of about 500 bytes of words, some accented, some capitalised,
// some decomposed, a third of them to-do lists, one in ten a favourite; in
// the store's order, newest change first.
inline QList<Note> makeBenchNotes(int count)
{
    static const QStringList words{
        "quartz", "meeting", "Garden", "école", "e\u0301te\u0301", "milk", "ÉTÉ", "train", "Lyon", "budget",
        "review", "basil", "QUARTER", "notes", "straße", "plan", "tickets", "call", "report", "lavender"};
    std::mt19937 random(20260101);
    QList<Note> notes;
    notes.reserve(count);
    for (int i = 0; i < count; ++i) {
        QString text;
        while (text.toUtf8().size() < 480)
            text += words.at(int(random() % words.size())) + (random() % 7 == 0 ? "\n" : " ");
        Note note;
        note.id = QStringLiteral("%1").arg(i, 40, 10, QLatin1Char('0'));
        note.type = i % 3 == 0 ? 2 : 1;
        note.content = note.type == 2
            ? QByteArray(R"([{"id":"6F1C2A4E-1111-4C3B-9D2E-123456789ABC","text":")")
                  + text.toUtf8().replace('\n', "\\n") + R"(","isCompleted":false}])"
            : text.toUtf8();
        note.isfavorite = i % 10 == 0 ? 1 : 0;
        note.lastModifiedDate = 1'700'000'000 + int64_t(random() % 5'000'000);
        note.createdDate = note.lastModifiedDate;
        notes << note;
    }
    std::stable_sort(notes.begin(), notes.end(),
                     [](const Note &a, const Note &b) { return a.lastModifiedDate > b.lastModifiedDate; });
    return notes;
}

// The same notes in memory, made once per count.
inline const QList<Note> &benchNotes(int count)
{
    static std::map<int, QList<Note>> made;
    auto found = made.find(count);
    if (found == made.end())
        found = made.emplace(count, makeBenchNotes(count)).first;
    return found->second;
}

// Writes benchNotes(count) into the store of the current home folder.
inline void writeBenchStore(int count)
{
    DBManager::shared().setupDatabase();
    SQLite::Database db(DBManager::databasePath().toStdString(), SQLite::OPEN_READWRITE);
    SQLite::Transaction transaction(db);
    SQLite::Statement insert(db, "INSERT INTO \"notes\" (\"noteid\", \"content\", \"type\", \"isdeleted\", "
                                 "\"createdtime\", \"lastmodifiedtime\", \"title\", \"isfavorite\", \"filelink\") "
                                 "VALUES (?, ?, ?, 0, ?, ?, '', ?, '')");
    for (const Note &note : benchNotes(count)) {
        insert.bind(1, note.id.toStdString());
        insert.bind(2, note.content.constData(), int(note.content.size()));
        insert.bind(3, note.type);
        insert.bind(4, note.createdDate);
        insert.bind(5, note.lastModifiedDate);
        insert.bind(6, note.isfavorite);
        insert.exec();
        insert.reset();
    }
    transaction.commit();
}

// A home folder whose store holds benchNotes(count), written once.
class BenchHome {
public:
    explicit BenchHome(int count)
    {
        use();
        writeBenchStore(count);
    }

    // Makes this the home of the process: the store follows it.
    void use() const { qputenv("HOME", m_home.path().toLocal8Bit()); }
    QString path() const { return m_home.path(); }

    // One home per count for the whole run.
    static BenchHome &of(int count)
    {
        static std::map<int, std::unique_ptr<BenchHome>> homes;
        auto found = homes.find(count);
        if (found == homes.end())
            found = homes.emplace(count, std::make_unique<BenchHome>(count)).first;
        found->second->use();
        return *found->second;
    }

private:
    QTemporaryDir m_home;
};
