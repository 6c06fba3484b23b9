#include "AccessOptions.h"

#include <arpa/inet.h>

#include <charconv>
#include <fstream>

namespace {

bool startsWith(const std::string &text, const char *prefix)
{
    return text.rfind(prefix, 0) == 0;
}

} // namespace

bool isLoopbackHost(const std::string &host)
{
    if (host == "localhost" || host == "::1" || host == "[::1]")
        return true;
    in_addr address{};
    return ::inet_pton(AF_INET, host.c_str(), &address) == 1 && (ntohl(address.s_addr) >> 24) == 127;
}

std::size_t takeAccessOption(const std::vector<std::string> &arguments, std::size_t at, AccessOptions &options,
                             std::string &error)
{
    const std::string &name = arguments[at];
    if (name == "--open") {
        options.open = true;
        return 1;
    }
    const bool known = name == "--smtp" || name == "--smtp-credentials" || name == "--smtp-ca"
        || name == "--mail-from" || name == "--public-url" || name == "--requests-per-minute";
    if (!known)
        return 0;
    if (at + 1 >= arguments.size()) {
        error = name + " needs a value";
        return 1;
    }
    const std::string &value = arguments[at + 1];
    const auto bad = [&](const std::string &expected) {
        error = "bad value \"" + value + "\" for " + name + ": expected " + expected;
    };
    if (name == "--smtp") {
        if (!(startsWith(value, "smtp://") || startsWith(value, "smtps://")) || value.find_first_of(" \r\n") != std::string::npos)
            bad("smtp://HOST[:PORT] (STARTTLS) or smtps://HOST[:PORT]");
        options.smtp.url = value;
    } else if (name == "--smtp-credentials") {
        if (value.empty())
            bad("a file path");
        options.credentialsFile = value;
    } else if (name == "--smtp-ca") {
        if (value.empty())
            bad("a file path");
        options.smtp.caFile = value;
    } else if (name == "--mail-from") {
        const std::size_t at = value.find('@');
        if (at == 0 || at == std::string::npos || at + 1 == value.size()
            || value.find_first_of(" <>\r\n\t,;\"") != std::string::npos)
            bad("an e-mail address");
        options.smtp.from = value;
    } else if (name == "--public-url") {
        if (!(startsWith(value, "https://") || startsWith(value, "http://"))
            || value.find_first_of(" <>\"'\r\n\t?#") != std::string::npos)
            bad("an http:// or https:// address");
        options.publicUrl = value;
        while (!options.publicUrl.empty() && options.publicUrl.back() == '/')
            options.publicUrl.pop_back();
    } else {
        unsigned number = 0;
        const auto [end, failure] = std::from_chars(value.data(), value.data() + value.size(), number);
        if (value.empty() || failure != std::errc() || end != value.data() + value.size() || number == 0
            || number > 1000000)
            bad("a number from 1 to 1000000");
        options.requestsPerMinute = number;
    }
    return 2;
}

std::optional<std::string> completeAccessOptions(AccessOptions &options, const std::string &host,
                                                  bool behindProxy)
{
    // Behind a trusted proxy the callers are whoever reaches the proxy, not
    // this machine's own users, however the service itself listens.
    options.loopbackOnly = isLoopbackHost(host) && !behindProxy;
    if (options.smtp.url.empty()) {
        if (!options.credentialsFile.empty() || !options.smtp.caFile.empty() || !options.smtp.from.empty()
            || !options.publicUrl.empty())
            return "--smtp-credentials, --smtp-ca, --mail-from and --public-url go with --smtp";
        if (!options.loopbackOnly && !options.open)
            return (behindProxy ? std::string("--trust-proxy") : "--host " + host)
                + " serves other machines: give --smtp to approve them by mail, or --open on a trusted network only";
        return std::nullopt;
    }
    if (options.open)
        return "--open and --smtp exclude each other";
    if (options.smtp.from.empty())
        return "--smtp needs --mail-from";
    if (options.publicUrl.empty())
        return "--smtp needs --public-url";
    if (!options.credentialsFile.empty()) {
        std::ifstream file(options.credentialsFile);
        std::string line;
        if (!file || !std::getline(file, line))
            return "cannot read --smtp-credentials \"" + options.credentialsFile + "\"";
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::size_t colon = line.find(':');
        if (colon == 0 || colon == std::string::npos)
            return "--smtp-credentials \"" + options.credentialsFile + "\" must hold USER:PASSWORD on its first line";
        options.smtp.user = line.substr(0, colon);
        options.smtp.password = line.substr(colon + 1);
    }
    return std::nullopt;
}

std::string accessUsage()
{
    return "\n"
           "Each machine sends its own secret (Authorization: Bearer <64 hex digits>). A machine the\n"
           "address does not know yet gets status 601, and the address a link that approves it:\n"
           "  --smtp URL           the relay that sends approval links: smtp://HOST[:PORT] (STARTTLS\n"
           "                       required) or smtps://HOST[:PORT] (TLS from the start)\n"
           "  --smtp-credentials FILE\n"
           "                       login for the relay: USER:PASSWORD on the file's first line\n"
           "  --smtp-ca FILE       PEM certificates to trust for the relay (default: the system's)\n"
           "  --mail-from ADDRESS  sender of the approval mails; required with --smtp\n"
           "  --public-url URL     the service's address as browsers reach it; links go to\n"
           "                       URL/approve?token=...; required with --smtp\n"
           "  --open               approve every machine on first use, without mail:\n"
           "                       for a trusted network only\n"
           "  --requests-per-minute N\n"
           "                       requests one client IP address may make a minute, in bursts of up\n"
           "                       to N (default 60); past it the answer is 429\n"
           "Without --smtp, a service on a loopback address approves every machine on first use; on\n"
           "any other address it refuses to start unless given --open. A link works once, for 24\n"
           "hours; an address gets at most one mail every 10 minutes.\n";
}

std::string approvalModeLine(const AccessOptions &options)
{
    if (options.approvesByMail())
        return "new machines are approved by a link mailed to their address";
    if (options.open)
        return "--open: every new machine is approved on first use";
    return "no --smtp on a loopback address: every new machine is approved on first use";
}
