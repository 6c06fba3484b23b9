#include "AccountGate.h"
#include "HttpServer.h"
#include "PrivateFiles.h"
#include "ServerOptions.h"
#include "ServiceLog.h"
#include "StoreCopy.h"
#include "SyncHttp.h"
#include "SyncService.h"

#include <sys/resource.h>

#include <csignal>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

// Every open connection holds a descriptor: take all the system allows.
void raiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

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
    raiseDescriptorLimit();

    if (!options.copyFrom.empty()) {
        try {
            return copySqliteStore(options.copyFrom, options.database, std::cout) ? 0 : 1;
        } catch (const std::exception &error) {
            std::cerr << "tovik-sync-server: " << error.what() << "\n";
            return 1;
        }
    }

    std::optional<TlsFiles> tls;
    if (!options.certificate.empty())
        tls = TlsFiles{options.certificate, options.key, options.chain};
    std::unique_ptr<ServiceLog> log;
    std::unique_ptr<HttpServer> server;
    std::unique_ptr<SyncService> service;
    std::unique_ptr<AccountGate> gate;
    HttpRoutes routes;
    try {
        // A PostgreSQL database keeps its files where its own server puts them.
        makeServiceFilesPrivate(isPostgresAddress(options.database) ? std::string() : options.database, options.log);
        log = options.log.empty() ? std::make_unique<ServiceLog>() : std::make_unique<ServiceLog>(options.log);
        // Before the database: a certificate that cannot serve leaves nothing behind.
        server = std::make_unique<HttpServer>(routes, options.limits, *log, tls);
    } catch (const std::exception &error) {
        std::cerr << "tovik-sync-server: " << error.what() << " (see --help)\n";
        return 2;
    }
    int port = 0;
    try {
        port = server->listen(options.host, options.port);
    } catch (const std::exception &error) {
        std::cerr << "tovik-sync-server: cannot listen on " << options.host << ":" << options.port << ": "
                  << error.what() << "\n";
        return 2;
    }
    try {
        service = std::make_unique<SyncService>(openSqlStore(options.database, options.store), options.limits.maxBodyBytes);
        gate = std::make_unique<AccountGate>(*service, options.access, *log);
        addSyncRoutes(routes, *gate);
    } catch (const std::exception &error) {
        std::cerr << "tovik-sync-server: " << error.what() << "\n";
        return 1;
    }

    std::cout << "listening on " << options.host << ":" << port << std::endl;
    std::cout << approvalModeLine(options.access) << std::endl;
    try {
        server->run();
    } catch (const std::exception &error) {
        log->line(std::string("the service stopped: ") + error.what());
        return 1;
    }
    return 0;
}
