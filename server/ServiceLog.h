#pragma once

#include <string>
#include <string_view>

// The service's log: one line per event, with the time in UTC, to standard
// error or to a file only its owner reads. Lines come whole from any thread.
class ServiceLog {
public:
    ServiceLog(); // standard error
    // Appends to `path`, made owner-only; throws std::runtime_error when it cannot be opened.
    explicit ServiceLog(const std::string &path);
    ~ServiceLog();
    ServiceLog(const ServiceLog &) = delete;
    ServiceLog &operator=(const ServiceLog &) = delete;

    void line(std::string_view text) const;

private:
    int m_fd;
    bool m_owned;
};
