// A sync reply read by the fast reader and by the full tree alone must end
// the same way: the same result, the same printed lines, the same rows and
// bases. The common replies must take the fast reader; anything unusual must
// be left to the tree, whose judgement the user sees.

#include "DBManager.h"
#include "FastReply.h"
#include "ReplyApplier.h"
#include "SyncBases.h"
#include "support/TestEnvironment.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>
#include <gtest/gtest.h>

#include <QStringList>
#include <string>

namespace {

using ReplyApplier::Parsing;

struct Ending {
    bool ok = false;
    QString message;
    QString errorDomain;
    int errorCode = 0;
    QString errorDescription;
    QStringList lines;
    QStringList rows;

    bool operator==(const Ending &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Ending &ending)
{
    out << (ending.ok ? "success " : "failure ") << ending.message.toStdString() << " ["
        << ending.errorDomain.toStdString() << ' ' << ending.errorCode << ' '
        << ending.errorDescription.toStdString() << "] lines: " << ending.lines.join(" | ").toStdString()
        << " rows: " << ending.rows.join(" | ").toStdString();
    return out;
}

// Every row of both tables, each column quoted by SQLite itself, so that a
// blob and a text or an integer and a real never look alike.
QStringList rowsOf(const QString &databasePath)
{
    SQLite::Database db(databasePath.toStdString(), SQLite::OPEN_READONLY);
    QStringList rows;
    for (const char *sql :
         {R"(SELECT quote("noteid") || ',' || quote("content") || ',' || quote("type") || ',' || quote("isdeleted")
                 || ',' || quote("createdtime") || ',' || quote("lastmodifiedtime") || ',' || quote("title") || ','
                 || quote("isfavorite") || ',' || quote("filelink") FROM "notes" ORDER BY "noteid")",
          R"(SELECT 'base ' || quote("noteid") || ',' || quote("rev") FROM "syncbases" ORDER BY "noteid")"}) {
        SQLite::Statement select(db, sql);
        while (select.executeStep())
            rows.append(QString::fromStdString(select.getColumn(0).getString()));
    }
    return rows;
}

// A store holding a note sent unchanged and a note sent as deleted, and the
// reply applied to it.
Ending applyTo(const std::string &body, Parsing parsing)
{
    TemporaryHome home;
    DBManager &store = DBManager::shared();
    store.setupDatabase();
    SyncBases::createTable(DBManager::databasePath());
    Note kept;
    kept.id = QStringLiteral("kept");
    kept.content = "kept words";
    kept.createdDate = 100;
    kept.lastModifiedDate = 100;
    Note gone = kept;
    gone.id = QStringLiteral("gone");
    gone.isdeleted = true;
    store.upsertNote(kept);
    store.upsertNote(gone);
    const ReplyApplier::SentNotes sent{{kept.id, kept}, {gone.id, gone}};

    Ending ending;
    {
        StdoutCapture capture;
        const ServerResult result =
                ReplyApplier::handleReply(QByteArray::fromStdString(body), sent, DBManager::databasePath(), parsing);
        ending.lines = capture.lines();
        ending.ok = result.isSuccess();
        ending.message = result.message();
        ending.errorDomain = result.error().domain;
        ending.errorCode = result.error().code;
        ending.errorDescription = result.error().description;
    }
    ending.rows = rowsOf(DBManager::databasePath());
    return ending;
}

// A well-formed note with one member's value replaced (or the member left
// out when `value` is empty), and `extra` members added at the end.
std::string note(const std::string &id, const std::string &member = {}, const std::string &value = {},
                 const std::string &extra = {})
{
    const std::pair<const char *, std::string> members[] = {
            {"noteid", '"' + id + '"'}, {"content", R"("words of )" + id + '"'}, {"type", "1"},
            {"isdeleted", "0"}, {"createdtime", "1700000000"}, {"lastmodifiedtime", "1700000100"},
            {"title", R"("a title")"}, {"isfavorite", "0"}, {"filelink", R"("")"}, {"rev", "3"}};
    std::string text = "{";
    for (const auto &[name, standard] : members) {
        if (name == member && value.empty())
            continue;
        text += (text.size() > 1 ? "," : "") + std::string("\"") + name + "\":" + (name == member ? value : standard);
    }
    return text + extra + "}";
}

std::string reply602(const std::string &notes)
{
    return R"({"status":602,"msg":"notes","notes":[)" + notes + "]}";
}

struct Case {
    const char *name;
    std::string body;
    bool common;            // the fast reader takes it
    const char *firstLine;  // the start of the first printed line; empty: none
};

const Case kCases[] = {
        {"nothing to do", R"({"status":601,"msg":"up to date"})", true, ""},
        {"notes new and known", reply602(note("fresh") + "," + note("kept", "rev", "", "")), true, ""},
        {"no notes", reply602(""), true, ""},
        {"escapes and non-ASCII",
         reply602(note("fresh", "content", R"("caf\u00e9 \ud83d\ude00 \"q\" \\ \n\t é 😀")")), true, ""},
        {"members in any order, unknown ones too",
         R"({"extra":[1,{"a":null}],"notes":[)" + note("fresh", "", "", R"(,"more":true)") +
                 R"(],"msg":"m","status":602})", true, ""},
        {"deleted at a revision", reply602(note("kept", "isdeleted", "1")), true, ""},
        {"isdeleted 2 is not deleted", reply602(note("fresh", "isdeleted", "2")), true, ""},
        {"integer extremes", reply602(note("fresh", "createdtime", "9223372036854775807") + "," +
                                      note("other", "lastmodifiedtime", "-9223372036854775808")), true, ""},
        {"not JSON", R"({"status":601,"msg":)", false, "JSON parsing error: "},
        {"trailing content", R"({"status":601,"msg":"ok"} x)", false, "JSON parsing error: "},
        {"two documents", R"({"status":601,"msg":"ok"}{})", false, "JSON parsing error: "},
        {"bytes that are not UTF-8", reply602(note("fresh", "content", "\"bad \xff byte\"")), false,
         "JSON parsing error: "},
        {"a lone low surrogate", reply602(note("fresh", "content", R"("\udc00")")), false, "JSON parsing error: "},
        {"a lone high surrogate", reply602(note("fresh", "content", R"("\ud800 x")")), false,
         "JSON parsing error: "},
        {"a number beyond any double", R"({"status":601,"msg":"ok","x":1e400})", false, "JSON parsing error: "},
        {"deeply nested unknown member",
         R"({"status":601,"msg":"ok","x":)" + std::string(2000, '[') + std::string(2000, ']') + "}", false, ""},
        {"byte order mark", "\xEF\xBB\xBF" R"({"status":601,"msg":"ok"})", false, ""},
        {"root is an array", R"([{"status":601,"msg":"ok"}])", false, "Invalid JSON structure"},
        {"status as text", R"({"status":"601","msg":"ok"})", false, "Invalid JSON structure"},
        {"status as a float", R"({"status":601.0,"msg":"ok"})", false, "Invalid JSON structure"},
        {"message missing", R"({"status":601})", false, "Invalid JSON structure"},
        {"repeated status, the last counts", R"({"status":601,"msg":"ok","status":603})", false,
         "Unexpected status code: 603"},
        {"unknown status", R"({"status":600,"msg":"ok"})", false, "Unexpected status code: 600"},
        {"status beyond int64", R"({"status":18446744073709551615,"msg":"ok"})", false,
         "Unexpected status code: 18446744073709551615"},
        {"602 without notes", R"({"status":602,"msg":"ok"})", false, "Error: Status 602 but no notes found"},
        {"602 with notes not an array", R"({"status":602,"msg":"ok","notes":{}})", false,
         "Error: Status 602 but no notes found"},
        {"602 with a note not an object", reply602(note("fresh") + ",7"), false,
         "Error: Status 602 but no notes found"},
        {"title missing after a good note", reply602(note("fresh") + "," + note("other", "title")), false,
         "Error updating local database: Missing or invalid field: title"},
        {"type as a float", reply602(note("fresh", "type", "1.0")), false,
         "Error updating local database: Missing or invalid field: type"},
        {"type as a bool", reply602(note("fresh", "type", "true")), false,
         "Error updating local database: Missing or invalid field: type"},
        {"type as text", reply602(note("fresh", "type", R"("1")")), false,
         "Error updating local database: Missing or invalid field: type"},
        {"type beyond int64", reply602(note("fresh", "type", "9223372036854775808")), false,
         "Error updating local database: Missing or invalid field: type"},
        {"type minus zero is an integer", reply602(note("fresh", "type", "-0")), true, ""},
        {"noteid as a number", reply602(note("fresh", "noteid", "5")), false,
         "Error updating local database: Missing or invalid field: noteid"},
        {"rev zero", reply602(note("fresh", "rev", "0")), false,
         "Error updating local database: Missing or invalid field: rev"},
        {"rev null", reply602(note("fresh", "rev", "null")), false,
         "Error updating local database: Missing or invalid field: rev"},
        {"rev as a float", reply602(note("fresh", "rev", "2.5")), false,
         "Error updating local database: Missing or invalid field: rev"},
        {"repeated title, the last counts", reply602(note("fresh", "", "", R"(,"title":"second")")), false, ""},
        {"repeated noteid, the last counts", reply602(note("fresh", "", "", R"(,"noteid":"other")")), false, ""},
};

TEST(ReplyParsingTest, BothReadersEndEveryReplyAlike)
{
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FastReply(QByteArray::fromStdString(c.body)).accepted(), c.common);
        const Ending tree = applyTo(c.body, Parsing::treeOnly);
        const Ending fast = applyTo(c.body, Parsing::fastFirst);
        EXPECT_EQ(fast, tree);
        const QString firstLine = tree.lines.value(0);
        if (*c.firstLine)
            EXPECT_TRUE(firstLine.startsWith(QString::fromUtf8(c.firstLine))) << firstLine.toStdString();
        else
            EXPECT_TRUE(tree.lines.isEmpty() && tree.ok) << tree;
    }
}

} // namespace
