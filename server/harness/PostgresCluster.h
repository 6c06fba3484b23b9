#pragma once

// A throw-away PostgreSQL cluster from the Debian package, for tests and
// benchmarks: initdb and pg_ctl in a temporary folder, served on a unix socket
// in that folder only. Run as root, the cluster runs as the "postgres" user,
// as PostgreSQL refuses to run as root.

#include <libpq-fe.h>

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#ifndef TOVIK_POSTGRES_BIN
#define TOVIK_POSTGRES_BIN "/usr/lib/postgresql/15/bin"
#endif

class PostgresCluster {
public:
    // `durable`: the cluster waits for its disk as a production one does;
    // without, commits are as quick as the machine allows.
    explicit PostgresCluster(bool durable = false)
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tovik-pg-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a folder for PostgreSQL");
        m_folder = pattern;
        if (::geteuid() == 0) {
            const passwd *user = ::getpwnam("postgres");
            if (!user)
                throw std::runtime_error("no postgres user to run PostgreSQL as");
            if (::chown(m_folder.c_str(), user->pw_uid, user->pw_gid) != 0)
                throw std::runtime_error("cannot hand the folder to postgres");
            m_asUser = "postgres";
        }
        run({TOVIK_POSTGRES_BIN "/initdb", "-D", data(), "--auth=trust", "--username=postgres", "--encoding=UTF8",
             "--locale=C", "--no-sync"});
        m_options = "-k " + m_folder.string() + " -c listen_addresses= -c max_connections=400"
            + " -c shared_buffers=128MB" + (durable ? "" : " -c fsync=off -c synchronous_commit=off -c full_page_writes=off");
        start();
    }

    ~PostgresCluster()
    {
        try {
            stop();
        } catch (const std::exception &) {
        }
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }

    PostgresCluster(const PostgresCluster &) = delete;
    PostgresCluster &operator=(const PostgresCluster &) = delete;

    // One cluster for the whole test program, stopped as it ends.
    static PostgresCluster &shared()
    {
        static PostgresCluster cluster;
        return cluster;
    }

    void start()
    {
        run({TOVIK_POSTGRES_BIN "/pg_ctl", "-D", data(), "-o", m_options, "-l", (m_folder / "log").string(), "-w",
             "start"});
        m_running = true;
    }

    // "fast": clients are told and their connections end; "immediate": as
    // after a crash.
    void stop(const std::string &mode = "fast")
    {
        if (!m_running)
            return;
        run({TOVIK_POSTGRES_BIN "/pg_ctl", "-D", data(), "-m", mode, "-w", "stop"});
        m_running = false;
    }

    void restart(const std::string &mode = "fast")
    {
        stop(mode);
        start();
    }

    // A new, empty database of its own: the address the service takes.
    std::string newDatabase()
    {
        static std::atomic<int> counter{0};
        const std::string name = "tovik_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
        execute("postgres", "CREATE DATABASE " + name);
        return address(name);
    }

    std::string address(const std::string &database) const
    {
        return "postgresql:///" + database + "?host=" + m_folder.string() + "&user=postgres";
    }

    // Runs `sql` in `database`; throws with PostgreSQL's message.
    void execute(const std::string &database, const std::string &sql) const
    {
        const std::unique_ptr<PGconn, decltype(&PQfinish)> connection(PQconnectdb(address(database).c_str()),
                                                                      &PQfinish);
        if (PQstatus(connection.get()) != CONNECTION_OK)
            throw std::runtime_error(PQerrorMessage(connection.get()));
        const std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(connection.get(), sql.c_str()), &PQclear);
        const ExecStatusType status = PQresultStatus(result.get());
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            throw std::runtime_error(PQerrorMessage(connection.get()));
    }

    // The first column of the first row of a query.
    std::string value(const std::string &database, const std::string &sql) const
    {
        const std::unique_ptr<PGconn, decltype(&PQfinish)> connection(PQconnectdb(address(database).c_str()),
                                                                      &PQfinish);
        const std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(connection.get(), sql.c_str()), &PQclear);
        if (PQresultStatus(result.get()) != PGRES_TUPLES_OK || PQntuples(result.get()) < 1)
            throw std::runtime_error(PQerrorMessage(connection.get()));
        return PQgetvalue(result.get(), 0, 0);
    }

    const std::filesystem::path &folder() const { return m_folder; }

private:
    std::string data() const { return (m_folder / "data").string(); }

    // A command of the package, as the cluster's user; its output is kept
    // in the folder, not mixed into the test's.
    void run(std::vector<std::string> command) const
    {
        if (!m_asUser.empty())
            command.insert(command.begin(), {"/usr/sbin/runuser", "-u", m_asUser, "--"});
        const pid_t pid = ::fork();
        if (pid == 0) {
            const std::string out = (m_folder / "commands.log").string();
            if (std::freopen(out.c_str(), "a", stdout) == nullptr || std::freopen(out.c_str(), "a", stderr) == nullptr)
                ::_exit(126);
            ::chdir("/");
            std::vector<char *> argv;
            for (std::string &part : command)
                argv.push_back(part.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        int status = 0;
        if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            throw std::runtime_error("PostgreSQL command failed: " + command[m_asUser.empty() ? 0 : 4]
                                     + " (see " + (m_folder / "commands.log").string() + ")");
    }

    std::filesystem::path m_folder;
    std::string m_asUser;
    std::string m_options;
    bool m_running = false;
};
