#pragma once

#include "AccountGate.h"
#include "HttpExchange.h"
#include "SyncService.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// What the service lets its callers cost it.
struct ServerLimits {
    std::size_t maxBodyBytes = SyncService::defaultMaxBodyBytes;
    // Held by all requests in flight together; one request takes about three
    // times its body while it is read, parsed and answered.
    std::size_t maxInFlightBytes = std::size_t(2) << 30;
    // Requests handled at once, each on a worker thread of its own.
    std::size_t maxThreads = 8;
    // A body or an answer that moves no byte for this long closes its connection.
    std::chrono::seconds timeout{10};
    // A kept-alive connection's next request must be in whole within this.
    std::chrono::seconds idleTimeout{2};
    // A connection's first request must be in whole within this, TLS handshake included.
    std::chrono::seconds headerTimeout{10};
    // Open connections in all; past it the one idle longest goes first.
    std::size_t maxConnections = 10000;
    // Open connections from one address; a trusted proxy has no such bound.
    std::size_t maxPerAddress = 64;
    // Proxies whose X-Real-IP or X-Forwarded-For names the client.
    std::vector<std::string> trustedProxies;
};

// A request holds about this many times its body at its peak.
constexpr std::size_t requestCostFactor = 3;

// POST /api/sync through `gate`, GET and POST /approve (the page of an
// approval link), and GET /ip (the caller's address as plain text).
void addSyncRoutes(HttpRoutes &routes, AccountGate &gate);

// Whether an Accept-Encoding value allows gzip.
bool acceptsGzip(std::string_view acceptEncoding);

// `data` as one gzip member, compressed at zlib's fastest level.
std::string gzipFast(std::string_view data);
