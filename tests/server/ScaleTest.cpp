// Several instances of the program on one PostgreSQL, behind nginx: many
// machines syncing the same accounts, an instance killed, the database
// restarted, the schema made by instances starting together, and an SQLite
// file copied over.

#include "NginxBalancer.h"
#include "ServerTestSupport.h"
#include "SyncService.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <set>
#include <thread>

using nlohmann::ordered_json;

namespace {

// A machine as the app is one: its notes with the revisions it holds; every
// sync sends all of them and applies what comes back.
class Machine {
public:
    Machine(std::string email, int port) : m_email(std::move(email)), m_secret(newMachineSecret()), m_port(port) {}

    void write(const std::string &id, const std::string &content, int64_t modified)
    {
        std::lock_guard lock(m_mutex);
        auto &row = m_notes[id];
        const int64_t rev = row.is_null() ? 0 : row.value("rev", int64_t(0));
        row = noteObject(id, content, modified);
        if (rev > 0)
            row["rev"] = rev;
    }

    // Adds a line to the end of a note; whether the machine could yet (it
    // writes into shared notes only once it holds revisions).
    bool append(const std::string &id, const std::string &line, int64_t modified)
    {
        std::lock_guard lock(m_mutex);
        if (!m_synced)
            return false;
        auto &row = m_notes[id];
        const std::string before = row.is_null() ? std::string() : row.at("content").get<std::string>();
        const int64_t rev = row.is_null() ? 0 : row.value("rev", int64_t(0));
        row = noteObject(id, before + line + "\n", modified);
        if (rev > 0)
            row["rev"] = rev;
        return true;
    }

    // The HTTP status, or 0 when no answer came. Only a 200 changes the machine.
    int sync()
    {
        ordered_json notes = ordered_json::array();
        {
            std::lock_guard lock(m_mutex);
            for (const auto &[id, note] : m_notes)
                notes.push_back(note);
        }
        if (!m_client) {
            m_client = std::make_unique<httplib::Client>("127.0.0.1", m_port);
            m_client->set_read_timeout(60, 0);
            m_client->set_default_headers(machineHeaders(m_secret));
        }
        const auto reply = m_client->Post("/api/sync", syncBody(m_email, notes), "application/json");
        if (!reply) {
            m_client.reset();
            return 0;
        }
        if (reply->status == 503)
            m_sawRetryAfter = m_sawRetryAfter || !reply->get_header_value("Retry-After").empty();
        if (reply->status != 200)
            return reply->status;
        const ordered_json body = ordered_json::parse(reply->body);
        std::lock_guard lock(m_mutex);
        for (const auto &note : body.value("notes", ordered_json::array()))
            m_notes[note.at("noteid").get<std::string>()] = note;
        m_synced = true;
        return 200;
    }

    // noteid -> content of what it holds.
    std::map<std::string, std::string> contents() const
    {
        std::lock_guard lock(m_mutex);
        std::map<std::string, std::string> result;
        for (const auto &[id, note] : m_notes)
            result[id] = note.at("content");
        return result;
    }
    const std::string &email() const { return m_email; }
    bool sawRetryAfter() const { return m_sawRetryAfter; }

private:
    const std::string m_email;
    const std::string m_secret;
    const int m_port;
    mutable std::mutex m_mutex;
    std::map<std::string, ordered_json> m_notes;
    std::unique_ptr<httplib::Client> m_client;
    bool m_sawRetryAfter = false;
    bool m_synced = false;
};

// Instances of the program on one database, started together.
std::vector<std::unique_ptr<ServerProcess>> startInstances(const std::string &where, int count)
{
    std::vector<std::unique_ptr<ServerProcess>> instances;
    instances.resize(std::size_t(count));
    std::vector<std::thread> starting;
    for (auto &instance : instances) {
        starting.emplace_back([&instance, &where] {
            instance = std::make_unique<ServerProcess>(
                TOVIK_SYNC_SERVER_PATH,
                std::vector<std::string>{"--port", "0", "--db", where, "--db-connections", "4",
                                         "--requests-per-minute", "1000000"});
        });
    }
    for (std::thread &thread : starting)
        thread.join();
    return instances;
}

std::vector<int> portsOf(const std::vector<std::unique_ptr<ServerProcess>> &instances)
{
    std::vector<int> ports;
    for (const auto &instance : instances) {
        if (instance->port() <= 0)
            throw std::runtime_error("an instance did not start: " + instance->firstLine());
        ports.push_back(instance->port());
    }
    return ports;
}

// Instances on a new database of their own, behind nginx.
struct Farm {
    explicit Farm(int count)
        : where(PostgresCluster::shared().newDatabase())
        , instances(startInstances(where, count))
        , nginx(portsOf(instances))
    {
    }
    const std::string where;
    std::vector<std::unique_ptr<ServerProcess>> instances;
    NginxBalancer nginx;
};

// Each machine adds two notes at once a round ("<machine>-<round>-a" and
// "-b") and a line to the account's shared note, syncing after each round,
// while `during` runs. Two machines adding to one revision of the shared note
// at once make a merge or a copy; a lost update would lose a line.
struct Crowd {
    std::vector<std::unique_ptr<Machine>> machines;
    std::set<std::string> written; // every note id some machine wrote
    std::map<std::string, std::vector<std::string>> lines; // added to shared notes, by address
    std::map<int, int> statuses;

    Crowd(int accounts, int machinesPerAccount, int port)
    {
        for (int a = 0; a < accounts; ++a) {
            for (int m = 0; m < machinesPerAccount; ++m)
                machines.push_back(std::make_unique<Machine>("user" + std::to_string(a) + "@x.org", port));
        }
    }

    void run(int rounds, const std::function<void()> &during = {})
    {
        std::mutex mutex;
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < machines.size(); ++i) {
            threads.emplace_back([&, i] {
                Machine &machine = *machines[i];
                for (int round = 0; round < rounds; ++round) {
                    const std::string id = "m" + std::to_string(i) + "-" + std::to_string(round);
                    machine.write(id + "-a", "first of " + id, 1000 + round);
                    machine.write(id + "-b", "second of " + id, 1000 + round);
                    const std::string line = "line by " + id;
                    const bool added = machine.append("shared", line, 2000 + round);
                    const int status = machine.sync();
                    std::lock_guard lock(mutex);
                    written.insert({id + "-a", id + "-b"});
                    if (added)
                        lines[machine.email()].push_back(line);
                    ++statuses[status];
                }
            });
        }
        if (during)
            during();
        for (std::thread &thread : threads)
            thread.join();
    }

    // Two rounds of every machine, one after another: then each holds what
    // its account holds.
    void settle()
    {
        for (int round = 0; round < 2; ++round) {
            for (auto &machine : machines)
                ASSERT_EQ(machine->sync(), 200);
        }
    }
};

// Every note written is kept, the machines of one account hold the same
// notes as the service, and no request was taken in half: the two notes of a
// round are both kept or neither.
void expectEverythingKept(Crowd &crowd, const std::string &where)
{
    SyncService service(where);
    std::map<std::string, std::map<std::string, std::string>> byAccount;
    for (const auto &machine : crowd.machines) {
        auto &account = byAccount[machine->email()];
        if (account.empty()) {
            for (const StoredNote &note : service.notesOf(machine->email()))
                account[note.noteid] = note.content;
        }
        EXPECT_EQ(machine->contents(), account) << machine->email();
    }
    for (const auto &[email, lines] : crowd.lines) {
        for (const std::string &line : lines) {
            const auto &account = byAccount[email];
            EXPECT_TRUE(std::any_of(account.begin(), account.end(), [&](const auto &note) {
                return note.second.find(line + "\n") != std::string::npos;
            })) << email << ": " << line;
        }
    }
    for (const std::string &id : crowd.written) {
        const bool kept = std::any_of(byAccount.begin(), byAccount.end(),
                                      [&](const auto &entry) { return entry.second.count(id) > 0; });
        EXPECT_TRUE(kept) << id;
    }
}

// The two notes of each round, in the database at this moment: both or none.
void expectNoHalfRequests(const Crowd &crowd, const std::string &where)
{
    SyncService service(where);
    std::set<std::string> emails;
    for (const auto &machine : crowd.machines)
        emails.insert(machine->email());
    for (const std::string &email : emails) {
        std::set<std::string> ids;
        for (const StoredNote &note : service.notesOf(email))
            ids.insert(note.noteid);
        for (const std::string &id : ids) {
            if (id.size() > 2 && id.compare(id.size() - 2, 2, "-a") == 0)
                EXPECT_TRUE(ids.count(id.substr(0, id.size() - 2) + "-b")) << id;
            if (id.size() > 2 && id.compare(id.size() - 2, 2, "-b") == 0)
                EXPECT_TRUE(ids.count(id.substr(0, id.size() - 2) + "-a")) << id;
        }
    }
}

// The crowd's rounds while `disturb` runs: every answer a success or
// `failure`, and no request taken in half.
void runDisturbed(Crowd &crowd, const Farm &farm, int rounds, int failure, const std::function<void()> &disturb)
{
    crowd.run(rounds, disturb);
    for (const auto &[status, times] : crowd.statuses)
        EXPECT_TRUE(status == 200 || status == failure) << status << " x" << times;
    expectNoHalfRequests(crowd, farm.where);
}

TEST(SeveralInstances, BehindNginxEveryNoteIsKeptAndMachinesConverge)
{
    for (int count : {2, 3}) {
        SCOPED_TRACE(std::to_string(count) + " instances");
        Farm farm(count);

        // Four machines on each of three accounts, all at once.
        Crowd crowd(3, 4, farm.nginx.port());
        crowd.run(15);
        EXPECT_EQ(crowd.statuses, (std::map<int, int>{{200, 12 * 15}}));
        ASSERT_NO_FATAL_FAILURE(crowd.settle());
        expectEverythingKept(crowd, farm.where);
    }
}

// An instance killed while it serves: nginx sends what it never took to the
// other one; what it took is either all kept or not kept at all, and the
// machine that saw it fail sends it again.
TEST(SeveralInstances, AnInstanceKilledDuringRequestsLosesNothing)
{
    Farm farm(2);
    Crowd crowd(2, 4, farm.nginx.port());
    runDisturbed(crowd, farm, 30, 502, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        farm.instances[0]->stop(SIGKILL);
    });
    ASSERT_NO_FATAL_FAILURE(crowd.settle());
    expectEverythingKept(crowd, farm.where);
}

// PostgreSQL restarted during syncs: a request waits for it or, when it stays
// away past the retries, is answered 503 with Retry-After; none is taken in half.
TEST(SeveralInstances, PostgresRestartedDuringSyncsLosesNothing)
{
    Farm farm(2);
    Crowd crowd(2, 3, farm.nginx.port());
    runDisturbed(crowd, farm, 25, 503, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        PostgresCluster::shared().restart("fast");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        PostgresCluster::shared().restart("immediate");
    });

    // Away for longer than the retries: 503 with Retry-After, then back.
    PostgresCluster::shared().stop("fast");
    Machine &machine = *crowd.machines[0];
    machine.write("while away", "kept", 5000);
    const int away = machine.sync();
    PostgresCluster::shared().start();
    EXPECT_EQ(away, 503);
    EXPECT_TRUE(machine.sawRetryAfter());
    crowd.written.insert("while away");

    ASSERT_NO_FATAL_FAILURE(crowd.settle());
    expectEverythingKept(crowd, farm.where);
}

// A service's SQLite file goes into PostgreSQL whole: its notes with their
// history, and its machines, which keep reaching their accounts there.
TEST(CopySqlite, EveryTableArrivesAndTheCountsAreChecked)
{
    TemporaryFolder folder;
    const std::string file = (folder.path() / "service.db").string();
    const std::string secret = newMachineSecret();
    {
        ServerProcess server(TOVIK_SYNC_SERVER_PATH, {"--port", "0", "--db", file});
        ASSERT_GT(server.port(), 0) << server.firstLine();
        Machine machine("copied@x.org", server.port());
        for (int i = 0; i < 5; ++i) {
            machine.write("n" + std::to_string(i), "text " + std::to_string(i), 100 + i);
            machine.write("edited", "version " + std::to_string(i), 200 + i);
            ASSERT_EQ(machine.sync(), 200);
        }
    }
    SyncService fromFile(file);
    const auto before = fromFile.notesOf("copied@x.org");
    ASSERT_EQ(before.size(), 6u);

    const std::string where = PostgresCluster::shared().newDatabase();
    ServerProcess copy(TOVIK_SYNC_SERVER_PATH, {"--copy-sqlite", file, "--db", where});
    const std::string output = copy.restOfOutput();
    EXPECT_EQ(copy.waitForExit(), 0) << output << copy.errorOutput();
    std::map<std::string, std::pair<int, int>> counts;
    const std::regex line(R"((\w+): (\d+) rows in the SQLite file, (\d+) in PostgreSQL\n)");
    for (std::sregex_iterator it(output.begin(), output.end(), line), end; it != end; ++it)
        counts[(*it)[1]] = {std::stoi((*it)[2]), std::stoi((*it)[3])};
    ASSERT_EQ(counts.size(), 7u) << output;
    for (const auto &[table, both] : counts)
        EXPECT_EQ(both.first, both.second) << table;
    EXPECT_EQ(counts["accounts"].first, 1);
    EXPECT_EQ(counts["notes"].first, 6);
    EXPECT_GT(counts["note_versions"].first, 0);
    EXPECT_GT(counts["note_receipts"].first, 0);
    EXPECT_EQ(counts["machines"].first, 1);
    SyncService inPostgres(where);
    EXPECT_EQ(inPostgres.notesOf("copied@x.org"), before);

    // Once there, a second copy is refused and changes nothing.
    ServerProcess again(TOVIK_SYNC_SERVER_PATH, {"--copy-sqlite", file, "--db", where});
    const std::string refused = again.restOfOutput() + again.errorOutput();
    EXPECT_EQ(again.waitForExit(), 1) << refused;
    EXPECT_EQ(inPostgres.notesOf("copied@x.org"), before);
}

} // namespace
