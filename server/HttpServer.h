#pragma once

#include "HttpExchange.h"
#include "ServiceLog.h"
#include "SyncHttp.h"
#include "TlsPolicy.h"

#include <memory>
#include <optional>
#include <string>

// The service's HTTP/1.1 front door: one event loop holds every connection,
// however slow or idle, and routes run on a small pool of worker threads, so
// no client can hold a thread while it sends nothing. Requests on one
// connection are answered in order; each is read whole, within the body limit
// and the in-flight memory budget, before its route sees it.
class HttpServer {
public:
    // Plain HTTP without `tls`. Throws std::runtime_error when the certificate cannot be used.
    HttpServer(const HttpRoutes &routes, const ServerLimits &limits, const ServiceLog &log,
               std::optional<TlsFiles> tls);
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Binds (SO_REUSEADDR, never SO_REUSEPORT) and listens; gives the port.
    // Throws std::runtime_error with the reason when it cannot.
    int listen(const std::string &host, int port);
    // Serves until stop(). SIGHUP reloads the certificate files for the
    // connections that come after.
    void run();
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};
