#pragma once

#include <cstddef>
#include <exception>
#include <functional>

// The store's own error. It prints as its case name.
class DBError : public std::exception {
public:
    enum class Code { databaseNotInitialized, userNotFound, noteNotFound };

    explicit DBError(Code code) : m_code(code) {}
    static DBError databaseNotInitialized() { return DBError(Code::databaseNotInitialized); }
    static DBError userNotFound() { return DBError(Code::userNotFound); }
    static DBError noteNotFound() { return DBError(Code::noteNotFound); }

    Code code() const { return m_code; }
    const char *what() const noexcept override
    {
        switch (m_code) {
        case Code::databaseNotInitialized: return "databaseNotInitialized";
        case Code::userNotFound: return "userNotFound";
        case Code::noteNotFound: return "noteNotFound";
        }
        return "unknown";
    }
    friend bool operator==(const DBError &a, const DBError &b) { return a.m_code == b.m_code; }

private:
    Code m_code;
};

template<>
struct std::hash<DBError> {
    size_t operator()(const DBError &error) const noexcept { return std::hash<int>()(static_cast<int>(error.code())); }
};
