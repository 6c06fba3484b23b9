#include "ServerOptions.h"

#include <boost/asio/ip/address.hpp>

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
           "  --cert FILE          PEM certificate for HTTPS, optionally followed by its chain; needs --key\n"
           "  --key FILE           PEM private key for HTTPS; needs --cert\n"
           "  --chain FILE         PEM intermediate certificates sent after --cert\n"
           "                       (SIGHUP reads --cert, --key and --chain again for new connections)\n"
           "  --max-body SIZE      largest request body (default 512M); SIZE is bytes, or with K, M or G\n"
           "  --max-in-flight SIZE memory all requests in flight may hold together, at least three\n"
           "                       times --max-body (default 2G); past it requests get 503\n"
           "  --threads N          requests handled at once, one worker thread each (default 8)\n"
           "  --timeout SECONDS    a body or answer that moves nothing this long closes its connection\n"
           "                       (default 10)\n"
           "  --header-timeout SECONDS\n"
           "                       a new connection's first request must be in whole within this, TLS\n"
           "                       handshake included (default 10)\n"
           "  --idle-timeout SECONDS\n"
           "                       a kept-alive connection's next request must be in whole within this\n"
           "                       (default 2)\n"
           "  --max-connections N  open connections in all; past it the one idle longest is closed\n"
           "                       (default 10000)\n"
           "  --max-per-address N  open connections from one address (default 64)\n"
           "  --trust-proxy ADDRESS\n"
           "                       a proxy (such as nginx) whose X-Real-IP or X-Forwarded-For header names\n"
           "                       the client, for /ip and the per-address limit; may be repeated\n"
           "  --log FILE           where failures are logged (default: standard error)\n"
           "  --help               print this text\n"
        + accessUsage()
        + "\n"
           "It prints \"listening on ADDRESS:PORT\" once it serves. A bad command line, or a port that\n"
           "cannot be listened on, exits with status 2. The database, the log and their folders are\n"
           "made readable by the service's user only.\n";
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
            || name == "--timeout" || name == "--idle-timeout" || name == "--header-timeout" || name == "--chain"
            || name == "--log" || name == "--max-connections" || name == "--max-per-address"
            || name == "--trust-proxy" || name == "--db-connections" || name == "--copy-sqlite";
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
        } else if (name == "--chain" || name == "--log") {
            if (value.empty())
                return badValue(name, value, "a file path");
            (name == "--chain" ? options.chain : options.log) = value;
        } else if (name == "--trust-proxy") {
            boost::system::error_code error;
            boost::asio::ip::make_address(value, error);
            if (error)
                return badValue(name, value, "an IP address");
            options.limits.trustedProxies.push_back(value);
        } else if (name == "--threads" || name == "--max-connections" || name == "--max-per-address") {
            const uint64_t most = name == "--threads" ? 1024 : 1000000;
            const auto count = numberIn(value, 1, most);
            if (!count)
                return badValue(name, value, "a number from 1 to " + std::to_string(most));
            (name == "--threads"           ? options.limits.maxThreads
             : name == "--max-connections" ? options.limits.maxConnections
                                           : options.limits.maxPerAddress) = std::size_t(*count);
        } else {
            const auto seconds = numberIn(value, 1, 86400);
            if (!seconds)
                return badValue(name, value, "seconds from 1 to 86400");
            (name == "--timeout"          ? options.limits.timeout
             : name == "--idle-timeout"   ? options.limits.idleTimeout
                                          : options.limits.headerTimeout) = std::chrono::seconds(*seconds);
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
    if (!options.chain.empty() && options.certificate.empty())
        return OptionError{"--chain needs --cert and --key"};
    if (options.limits.maxInFlightBytes / requestCostFactor < options.limits.maxBodyBytes)
        return OptionError{"--max-in-flight must be at least three times --max-body"};
    if (const auto accessError = completeAccessOptions(options.access, options.host, !options.limits.trustedProxies.empty()))
        return OptionError{*accessError};
    return options;
}
