#pragma once

#include "AccountGate.h"
#include "SyncService.h"

#include <httplib.h>

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

// What the service lets its callers cost it.
struct ServerLimits {
    std::size_t maxBodyBytes = SyncService::defaultMaxBodyBytes;
    // Held by all requests in flight together; one request takes about three
    // times its body while it is read, parsed and answered.
    std::size_t maxInFlightBytes = std::size_t(2) << 30;
    std::size_t maxThreads = 512;
    // A connection that sends or takes nothing for this long is closed.
    std::time_t timeoutSeconds = 10;
    // A kept-alive connection waits this long for its next request.
    std::time_t idleSeconds = 2;
};

// A request holds about this many times its body at its peak.
constexpr std::size_t requestCostFactor = 3;

// Routes of the service: POST /api/sync through `gate`, GET and POST
// /approve (the page of an approval link), and GET /ip (the caller's address
// as plain text), with the limits, time-outs and threads of `limits`. Every
// refusal answers with a JSON {"msg"}: 400 for a malformed request, 413 past
// the body limit, 503 (with Retry-After) while the requests in flight hold
// their whole budget.
void serveSync(httplib::Server &server, AccountGate &gate, const ServerLimits &limits);

// Lets the bound socket of `server` queue as many arriving connections as the
// system allows: the HTTP library asks for 5, and any connection past them
// waits a second for its retry while the server accepts the ones before.
// Call between binding and listening.
bool widenListenQueue(httplib::Server &server);

// Whether an Accept-Encoding value allows gzip.
bool acceptsGzip(std::string_view acceptEncoding);

// `data` as one gzip member, compressed at zlib's fastest level.
std::string gzipFast(std::string_view data);
