// tovik-sync-server figures on loopback, each beside its target and beside a
// floor measured in the same run: the same traffic against a bare HTTP server
// of the same library in this process, or the same sync without the load.
// The program under test runs as it is deployed, in a child process.
//
// The long load figure runs for TOVIK_BENCH_LOAD_SECONDS (default 60).

#include "ServerHarness.h"

#include <benchmark/benchmark.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

namespace {

const httplib::Headers qtOffer = {{"Accept-Encoding", "gzip, deflate, br"}};

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double percentile(std::vector<double> samples, double fraction)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    return samples[std::min(samples.size() - 1, std::size_t(fraction * double(samples.size())))];
}

double median(std::vector<double> samples)
{
    return percentile(std::move(samples), 0.5);
}

// The program on a port of its own, with its database in a fresh folder.
struct Service {
    explicit Service(std::vector<std::string> extra = {})
        : process(TOVIK_SYNC_SERVER_PATH, [&] {
            // All the load comes from one address, far past what one client IP may send.
            std::vector<std::string> arguments = {"--port", "0", "--db", (folder.path() / "service.db").string(),
                                                  "--requests-per-minute", "1000000"};
            arguments.insert(arguments.end(), extra.begin(), extra.end());
            return arguments;
        }())
    {
        if (process.port() <= 0)
            throw std::runtime_error("the service did not start: " + process.firstLine());
    }
    std::unique_ptr<httplib::Client> client() const
    {
        auto client = std::make_unique<httplib::Client>("127.0.0.1", process.port());
        // One machine, approved on its first request.
        client->set_default_headers({{"Authorization", "Bearer " + std::string(64, 'b')}});
        client->set_keep_alive(true);
        client->set_tcp_nodelay(true); // as Qt's client does

        client->set_read_timeout(std::chrono::seconds(60));
        client->set_write_timeout(std::chrono::seconds(60));
        return client;
    }
    // Kilobytes from the process's status: "VmRSS" now, "VmHWM" the peak.
    long kilobytes(const char *field) const
    {
        std::ifstream status("/proc/" + std::to_string(process.pid()) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind(field, 0) == 0)
                return std::atol(line.c_str() + std::strlen(field) + 1);
        }
        return 0;
    }
    void resetPeak() const { std::ofstream("/proc/" + std::to_string(process.pid()) + "/clear_refs") << "5"; }

    TemporaryFolder folder;
    ServerProcess process;
};

// The same routes' shape, answering fixed bytes at once: what the transport alone costs.
struct BareServer {
    explicit BareServer(std::string answer) : answer(std::move(answer))
    {
        server.set_tcp_nodelay(true);
        server.set_keep_alive_max_count(100000);
        server.Post("/api/sync", [this](const httplib::Request &, httplib::Response &response) {
            response.set_content_provider(this->answer.size(), "application/json",
                                          [this](std::size_t offset, std::size_t length, httplib::DataSink &sink) {
                                              return sink.write(this->answer.data() + offset, length);
                                          });
        });
        server.Get("/ip", [](const httplib::Request &request, httplib::Response &response) {
            response.set_content(request.remote_addr, "text/plain");
        });
        port = server.bind_to_any_port("127.0.0.1"); // connections queue from here on
        thread = std::thread([this] { server.listen_after_bind(); });
    }
    ~BareServer()
    {
        server.stop();
        thread.join();
    }
    std::unique_ptr<httplib::Client> client() const
    {
        auto client = std::make_unique<httplib::Client>("127.0.0.1", port);
        client->set_keep_alive(true);
        client->set_tcp_nodelay(true);
        client->set_read_timeout(std::chrono::seconds(60));
        return client;
    }

    std::string answer;
    httplib::Server server;
    int port = 0;
    std::thread thread;
};

ordered_json note(int index, std::size_t contentBytes, int64_t modified)
{
    std::string content = "Note " + std::to_string(index) + ": ";
    while (content.size() < contentBytes)
        content += "the quick brown fox jumps over the lazy dog; ";
    content.resize(contentBytes);
    char id[41];
    std::snprintf(id, sizeof id, "%040x", index);
    return ordered_json{{"noteid", id},          {"content", content},
                        {"type", 1 + index % 2}, {"isdeleted", 0},
                        {"createdtime", 1700000000}, {"lastmodifiedtime", modified},
                        {"title", ""},           {"isfavorite", index % 7 == 0 ? 1 : 0},
                        {"filelink", ""}};
}

ordered_json notes(int count, std::size_t contentBytes, int64_t modified = 1700000000)
{
    ordered_json all = ordered_json::array();
    for (int i = 0; i < count; ++i)
        all.push_back(note(i, contentBytes, modified + i));
    return all;
}

std::string syncBody(const std::string &email, const ordered_json &notes = ordered_json::array())
{
    return ordered_json{{"email", email}, {"ip", "127.0.0.1"}, {"notes", notes}}.dump();
}

bool post(httplib::Client &client, const std::string &body, const httplib::Headers &headers = {})
{
    const auto reply = client.Post("/api/sync", headers, body, "application/json");
    return reply && reply->status == 200;
}

// One line of the summary.
struct Figure {
    std::string name;
    double value;
    double floor;
    std::string unit;
    std::string target;
    std::string floorUnit = unit; // a floor in other units gets no ratio
};
std::mutex figuresMutex;
std::vector<Figure> figures;

void record(benchmark::State &state, Figure figure)
{
    state.counters[figure.unit] = figure.value;
    state.counters["floor " + figure.unit] = figure.floor;
    std::lock_guard lock(figuresMutex);
    figures.push_back(std::move(figure));
}

// Latencies of `count` calls of `call`, in milliseconds; an error stops the benchmark.
template <typename Call>
std::vector<double> latencies(benchmark::State &state, int count, Call call)
{
    std::vector<double> samples;
    for (int i = 0; i < count; ++i) {
        const Clock::time_point start = Clock::now();
        if (!call()) {
            state.SkipWithError("a request failed");
            break;
        }
        samples.push_back(millisecondsSince(start));
    }
    return samples;
}

void BM_smallSyncKeptAlive(benchmark::State &state)
{
    Service service;
    BareServer bare("{\"status\":601,\"msg\":\"Up to date\"}");
    auto client = service.client();
    auto bareClient = bare.client();
    const std::string body = syncBody("small@x.org", notes(1, 200));
    for (auto _ : state) {
        const auto sync = latencies(state, 500, [&] { return post(*client, body); });
        const auto floor = latencies(state, 500, [&] { return post(*bareClient, body); });
        record(state, {"small sync on a kept-alive connection, median", median(sync), median(floor), "ms",
                       "under 5 ms"});
    }
}

// Small syncs per second from clients that each keep their connection.
double syncsPerSecond(int clients, std::chrono::seconds length, const std::function<bool(httplib::Client &)> &call,
                      const std::function<std::unique_ptr<httplib::Client>()> &connect, std::atomic<int> &failures)
{
    std::atomic<long> done{0};
    const Clock::time_point end = Clock::now() + length;
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&] {
            auto client = connect();
            while (Clock::now() < end) {
                if (!call(*client))
                    ++failures;
                ++done;
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    return double(done) / double(length.count());
}

void BM_eightKeptAliveClients(benchmark::State &state)
{
    Service service;
    BareServer bare("{\"status\":601,\"msg\":\"Up to date\"}");
    const std::string body = syncBody("eight@x.org", notes(1, 200));
    for (auto _ : state) {
        std::atomic<int> failures{0};
        const double rate = syncsPerSecond(
            8, std::chrono::seconds(3), [&](httplib::Client &client) { return post(client, body); },
            [&] { return service.client(); }, failures);
        const double floor = syncsPerSecond(
            8, std::chrono::seconds(3), [&](httplib::Client &client) { return post(client, body); },
            [&] { return bare.client(); }, failures);
        if (failures > 0)
            state.SkipWithError("a request failed");
        record(state, {"8 kept-alive clients, small syncs per second", rate, floor, "per s", "at least 1000"});
    }
}

// A machine with nothing yet, offering what Qt offers, gets a store of 10,000 notes.
void BM_tenThousandNoteAnswer(benchmark::State &state)
{
    Service service;
    const ordered_json store = notes(10000, 600);
    auto client = service.client();
    if (!post(*client, syncBody("big@x.org", store)))
        return state.SkipWithError("cannot store the notes");
    const auto first = client->Post("/api/sync", qtOffer, syncBody("big@x.org"), "application/json");
    if (!first || first->status != 200)
        return state.SkipWithError("no answer");
    BareServer bare(first->body); // the same bytes, uncompressed
    auto bareClient = bare.client();
    for (auto _ : state) {
        const auto answer = latencies(state, 5, [&] {
            auto fresh = service.client(); // a new machine's first sync opens its connection too
            const auto reply = fresh->Post("/api/sync", qtOffer, syncBody("big@x.org"), "application/json");
            return reply && reply->status == 200 && reply->body.size() > 6000000;
        });
        const auto floor = latencies(state, 5, [&] {
            auto fresh = bare.client();
            const auto reply = fresh->Post("/api/sync", qtOffer, syncBody("big@x.org"), "application/json");
            return reply && reply->status == 200;
        });
        record(state, {"10,000-note answer (" + std::to_string(first->body.size() / 1000) + " kB), median",
                       median(answer), median(floor), "ms", "under 500 ms"});
    }
}

// The everyday case: a machine sends its 10,000 notes and has nothing to apply.
void BM_tenThousandNoteRequest(benchmark::State &state)
{
    Service service;
    const std::string body = syncBody("big@x.org", notes(10000, 600));
    auto client = service.client();
    if (!post(*client, body))
        return state.SkipWithError("cannot store the notes");
    BareServer bare("{\"status\":602,\"msg\":\"Synced\",\"notes\":[]}");
    auto bareClient = bare.client();
    for (auto _ : state) {
        const auto sync = latencies(state, 5, [&] { return post(*client, body, qtOffer); });
        const auto floor = latencies(state, 5, [&] { return post(*bareClient, body, qtOffer); });
        record(state, {"10,000-note request, nothing to apply, median", median(sync), median(floor), "ms",
                       "under 500 ms"});
    }
}

// 200 connections that send one header byte every 2 s, and a normal sync beside them.
void BM_syncBesideSlowConnections(benchmark::State &state)
{
    Service service;
    const std::string body = syncBody("normal@x.org", notes(20, 500));
    auto baseline = service.client();
    for (auto _ : state) {
        const auto floor = latencies(state, 5, [&] { return post(*service.client(), body); });

        const std::string head = "POST /api/sync HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 2\r\n\r\n";
        std::vector<std::unique_ptr<RawConnection>> slow;
        for (int i = 0; i < 200; ++i) {
            slow.push_back(std::make_unique<RawConnection>(service.process.port()));
            slow.back()->send(head.substr(0, 1));
        }
        std::atomic<bool> stop{false};
        std::thread trickle([&] {
            for (std::size_t sent = 1; sent < head.size() && !stop; ++sent) {
                for (int tick = 0; tick < 20 && !stop; ++tick)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                for (auto &connection : slow)
                    connection->send(head.substr(sent, 1));
            }
        });
        const auto sync = latencies(state, 5, [&] { return post(*service.client(), body); });
        stop = true;
        trickle.join();
        record(state, {"sync beside 200 slow connections, median", median(sync), median(floor), "ms",
                       "under 1000 ms"});
    }
}

// Peak memory of the service while it handles bodies, against their size.
void BM_requestPeakMemory(benchmark::State &state)
{
    Service service;
    const std::size_t mib = std::size_t(1) << 20;
    const std::string brackets(16 * mib, '[');
    const std::string large = syncBody("large@x.org", notes(64, mib));
    for (auto _ : state) {
        auto peakRise = [&](int parallel, const std::string &body) {
            const long before = service.kilobytes("VmRSS:");
            service.resetPeak();
            std::vector<std::thread> threads;
            for (int i = 0; i < parallel; ++i)
                threads.emplace_back([&] { service.client()->Post("/api/sync", body, "application/json"); });
            for (std::thread &thread : threads)
                thread.join();
            const double rise = double(service.kilobytes("VmHWM:") - before) * 1024;
            return rise / (double(body.size()) * parallel);
        };
        const double one = peakRise(1, brackets);
        const double eight = peakRise(8, brackets);
        const double valid = peakRise(1, large);
        const double rest = double(service.kilobytes("VmRSS:")) / 1024;
        record(state, {"refused 16 MiB of \"[\": peak rise per body byte (floor: MiB at rest)", one, rest, "x",
                       "under 3x", "MiB"});
        record(state, {"eight such at once: peak rise per body byte", eight, rest, "x", "under 3x", "MiB"});
        record(state, {"a valid 64 MiB sync: peak rise per body byte", valid, rest, "x", "under 3x", "MiB"});
    }
}

// 50 machines of 300 notes each, each syncing again as soon as it has its
// answer, one note changed each time.
void BM_fiftyClientsLoad(benchmark::State &state)
{
    const char *setting = std::getenv("TOVIK_BENCH_LOAD_SECONDS");
    const int seconds = setting && std::atoi(setting) > 0 ? std::atoi(setting) : 60;
    Service service;
    for (auto _ : state) {
        std::vector<double> alone;
        {
            ordered_json mine = notes(300, 600);
            auto client = service.client();
            for (int round = 0; round < 20; ++round) {
                mine[round]["lastmodifiedtime"] = 1800000000 + round;
                const Clock::time_point start = Clock::now();
                post(*client, syncBody("alone@x.org", mine));
                alone.push_back(millisecondsSince(start));
            }
        }

        std::mutex mutex;
        std::vector<double> samples;
        std::atomic<int> failures{0};
        const Clock::time_point start = Clock::now();
        const Clock::time_point end = start + std::chrono::seconds(seconds);
        long earlyKilobytes = 0;
        std::vector<std::thread> clients;
        for (int c = 0; c < 50; ++c) {
            clients.emplace_back([&, c] {
                ordered_json mine = notes(300, 600);
                const std::string email = "load" + std::to_string(c) + "@x.org";
                auto client = service.client();
                std::vector<double> own;
                for (int round = 0; Clock::now() < end; ++round) {
                    mine[round % 300]["lastmodifiedtime"] = 1800000000 + round;
                    mine[round % 300]["content"] = "changed in round " + std::to_string(round);
                    const Clock::time_point sent = Clock::now();
                    const auto reply = client->Post("/api/sync", qtOffer, syncBody(email, mine), "application/json");
                    own.push_back(millisecondsSince(sent));
                    if (!reply || reply->status != 200)
                        ++failures;
                }
                std::lock_guard lock(mutex);
                samples.insert(samples.end(), own.begin(), own.end());
            });
        }
        std::this_thread::sleep_for(std::chrono::seconds(seconds) / 6);
        earlyKilobytes = service.kilobytes("VmRSS:");
        for (std::thread &client : clients)
            client.join();
        const long lateKilobytes = service.kilobytes("VmRSS:");

        state.counters["syncs"] = double(samples.size());
        if (failures > 0)
            state.SkipWithError("requests failed under load");
        record(state, {"50 clients x 300 notes, " + std::to_string(seconds) + " s: p99 of " +
                           std::to_string(samples.size()) + " syncs, " + std::to_string(failures.load()) + " errors",
                       percentile(samples, 0.99), median(alone), "ms", "under 500 ms, no error"});
        record(state, {"the same load: memory at the end per memory a sixth of the way in (floor: MiB then)",
                       double(lateKilobytes) / double(std::max(1L, earlyKilobytes)), double(earlyKilobytes) / 1024,
                       "x", "flat (about 1x)", "MiB"});
    }
}

BENCHMARK(BM_smallSyncKeptAlive)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_eightKeptAliveClients)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_tenThousandNoteAnswer)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_tenThousandNoteRequest)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_syncBesideSlowConnections)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_requestPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_fiftyClientsLoad)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    std::printf("\n%-84s %14s %14s %8s   %s\n", "figure (medians unless named)", "measured", "floor", "ratio",
                "target");
    for (const Figure &figure : figures) {
        char ratio[32] = "";
        if (figure.floor > 0 && figure.floorUnit == figure.unit)
            std::snprintf(ratio, sizeof ratio, "%.2fx", figure.value / figure.floor);
        std::printf("%-84s %9.2f %-4s %9.2f %-4s %8s   %s\n", figure.name.c_str(), figure.value,
                    figure.unit.c_str(), figure.floor, figure.floorUnit.c_str(), ratio, figure.target.c_str());
    }
    benchmark::Shutdown();
    return 0;
}
