#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

// A loopback TCP server that reads each HTTP request whole and then writes a
// fixed sequence of bytes, exactly as given: for answers no well-behaved HTTP
// server would send, such as a body shorter than its Content-Length. Then it
// closes the connection, or keeps it open and silent until the server goes.
class RawServer {
public:
    enum class Then { close, stayOpen };

    explicit RawServer(std::string rawAnswer, Then then = Then::close);
    ~RawServer();

    int port() const { return m_port; }
    std::string baseUrl() const; // http://127.0.0.1:port
    int requestsReceived() const; // read whole, answered or not

private:
    void serve();
    void answer(int connection);

    std::string m_rawAnswer;
    Then m_then;
    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::condition_variable m_stopped;
    bool m_stopping = false;
    int m_received = 0;
};
