#include "SyncHttp.h"

#include "ConnectionThreads.h"
#include "InFlightBudget.h"
#include "SyncService.h"

#include <netdb.h>
#include <sys/socket.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <limits>
#include <memory>

namespace {

// Below this an answer goes as it is: compressing would save next to nothing.
constexpr std::size_t compressFrom = 1024;
// A body of unknown length takes its budget in steps of this size.
constexpr std::size_t budgetStep = std::size_t(1) << 20;
constexpr std::size_t writeStep = std::size_t(1) << 20;

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The answer's bytes, kept until the response that sends them goes, with the
// request's share of the budget.
struct Answer {
    std::string bytes;
    std::unique_ptr<InFlightBudget::Share> share;
    int stopReadingAfter = -1; // a socket that reads no more once the answer is out
};

// Sends `body` as JSON. The body goes through a content provider so that the
// HTTP library does not compress it once more: it would pick brotli whenever
// the client offers it, which at its default level costs seconds for a
// megabyte-sized answer. gzip at the fastest level costs milliseconds.
void sendJson(const httplib::Request &request, httplib::Response &response, int status, std::string body,
              std::unique_ptr<InFlightBudget::Share> share = nullptr, int stopReadingAfter = -1)
{
    response.status = status;
    auto answer = std::make_shared<Answer>();
    // zlib takes at most 4 GiB in one call; an answer that large goes as it is.
    if (body.size() >= compressFrom && body.size() <= std::numeric_limits<uInt>::max()
        && acceptsGzip(request.get_header_value("Accept-Encoding"))) {
        answer->bytes = gzipFast(body);
        body = std::string();
        response.set_header("Content-Encoding", "gzip");
    } else {
        answer->bytes = std::move(body);
    }
    if (share)
        share->add(answer->bytes.size());
    answer->share = std::move(share);
    answer->stopReadingAfter = stopReadingAfter;
    const std::size_t size = answer->bytes.size();
    response.set_content_provider(size, "application/json",
                                  [answer](std::size_t offset, std::size_t length, httplib::DataSink &sink) {
                                      const std::size_t step = std::min(length, writeStep);
                                      // The share goes with the last bytes: a client that has its
                                      // answer may come again at once and find the budget free.
                                      if (step == length)
                                          answer->share.reset();
                                      if (!sink.write(answer->bytes.data() + offset, step))
                                          return false;
                                      // Before the last byte is out the library would take
                                      // the shut end for a client gone and write nothing.
                                      if (step == length && answer->stopReadingAfter >= 0)
                                          ::shutdown(answer->stopReadingAfter, SHUT_RD);
                                      return true;
                                  });
}

void refuse(const httplib::Request &request, httplib::Response &response, int status, const std::string &message)
{
    sendJson(request, response, status, SyncService::messageBody(message));
}

// The connection's own socket: the one whose two ends are the request's.
int socketOf(const httplib::Request &request)
{
    const auto sameEnd = [](const sockaddr_storage &end, const std::string &address, int port) {
        char host[NI_MAXHOST];
        char service[NI_MAXSERV];
        return ::getnameinfo(reinterpret_cast<const sockaddr *>(&end), sizeof end, host, sizeof host, service,
                             sizeof service, NI_NUMERICHOST | NI_NUMERICSERV)
            == 0
            && address == host && std::to_string(port) == service;
    };
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        int fd = -1;
        const std::string name = entry.path().filename().string();
        if (std::from_chars(name.data(), name.data() + name.size(), fd).ec != std::errc())
            continue;
        sockaddr_storage peer{};
        sockaddr_storage local{};
        socklen_t peerSize = sizeof peer;
        socklen_t localSize = sizeof local;
        if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerSize) == 0
            && ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &localSize) == 0
            && sameEnd(peer, request.remote_addr, request.remote_port)
            && sameEnd(local, request.local_addr, request.local_port))
            return fd;
    }
    return -1;
}

// A refusal before the whole body was read. What is left of the body is no
// next request, yet the HTTP library would read it as one, a line without
// end growing in memory for as long as the client sends. The connection
// reads no more once the answer is out, and so it closes.
void refuseUnread(const httplib::Request &request, httplib::Response &response, int status,
                  const std::string &message)
{
    sendJson(request, response, status, SyncService::messageBody(message), nullptr, socketOf(request));
    response.set_header("Connection", "close");
}

// Asks the client to come back shortly. A body read to its end keeps the
// connection fit for the next request.
void refuseBusy(const httplib::Request &request, httplib::Response &response, bool bodyRead)
{
    if (bodyRead)
        refuse(request, response, 503, SyncService::busyMessage);
    else
        refuseUnread(request, response, 503, SyncService::busyMessage);
    response.set_header("Retry-After", "2");
}

void handleSyncPost(AccountGate &gate, InFlightBudget &budget, std::size_t maxBody,
                    const httplib::Request &request, httplib::Response &response,
                    const httplib::ContentReader &readContent)
{
    auto share = std::make_unique<InFlightBudget::Share>(budget);
    std::string body;
    std::size_t covered = 0; // body bytes the share already pays for
    if (request.has_header("Content-Length")) {
        const std::string text = request.get_header_value("Content-Length");
        std::size_t length = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), length);
        if (error != std::errc() || end != text.data() + text.size())
            return refuseUnread(request, response, 400, "Malformed Content-Length");
        if (length > maxBody)
            return refuseUnread(request, response, 413, "Request body too large");
        covered = length;
    }
    // Without its share a request is still read to its end, keeping nothing,
    // so that its connection serves the next one.
    bool busy = false;
    if (covered > 0) {
        busy = !share->grow(covered * requestCostFactor);
        if (!busy)
            body.reserve(covered);
    }

    bool tooLarge = false;
    std::size_t received = 0;
    const bool complete = readContent([&](const char *data, std::size_t size) {
        if (size > maxBody - received) {
            tooLarge = true;
            return false;
        }
        received += size;
        if (busy)
            return true;
        if (received > covered) {
            const std::size_t more = std::min(std::max(size, budgetStep), maxBody - covered);
            if (!share->grow(more * requestCostFactor)) {
                busy = true;
                body = std::string();
                return true;
            }
            covered += more;
        }
        body.append(data, size);
        return true;
    });
    if (tooLarge)
        return refuseUnread(request, response, 413, "Request body too large");
    if (!complete)
        return refuseUnread(request, response, 400, "The request body could not be read");
    if (busy)
        return refuseBusy(request, response, true);

    ServiceResponse answer = gate.handleSync(request.get_header_value("Authorization"), request.remote_addr, body);
    body = std::string();
    sendJson(request, response, answer.httpStatus, std::move(answer.body), std::move(share));
    for (const auto &[name, value] : answer.headers)
        response.set_header(name, value);
    if (answer.httpStatus == 503)
        response.set_header("Retry-After", "2");
}

// The library keeps the listening socket to itself and its subclasses.
struct ListeningSocket : httplib::Server {
    static socket_t of(httplib::Server &server) { return (server.*(&ListeningSocket::svr_sock_)).load(); }
};

} // namespace

bool widenListenQueue(httplib::Server &server)
{
    const socket_t socket = ListeningSocket::of(server);
    return socket != INVALID_SOCKET && ::listen(socket, SOMAXCONN) == 0;
}

bool acceptsGzip(std::string_view acceptEncoding)
{
    while (!acceptEncoding.empty()) {
        const std::size_t comma = acceptEncoding.find(',');
        std::string_view item = acceptEncoding.substr(0, comma);
        acceptEncoding.remove_prefix(comma == std::string_view::npos ? acceptEncoding.size() : comma + 1);

        const std::size_t semicolon = item.find(';');
        const std::string_view name = trimmed(item.substr(0, semicolon));
        if (!equalsIgnoringCase(name, "gzip") && !equalsIgnoringCase(name, "x-gzip"))
            continue;
        if (semicolon == std::string_view::npos)
            return true;
        // "q=0", "q=0.0" and so on refuse it; any other weight allows it.
        const std::string_view parameter = trimmed(item.substr(semicolon + 1));
        if (parameter.size() < 2 || !equalsIgnoringCase(parameter.substr(0, 2), "q="))
            return true;
        const std::string_view weight = parameter.substr(2);
        return weight.find_first_not_of("0.") != std::string_view::npos;
    }
    return false;
}

std::string gzipFast(std::string_view data)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::bad_alloc();
    std::string out(deflateBound(&stream, uLong(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END)
        throw std::runtime_error("gzip compression failed");
    return out;
}

void serveSync(httplib::Server &server, AccountGate &gate, const ServerLimits &limits)
{
    const std::size_t threads = limits.maxThreads;
    server.new_task_queue = [threads] { return new ConnectionThreads(threads); };
    // Headers and body go in separate writes; without this the body waits for
    // the client's delayed acknowledgement of the headers, about 40 ms.
    server.set_tcp_nodelay(true);
    server.set_read_timeout(limits.timeoutSeconds, 0);
    server.set_write_timeout(limits.timeoutSeconds, 0);
    server.set_keep_alive_timeout(limits.idleSeconds);
    server.set_keep_alive_max_count(1000);
    server.set_payload_max_length(limits.maxBodyBytes);

    auto budget = std::make_shared<InFlightBudget>(limits.maxInFlightBytes);
    const std::size_t maxBody = limits.maxBodyBytes;
    server.Post("/api/sync", [&gate, budget, maxBody](const httplib::Request &request, httplib::Response &response,
                                                      const httplib::ContentReader &readContent) {
        handleSyncPost(gate, *budget, maxBody, request, response, readContent);
    });

    const auto approval = [&gate](const httplib::Request &request, httplib::Response &response,
                                  const std::string &body) {
        const ServiceResponse answer =
            gate.handleApproval(request.method, request.target, request.remote_addr, body);
        response.status = answer.httpStatus;
        for (const auto &[name, value] : answer.headers)
            response.set_header(name, value);
        response.set_content(answer.body, answer.contentType);
    };
    server.Get("/approve", [approval](const httplib::Request &request, httplib::Response &response) {
        approval(request, response, {});
    });
    // The form sends a token and nothing more.
    server.Post("/approve", [approval](const httplib::Request &request, httplib::Response &response,
                                       const httplib::ContentReader &readContent) {
        std::string body;
        if (!readContent([&](const char *data, std::size_t size) {
                body.append(data, size);
                return body.size() <= 4096;
            }))
            return refuseUnread(request, response, 413, "Request body too large");
        approval(request, response, body);
    });

    server.Get("/ip", [](const httplib::Request &request, httplib::Response &response) {
        response.set_content(request.remote_addr, "text/plain");
    });

    server.set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request &request, httplib::Response &response) {
        if (!response.body.empty() || response.content_length_ > 0)
            return httplib::Server::HandlerResponse::Unhandled; // a route's own answer
        if (response.status == 413)
            refuse(request, response, 413, "Request body too large");
        else
            refuse(request, response, response.status, "HTTP error " + std::to_string(response.status));
        return httplib::Server::HandlerResponse::Handled;
    }));

    server.set_exception_handler([](const httplib::Request &request, httplib::Response &response,
                                    std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::bad_alloc &) {
            refuseBusy(request, response, false); // memory runs short now; it need not later
        } catch (...) {
            refuse(request, response, 500, "Internal error");
        }
    });
}
