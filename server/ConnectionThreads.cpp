#include "ConnectionThreads.h"

#include <system_error>

ConnectionThreads::ConnectionThreads(std::size_t maxThreads) : m_maxThreads(maxThreads < 1 ? 1 : maxThreads) {}

ConnectionThreads::~ConnectionThreads()
{
    shutdown();
}

void ConnectionThreads::enqueue(std::function<void()> job)
{
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
        if (m_jobs.size() > m_idle && m_threads.size() < m_maxThreads) {
            try {
                m_threads.emplace_back([this] { work(); });
            } catch (const std::system_error &) {
                // Out of threads for now: a running one takes the job when free.
            }
        }
    }
    m_wake.notify_one();
}

void ConnectionThreads::shutdown()
{
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        threads.swap(m_threads);
    }
    m_wake.notify_all();
    for (std::thread &thread : threads)
        thread.join();
}

std::size_t ConnectionThreads::threadCount()
{
    std::lock_guard lock(m_mutex);
    return m_threads.size();
}

void ConnectionThreads::work()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        ++m_idle;
        m_wake.wait(lock, [this] { return !m_jobs.empty() || m_stopping; });
        --m_idle;
        if (m_jobs.empty())
            return; // stopping, with nothing left to serve
        std::function<void()> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        job();
        lock.lock();
    }
}
