// The service's front door on real sockets: slow and idle clients, the bounds
// on connections, strict HTTP, TLS policy and certificates, a proxy's client
// address, the port, a full disk and private files.

#include "ServerHarness.h"
#include "ServerTestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <thread>

using nlohmann::ordered_json;

namespace {

std::vector<std::string> plainArguments(const TemporaryFolder &folder, std::vector<std::string> extra = {})
{
    std::vector<std::string> arguments = {"--port", "0", "--db", (folder.path() / "service.db").string()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

// A throw-away authority with a server certificate in `folder`.
void makeCertificates(const TemporaryFolder &folder, const std::string &name = "localhost")
{
    const std::string command = "sh '" TOVIK_MAKE_TEST_CA "' '" + folder.path().string() + "' '" + name + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << "openssl could not make the certificates";
}

std::vector<std::string> tlsArguments(const TemporaryFolder &folder, std::vector<std::string> extra = {})
{
    const auto file = [&](const char *name) { return (folder.path() / name).string(); };
    extra.insert(extra.begin(), {"--cert", file("leaf.pem"), "--key", file("leaf.key"), "--chain",
                                 file("intermediate.pem")});
    return plainArguments(folder, extra);
}

std::string request(const std::string &head, const std::string &body = "")
{
    return head + "Host: 127.0.0.1\r\n" + (body.empty() ? "" : "Content-Length: " + std::to_string(body.size()) + "\r\n")
        + "\r\n" + body;
}

// The n-th of many loopback client addresses, each counted as a client of its own.
std::string clientAddress(int n)
{
    return "127.0.1." + std::to_string(1 + n % 200);
}

long kilobytesOf(pid_t pid, const char *field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field) + 1);
    }
    return 0;
}

// A TLS handshake with the client's own versions and ciphers: what the server
// chose, or nothing when it refused.
struct Handshake {
    bool done = false;
    std::string version;
    std::string cipher;
    std::string peerName;
};

Handshake handshake(int port, int maxVersion, const char *ciphers, const std::string &caFile = "")
{
    Handshake result;
    SSL_CTX *context = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_security_level(context, 0); // so that the client may offer what the server must refuse
    SSL_CTX_set_min_proto_version(context, TLS1_VERSION);
    SSL_CTX_set_max_proto_version(context, maxVersion);
    if (maxVersion == TLS1_3_VERSION)
        SSL_CTX_set_ciphersuites(context, ciphers);
    else
        SSL_CTX_set_cipher_list(context, ciphers);
    if (!caFile.empty()) {
        SSL_CTX_load_verify_locations(context, caFile.c_str(), nullptr);
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    }
    RawConnection connection(port);
    SSL *ssl = SSL_new(context);
    SSL_set_fd(ssl, connection.fd());
    SSL_set_tlsext_host_name(ssl, "localhost");
    if (connection.connected() && SSL_connect(ssl) == 1) {
        result.done = true;
        result.version = SSL_get_version(ssl);
        result.cipher = SSL_get_cipher_name(ssl);
        if (X509 *peer = SSL_get1_peer_certificate(ssl)) {
            char name[256] = "";
            X509_NAME_get_text_by_NID(X509_get_subject_name(peer), NID_commonName, name, sizeof name);
            result.peerName = name;
            X509_free(peer);
        }
    }
    SSL_free(ssl);
    SSL_CTX_free(context);
    return result;
}

// Each attack holds many connections that never finish a request, from many
// addresses, with few worker threads; a sync from elsewhere is still answered
// while every one of them is held.
TEST(FrontDoor, SlowAndSilentClientsDoNotStallASync)
{
    struct Attack {
        const char *name;
        bool tls;
        int connections;
        std::string firstBytes; // sent once; a slowloris sends one more byte now and then
        bool trickle;
    };
    const std::string head = "POST /api/sync HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 2\r\n\r\n";
    const Attack attacks[] = {
        {"slowloris", false, 600, head.substr(0, 1), true},
        {"idle after connecting", false, 600, "", false},
        {"silent TLS", true, 300, "", false},
        {"TLS hello cut short", true, 300, std::string("\x16\x03\x01\x00\xff\x01", 6), false},
    };
    for (const Attack &attack : attacks) {
        SCOPED_TRACE(attack.name);
        TemporaryFolder folder;
        if (attack.tls)
            makeCertificates(folder);
        const std::vector<std::string> extra = {"--threads", "2", "--header-timeout", "60"};
        ServerProcess server(TOVIK_SYNC_SERVER_PATH, attack.tls ? tlsArguments(folder, extra)
                                                                : plainArguments(folder, extra));
        ASSERT_GT(server.port(), 0) << server.firstLine();

        std::vector<std::unique_ptr<RawConnection>> held;
        for (int i = 0; i < attack.connections; ++i) {
            held.push_back(std::make_unique<RawConnection>(server.port(), clientAddress(i).c_str()));
            ASSERT_TRUE(held.back()->connected());
            if (!attack.firstBytes.empty())
                ASSERT_TRUE(held.back()->send(attack.firstBytes));
        }
        if (attack.trickle) {
            for (auto &connection : held)
                connection->send(head.substr(1, 1));
        }

        auto client = std::make_unique<httplib::Client>(
            std::string(attack.tls ? "https://localhost:" : "http://127.0.0.1:") + std::to_string(server.port()));
        if (attack.tls) {
            client->set_ca_cert_path((folder.path() / "ca.pem").c_str());
            client->enable_server_certificate_verification(true);
        }
        client->set_read_timeout(std::chrono::seconds(20));
        for (int round = 0; round < 3; ++round) {
            const auto reply = client->Post("/api/sync", syncBody("u@x.org"), "application/json");
            ASSERT_TRUE(reply) << httplib::to_string(reply.error());
            EXPECT_EQ(reply->status, 200);
        }
        std::size_t stillOpen = 0;
        for (const auto &connection : held)
            stillOpen += connection->isOpen();
        EXPECT_EQ(stillOpen, held.size()); // answered while every one was held
    }
}

// A connection that never finishes its request is closed when its time is up,
// whether it trickles its header, sends nothing or stalls in its body.
TEST(FrontDoor, TimeOutsCloseStalledConnections)
{
    struct Case {
        const char *name;
        std::string sent;
    };
    const Case cases[] = {
        {"nothing at all", ""},
        {"half a header", "POST /api/sync HTTP/1.1\r\nHost: 127.0.0.1\r\n"},
        {"half a body", "POST /api/sync HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100\r\n\r\n{\"email\""},
    };
    TemporaryFolder folder;
    ServerProcess server(TOVIK_SYNC_SERVER_PATH,
                         plainArguments(folder, {"--header-timeout", "1", "--timeout", "1", "--idle-timeout", "1"}));
    ASSERT_GT(server.port(), 0) << server.firstLine();
    std::vector<std::unique_ptr<RawConnection>> connections;
    for (const Case &item : cases) {
        connections.push_back(std::make_unique<RawConnection>(server.port()));
        ASSERT_TRUE(connections.back()->send(item.sent));
    }
    for (std::size_t i = 0; i < connections.size(); ++i)
        EXPECT_TRUE(connections[i]->closedWithin(5000)) << cases[i].name;

    // A kept-alive connection that asks nothing more is closed after its idle time.
    RawConnection kept(server.port());
    ASSERT_TRUE(kept.send(request("GET /ip HTTP/1.1\r\n")));
    EXPECT_EQ(kept.readAnswer().first, 200);
    EXPECT_TRUE(kept.closedWithin(5000));
}

// Past the bound per address, that address's connection idle longest goes; past
// the total, the one idle longest of all goes; a trusted proxy has no bound
// of its own. A connection whose request is being read is never the one to go.
TEST(FrontDoor, ConnectionBoundsShedTheLongestIdleFirst)
{
    struct Case {
        const char *name;
        std::vector<std::string> options;
        std::vector<std::string> sources; // one connection each, in this order
        std::vector<bool> openAfter;
    };
    const Case cases[] = {
        {"per address",
         {"--max-per-address", "2"},
         {"127.0.2.1", "127.0.2.2", "127.0.2.1", "127.0.2.1"},
         {false, true, true, true}},
        {"in all",
         {"--max-connections", "3"},
         {"127.0.2.1", "127.0.2.2", "127.0.2.3", "127.0.2.4", "127.0.2.5"},
         {false, false, true, true, true}},
        {"trusted proxy",
         {"--max-per-address", "2", "--trust-proxy", "127.0.2.9", "--open"},
         {"127.0.2.9", "127.0.2.9", "127.0.2.9", "127.0.2.9"},
         {true, true, true, true}},
    };
    for (const Case &item : cases) {
        SCOPED_TRACE(item.name);
        TemporaryFolder folder;
        ServerProcess server(TOVIK_SYNC_SERVER_PATH, plainArguments(folder, item.options));
        ASSERT_GT(server.port(), 0) << server.firstLine();
        std::vector<std::unique_ptr<RawConnection>> connections;
        for (const std::string &source : item.sources) {
            connections.push_back(std::make_unique<RawConnection>(server.port(), source.c_str()));
            ASSERT_TRUE(connections.back()->connected());
            // The server has taken it before the next one comes.
            ASSERT_TRUE(connections.back()->send(request("GET /ip HTTP/1.1\r\n")));
            ASSERT_EQ(connections.back()->readAnswer().first, 200);
        }
        for (std::size_t i = 0; i < connections.size(); ++i) {
            if (item.openAfter[i])
                EXPECT_FALSE(connections[i]->closedWithin(200)) << i;
            else
                EXPECT_TRUE(connections[i]->closedWithin(2000)) << i;
        }
    }

    // A body on its way is no idle connection: the newcomer is turned away instead.
    TemporaryFolder folder;
    ServerProcess server(TOVIK_SYNC_SERVER_PATH, plainArguments(folder, {"--max-connections", "1"}));
    ASSERT_GT(server.port(), 0);
    const std::string body = syncBody("busy@x.org");
    RawConnection sending(server.port());
    ASSERT_TRUE(sending.send(request("POST /api/sync HTTP/1.1\r\n", body).substr(0, 100)));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    RawConnection newcomer(server.port());
    EXPECT_TRUE(newcomer.closedWithin(2000));
    ASSERT_TRUE(sending.send(request("POST /api/sync HTTP/1.1\r\n", body).substr(100)));
    EXPECT_EQ(sending.readAnswer().first, 200);
}

TEST(FrontDoor, StrictHttp)
{
    const std::string body = syncBody("u@x.org");
    const std::string sync = request("POST /api/sync HTTP/1.1\r\n", body);
    const std::string ip = request("GET /ip HTTP/1.1\r\n");
    struct Case {
        const char *name;
        std::string sent;
        std::vector<int> statuses; // the answers, in order
        bool closes;               // the connection ends after the last
    };
    const Case cases[] = {
        {"pipelined requests answered in order", ip + sync + request("GET /nothing HTTP/1.1\r\n") + ip,
         {200, 200, 404, 200}, false},
        {"two different lengths",
         "POST /api/sync HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd" + ip, {400},
         true},
        {"length then coding",
         "POST /api/sync HTTP/1.1\r\nHost: x\r\nContent-Length: 4\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n" + ip,
         {400}, true},
        {"coding then length",
         "POST /api/sync HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\nContent-Length: 4\r\n\r\n0\r\n\r\n" + ip,
         {400}, true},
        {"unknown coding then length",
         "POST /api/sync HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: xchunked\r\nContent-Length: 4\r\n\r\nabcd" + ip,
         {400}, true},
        {"unknown coding", "POST /api/sync HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: xchunked\r\n\r\n" + ip, {501},
         true},
        {"a coding before chunked",
         "POST /api/sync HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n" + ip, {501}, true},
        {"chunked, then the next request",
         "POST /api/sync HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n10\r\n" + body.substr(0, 16)
             + "\r\n" + [&] {
                   std::ostringstream size;
                   size << std::hex << body.size() - 16;
                   return size.str();
               }() + "\r\n" + body.substr(16) + "\r\n0\r\n\r\n" + ip,
         {200, 200}, false},
        {"a malformed chunk", "POST /api/sync HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n" + ip,
         {400}, true},
        {"a request line that is none", "HELLO\r\n\r\n" + ip, {400}, true},
        {"HTTP/1.0 without keep-alive", "GET /ip HTTP/1.0\r\n\r\n" + ip, {200}, true},
        {"a header past its limit", "GET /ip HTTP/1.1\r\nX-Long: " + std::string(20000, 'a') + "\r\n\r\n", {431},
         true},
    };
    TemporaryFolder folder;
    ServerProcess server(TOVIK_SYNC_SERVER_PATH, plainArguments(folder));
    ASSERT_GT(server.port(), 0) << server.firstLine();
    for (const Case &item : cases) {
        SCOPED_TRACE(item.name);
        RawConnection connection(server.port());
        ASSERT_TRUE(connection.send(item.sent));
        for (int expected : item.statuses) {
            const auto [status, answer] = connection.readAnswer();
            EXPECT_EQ(status, expected) << answer;
            if (status >= 400)
                EXPECT_TRUE(ordered_json::parse(answer).at("msg").is_string()) << answer;
        }
        EXPECT_EQ(connection.closedWithin(item.closes ? 3000 : 300), item.closes);
    }
}

// A body of 512 MiB in chunks of unknown total: the service's memory rises by
// less than two and a half times the body while it reads it whole. The body
// is refused once read, so the figure is the transport's own.
TEST(FrontDoor, ChunkedBodyPeakStaysNearItsSize)
{
    TemporaryFolder folder;
    ServerProcess server(TOVIK_SYNC_SERVER_PATH, plainArguments(folder));
    ASSERT_GT(server.port(), 0) << server.firstLine();
    const std::size_t size = std::size_t(512) << 20;
    const std::string start = "not JSON";
    const std::size_t chunk = std::size_t(1) << 20;
    const std::string spaces(chunk, 'x');

    RawConnection connection(server.port());
    const long before = kilobytesOf(server.pid(), "VmRSS:");
    std::ofstream(std::string("/proc/") + std::to_string(server.pid()) + "/clear_refs") << "5";
    // An approved machine's request: the body is read and parsed, not refused at the gate.
    ASSERT_TRUE(connection.send("POST /api/sync HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + newMachineSecret()
                                + "\r\nTransfer-Encoding: chunked\r\n\r\n"));
    std::ostringstream first;
    first << std::hex << start.size() << "\r\n" << start << "\r\n";
    ASSERT_TRUE(connection.send(first.str()));
    std::ostringstream header;
    header << std::hex << chunk << "\r\n";
    std::size_t sent = start.size();
    while (sent + chunk <= size) {
        ASSERT_TRUE(connection.send(header.str() + spaces + "\r\n"));
        sent += chunk;
    }
    ASSERT_TRUE(connection.send("0\r\n\r\n"));
    const auto [status, answer] = connection.readAnswer();
    EXPECT_EQ(status, 400) << answer;
    const double rise = double(kilobytesOf(server.pid(), "VmHWM:") - before) * 1024;
    EXPECT_LT(rise, 2.5 * double(sent));
    EXPECT_GT(rise, 0.5 * double(sent)); // the body was held, so the measure is real
}

// The service's files on a small tmpfs of their own: a sync that cannot be
// stored gets a 500, and the log names the cause in one line, without the
// caller's address or the note's text.
TEST(FrontDoor, AFullDiskIsLoggedWithItsCause)
{
    if (std::system("unshare -rm true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "this system lets no process mount a tmpfs of its own";
    TemporaryFolder folder;
    const std::string disk = (folder.path() / "disk").string();
    std::filesystem::create_directory(disk);
    ServerProcess server("/usr/bin/unshare",
                         {"-rm", "sh", "-c", "mount -t tmpfs -o size=1m tmpfs \"$0\" && exec \"$@\"", disk,
                          TOVIK_SYNC_SERVER_PATH, "--port", "0", "--db", disk + "/service.db"});
    ASSERT_GT(server.port(), 0) << server.firstLine();
    httplib::Client client("127.0.0.1", server.port());
    const httplib::Headers machine = machineHeaders();
    ASSERT_EQ(client.Post("/api/sync", machine, syncBody("u@x.org"), "application/json")->status, 200);

    const std::string secret = "SECRET-NOTE-TEXT";
    std::string content;
    while (content.size() < (std::size_t(3) << 20))
        content += secret + std::to_string(content.size());
    const auto full = client.Post("/api/sync", machine, syncBody("u@x.org", ordered_json::array({noteObject("n", content, 5)})),
                                  "application/json");
    ASSERT_TRUE(full);
    EXPECT_EQ(full->status, 500);
    // The service goes on: a small sync still works.
    EXPECT_EQ(client.Post("/api/sync", machine, syncBody("u@x.org"), "application/json")->status, 200);

    server.stop(SIGTERM);
    const std::string log = server.errorOutput();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_NE(log.find("500 POST /api/sync: "), std::string::npos) << log;
    EXPECT_NE(log.find("full"), std::string::npos) << log;
    EXPECT_EQ(log.find("127.0.0.1"), std::string::npos) << log;
    EXPECT_EQ(log.find(secret), std::string::npos) << log;
}

TEST(FrontDoor, TlsOneTwoAndOneThreeWithStrongCiphersInTheServersOrder)
{
    TemporaryFolder folder;
    makeCertificates(folder);
    ServerProcess server(TOVIK_SYNC_SERVER_PATH, tlsArguments(folder));
    ASSERT_GT(server.port(), 0) << server.firstLine();
    struct Case {
        const char *name;
        int maxVersion;
        const char *ciphers;
        const char *chosen; // nullptr: refused
    };
    const Case cases[] = {
        {"TLS 1.0", TLS1_VERSION, "ALL", nullptr},
        {"TLS 1.1", TLS1_1_VERSION, "ALL", nullptr},
        {"TLS 1.2, RSA key exchange", TLS1_2_VERSION, "AES128-GCM-SHA256:AES256-GCM-SHA384:AES128-SHA", nullptr},
        {"TLS 1.2, CBC", TLS1_2_VERSION, "ECDHE-RSA-AES128-SHA:ECDHE-RSA-AES256-SHA384", nullptr},
        {"TLS 1.2, plain DH", TLS1_2_VERSION, "DHE-RSA-AES128-GCM-SHA256", nullptr},
        {"TLS 1.2, the server's order", TLS1_2_VERSION, "ECDHE-RSA-AES128-GCM-SHA256:ECDHE-RSA-AES256-GCM-SHA384",
         "ECDHE-RSA-AES256-GCM-SHA384"},
        {"TLS 1.2, ChaCha20", TLS1_2_VERSION, "ECDHE-RSA-CHACHA20-POLY1305", "ECDHE-RSA-CHACHA20-POLY1305"},
        {"TLS 1.3", TLS1_3_VERSION, "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384", "TLS_AES_256_GCM_SHA384"},
    };
    for (const Case &item : cases) {
        SCOPED_TRACE(item.name);
        const Handshake result = handshake(server.port(), item.maxVersion, item.ciphers);
        EXPECT_EQ(result.done, item.chosen != nullptr) << result.version << " " << result.cipher;
        if (item.chosen)
            EXPECT_EQ(result.cipher, item.chosen);
    }
}

// The chain file lets a client that trusts only the root verify the server;
// SIGHUP puts renewed files in use for the connections after it, and files
// that cannot be used leave the ones in use serving.
TEST(FrontDoor, CertificateChainAndReloadOnHangup)
{
    TemporaryFolder folder;
    makeCertificates(folder, "first.example");
    ServerProcess server(TOVIK_SYNC_SERVER_PATH, tlsArguments(folder));
    ASSERT_GT(server.port(), 0) << server.firstLine();
    const std::string root = (folder.path() / "ca.pem").string();
    const auto peerName = [&] {
        return handshake(server.port(), TLS1_3_VERSION, "TLS_AES_256_GCM_SHA384", root).peerName;
    };
    EXPECT_EQ(peerName(), "first.example");

    makeCertificates(folder, "second.example");
    ::kill(server.pid(), SIGHUP);
    std::string name;
    for (int wait = 0; wait < 50 && (name = peerName()) != "second.example"; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(name, "second.example");

    std::ofstream(folder.path() / "leaf.pem") << "not a certificate";
    ::kill(server.pid(), SIGHUP);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(peerName(), "second.example");
}

// /ip and the per-address bound take a forwarded address only from a proxy the
// service was told to trust.
TEST(FrontDoor, ForwardedAddressesOnlyFromATrustedProxy)
{
    TemporaryFolder folder;
    ServerProcess server(TOVIK_SYNC_SERVER_PATH, plainArguments(folder, {"--trust-proxy", "127.0.0.5", "--open"}));
    ASSERT_GT(server.port(), 0) << server.firstLine();
    struct Case {
        const char *from;
        std::string headers;
        const char *seen;
    };
    const Case cases[] = {
        {"127.0.0.5", "X-Real-IP: 203.0.113.9\r\n", "203.0.113.9"},
        {"127.0.0.5", "X-Forwarded-For: 192.0.2.1, 198.51.100.7\r\n", "198.51.100.7"},
        {"127.0.0.5", "X-Real-IP: 2001:db8::1\r\n", "2001:db8::1"},
        {"127.0.0.5", "X-Real-IP: not-an-address\r\n", "127.0.0.5"},
        {"127.0.0.5", "", "127.0.0.5"},
        {"127.0.0.6", "X-Real-IP: 203.0.113.9\r\nX-Forwarded-For: 203.0.113.9\r\n", "127.0.0.6"},
    };
    for (const Case &item : cases) {
        SCOPED_TRACE(std::string(item.from) + " " + item.headers);
        RawConnection connection(server.port(), item.from);
        ASSERT_TRUE(connection.send("GET /ip HTTP/1.1\r\nHost: x\r\n" + item.headers + "\r\n"));
        const auto [status, answer] = connection.readAnswer();
        EXPECT_EQ(status, 200);
        EXPECT_EQ(answer, item.seen);
    }
}

TEST(FrontDoor, ASecondServiceOnABusyPortExitsWithStatus2)
{
    TemporaryFolder folder;
    TemporaryFolder other;
    ServerProcess first(TOVIK_SYNC_SERVER_PATH, plainArguments(folder));
    ASSERT_GT(first.port(), 0) << first.firstLine();
    ServerProcess second(TOVIK_SYNC_SERVER_PATH,
                         {"--port", std::to_string(first.port()), "--db", (other.path() / "service.db").string()});
    EXPECT_EQ(second.port(), 0);
    EXPECT_EQ(second.waitForExit(), 2);
    const std::string error = second.errorOutput();
    EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error;
    EXPECT_NE(error.find("cannot listen on 127.0.0.1:" + std::to_string(first.port())), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(other.path() / "service.db"));

    httplib::Client client("127.0.0.1", first.port());
    const auto reply = client.Post("/api/sync", syncBody("u@x.org"), "application/json");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);

    // Once the first has gone, a new one takes the port at once, its old
    // connections' TIME_WAIT notwithstanding.
    const int port = first.port();
    first.stop(SIGTERM);
    ServerProcess again(TOVIK_SYNC_SERVER_PATH,
                        {"--port", std::to_string(port), "--db", (folder.path() / "service.db").string()});
    EXPECT_EQ(again.port(), port) << again.firstLine();
}

// As an ordinary user with umask 022: the database with its -wal and -shm,
// the log, and the folders made for them are the user's alone, and ones that
// were more open are tightened at start.
TEST(FrontDoor, ServiceFilesArePrivateWhateverTheUmask)
{
    TemporaryFolder folder;
    const bool root = ::geteuid() == 0;
    uid_t user = ::geteuid();
    gid_t group = ::getegid();
    if (root) {
        user = 65534; // nobody
        group = 65534;
        std::filesystem::permissions(folder.path(), std::filesystem::perms(0711));
    }
    const std::filesystem::path fresh = folder.path() / "fresh";
    const std::filesystem::path open = folder.path() / "open";
    std::filesystem::create_directories(open / "logs");
    std::ofstream(open / "service.db").flush();
    std::ofstream(open / "service.db-wal").flush();
    std::ofstream(open / "logs" / "service.log").flush();
    for (const auto &entry : std::filesystem::recursive_directory_iterator(open)) {
        ASSERT_EQ(::chown(entry.path().c_str(), user, group), 0);
        ::chmod(entry.path().c_str(), entry.is_directory() ? 0755 : 0644);
    }
    std::filesystem::create_directory(fresh);
    ASSERT_EQ(::chown(open.c_str(), user, group), 0);
    ASSERT_EQ(::chown(fresh.c_str(), user, group), 0);
    ::chmod(open.c_str(), 0755);

    struct Case {
        std::filesystem::path base;
        std::filesystem::path database;
        std::filesystem::path log;
    };
    const Case cases[] = {
        {fresh, fresh / "state" / "service.db", fresh / "logs" / "service.log"},
        {open, open / "service.db", open / "logs" / "service.log"},
    };
    for (const Case &item : cases) {
        SCOPED_TRACE(item.database.string());
        std::string command = "umask 022; exec \"$@\"";
        std::vector<std::string> arguments = {"-c", command, "sh"};
        if (root)
            arguments.insert(arguments.end(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
        arguments.insert(arguments.end(), {TOVIK_SYNC_SERVER_PATH, "--port", "0", "--db", item.database.string(),
                                           "--log", item.log.string()});
        ServerProcess server("/bin/sh", arguments);
        ASSERT_GT(server.port(), 0) << server.firstLine();
        httplib::Client client("127.0.0.1", server.port());
        ASSERT_EQ(client.Post("/api/sync", syncBody("u@x.org", ordered_json::array({noteObject("n", "c", 5)})),
                              "application/json")
                      ->status,
                  200);
        const std::pair<std::filesystem::path, unsigned> expected[] = {
            {item.database.parent_path(), 0700},
            {item.log.parent_path(), 0700},
            {item.database, 0600},
            {item.database.string() + "-wal", 0600},
            {item.database.string() + "-shm", 0600},
            {item.log, 0600},
        };
        for (const auto &[path, mode] : expected) {
            struct stat state {};
            ASSERT_EQ(::stat(path.c_str(), &state), 0) << path;
            EXPECT_EQ(state.st_mode & 0777, mode) << path;
            EXPECT_EQ(state.st_uid, user) << path;
        }
    }
}

} // namespace
