#include "AccountGate.h"
#include "ServerOptions.h"
#include "StoreCopy.h"
#include "SyncHttp.h"
#include "SyncService.h"

#include <csignal>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    const ParsedOptions parsed = parseServerOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (std::holds_alternative<HelpRequested>(parsed)) {
        std::cout << serverUsage();
        return 0;
    }
    if (const auto *error = std::get_if<OptionError>(&parsed)) {
        std::cerr << "tovik-sync-server: " << error->message << " (see --help)\n";
        return 2;
    }
    const ServerOptions &options = std::get<ServerOptions>(parsed);
    // A client that goes while its answer is written must cost only its own
    // connection, not the process.
    std::signal(SIGPIPE, SIG_IGN);

    try {
        if (!options.copyFrom.empty())
            return copySqliteStore(options.copyFrom, options.database, std::cout) ? 0 : 1;
        std::unique_ptr<httplib::Server> server;
        if (options.certificate.empty()) {
            server = std::make_unique<httplib::Server>();
        } else {
            auto secure = std::make_unique<httplib::SSLServer>(options.certificate.c_str(), options.key.c_str());
            if (!secure->is_valid()) {
                std::cerr << "tovik-sync-server: cannot use the certificate \"" << options.certificate
                          << "\" with the key \"" << options.key << "\" (see --help)\n";
                return 2;
            }
            server = std::move(secure);
        }
        SyncService service(openSqlStore(options.database, options.store), options.limits.maxBodyBytes);
        AccountGate gate(service, options.access, std::cout);
        serveSync(*server, gate, options.limits);

        int port = options.port;
        if (port == 0) {
            port = server->bind_to_any_port(options.host);
        } else if (!server->bind_to_port(options.host, port)) {
            port = -1;
        }
        if (port <= 0 || !widenListenQueue(*server)) {
            std::cerr << "tovik-sync-server: cannot listen on " << options.host << ":" << options.port << "\n";
            return 1;
        }
        std::cout << "listening on " << options.host << ":" << port << std::endl;
        std::cout << approvalModeLine(options.access) << std::endl;
        return server->listen_after_bind() ? 0 : 1;
    } catch (const std::exception &error) {
        std::cerr << "tovik-sync-server: " << error.what() << "\n";
        return 1;
    }
}
