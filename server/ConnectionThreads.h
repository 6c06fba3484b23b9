#pragma once

#include <httplib.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The server's connections, one thread each, started as connections arrive
// and kept for the next ones. A connection holds its thread for as long as it
// is open, slow or idle ones too, so a fixed handful of threads would let a
// few such clients keep everyone else waiting; up to `maxThreads` run at once
// and any further connection waits for one to finish.
class ConnectionThreads : public httplib::TaskQueue {
public:
    explicit ConnectionThreads(std::size_t maxThreads);
    ~ConnectionThreads() override;

    void enqueue(std::function<void()> job) override;
    void shutdown() override;

    std::size_t threadCount();

private:
    void work();

    const std::size_t m_maxThreads;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    std::vector<std::thread> m_threads;
    std::size_t m_idle = 0;
    bool m_stopping = false;
};
