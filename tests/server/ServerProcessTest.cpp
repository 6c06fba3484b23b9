// The tovik-sync-server program: start-up, routes, limits, connections, HTTPS, restarts, command line.

#include "ServerHarness.h"
#include "ServerOptions.h"
#include "ServerTestSupport.h"
#include "SyncHttp.h"
#include "SyncService.h"

#include <httplib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <regex>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using nlohmann::ordered_json;

namespace {

std::vector<std::string> plainArguments(const std::string &where)
{
    // These tests send more requests than one client IP address may by default.
    return {"--port", "0", "--db", where, "--requests-per-minute", "1000000"};
}

std::vector<std::string> plainArguments(const TemporaryFolder &folder)
{
    return plainArguments((folder.path() / "service.db").string());
}

// The program's own behaviour over each store it can keep its notes in.
class ServerProcessOnStore : public ::testing::TestWithParam<StoreKind> {
protected:
    TemporaryFolder folder;
    const std::string where = newStoreAddress(GetParam(), folder);
};
INSTANTIATE_FOR_BOTH_STORES(ServerProcessOnStore);

std::string postHead(const std::string &extraHeaders)
{
    return "POST /api/sync HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nAuthorization: "
        + machineHeaders().find("Authorization")->second + "\r\n" + extraHeaders + "\r\n";
}

TEST_P(ServerProcessOnStore, AnswersOnAPortItPicks)
{
    ServerProcess server(TOVIK_SYNC_SERVER_PATH, plainArguments(where));
    ASSERT_GT(server.port(), 0) << server.firstLine();

    httplib::Client client("127.0.0.1", server.port());
    client.set_default_headers(machineHeaders());
    const auto ip = client.Get("/ip");
    ASSERT_TRUE(ip);
    EXPECT_EQ(ip->status, 200);
    EXPECT_EQ(ip->body, "127.0.0.1");

    const auto synced = client.Post("/api/sync", syncBody("u@x.org"), "application/json");
    ASSERT_TRUE(synced);
    EXPECT_EQ(synced->status, 200);
    EXPECT_EQ(synced->get_header_value("Content-Type"), "application/json");
    EXPECT_EQ(ordered_json::parse(synced->body).at("status"), 601);

    const auto bad = client.Post("/api/sync", "{", "application/json");
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->status, 400);
    EXPECT_TRUE(ordered_json::parse(bad->body).at("msg").is_string());

    const auto unknown = client.Get("/nothing");
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->status, 404);
    EXPECT_TRUE(ordered_json::parse(unknown->body).at("msg").is_string());
}

// The body limit holds whether the client announces the length or not: an
// announced one past it is refused before a byte of the body is read, a
// chunked one as soon as it passes the limit, not at its end.
TEST(ServerProcess, BodiesPastTheLimitAreRefusedEarly)
{
    TemporaryFolder folder;
    std::vector<std::string> arguments = plainArguments(folder);
    arguments.insert(arguments.end(), {"--max-body", "64K"});
    ServerProcess server(TOVIK_SYNC_SERVER_PATH, arguments);
    ASSERT_GT(server.port(), 0) << server.firstLine();

    // A well-formed request that only its size makes bad.
    httplib::Client client("127.0.0.1", server.port());
    client.set_default_headers(machineHeaders());
    ordered_json big = noteObject("big", std::string(64 * 1024, 'x'), 10);
    const auto refused = client.Post("/api/sync", syncBody("u@x.org", ordered_json::array({big})), "application/json");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 413);
    EXPECT_EQ(ordered_json::parse(refused->body).at("msg"), "Request body too large");

    RawConnection announced(server.port());
    ASSERT_TRUE(announced.connected());
    ASSERT_TRUE(announced.send(postHead("Content-Length: 1000000000\r\n")));
    const auto [announcedStatus, announcedBody] = announced.readAnswer(); // no body sent at all
    EXPECT_EQ(announcedStatus, 413);
    EXPECT_EQ(ordered_json::parse(announcedBody).at("msg"), "Request body too large");
    // The body that comes after the refusal is not read as a next request:
    // the connection ends long before 256 MiB have gone.
    const std::string mebibyte(1 << 20, 'x');
    int sent = 0;
    while (sent < 256 && announced.send(mebibyte))
        ++sent;
    EXPECT_LT(sent, 256);

    // Twice the limit in chunks, and the body never ends: only a refusal
    // while it is read can answer.
    RawConnection chunked(server.port());
    ASSERT_TRUE(chunked.connected());
    ASSERT_TRUE(chunked.send(postHead("Transfer-Encoding: chunked\r\n")));
    const std::string chunk = "4000\r\n" + std::string(0x4000, '[') + "\r\n";
    for (int i = 0; i < 8 && chunked.send(chunk); ++i) {
    }
    const auto [chunkedStatus, chunkedBody] = chunked.readAnswer();
    EXPECT_EQ(chunkedStatus, 413);
    EXPECT_EQ(ordered_json::parse(chunkedBody).at("msg"), "Request body too large");

    const auto after = client.Post("/api/sync", syncBody("u@x.org"), "application/json");
    ASSERT_TRUE(after);
    EXPECT_EQ(ordered_json::parse(after->body).at("msg"), "Email configured"); // not registered before
}

// While the requests in flight hold their whole memory budget, a further one
// is told to come back later instead of being read.
TEST(ServerProcess, RequestsPastTheMemoryBudgetAreAskedToRetry)
{
    TemporaryFolder folder;
    std::vector<std::string> arguments = plainArguments(folder);
    arguments.insert(arguments.end(), {"--max-body", "64K", "--max-in-flight", "192K"});
    ServerProcess server(TOVIK_SYNC_SERVER_PATH, arguments);
    ASSERT_GT(server.port(), 0) << server.firstLine();

    // A request of 60,000 bytes of which only the start has come.
    std::string slowBody = syncBody("slow@x.org");
    slowBody.resize(60000, ' ');
    std::unique_ptr<RawConnection> slow;

    httplib::Client client("127.0.0.1", server.port());
    client.set_default_headers(machineHeaders());
    std::string small = syncBody("u@x.org");
    small.resize(20000, ' ');
    httplib::Response busy;
    // The slow one may come to the budget after a small one of the step
    // before took its share; it is then refused in turn once its body is in,
    // and the step starts over.
    for (int attempt = 0; attempt < 100 && busy.status != 503; ++attempt) {
        if (slow) {
            ASSERT_TRUE(slow->send(slowBody.substr(100)));
            slow->readAnswer();
        }
        slow = std::make_unique<RawConnection>(server.port());
        ASSERT_TRUE(slow->connected());
        ASSERT_TRUE(slow->send(postHead("Content-Length: 60000\r\n") + slowBody.substr(0, 100)));
        const auto reply = client.Post("/api/sync", small, "application/json");
        ASSERT_TRUE(reply);
        busy = *reply;
    }
    EXPECT_EQ(busy.status, 503);
    EXPECT_FALSE(busy.get_header_value("Retry-After").empty());
    EXPECT_TRUE(ordered_json::parse(busy.body).at("msg").is_string());

    ASSERT_TRUE(slow->send(slowBody.substr(100)));
    const auto [slowStatus, slowAnswer] = slow->readAnswer();
    EXPECT_EQ(slowStatus, 200) << slowAnswer;

    // With the slow one answered, its share is free again.
    const auto after = client.Post("/api/sync", small, "application/json");
    ASSERT_TRUE(after);
    EXPECT_EQ(after->status, 200);
}

// Connections that send a header byte now and then, from many addresses; a
// normal sync is still answered while all of them are held.
TEST(ServerProcess, SlowConnectionsDoNotStallOthers)
{
    TemporaryFolder folder;
    ServerProcess server(TOVIK_SYNC_SERVER_PATH, plainArguments(folder));
    ASSERT_GT(server.port(), 0) << server.firstLine();

    const std::string head = postHead("Content-Length: 2\r\n");
    std::vector<std::unique_ptr<RawConnection>> slow;
    for (int i = 0; i < 200; ++i) {
        const std::string source = "127.0.1." + std::to_string(1 + i % 100);
        slow.push_back(std::make_unique<RawConnection>(server.port(), source.c_str()));
        ASSERT_TRUE(slow.back()->connected());
        ASSERT_TRUE(slow.back()->send(head.substr(0, 1)));
    }
    // One more byte each every 2 s until the sync has its answer (or its 60 s are up).
    std::mutex mutex;
    std::condition_variable stop;
    bool stopping = false;
    std::thread trickle([&] {
        std::unique_lock lock(mutex);
        for (std::size_t sent = 1; sent < head.size() && !stopping; ++sent) {
            if (stop.wait_for(lock, std::chrono::seconds(2), [&] { return stopping; }))
                break;
            for (auto &connection : slow)
                connection->send(head.substr(sent, 1));
        }
    });

    httplib::Client client("127.0.0.1", server.port());
    client.set_default_headers(machineHeaders());
    client.set_read_timeout(std::chrono::seconds(60));
    const auto reply = client.Post("/api/sync", syncBody("u@x.org"), "application/json");
    std::size_t stillOpen = 0;
    for (const auto &connection : slow)
        stillOpen += connection->isOpen();
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    stop.notify_all();
    trickle.join();

    ASSERT_TRUE(reply) << httplib::to_string(reply.error());
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(stillOpen, slow.size()); // answered while every slow one was held
}

// Large answers go gzip-compressed at a fast level even to a client that
// offers brotli, on a connection that stays open from one sync to the next.
TEST_P(ServerProcessOnStore, LargeAnswersAreGzippedOnAKeptConnection)
{
    ServerProcess server(TOVIK_SYNC_SERVER_PATH, plainArguments(where));
    ASSERT_GT(server.port(), 0) << server.firstLine();

    ordered_json notes = ordered_json::array();
    for (int i = 0; i < 200; ++i)
        notes.push_back(noteObject("n" + std::to_string(i), std::string(500, 'a' + i % 26), 100 + i));
    httplib::Client client("127.0.0.1", server.port());
    client.set_default_headers(machineHeaders());
    client.set_keep_alive(true);
    ASSERT_TRUE(client.Post("/api/sync", syncBody("u@x.org", notes), "application/json"));

    const httplib::Headers offer = {{"Accept-Encoding", "gzip, deflate, br"}};
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const auto reply = client.Post("/api/sync", offer, syncBody("u@x.org"), "application/json");
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, 200);
        EXPECT_EQ(reply->get_header_value("Content-Encoding"), "gzip");
        EXPECT_EQ(reply->get_header_value("Content-Type"), "application/json");
        const ordered_json body = ordered_json::parse(reply->body); // the client unpacked it
        EXPECT_EQ(body.at("notes").size(), 200u);
        EXPECT_EQ(body.at("notes").at(199), withRev(notes.at(0), 1));
    }

    // A small answer goes as it is.
    const auto small = client.Post("/api/sync", offer, syncBody("v@x.org"), "application/json");
    ASSERT_TRUE(small);
    EXPECT_EQ(small->get_header_value("Content-Encoding"), "");
    EXPECT_EQ(ordered_json::parse(small->body).at("status"), 601);
}

TEST_P(ServerProcessOnStore, AcceptedNotesSurviveAKill)
{
    {
        ServerProcess server(TOVIK_SYNC_SERVER_PATH, plainArguments(where));
        ASSERT_GT(server.port(), 0);
        httplib::Client client("127.0.0.1", server.port());
        client.set_default_headers(machineHeaders());
        const auto stored = client.Post("/api/sync", syncBody("u@x.org", ordered_json::array({noteObject("n", "c", 5)})),
                                        "application/json");
        ASSERT_TRUE(stored);
        ASSERT_EQ(stored->status, 200);
        EXPECT_EQ(server.stop(SIGKILL), -SIGKILL);
    }
    ServerProcess restarted(TOVIK_SYNC_SERVER_PATH, plainArguments(where));
    ASSERT_GT(restarted.port(), 0);
    httplib::Client client("127.0.0.1", restarted.port());
    client.set_default_headers(machineHeaders());
    const auto reply = client.Post("/api/sync", syncBody("u@x.org"), "application/json");
    ASSERT_TRUE(reply);
    const ordered_json body = ordered_json::parse(reply->body);
    ASSERT_EQ(body.at("status"), 602);
    EXPECT_EQ(body.at("notes").at(0), withRev(noteObject("n", "c", 5), 1));
}

TEST(ServerProcess, ServesHttpsWithACertificate)
{
    TemporaryFolder folder;
    const std::string cert = (folder.path() / "cert.pem").string();
    const std::string key = (folder.path() / "key.pem").string();
    const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 -keyout '" + key
        + "' -out '" + cert + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0) << "openssl could not make a certificate";

    std::vector<std::string> arguments = plainArguments(folder);
    arguments.insert(arguments.end(), {"--cert", cert, "--key", key});
    ServerProcess server(TOVIK_SYNC_SERVER_PATH, arguments);
    ASSERT_GT(server.port(), 0) << server.firstLine();

    httplib::SSLClient secure("127.0.0.1", server.port());
    secure.set_default_headers(machineHeaders());
    secure.set_ca_cert_path(cert.c_str());
    secure.enable_server_certificate_verification(true);
    const auto reply = secure.Post("/api/sync", syncBody("u@x.org"), "application/json");
    ASSERT_TRUE(reply) << httplib::to_string(reply.error());
    EXPECT_EQ(ordered_json::parse(reply->body).at("status"), 601);

    httplib::Client plain("127.0.0.1", server.port());
    EXPECT_FALSE(plain.Get("/ip")); // no plain HTTP on an HTTPS port
}

TEST(AnswerEncoding, GzipOnlyWhereTheClientAllowsIt)
{
    const std::pair<const char *, bool> cases[] = {
        {"gzip, deflate, br", true}, {"br", false},          {"", false},
        {"GZip", true},              {"deflate, gzip;q=0.5", true}, {"gzip;q=0", false},
        {"gzip; q=0.000", false},    {"x-gzip", true},       {"identity, gzipped", false},
    };
    for (const auto &[offer, allowed] : cases)
        EXPECT_EQ(acceptsGzip(offer), allowed) << offer;
}

TEST(ServerOptions, ValuesAndDefaults)
{
    const auto parse = [](std::vector<std::string> extra) {
        extra.insert(extra.begin(), {"--port", "8765", "--db", "service.db"});
        const ParsedOptions parsed = parseServerOptions(extra);
        EXPECT_TRUE(std::holds_alternative<ServerOptions>(parsed));
        return std::holds_alternative<ServerOptions>(parsed) ? std::get<ServerOptions>(parsed) : ServerOptions{};
    };
    const ServerOptions defaults = parse({});
    EXPECT_EQ(defaults.host, "127.0.0.1");
    EXPECT_EQ(defaults.port, 8765);
    EXPECT_EQ(defaults.database, "service.db");
    EXPECT_EQ(defaults.limits.maxBodyBytes, 512u << 20);
    EXPECT_EQ(defaults.limits.maxInFlightBytes, std::size_t(2) << 30);

    const ServerOptions set = parse({"--host", "0.0.0.0", "--max-body", "3M", "--max-in-flight", "9437184",
                                     "--threads", "64", "--timeout", "30", "--idle-timeout", "5", "--cert", "c.pem",
                                     "--key", "k.pem", "--open"});
    EXPECT_EQ(set.host, "0.0.0.0");
    EXPECT_EQ(set.limits.maxBodyBytes, 3u << 20);
    EXPECT_EQ(set.limits.maxInFlightBytes, 9437184u);
    EXPECT_EQ(set.limits.maxThreads, 64u);
    EXPECT_EQ(set.limits.timeout, std::chrono::seconds(30));
    EXPECT_EQ(set.limits.idleTimeout, std::chrono::seconds(5));
    EXPECT_EQ(set.certificate, "c.pem");
    EXPECT_EQ(set.key, "k.pem");
    EXPECT_TRUE(set.access.open);
    EXPECT_FALSE(set.access.loopbackOnly);
    EXPECT_EQ(parse({"--max-body", "2k"}).limits.maxBodyBytes, 2048u);
    EXPECT_EQ(parse({"--max-body", "1g", "--max-in-flight", "3G"}).limits.maxBodyBytes, std::size_t(1) << 30);

    EXPECT_TRUE(std::holds_alternative<HelpRequested>(parseServerOptions({"--port", "1", "--help"})));
}

TEST(ServerProcess, HelpListsEveryFlag)
{
    ServerProcess help(TOVIK_SYNC_SERVER_PATH, {"--help"});
    EXPECT_EQ(help.waitForExit(), 0);
    const std::string text = help.restOfOutput();
    for (const char *flag : {"--port", "--host", "--db", "--cert", "--key", "--max-body", "--max-in-flight",
                             "--threads", "--timeout", "--idle-timeout", "--header-timeout", "--chain", "--log",
                             "--max-connections", "--max-per-address", "--trust-proxy", "--help", "--smtp",
                             "--smtp-credentials", "--smtp-ca", "--mail-from", "--public-url", "--open",
                             "--requests-per-minute", "--db-connections", "--copy-sqlite"})
        EXPECT_NE(text.find(flag), std::string::npos) << flag;
    EXPECT_NE(text.find("for a trusted network only"), std::string::npos);
}

TEST(ServerProcess, RefusesBadArgumentsWithOneLineAndStatus2)
{
    TemporaryFolder folder;
    const std::string db = (folder.path() / "service.db").string();
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--port", "0"},
        {"--db", db},
        {"--port"},
        {"--port", "http", "--db", db},
        {"--port", "70000", "--db", db},
        {"--port", "-1", "--db", db},
        {"--port", "0", "--db", db, "--cert", "only-a-cert.pem"},
        {"--port", "0", "--db", db, "--verbose", "yes"},
        {"--port", "0", "--db", db, "--max-body", "lots"},
        {"--port", "0", "--db", db, "--max-body", "0"},
        {"--port", "0", "--db", db, "--max-body", "99999999999G"},
        {"--port", "0", "--db", db, "--max-body", "1G", "--max-in-flight", "2G"},
        {"--port", "0", "--db", db, "--threads", "0"},
        {"--port", "0", "--db", db, "--db-connections", "0"},
        {"--port", "0", "--db", db, "--copy-sqlite", ""},
        {"--copy-sqlite", db, "--db", db},
        {"--port", "0", "--db", db, "--timeout", "1.5"},
        {"--port", "0", "--db", db, "--idle-timeout", ""},
        {"--port", "0", "--db", db, "--cert", "missing.pem", "--key", "missing.key"},
        // Other machines are approved by mail, or by a choice made on purpose.
        {"--port", "0", "--db", db, "--host", "0.0.0.0"},
        {"--port", "0", "--db", db, "--host", "::"},
        {"--port", "0", "--db", db, "--host", "192.168.1.5"},
        {"--port", "0", "--db", db, "--smtp", "http://relay", "--mail-from", "a@b.org", "--public-url", "https://x"},
        {"--port", "0", "--db", db, "--smtp", "smtp://relay", "--public-url", "https://x"},
        {"--port", "0", "--db", db, "--smtp", "smtp://relay", "--mail-from", "a@b.org"},
        {"--port", "0", "--db", db, "--smtp", "smtp://relay", "--mail-from", "a@b.org", "--public-url", "x.org"},
        {"--port", "0", "--db", db, "--smtp", "smtp://relay", "--mail-from", "a@b.org", "--public-url", "https://x",
         "--open"},
        {"--port", "0", "--db", db, "--smtp", "smtp://relay", "--mail-from", "a@b.org", "--public-url", "https://x",
         "--smtp-credentials", "missing-credentials"},
        {"--port", "0", "--db", db, "--mail-from", "a@b.org"},
        {"--port", "0", "--db", db, "--requests-per-minute", "0"},
        {"--port", "0", "--db", db, "--chain", "chain.pem"},
        {"--port", "0", "--db", db, "--trust-proxy", "nginx.local"},
        // Behind a proxy the callers are not this machine's: no approval on first use.
        {"--port", "0", "--db", db, "--trust-proxy", "127.0.0.1"},
        {"--port", "0", "--db", db, "--max-per-address", "0"},
        {"--port", "0", "--db", db, "--threads", "5000"},
    };
    for (const auto &arguments : cases) {
        SCOPED_TRACE(::testing::PrintToString(arguments));
        ServerProcess server(TOVIK_SYNC_SERVER_PATH, arguments);
        EXPECT_EQ(server.port(), 0);
        EXPECT_EQ(server.waitForExit(), 2);
        const std::string error = server.errorOutput();
        EXPECT_EQ(error.rfind("tovik-sync-server: ", 0), 0u) << error;
        EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error;
    }
    EXPECT_FALSE(std::filesystem::exists(db));
}

} // namespace
