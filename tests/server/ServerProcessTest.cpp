// The tovik-sync-server program: start-up, routes, limits, HTTPS, restarts.

#include "ServerTestSupport.h"
#include "SyncService.h"

#include <httplib.h>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <regex>
#include <sys/wait.h>
#include <unistd.h>

using nlohmann::ordered_json;

namespace {

// The program as a child process whose first line of output is read.
class ServerProcess {
public:
    explicit ServerProcess(std::vector<std::string> arguments)
    {
        int out[2];
        if (::pipe(out) != 0)
            throw std::runtime_error("pipe");
        arguments.insert(arguments.begin(), TOVIK_SYNC_SERVER_PATH);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            std::vector<char *> argv;
            for (std::string &argument : arguments)
                argv.push_back(argument.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        m_out = out[0];
        m_firstLine = readLine();
        const std::smatch match = [this] {
            std::smatch m;
            std::regex_match(m_firstLine, m, std::regex(R"(listening on 127\.0\.0\.1:(\d+))"));
            return m;
        }();
        if (!match.empty())
            m_port = std::stoi(match[1].str());
    }
    ~ServerProcess()
    {
        stop(SIGTERM);
        ::close(m_out);
    }
    // Ends the process; gives its exit status, or -signal.
    int stop(int signal)
    {
        if (m_pid <= 0)
            return m_status;
        ::kill(m_pid, signal);
        return waitForExit();
    }
    int waitForExit()
    {
        if (m_pid > 0) {
            int status = 0;
            ::waitpid(m_pid, &status, 0);
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
            m_pid = -1;
        }
        return m_status;
    }
    int port() const { return m_port; }
    const std::string &firstLine() const { return m_firstLine; }

private:
    std::string readLine()
    {
        std::string line;
        char c = 0;
        pollfd ready{m_out, POLLIN, 0};
        while (::poll(&ready, 1, 10000) > 0 && ::read(m_out, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    int m_port = 0;
    int m_status = 0;
    std::string m_firstLine;
};

std::vector<std::string> plainArguments(const TemporaryFolder &folder)
{
    return {"--port", "0", "--db", (folder.path() / "service.db").string()};
}

TEST(ServerProcess, AnswersOnAPortItPicks)
{
    TemporaryFolder folder;
    ServerProcess server(plainArguments(folder));
    ASSERT_GT(server.port(), 0) << server.firstLine();

    httplib::Client client("127.0.0.1", server.port());
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

TEST(ServerProcess, OversizedBodyIsA400AndChangesNothing)
{
    TemporaryFolder folder;
    ServerProcess server(plainArguments(folder));
    ASSERT_GT(server.port(), 0) << server.firstLine();
    httplib::Client client("127.0.0.1", server.port());

    // A well-formed request that only its size makes bad.
    ordered_json big = noteObject("big", std::string(SyncService::maxBodyBytes, 'x'), 10);
    const auto refused = client.Post("/api/sync", syncBody("u@x.org", ordered_json::array({big})), "application/json");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 400);
    EXPECT_EQ(ordered_json::parse(refused->body).at("msg"), "Request body too large");

    const auto after = client.Post("/api/sync", syncBody("u@x.org"), "application/json");
    ASSERT_TRUE(after);
    EXPECT_EQ(ordered_json::parse(after->body).at("msg"), "Email configured"); // not registered before
}

TEST(ServerProcess, AcceptedNotesSurviveAKill)
{
    TemporaryFolder folder;
    {
        ServerProcess server(plainArguments(folder));
        ASSERT_GT(server.port(), 0);
        httplib::Client client("127.0.0.1", server.port());
        const auto stored = client.Post("/api/sync", syncBody("u@x.org", ordered_json::array({noteObject("n", "c", 5)})),
                                        "application/json");
        ASSERT_TRUE(stored);
        ASSERT_EQ(stored->status, 200);
        EXPECT_EQ(server.stop(SIGKILL), -SIGKILL);
    }
    ServerProcess restarted(plainArguments(folder));
    ASSERT_GT(restarted.port(), 0);
    httplib::Client client("127.0.0.1", restarted.port());
    const auto reply = client.Post("/api/sync", syncBody("u@x.org"), "application/json");
    ASSERT_TRUE(reply);
    const ordered_json body = ordered_json::parse(reply->body);
    ASSERT_EQ(body.at("status"), 602);
    EXPECT_EQ(body.at("notes").at(0), noteObject("n", "c", 5));
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
    ServerProcess server(arguments);
    ASSERT_GT(server.port(), 0) << server.firstLine();

    httplib::SSLClient secure("127.0.0.1", server.port());
    secure.set_ca_cert_path(cert.c_str());
    secure.enable_server_certificate_verification(true);
    const auto reply = secure.Post("/api/sync", syncBody("u@x.org"), "application/json");
    ASSERT_TRUE(reply) << httplib::to_string(reply.error());
    EXPECT_EQ(ordered_json::parse(reply->body).at("status"), 601);

    httplib::Client plain("127.0.0.1", server.port());
    EXPECT_FALSE(plain.Get("/ip")); // no plain HTTP on an HTTPS port
}

TEST(ServerProcess, RefusesBadArguments)
{
    TemporaryFolder folder;
    const std::string db = (folder.path() / "service.db").string();
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--port", "0"},
        {"--db", db},
        {"--port", "http", "--db", db},
        {"--port", "70000", "--db", db},
        {"--port", "0", "--db", db, "--cert", "only-a-cert.pem"},
        {"--port", "0", "--db", db, "--verbose", "yes"},
        {"--port", "0", "--db", db, "--cert", "missing.pem", "--key", "missing.key"},
    };
    for (const auto &arguments : cases) {
        SCOPED_TRACE(::testing::PrintToString(arguments));
        ServerProcess server(arguments);
        EXPECT_EQ(server.port(), 0);
        EXPECT_GT(server.waitForExit(), 0);
    }
}

} // namespace
