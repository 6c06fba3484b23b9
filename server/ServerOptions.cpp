#include "ServerOptions.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>

namespace {

std::optional<uint64_t> wholeNumber(const std::string &text)
{
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// A byte count: digits with an optional K, M or G (binary multiples).
std::optional<std::size_t> byteCount(std::string text)
{
    unsigned shift = 0;
    if (!text.empty()) {
        switch (text.back()) {
        case 'K': case 'k': shift = 10; break;
        case 'M': case 'm': shift = 20; break;
        case 'G': case 'g': shift = 30; break;
        default: break;
        }
        if (shift)
            text.pop_back();
    }
    const auto value = wholeNumber(text);
    if (!value || *value == 0 || *value > (uint64_t(std::numeric_limits<std::size_t>::max()) >> shift))
        return std::nullopt;
    return std::size_t(*value << shift);
}

std::optional<uint64_t> numberIn(const std::string &text, uint64_t low, uint64_t high)
{
    const auto value = wholeNumber(text);
    if (!value || *value < low || *value > high)
        return std::nullopt;
    return value;
}

OptionError badValue(const std::string &name, const std::string &value, const std::string &expected)
{
    return OptionError{"bad value \"" + value + "\" for " + name + ": expected " + expected};
}

} // namespace

std::string serverUsage()
{
    return "usage: tovik-sync-server --port N --db PATH [options]\n"
           "\n"
           "The TovikNote sync service: machines post their notes to /api/sync and get back\n"
           "what they must apply; GET /ip answers the caller's address.\n"
           "\n"
           "  --port N             TCP port to listen on (0: one the system picks); required\n"
           "  --db PATH|URL        the service's SQLite database file, made when missing, or a\n"
           "                       postgresql://... address, which any number of instances may share; required\n"
           "  --db-connections N   connections to PostgreSQL, each serving one account at a time (default 16)\n"
           "  --copy-sqlite FILE   copy the SQLite service database FILE into the empty PostgreSQL of --db,\n"
           "                       print the rows of each table on both sides and exit (0: the counts agree);\n"
           "                       needs no --port\n"
           "  --host ADDRESS       address to listen on (default 127.0.0.1; 0.0.0.0 serves other machines)\n"
           "  --cert FILE          PEM certificate for HTTPS; needs --key\n"
           "  --key FILE           PEM private key for HTTPS; needs --cert\n"
           "  --max-body SIZE      largest request body (default 512M); SIZE is bytes, or with K, M or G\n"
           "  --max-in-flight SIZE memory all requests in flight may hold together, at least three\n"
           "                       times --max-body (default 2G); past it requests get 503\n"
           "  --threads N          connections served at once, one thread each (default 512)\n"
           "  --timeout SECONDS    a connection that sends or takes nothing this long is closed (default 10)\n"
           "  --idle-timeout SECONDS\n"
           "                       how long a kept-alive connection waits for its next request (default 2)\n"
           "  --help               print this text\n"
        + accessUsage()
        + "\n"
           "It prints \"listening on ADDRESS:PORT\" once it serves. A bad command line exits with status 2.\n";
}

ParsedOptions parseServerOptions(const std::vector<std::string> &arguments)
{
    ServerOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string &name = arguments[i];
        if (name == "--help" || name == "-h")
            return HelpRequested{};
        std::string accessError;
        if (const std::size_t used = takeAccessOption(arguments, i, options.access, accessError)) {
            if (!accessError.empty())
                return OptionError{accessError};
            i += used - 1;
            continue;
        }
        const bool known = name == "--port" || name == "--db" || name == "--host" || name == "--cert"
            || name == "--key" || name == "--max-body" || name == "--max-in-flight" || name == "--threads"
            || name == "--timeout" || name == "--idle-timeout" || name == "--db-connections"
            || name == "--copy-sqlite";
        if (!known)
            return OptionError{"unknown option \"" + name + "\""};
        if (i + 1 >= arguments.size())
            return OptionError{name + " needs a value"};
        const std::string &value = arguments[++i];

        if (name == "--port") {
            const auto port = numberIn(value, 0, 65535);
            if (!port)
                return badValue(name, value, "a port number from 0 to 65535");
            options.port = int(*port);
        } else if (name == "--db") {
            if (value.empty())
                return badValue(name, value, "a file path");
            options.database = value;
        } else if (name == "--db-connections") {
            const auto connections = numberIn(value, 1, 10000);
            if (!connections)
                return badValue(name, value, "a number from 1 to 10000");
            options.store.connections = std::size_t(*connections);
        } else if (name == "--copy-sqlite") {
            if (value.empty())
                return badValue(name, value, "a file path");
            options.copyFrom = value;
        } else if (name == "--host") {
            if (value.empty())
                return badValue(name, value, "an address");
            options.host = value;
        } else if (name == "--cert") {
            options.certificate = value;
        } else if (name == "--key") {
            options.key = value;
        } else if (name == "--max-body" || name == "--max-in-flight") {
            const auto bytes = byteCount(value);
            if (!bytes)
                return badValue(name, value, "a byte count such as 1048576, 512M or 2G");
            (name == "--max-body" ? options.limits.maxBodyBytes : options.limits.maxInFlightBytes) = *bytes;
        } else if (name == "--threads") {
            const auto threads = numberIn(value, 1, 100000);
            if (!threads)
                return badValue(name, value, "a number from 1 to 100000");
            options.limits.maxThreads = std::size_t(*threads);
        } else {
            const auto seconds = numberIn(value, 1, 86400);
            if (!seconds)
                return badValue(name, value, "seconds from 1 to 86400");
            (name == "--timeout" ? options.limits.timeoutSeconds : options.limits.idleSeconds) =
                std::time_t(*seconds);
        }
    }
    if (options.port < 0 && options.copyFrom.empty())
        return OptionError{"--port is required"};
    if (options.database.empty())
        return OptionError{"--db is required"};
    if (!options.copyFrom.empty() && !isPostgresAddress(options.database))
        return OptionError{"--copy-sqlite copies into PostgreSQL: --db must be a postgresql:// address"};
    if (options.certificate.empty() != options.key.empty())
        return OptionError{"--cert and --key go together"};
    if (options.limits.maxInFlightBytes / requestCostFactor < options.limits.maxBodyBytes)
        return OptionError{"--max-in-flight must be at least three times --max-body"};
    if (const auto accessError = completeAccessOptions(options.access, options.host))
        return OptionError{*accessError};
    return options;
}
