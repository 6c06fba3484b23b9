#include "SyncHttp.h"
#include "SyncService.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

namespace {

struct Options {
    std::string host = "127.0.0.1";
    int port = -1;
    std::string database;
    std::string certificate;
    std::string key;
};

int usage()
{
    std::cerr << "usage: tovik-sync-server --port N --db PATH [--cert CERT --key KEY] [--host ADDRESS]\n";
    return 2;
}

std::optional<Options> parseOptions(int argc, char **argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc)
            return std::nullopt;
        const std::string value = argv[++i];
        if (name == "--port") {
            try {
                std::size_t used = 0;
                options.port = std::stoi(value, &used);
                if (used != value.size() || options.port < 0 || options.port > 65535)
                    return std::nullopt;
            } catch (const std::exception &) {
                return std::nullopt;
            }
        } else if (name == "--db") {
            options.database = value;
        } else if (name == "--cert") {
            options.certificate = value;
        } else if (name == "--key") {
            options.key = value;
        } else if (name == "--host") {
            options.host = value;
        } else {
            return std::nullopt;
        }
    }
    if (options.port < 0 || options.database.empty() || options.certificate.empty() != options.key.empty())
        return std::nullopt;
    return options;
}

} // namespace

int main(int argc, char **argv)
{
    const auto options = parseOptions(argc, argv);
    if (!options)
        return usage();

    try {
        SyncService service(options->database);

        std::unique_ptr<httplib::Server> server;
        if (options->certificate.empty()) {
            server = std::make_unique<httplib::Server>();
        } else {
            auto secure = std::make_unique<httplib::SSLServer>(options->certificate.c_str(), options->key.c_str());
            if (!secure->is_valid()) {
                std::cerr << "cannot use the certificate or key\n";
                return 1;
            }
            server = std::move(secure);
        }
        installSyncRoutes(*server, service);

        int port = options->port;
        if (port == 0) {
            port = server->bind_to_any_port(options->host);
        } else if (!server->bind_to_port(options->host, port)) {
            port = -1;
        }
        if (port <= 0) {
            std::cerr << "cannot listen on " << options->host << ":" << options->port << "\n";
            return 1;
        }
        std::cout << "listening on " << options->host << ":" << port << std::endl;
        return server->listen_after_bind() ? 0 : 1;
    } catch (const std::exception &error) {
        std::cerr << "tovik-sync-server: " << error.what() << "\n";
        return 1;
    }
}
