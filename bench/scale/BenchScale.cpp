// The sync service at scale: many accounts of a whole store each, with
// clients syncing as fast as they can, against one instance on SQLite, one
// on PostgreSQL, and three on PostgreSQL behind nginx. Syncs a second, p50
// and p99 side by side; the SQLite instance, measured in the same run, is
// the floor the others are compared with.
//
// TOVIK_BENCH_ACCOUNTS (default 1000), TOVIK_BENCH_NOTES (default 300),
// TOVIK_BENCH_CLIENTS (default 48) and TOVIK_BENCH_SECONDS (default 20 per
// layout) change the load.

#include "NginxBalancer.h"
#include "PostgresCluster.h"
#include "ServerHarness.h"

#include <benchmark/benchmark.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

using nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

namespace {

int setting(const char *name, int fallback)
{
    const char *value = std::getenv(name);
    return value && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

const int accounts = setting("TOVIK_BENCH_ACCOUNTS", 1000);
const int notesPerAccount = setting("TOVIK_BENCH_NOTES", 300);
const int clients = setting("TOVIK_BENCH_CLIENTS", 48);
const int seconds = setting("TOVIK_BENCH_SECONDS", 20);

// About 500 bytes a note, as a 300-note store of about 150 KB.
const std::string filler(430, 'w');

// One account as its machine holds it: each note's edit count and revision,
// and its text as sent, made again only when one of them changes, so that
// the clients spend their time waiting for the service, not writing JSON.
struct Account {
    std::string email;
    std::vector<int> edits;
    std::vector<int64_t> revs;
    std::vector<std::string> sent;
    std::mutex mutex; // one machine per account syncs at a time

    void make(int i)
    {
        const std::size_t n = std::size_t(i);
        ordered_json note{{"noteid", "note-" + std::to_string(i)},
                          {"content", filler + " " + email + " " + std::to_string(i) + " edit "
                                          + std::to_string(edits[n])},
                          {"type", 1},
                          {"isdeleted", 0},
                          {"createdtime", 1000},
                          {"lastmodifiedtime", 1000 + edits[n]},
                          {"title", "Note " + std::to_string(i)},
                          {"isfavorite", 0},
                          {"filelink", ""}};
        if (revs[n] > 0)
            note["rev"] = revs[n];
        sent[n] = note.dump();
    }

    void edit(int i)
    {
        ++edits[std::size_t(i)];
        make(i);
    }

    std::string body() const
    {
        std::string text = "{\"email\":\"" + email + "\",\"ip\":\"127.0.0.1\",\"notes\":[";
        text.reserve(std::size_t(notesPerAccount) * 600);
        for (std::size_t i = 0; i < sent.size(); ++i) {
            if (i > 0)
                text += ',';
            text += sent[i];
        }
        return text + "]}";
    }

    // Takes the revisions of a reply.
    void learn(const std::string &reply)
    {
        const ordered_json body = ordered_json::parse(reply, nullptr, false);
        if (!body.is_object())
            return;
        for (const auto &note : body.value("notes", ordered_json::array())) {
            const std::string id = note.value("noteid", std::string());
            if (id.rfind("note-", 0) == 0) {
                const int i = std::stoi(id.substr(5));
                revs[std::size_t(i)] = note.value("rev", int64_t(0));
                make(i);
            }
        }
    }
};

std::vector<std::unique_ptr<Account>> makeAccounts()
{
    std::vector<std::unique_ptr<Account>> made;
    for (int a = 0; a < accounts; ++a) {
        auto account = std::make_unique<Account>();
        account->email = "user" + std::to_string(a) + "@scale.example";
        account->edits.assign(std::size_t(notesPerAccount), 0);
        account->revs.assign(std::size_t(notesPerAccount), 0);
        account->sent.resize(std::size_t(notesPerAccount));
        for (int i = 0; i < notesPerAccount; ++i)
            account->make(i);
        made.push_back(std::move(account));
    }
    return made;
}

std::unique_ptr<httplib::Client> clientFor(int port)
{
    auto client = std::make_unique<httplib::Client>("127.0.0.1", port);
    client->set_default_headers({{"Authorization", "Bearer " + std::string(64, 'c')}});
    client->set_keep_alive(true);
    client->set_tcp_nodelay(true);
    client->set_read_timeout(std::chrono::seconds(120));
    client->set_write_timeout(std::chrono::seconds(120));
    return client;
}

// Every account's whole store sent once, by 8 clients at once.
void seed(std::vector<std::unique_ptr<Account>> &all, int port)
{
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            auto client = clientFor(port);
            for (std::size_t i = next++; i < all.size(); i = next++) {
                const auto reply = client->Post("/api/sync", all[i]->body(), "application/json");
                if (!reply || reply->status != 200)
                    throw std::runtime_error("seeding failed");
                all[i]->learn(reply->body);
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
}

struct Load {
    double syncsPerSecond = 0;
    double p50 = 0;
    double p99 = 0;
    int failures = 0;
};

double percentile(std::vector<double> samples, double fraction)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    return samples[std::min(samples.size() - 1, std::size_t(fraction * double(samples.size())))];
}

// Clients syncing random accounts as fast as they can; one sync in five
// carries an edit of one note, the others are a machine checking in.
Load runLoad(std::vector<std::unique_ptr<Account>> &all, int port)
{
    std::mutex mutex;
    std::vector<double> latencies;
    std::atomic<int> failures{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            std::minstd_rand random(unsigned(c) * 7919u + 1u);
            auto client = clientFor(port);
            std::vector<double> mine;
            while (!stop) {
                Account &account = *all[random() % all.size()];
                std::lock_guard lock(account.mutex);
                if (random() % 5 == 0)
                    account.edit(int(random() % account.edits.size()));
                const std::string body = account.body();
                const auto begun = Clock::now();
                const auto reply = client->Post("/api/sync", body, "application/json");
                mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begun).count());
                if (!reply || reply->status != 200) {
                    ++failures;
                    client = clientFor(port);
                    continue;
                }
                account.learn(reply->body);
            }
            std::lock_guard lock(mutex);
            latencies.insert(latencies.end(), mine.begin(), mine.end());
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop = true;
    for (std::thread &thread : threads)
        thread.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    return Load{double(latencies.size() - std::size_t(failures)) / elapsed, percentile(latencies, 0.5),
                percentile(latencies, 0.99), failures};
}

std::vector<std::string> instanceArguments(const std::string &where)
{
    return {"--port", "0", "--db", where, "--requests-per-minute", "1000000", "--db-connections", "16"};
}

struct Row {
    std::string layout;
    Load load;
};
std::vector<Row> rows;

void report(benchmark::State &state, const std::string &layout, const Load &load)
{
    state.counters["syncs_per_s"] = load.syncsPerSecond;
    state.counters["p50_ms"] = load.p50;
    state.counters["p99_ms"] = load.p99;
    state.counters["failures"] = load.failures;
    rows.push_back(Row{layout, load});
}

void BM_oneSqliteInstance(benchmark::State &state)
{
    for (auto _ : state) {
        TemporaryFolder folder;
        ServerProcess instance(TOVIK_SYNC_SERVER_PATH, instanceArguments((folder.path() / "service.db").string()));
        auto all = makeAccounts();
        seed(all, instance.port());
        report(state, "1 instance, SQLite", runLoad(all, instance.port()));
    }
}

void BM_postgresInstances(benchmark::State &state)
{
    for (auto _ : state) {
        // Commits wait for the disk, as SQLite's do.
        PostgresCluster cluster(true);
        const std::string where = cluster.newDatabase();
        auto all = makeAccounts();
        {
            ServerProcess instance(TOVIK_SYNC_SERVER_PATH, instanceArguments(where));
            seed(all, instance.port());
            report(state, "1 instance, PostgreSQL", runLoad(all, instance.port()));
        }
        std::vector<std::unique_ptr<ServerProcess>> instances;
        std::vector<int> ports;
        for (int i = 0; i < 3; ++i) {
            instances.push_back(std::make_unique<ServerProcess>(TOVIK_SYNC_SERVER_PATH, instanceArguments(where)));
            ports.push_back(instances.back()->port());
        }
        NginxBalancer nginx(ports);
        report(state, "3 instances, PostgreSQL, nginx", runLoad(all, nginx.port()));
    }
}

BENCHMARK(BM_oneSqliteInstance)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_postgresInstances)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    std::printf("\n%d accounts of %d notes, %d clients, %d s a layout\n", accounts, notesPerAccount, clients,
                seconds);
    std::printf("%-34s %10s %9s %9s %9s %10s   %s\n", "layout", "syncs/s", "p50 ms", "p99 ms", "failed",
                "vs SQLite", "target");
    double floor = 0;
    for (const Row &row : rows) {
        if (row.layout == "1 instance, SQLite")
            floor = row.load.syncsPerSecond;
    }
    for (const Row &row : rows) {
        const bool three = row.layout.rfind("3 ", 0) == 0;
        char ratio[32] = "";
        if (floor > 0)
            std::snprintf(ratio, sizeof ratio, "%.2fx", row.load.syncsPerSecond / floor);
        std::printf("%-34s %10.1f %9.1f %9.1f %9d %10s   %s\n", row.layout.c_str(), row.load.syncsPerSecond,
                    row.load.p50, row.load.p99, row.load.failures, ratio,
                    three ? ">= 2.00x the SQLite instance; p99 < 500 ms" : "p99 < 500 ms");
    }
    benchmark::Shutdown();
    return 0;
}
