#pragma once

#include <atomic>
#include <cstddef>

// Bytes that the requests in flight may hold together. Each request takes its
// share before it reads or builds much, and gives it back when its answer is
// gone, so many large requests at once meet a refusal instead of exhausting
// the machine's memory.
class InFlightBudget {
public:
    explicit InFlightBudget(std::size_t capacity) : m_capacity(capacity) {}

    std::size_t capacity() const { return m_capacity; }
    std::size_t used() const { return m_used.load(); }

    // One request's share, given back when it goes.
    class Share {
    public:
        explicit Share(InFlightBudget &budget) : m_budget(budget) {}
        ~Share() { m_budget.m_used -= m_taken; }
        Share(const Share &) = delete;
        Share &operator=(const Share &) = delete;

        // Takes `bytes` more; false, taking nothing, when the total would pass the capacity.
        bool grow(std::size_t bytes);
        // Takes `bytes` more whatever the total: memory already spent, which
        // later requests must see.
        void add(std::size_t bytes);

    private:
        InFlightBudget &m_budget;
        std::size_t m_taken = 0;
    };

private:
    const std::size_t m_capacity;
    std::atomic<std::size_t> m_used{0};
};

inline bool InFlightBudget::Share::grow(std::size_t bytes)
{
    std::size_t used = m_budget.m_used.load();
    do {
        if (bytes > m_budget.m_capacity || used > m_budget.m_capacity - bytes)
            return false;
    } while (!m_budget.m_used.compare_exchange_weak(used, used + bytes));
    m_taken += bytes;
    return true;
}

inline void InFlightBudget::Share::add(std::size_t bytes)
{
    m_budget.m_used += bytes;
    m_taken += bytes;
}
