#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <new>
#include <string_view>

// A request body read into memory. A body of known length gets exactly its
// size from the heap. For one of unknown length, the whole room it may need
// is mapped as address space at once, and only the pages the body fills cost
// memory, so it never moves as it grows: its peak is its own size, not the two
// or three times of a growing string.
class BodyBuffer {
public:
    BodyBuffer() = default;
    ~BodyBuffer() { release(); }
    BodyBuffer(const BodyBuffer &) = delete;
    BodyBuffer &operator=(const BodyBuffer &) = delete;

    // Room for `capacity` bytes; throws std::bad_alloc when memory is short.
    void reserve(std::size_t capacity)
    {
        release();
        if (capacity == 0)
            return;
        m_data = static_cast<char *>(std::malloc(capacity));
        if (!m_data)
            throw std::bad_alloc();
        m_capacity = capacity;
    }
    // Room for up to `capacity` bytes, paid for as they come.
    void reserveGrowing(std::size_t capacity)
    {
        release();
        if (capacity == 0)
            return;
        void *mapped = ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                              -1, 0);
        if (mapped == MAP_FAILED)
            throw std::bad_alloc();
        m_data = static_cast<char *>(mapped);
        m_capacity = capacity;
        m_mapped = true;
    }
    void release()
    {
        if (m_data && m_mapped)
            ::munmap(m_data, m_capacity);
        else
            std::free(m_data);
        m_data = nullptr;
        m_mapped = false;
        m_size = m_capacity = 0;
    }

    char *end() { return m_data + m_size; }
    std::size_t size() const { return m_size; }
    std::size_t room() const { return m_capacity - m_size; }
    void grow(std::size_t bytes) { m_size += bytes; }
    std::string_view view() const { return m_data ? std::string_view(m_data, m_size) : std::string_view(); }

private:
    char *m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
    bool m_mapped = false;
};
