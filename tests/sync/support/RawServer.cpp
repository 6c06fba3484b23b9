#include "RawServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <strings.h>

namespace {

// The value of Content-Length in the head, 0 when absent.
size_t contentLength(const std::string &head)
{
    const std::string name = "\r\ncontent-length:";
    for (size_t at = 0; at + name.size() <= head.size(); ++at) {
        if (::strncasecmp(head.c_str() + at, name.c_str(), name.size()) == 0)
            return size_t(std::strtoull(head.c_str() + at + name.size(), nullptr, 10));
    }
    return 0;
}

void writeAll(int connection, const std::string &bytes)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(connection, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += size_t(n);
    }
}

} // namespace

RawServer::RawServer(std::string rawAnswer, Then then) : m_rawAnswer(std::move(rawAnswer)), m_then(then)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0
        || ::listen(m_listener, 8) != 0
        || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on a loopback port");
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { serve(); });
}

RawServer::~RawServer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_stopped.notify_all();
    // Wakes the blocked accept() with an error.
    ::shutdown(m_listener, SHUT_RDWR);
    m_thread.join();
    ::close(m_listener);
}

std::string RawServer::baseUrl() const
{
    return "http://127.0.0.1:" + std::to_string(m_port);
}

int RawServer::requestsReceived() const
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

void RawServer::serve()
{
    for (;;) {
        const int connection = ::accept(m_listener, nullptr, nullptr);
        if (connection < 0)
            return;
        answer(connection);
        ::close(connection);
    }
}

void RawServer::answer(int connection)
{
    std::string received;
    char buffer[4096];
    size_t headEnd = std::string::npos;
    while (headEnd == std::string::npos
           || received.size() < headEnd + 4 + contentLength(received.substr(0, headEnd + 2))) {
        const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
        if (n <= 0)
            return;
        received.append(buffer, size_t(n));
        headEnd = received.find("\r\n\r\n");
    }
    {
        std::lock_guard lock(m_mutex);
        ++m_received;
    }
    writeAll(connection, m_rawAnswer);
    if (m_then == Then::stayOpen) {
        std::unique_lock lock(m_mutex);
        m_stopped.wait(lock, [this] { return m_stopping; });
    }
}
