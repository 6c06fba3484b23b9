// Store timings on a file of 10,000 notes of about 500 bytes each, beside a
// bare prepared SELECT of the same rows into the same structs as the floor.

#include "DBManager.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QTemporaryDir>

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace {

constexpr int kNotes = 10000;
constexpr int kUpserts = 1000;
constexpr const char *kLiveNotes = R"(SELECT * FROM "notes" WHERE NOT ("isdeleted") ORDER BY "lastmodifiedtime" DESC)";

struct Fixture {
    QTemporaryDir home;
    DBManager store;
    QString savedId;
    QByteArray savedContent;

    Fixture()
    {
        qputenv("HOME", home.path().toUtf8());
        store.setupDatabase();
        SQLite::Database db(DBManager::databasePath().toStdString(), SQLite::OPEN_READWRITE);
        db.exec("BEGIN");
        SQLite::Statement insert(db, R"(INSERT INTO "notes" ("noteid", "content", "type", "isdeleted", "createdtime", "lastmodifiedtime", "title", "isfavorite", "filelink", "isbackup") VALUES (?, ?, ?, 0, ?, ?, '', ?, '', 0))");
        for (int i = 0; i < kNotes; ++i) {
            const QString id = makeNoteId(1700000000 + i);
            QByteArray content = "Note " + QByteArray::number(i) + ": ";
            while (content.size() < 500)
                content += "the quick brown fox jumps over the lazy dog; ";
            content.truncate(500);
            insert.reset();
            insert.bind(1, id.toStdString());
            insert.bind(2, content.constData(), int(content.size()));
            insert.bind(3, static_cast<int64_t>(i % 2 + 1));
            insert.bind(4, static_cast<int64_t>(1700000000 + i));
            insert.bind(5, static_cast<int64_t>(1700000000 + i));
            insert.bind(6, static_cast<int64_t>(i % 7 == 0));
            insert.exec();
            if (i == kNotes / 2) {
                savedId = id;
                savedContent = content;
            }
        }
        db.exec("COMMIT");
    }
};

Fixture &fixture()
{
    static Fixture instance;
    return instance;
}

void BM_fetchAllNotes(benchmark::State &state)
{
    for (auto _ : state) {
        QList<Note> notes = fixture().store.fetchAllNotes();
        benchmark::DoNotOptimize(notes.data());
        if (notes.size() != kNotes)
            state.SkipWithError("unexpected note count");
    }
}

// The floor: one open connection, the same SELECT prepared each time, columns
// read by position straight from libsqlite3 into Note.
void BM_floorPreparedSelect(benchmark::State &state)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(DBManager::databasePath().toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    for (auto _ : state) {
        sqlite3_stmt *select = nullptr;
        sqlite3_prepare_v2(db, kLiveNotes, -1, &select, nullptr);
        QList<Note> notes;
        while (sqlite3_step(select) == SQLITE_ROW) {
            Note note;
            note.id = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(select, 0)),
                                        sqlite3_column_bytes(select, 0));
            note.content = QByteArray(static_cast<const char *>(sqlite3_column_blob(select, 1)),
                                      sqlite3_column_bytes(select, 1));
            note.type = sqlite3_column_int64(select, 2);
            note.isdeleted = sqlite3_column_int64(select, 3) != 0;
            note.createdDate = sqlite3_column_int64(select, 4);
            note.lastModifiedDate = sqlite3_column_int64(select, 5);
            note.title = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(select, 6)),
                                           sqlite3_column_bytes(select, 6));
            note.isfavorite = sqlite3_column_int64(select, 7);
            note.filelink = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(select, 8)),
                                              sqlite3_column_bytes(select, 8));
            notes.append(std::move(note));
        }
        sqlite3_finalize(select);
        benchmark::DoNotOptimize(notes.data());
        if (notes.size() != kNotes)
            state.SkipWithError("unexpected note count");
    }
    sqlite3_close(db);
}

void BM_fetchNotesForSync(benchmark::State &state)
{
    for (auto _ : state) {
        QList<Note> notes = fixture().store.fetchNotesForSync();
        benchmark::DoNotOptimize(notes.data());
    }
}

void BM_saveNoteUnchanged(benchmark::State &state)
{
    Fixture &f = fixture();
    for (auto _ : state)
        benchmark::DoNotOptimize(f.store.saveNote(f.savedId, f.savedContent, 1, false, "", 0, ""));
}

void BM_createNote(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(fixture().store.createNote());
}

// One reply's worth: half the notes known locally, half new.
void BM_apply1000Upserts(benchmark::State &state)
{
    Fixture &f = fixture();
    const QList<Note> known = f.store.fetchNotesForSync().mid(0, kUpserts / 2);
    int64_t round = 0;
    for (auto _ : state) {
        ++round;
        for (Note note : known) {
            note.lastModifiedDate += round;
            f.store.upsertNote(note);
        }
        for (int i = 0; i < kUpserts / 2; ++i) {
            Note fresh = known[i];
            fresh.id = QStringLiteral("server-%1-%2").arg(round).arg(i);
            f.store.upsertNote(fresh);
        }
    }
}

// The same reply as the sync applies it: each known note only where the row
// still holds what was sent (worst case: every one does, so every one is
// compared and written), each new note after a check that none was sent.
void BM_apply1000UpsertsGuarded(benchmark::State &state)
{
    Fixture &f = fixture();
    QList<Note> sent = f.store.fetchNotesForSync().mid(kUpserts / 2, kUpserts / 2);
    int64_t round = 0;
    for (auto _ : state) {
        ++round;
        for (Note &row : sent) {
            Note server = row;
            server.lastModifiedDate += round;
            if (!f.store.upsertNoteIfUnchanged(server, row))
                state.SkipWithError("an unchanged row was not written");
            row = server;
        }
        for (int i = 0; i < kUpserts / 2; ++i) {
            Note fresh = sent[i];
            fresh.id = QStringLiteral("guarded-%1-%2").arg(round).arg(i);
            f.store.upsertNoteIfUnchanged(fresh, std::nullopt);
        }
    }
}

// Soft-deleted rows as a sync request carries them, stored afresh (untimed)
// before each purge.
QList<Note> storeDeletedNotes(Fixture &f, int64_t round)
{
    QList<Note> deleted;
    for (int i = 0; i < kUpserts; ++i) {
        Note note{QStringLiteral("deleted-%1-%2").arg(round).arg(i), f.savedContent, 1, true, 1, 1, QString(), 0,
                  QString()};
        f.store.upsertNote(note);
        deleted.append(note);
    }
    return deleted;
}

// The floor: one DELETE of every marked row.
void BM_purge1000Deleted(benchmark::State &state)
{
    Fixture &f = fixture();
    int64_t round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        storeDeletedNotes(f, ++round);
        state.ResumeTiming();
        if (!f.store.deleteLocallyDeletedNotes())
            state.SkipWithError("nothing purged");
    }
}

// The purge a sync reply runs: one guarded DELETE per note sent as deleted.
void BM_purge1000SentDeleted(benchmark::State &state)
{
    Fixture &f = fixture();
    int64_t round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QList<Note> sent = storeDeletedNotes(f, ++round);
        state.ResumeTiming();
        if (f.store.deleteSentDeletedNotes(sent).size() != sent.size())
            state.SkipWithError("an unchanged deletion was not purged");
    }
}

BENCHMARK(BM_fetchAllNotes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_floorPreparedSelect)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_fetchNotesForSync)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_saveNoteUnchanged)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_createNote)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_apply1000Upserts)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3);
BENCHMARK(BM_apply1000UpsertsGuarded)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3);
BENCHMARK(BM_purge1000Deleted)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3);
BENCHMARK(BM_purge1000SentDeleted)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3);

// Keeps each benchmark's time per iteration, the median one when it runs
// repeatedly, so that the ratios can be printed last.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    // Plain text: the output usually ends up in a log or a report.
    RecordingReporter() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            if (run.error_occurred)
                continue;
            const std::string &name = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                times[name] = run.GetAdjustedRealTime();
                medians.insert(name);
            } else if (run.run_type == Run::RT_Iteration && !medians.count(name)) {
                times[name] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
    std::set<std::string> medians;
};

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    fixture();
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto all = reporter.times.find("BM_fetchAllNotes");
    const auto floor = reporter.times.find("BM_floorPreparedSelect");
    if (all != reporter.times.end() && floor != reporter.times.end() && floor->second > 0)
        std::printf("fetchAllNotes / bare prepared SELECT: %.2fx (target: at most 2x)\n", all->second / floor->second);
    const auto guarded = reporter.times.find("BM_apply1000UpsertsGuarded");
    const auto plain = reporter.times.find("BM_apply1000Upserts");
    if (guarded != reporter.times.end() && plain != reporter.times.end() && plain->second > 0)
        std::printf("guarded / plain reply of 1000 notes: %.2fx (target: at most 1.5x)\n",
                    guarded->second / plain->second);
    const auto sentPurge = reporter.times.find("BM_purge1000SentDeleted");
    const auto onePurge = reporter.times.find("BM_purge1000Deleted");
    if (sentPurge != reporter.times.end() && onePurge != reporter.times.end() && onePurge->second > 0)
        std::printf("guarded / single purge of 1000 deletions: %.2fx (target: at most 3x)\n",
                    sentPurge->second / onePurge->second);
    benchmark::Shutdown();
    return 0;
}
