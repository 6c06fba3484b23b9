#pragma once

// tovik-sync-server driven from outside, for tests and benchmarks: the program
// in a child process, raw loopback connections to it, and a folder for its files.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A temporary folder removed with everything in it.
class TemporaryFolder {
public:
    TemporaryFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tovik-server-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder");
        m_path = pattern;
    }
    ~TemporaryFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TemporaryFolder(const TemporaryFolder &) = delete;
    TemporaryFolder &operator=(const TemporaryFolder &) = delete;
    const std::filesystem::path &path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// The program as a child process whose first line of output is read, with
// the port it reported listening on.
class ServerProcess {
public:
    ServerProcess(const std::string &program, std::vector<std::string> arguments)
    {
        int out[2];
        int err[2];
        if (::pipe(out) != 0 || ::pipe(err) != 0)
            throw std::runtime_error("pipe");
        arguments.insert(arguments.begin(), program);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            for (int fd : {out[0], out[1], err[0], err[1]})
                ::close(fd);
            std::vector<char *> argv;
            for (std::string &argument : arguments)
                argv.push_back(argument.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        m_out = out[0];
        m_err = err[0];
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
        ::close(m_err);
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
    pid_t pid() const { return m_pid; }
    const std::string &firstLine() const { return m_firstLine; }
    // Everything the process wrote to standard output or error; call after it ended.
    std::string restOfOutput() { return m_firstLine + "\n" + readAll(m_out); }
    std::string errorOutput() { return readAll(m_err); }

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

    static std::string readAll(int fd)
    {
        std::string text;
        char buffer[4096];
        ssize_t got = 0;
        while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
            text.append(buffer, std::size_t(got));
        return text;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    int m_port = 0;
    int m_status = 0;
    std::string m_firstLine;
};

// A TCP connection to the server that sends and reads bytes as the test says,
// for clients that no HTTP library would be: slow, cut off, oversized.
class RawConnection {
public:
    // From `source`, another loopback address, the connection counts as another client's.
    explicit RawConnection(int port, const char *source = nullptr) : m_fd(::socket(AF_INET, SOCK_STREAM, 0))
    {
        if (source && m_fd >= 0) {
            sockaddr_in from{};
            from.sin_family = AF_INET;
            ::inet_pton(AF_INET, source, &from.sin_addr);
            if (::bind(m_fd, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0)
                return;
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(uint16_t(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = m_fd >= 0 && ::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    }
    ~RawConnection()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RawConnection(const RawConnection &) = delete;
    RawConnection &operator=(const RawConnection &) = delete;

    bool connected() const { return m_connected; }
    bool send(std::string_view bytes)
    {
        while (!bytes.empty()) {
            const ssize_t sent = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent <= 0)
                return false;
            bytes.remove_prefix(std::size_t(sent));
        }
        return true;
    }
    // Whether the server still holds the connection open.
    bool isOpen() const
    {
        pollfd state{m_fd, POLLIN | POLLRDHUP, 0};
        if (::poll(&state, 1, 0) == 0)
            return true;
        char c = 0;
        return !(state.revents & (POLLRDHUP | POLLHUP | POLLERR)) && ::recv(m_fd, &c, 1, MSG_PEEK) > 0;
    }
    // Whether the server ends the connection within `milliseconds`, reading
    // and dropping whatever it still sends.
    bool closedWithin(int milliseconds)
    {
        char buffer[4096];
        pollfd ready{m_fd, POLLIN | POLLRDHUP, 0};
        while (::poll(&ready, 1, milliseconds) > 0) {
            if (::recv(m_fd, buffer, sizeof buffer, 0) <= 0)
                return true;
        }
        return false;
    }
    int fd() const { return m_fd; }
    // The status line's code and the body of one answer; 0 when none came.
    // Bytes past the answer, such as the next pipelined answer, stay for the next call.
    std::pair<int, std::string> readAnswer()
    {
        std::string text = std::move(m_pending);
        m_pending.clear();
        std::size_t headerEnd = std::string::npos;
        std::size_t length = 0;
        char buffer[4096];
        pollfd ready{m_fd, POLLIN, 0};
        for (;;) {
            // A 100 Continue comes before the answer proper.
            while (text.rfind("HTTP/1.1 100", 0) == 0 && text.find("\r\n\r\n") != std::string::npos)
                text.erase(0, text.find("\r\n\r\n") + 4);
            if (headerEnd == std::string::npos && (headerEnd = text.find("\r\n\r\n")) != std::string::npos) {
                std::smatch match;
                const std::string headers = text.substr(0, headerEnd);
                if (std::regex_search(headers, match, std::regex("Content-Length: (\\d+)", std::regex::icase)))
                    length = std::stoul(match[1].str());
                m_headers = headers;
            }
            if (headerEnd != std::string::npos && text.size() >= headerEnd + 4 + length)
                break;
            if (::poll(&ready, 1, 30000) <= 0)
                break;
            const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            text.append(buffer, std::size_t(got));
        }
        if (headerEnd == std::string::npos || text.size() < 12)
            return {0, text};
        if (text.size() > headerEnd + 4 + length)
            m_pending = text.substr(headerEnd + 4 + length);
        return {std::stoi(text.substr(9, 3)), text.substr(headerEnd + 4, length)};
    }
    const std::string &headers() const { return m_headers; }

private:
    int m_fd;
    bool m_connected = false;
    std::string m_headers;
    std::string m_pending;
};
