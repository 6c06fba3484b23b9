#pragma once

#include "DBManager.h"

#include <SQLiteCpp/Database.h>
#include <gtest/gtest.h>

#include <QByteArray>
#include <QTemporaryDir>
#include <functional>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

// Every statement text any connection of the process prepares and steps,
// recorded through a trace hook installed on each new connection.
class StatementLog {
public:
    static void install();
    static void clear();
    static std::vector<std::string> statements();
    // The log of one call, with SQLite's own schema reads left out.
    static std::vector<std::string> during(const std::function<void()> &call);
};

// A fresh, empty home folder per test, so nothing reaches the real one.
class TempHomeTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    QString homePath() const { return m_home->path(); }
    QString tovikFolder() const { return homePath() + "/.tovik"; }
    QString databaseFile() const { return tovikFolder() + "/tovik.db"; }

    // A connection of the test's own for arranging and inspecting the file.
    std::unique_ptr<SQLite::Database> openRaw() const;
    // Writes the given statements into a fresh file at the database path.
    void writeFile(const std::vector<std::string> &statements) const;
    std::string tableSql(const std::string &table) const;
    int64_t rowCount(const std::string &table) const;

    void insertRow(const Note &note) const;

    // A store instance of the test's own, so no connection outlives the test.
    DBManager store;

private:
    std::unique_ptr<QTemporaryDir> m_home;
    QByteArray m_oldHome;
};

// A store whose file was made by a first start.
class StoreTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        TempHomeTest::SetUp();
        store.setupDatabase();
    }
};

// Runs `call`, expecting a SQLite error; returns its code (-1 for another error).
int sqliteErrorCode(const std::function<void()> &call);

Note makeNote(const QString &id, const QByteArray &content, int64_t type, bool isdeleted, int64_t created,
              int64_t modified, const QString &title = {}, int64_t isfavorite = 0, const QString &filelink = {});

// Expects the fields a save or a sync writes, all but the two times, to match.
void expectSameEditableFields(const Note &actual, const Note &expected);

// Readable failure messages for Qt text.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

inline const std::string kCreateUserSql =
        R"(CREATE TABLE "user" ("uid" TEXT PRIMARY KEY NOT NULL, "email" TEXT, "passcode" TEXT, "createdtime" INTEGER NOT NULL))";
inline const std::string kCreateNotesSql =
        R"(CREATE TABLE "notes" ("noteid" TEXT PRIMARY KEY NOT NULL, "content" BLOB NOT NULL, "type" INTEGER NOT NULL DEFAULT (1), "isdeleted" INTEGER NOT NULL DEFAULT (0), "createdtime" INTEGER NOT NULL, "lastmodifiedtime" INTEGER NOT NULL, "title" TEXT NOT NULL DEFAULT (''), "isfavorite" INTEGER NOT NULL DEFAULT (0), "filelink" TEXT NOT NULL DEFAULT (''), "isbackup" INTEGER NOT NULL DEFAULT (0)))";
