// Receiving a whole store through the real SyncManager and store: the longest
// time the main thread's event loop is kept from running while a reply of
// 10,000 or 100,000 notes is fetched, parsed and stored, and the total time
// beside the floor, a bare sqlite3 loop of the same upserts in one
// transaction, measured in the same run. Beside them, the apply alone: the
// work the sync's worker does once the answer is in (unpacking, reading and
// storing it), against the same floor.

#include "DBManager.h"
#include "HttpClient.h"
#include "ReplyApplier.h"
#include "SyncHttp.h"
#include "SyncManager.h"

#include <benchmark/benchmark.h>
#include <httplib.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using nlohmann::ordered_json;

namespace {

constexpr int kContentBytes = 500;

double median(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples.empty() ? 0 : samples[samples.size() / 2];
}

std::string contentOf(int i)
{
    std::string content = "Note " + std::to_string(i) + ": ";
    while (content.size() < kContentBytes)
        content += "the quick brown fox jumps over the lazy dog; ";
    content.resize(kContentBytes);
    return content;
}

// The service's reply carrying `count` notes the receiving machine lacks.
std::string replyOf(int count)
{
    ordered_json notes = ordered_json::array();
    for (int i = 0; i < count; ++i) {
        notes.push_back({{"noteid", "bench-note-" + std::to_string(i)},
                         {"content", contentOf(i)},
                         {"type", i % 2 + 1},
                         {"isdeleted", 0},
                         {"createdtime", 1700000000 + i},
                         {"lastmodifiedtime", 1700000000 + i},
                         {"title", ""},
                         {"isfavorite", int(i % 7 == 0)},
                         {"filelink", ""},
                         {"rev", 1}});
    }
    return ordered_json{{"status", 602}, {"msg", "received"}, {"notes", std::move(notes)}}.dump();
}

// A loopback service that answers every sync with the same body, packed
// once as the sync service packs its answers.
class CannedService {
public:
    explicit CannedService(const std::string &reply) : m_reply(gzipFast(reply))
    {
        m_server.Post("/api/sync", [this](const httplib::Request &, httplib::Response &response) {
            // Through a provider, so the library does not pack it once more.
            response.set_header("Content-Encoding", "gzip");
            response.set_content_provider(m_reply.size(), "application/json",
                                          [this](size_t offset, size_t length, httplib::DataSink &sink) {
                                              return sink.write(m_reply.data() + offset, length);
                                          });
        });
        m_server.Get("/ip", [](const httplib::Request &, httplib::Response &response) {
            response.set_content("127.0.0.1", "text/plain");
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
    }
    ~CannedService()
    {
        m_server.stop();
        m_thread.join();
    }
    QUrl base() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port)); }
    QUrl echo() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/ip").arg(m_port)); }
    const std::string &packedReply() const { return m_reply; }

private:
    std::string m_reply;
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
};

struct Round {
    double stallMs = 0;
    double totalMs = 0;
    bool ok = false;
};

// One sync into an empty store, the main thread's loop watched by a 1 ms
// timer: a stall is the longest gap between two of its turns.
Round receiveOnce(const CannedService &service)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    DBManager::shared().setupDatabase();
    SyncManager manager(service.base(), service.echo());

    Round round;
    QElapsedTimer sinceTick;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        round.stallMs = std::max(round.stallMs, double(sinceTick.nsecsElapsed()) / 1e6);
        sinceTick.restart();
    });

    QEventLoop loop;
    QElapsedTimer total;
    total.start();
    sinceTick.start();
    ticker.start();
    std::optional<ServerResult> result;
    auto run = [&]() -> QCoro::Task<void> {
        QCoro::Task<ServerResult> sync = manager.syncNotes(QStringLiteral("bench@example.org"));
        result.emplace(co_await sync);
        loop.quit();
    };
    QCoro::Task<void> running = run();
    if (!result)
        loop.exec();
    round.totalMs = double(total.nsecsElapsed()) / 1e6;
    ticker.stop();
    round.ok = result->isSuccess();
    return round;
}

// The reply applied into an empty store as the sync's worker applies it once
// the answer is in; negative when the apply failed.
double applyOnce(const std::string &packed)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    DBManager::shared().setupDatabase();
    HttpOutcome outcome;
    outcome.status = 200;
    outcome.body = QByteArray::fromStdString(packed);
    outcome.gzipped = true;
    QElapsedTimer timer;
    timer.start();
    const HttpOutcome plain = HttpClient::unpacked(std::move(outcome));
    const ServerResult result =
        plain.failed() ? ServerResult::failure(*plain.error)
                       : ReplyApplier::handleReply(plain.body, {}, DBManager::databasePath());
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    return result.isSuccess() ? ms : -1;
}

// The floor: the same notes' existence tests and inserts, already in memory,
// in one transaction on one bare connection.
double floorOnce(int count)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    DBManager::shared().setupDatabase();
    std::vector<std::string> ids, contents;
    for (int i = 0; i < count; ++i) {
        ids.push_back("bench-note-" + std::to_string(i));
        contents.push_back(contentOf(i));
    }
    QElapsedTimer timer;
    timer.start();
    sqlite3 *db = nullptr;
    sqlite3_open_v2(DBManager::databasePath().toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_stmt *exists = nullptr, *insert = nullptr;
    sqlite3_prepare_v2(db, R"(SELECT * FROM "notes" WHERE ("noteid" = ?) LIMIT 1)", -1, &exists, nullptr);
    sqlite3_prepare_v2(db,
                       R"(INSERT INTO "notes" ("noteid", "content", "type", "isdeleted", "createdtime", "lastmodifiedtime", "title", "isfavorite", "filelink", "isbackup") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?))",
                       -1, &insert, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (int i = 0; i < count; ++i) {
        sqlite3_reset(exists);
        sqlite3_bind_text(exists, 1, ids[i].data(), int(ids[i].size()), SQLITE_STATIC);
        if (sqlite3_step(exists) == SQLITE_ROW)
            continue;
        sqlite3_reset(insert);
        sqlite3_bind_text(insert, 1, ids[i].data(), int(ids[i].size()), SQLITE_STATIC);
        sqlite3_bind_blob(insert, 2, contents[i].data(), int(contents[i].size()), SQLITE_STATIC);
        sqlite3_bind_int64(insert, 3, i % 2 + 1);
        sqlite3_bind_int64(insert, 4, 0);
        sqlite3_bind_int64(insert, 5, 1700000000 + i);
        sqlite3_bind_int64(insert, 6, 1700000000 + i);
        sqlite3_bind_text(insert, 7, "", 0, SQLITE_STATIC);
        sqlite3_bind_int64(insert, 8, i % 7 == 0);
        sqlite3_bind_text(insert, 9, "", 0, SQLITE_STATIC);
        sqlite3_bind_int64(insert, 10, 0);
        sqlite3_step(insert);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_finalize(exists);
    sqlite3_finalize(insert);
    sqlite3_close(db);
    return double(timer.nsecsElapsed()) / 1e6;
}

struct Figure {
    std::string name;
    double value;
    double floor; // 0: none
    std::string target;
};
std::vector<Figure> figures;

void BM_receive(benchmark::State &state)
{
    const int count = int(state.range(0));
    const int rounds = count >= 100000 ? 3 : 5;
    const CannedService service(replyOf(count));
    for (auto _ : state) {
        std::vector<double> stalls, totals, applies, floors;
        for (int i = 0; i < rounds; ++i) {
            const Round round = receiveOnce(service);
            if (!round.ok) {
                state.SkipWithError("the sync failed");
                return;
            }
            stalls.push_back(round.stallMs);
            totals.push_back(round.totalMs);
            const double apply = applyOnce(service.packedReply());
            if (apply < 0) {
                state.SkipWithError("applying the reply failed");
                return;
            }
            applies.push_back(apply);
            floors.push_back(floorOnce(count));
        }
        const std::string notes = std::to_string(count) + " notes";
        figures.push_back({"longest main-thread stall receiving " + notes + ", median", median(stalls), 0,
                           "at most 50 ms"});
        figures.push_back({"apply time of " + notes + " (reply in hand to stored), median", median(applies),
                           median(floors), "at most 2x the floor"});
        figures.push_back({"total time receiving " + notes + " (request to stored), median", median(totals),
                           median(floors), "for comparison"});
        state.counters["stall ms"] = median(stalls);
        state.counters["apply ms"] = median(applies);
        state.counters["total ms"] = median(totals);
        state.counters["floor ms"] = median(floors);
    }
}

BENCHMARK(BM_receive)->Arg(10000)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    std::printf("\n%-72s %12s %12s %8s   %s\n", "figure", "measured", "floor", "ratio", "target");
    for (const Figure &figure : figures) {
        char floor[32] = "", ratio[32] = "";
        if (figure.floor > 0) {
            std::snprintf(floor, sizeof floor, "%9.1f ms", figure.floor);
            std::snprintf(ratio, sizeof ratio, "%.2fx", figure.value / figure.floor);
        }
        std::printf("%-72s %9.1f ms %12s %8s   %s\n", figure.name.c_str(), figure.value, floor, ratio,
                    figure.target.c_str());
    }
    benchmark::Shutdown();
    return 0;
}
