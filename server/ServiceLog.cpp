#include "ServiceLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>

ServiceLog::ServiceLog() : m_fd(STDERR_FILENO), m_owned(false) {}

ServiceLog::ServiceLog(const std::string &path)
    : m_fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600)), m_owned(true)
{
    if (m_fd < 0)
        throw std::runtime_error("cannot open the log \"" + path + "\": " + std::strerror(errno));
}

ServiceLog::~ServiceLog()
{
    if (m_owned)
        ::close(m_fd);
}

void ServiceLog::line(std::string_view text) const
{
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    ::gmtime_r(&now, &parts);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ ", &parts);
    std::string whole = stamp;
    whole.append(text);
    whole += '\n';
    // One write per line, so lines from several threads never interleave.
    std::string_view rest = whole;
    while (!rest.empty()) {
        const ssize_t written = ::write(m_fd, rest.data(), rest.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return; // a log that cannot be written must not stop the service
        rest.remove_prefix(std::size_t(written));
    }
}
