#include "CannedServer.h"

#include <stdexcept>

CannedServer::CannedServer()
{
    m_syncAnswer = Answer{200, R"({"status":601,"msg":"ok"})"};
    m_echoAnswer = Answer{200, "203.0.113.7\n", "text/plain"};

    auto record = [this](const httplib::Request &request) {
        std::lock_guard lock(m_mutex);
        m_received.push_back(
            Received{request.method, request.path, request.body, request.get_header_value("Content-Type"),
                     request.get_header_value("Authorization")});
    };
    auto reply = [](httplib::Response &response, const Answer &answer) {
        response.status = answer.status;
        if (!answer.body.empty())
            response.set_content(answer.body, answer.contentType);
    };

    m_server.Post("/api/sync", [this, record, reply](const httplib::Request &request, httplib::Response &response) {
        record(request);
        std::unique_lock lock(m_mutex);
        m_released.wait(lock, [this] { return !m_hold; });
        const int forwardPort = m_forwardPort;
        if (forwardPort == 0) {
            reply(response, m_syncAnswer);
            return;
        }
        lock.unlock();
        httplib::Client service("127.0.0.1", forwardPort);
        httplib::Headers headers;
        if (request.has_header("Authorization"))
            headers.emplace("Authorization", request.get_header_value("Authorization"));
        const httplib::Result answer = service.Post(request.path, headers, request.body, "application/json");
        lock.lock();
        const bool lose = m_answersToLose > 0;
        if (lose)
            --m_answersToLose;
        lock.unlock();
        if (!answer || lose) {
            response.status = 502;
            return;
        }
        reply(response, Answer{answer->status, answer->body, answer->get_header_value("Content-Type")});
    });
    m_server.Get("/ip", [this, record, reply](const httplib::Request &request, httplib::Response &response) {
        record(request);
        std::lock_guard lock(m_mutex);
        reply(response, m_echoAnswer);
    });

    // One request per connection: a kept-alive connection would hold stop() for
    // the keep-alive time-out.
    m_server.set_keep_alive_max_count(1);
    m_port = m_server.bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        throw std::runtime_error("cannot bind a loopback port");
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
}

CannedServer::~CannedServer()
{
    holdSyncAnswers(false);
    m_server.stop();
    m_thread.join();
}

std::string CannedServer::baseUrl() const
{
    return "http://127.0.0.1:" + std::to_string(m_port);
}

std::string CannedServer::echoUrl() const
{
    return baseUrl() + "/ip";
}

void CannedServer::setSyncAnswer(Answer answer)
{
    std::lock_guard lock(m_mutex);
    m_syncAnswer = std::move(answer);
}

void CannedServer::setEchoAnswer(Answer answer)
{
    std::lock_guard lock(m_mutex);
    m_echoAnswer = std::move(answer);
}

void CannedServer::holdSyncAnswers(bool hold)
{
    {
        std::lock_guard lock(m_mutex);
        m_hold = hold;
    }
    m_released.notify_all();
}

void CannedServer::forwardSyncTo(int servicePort)
{
    std::lock_guard lock(m_mutex);
    m_forwardPort = servicePort;
}

void CannedServer::loseSyncAnswers(int count)
{
    std::lock_guard lock(m_mutex);
    m_answersToLose = count;
}

std::vector<CannedServer::Received> CannedServer::received() const
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

std::vector<CannedServer::Received> CannedServer::receivedOn(const std::string &path) const
{
    std::vector<Received> matching;
    for (const Received &request : received()) {
        if (request.path == path)
            matching.push_back(request);
    }
    return matching;
}
