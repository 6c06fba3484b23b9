#pragma once

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A loopback HTTP server on its own thread whose answers a test sets: one for
// POST /api/sync and one for GET /ip, or a real service's answers passed on.
// It records every request it receives.
class CannedServer {
public:
    struct Answer {
        int status = 200;
        std::string body;
        std::string contentType = "application/json";
    };
    struct Received {
        std::string method;
        std::string path;
        std::string body;
        std::string contentType;
        std::string authorization;
    };

    CannedServer();
    ~CannedServer();

    int port() const { return m_port; }
    std::string baseUrl() const;  // http://127.0.0.1:port
    std::string echoUrl() const;  // <base>/ip

    void setSyncAnswer(Answer answer);
    void setEchoAnswer(Answer answer);
    // While held, sync requests wait before they are answered.
    void holdSyncAnswers(bool hold);
    // From now on sync requests go on to a real service on loopback, whose
    // answer comes back (after any hold) in place of the canned one.
    void forwardSyncTo(int servicePort);
    // The next `count` forwarded answers are lost on the way back: the service
    // has done its work, the machine gets a 502 instead.
    void loseSyncAnswers(int count);

    std::vector<Received> received() const;
    std::vector<Received> receivedOn(const std::string &path) const;

private:
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;

    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_hold = false;
    int m_forwardPort = 0;
    int m_answersToLose = 0;
    Answer m_syncAnswer;
    Answer m_echoAnswer;
    std::vector<Received> m_received;
};
