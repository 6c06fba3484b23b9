#include "HttpServer.h"

#include "BodyBuffer.h"
#include "InFlightBudget.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <limits>
#include <list>
#include <unordered_map>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;

namespace {

constexpr std::size_t headerLimit = 16 * 1024;
// Raw bytes read ahead of the parser; pipelined requests wait here.
constexpr std::size_t readAheadLimit = 256 * 1024;
constexpr std::size_t readStep = 256 * 1024;
constexpr std::size_t bodyReadAhead = 64 * 1024;
// A body of unknown length takes its budget in steps of this size.
constexpr std::size_t budgetStep = std::size_t(1) << 20;
// Below this an answer goes as it is: compressing would save next to nothing.
constexpr std::size_t compressFrom = 1024;
constexpr const char *continueLine = "HTTP/1.1 100 Continue\r\n\r\n";

auto failing(error_code &error)
{
    return asio::redirect_error(asio::use_awaitable, error);
}

bool isParseError(const error_code &error)
{
    return error.category() == http::make_error_code(http::error::bad_target).category()
        && error != http::error::end_of_stream && error != http::error::partial_message;
}

std::string addressText(asio::ip::address address)
{
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    return address.to_string();
}

// The address in `text`, written the usual way; empty when it is none.
std::string parsedAddress(std::string_view text)
{
    error_code error;
    const asio::ip::address address = asio::ip::make_address(std::string(trimmedSpace(text)), error);
    return error ? std::string() : addressText(address);
}

void compress(HttpReply &reply, std::string_view acceptEncoding)
{
    // zlib takes at most 4 GiB in one call; an answer that large goes as it is.
    if (reply.body.size() < compressFrom || reply.body.size() > std::numeric_limits<unsigned>::max()
        || !acceptsGzip(acceptEncoding))
        return;
    reply.body = gzipFast(reply.body);
    reply.headers.emplace_back("Content-Encoding", "gzip");
}

// An open connection, as the limits on connections see it.
struct Connection {
    std::string address;
    bool fromProxy = false;
    bool waiting = false; // for its next request, or for its TLS handshake
    bool shed = false;
    std::list<Connection *>::iterator waitingAt;
    tcp::socket *socket = nullptr;
};

} // namespace

struct HttpServer::Impl {
    Impl(const HttpRoutes &routes, const ServerLimits &limits, const ServiceLog &log, std::optional<TlsFiles> tls)
        : routes(routes), limits(limits), log(log), tlsFiles(std::move(tls)), workers(limits.maxThreads),
          budget(limits.maxInFlightBytes)
    {
        if (tlsFiles)
            tlsContext = makeTlsContext(*tlsFiles);
        for (const std::string &proxy : limits.trustedProxies)
            trustedProxies.push_back(parsedAddress(proxy));
    }

    const HttpRoutes &routes;
    const ServerLimits limits;
    const ServiceLog &log;
    const std::optional<TlsFiles> tlsFiles;
    std::shared_ptr<asio::ssl::context> tlsContext;
    std::vector<std::string> trustedProxies;

    asio::io_context io{1};
    tcp::acceptor acceptor{io};
    asio::signal_set hangup{io, SIGHUP};
    asio::thread_pool workers;
    std::atomic<std::size_t> queued{0};
    InFlightBudget budget;

    // Touched on the event loop's thread only.
    std::list<Connection *> waitingConnections; // longest waiting first
    std::unordered_map<std::string, std::size_t> perAddress;
    std::size_t openConnections = 0;

    // ---- the bounds on connections ----

    void startWaiting(Connection &connection)
    {
        if (connection.waiting || connection.shed)
            return;
        connection.waiting = true;
        connection.waitingAt = waitingConnections.insert(waitingConnections.end(), &connection);
    }
    void stopWaiting(Connection &connection)
    {
        if (!connection.waiting)
            return;
        waitingConnections.erase(connection.waitingAt);
        connection.waiting = false;
    }
    void forget(Connection &connection)
    {
        stopWaiting(connection);
        if (connection.shed)
            return;
        connection.shed = true; // counted out once
        --openConnections;
        if (!connection.fromProxy && --perAddress[connection.address] == 0)
            perAddress.erase(connection.address);
    }
    // Closes the connection that has waited longest, of `address` when given;
    // false when none waits.
    bool shedOne(const std::string *address)
    {
        for (Connection *connection : waitingConnections) {
            if (address && connection->address != *address)
                continue;
            forget(*connection);
            error_code ignored;
            connection->socket->close(ignored);
            return true;
        }
        return false;
    }
    bool admit(const std::string &address, bool fromProxy)
    {
        if (!fromProxy) {
            const auto known = perAddress.find(address);
            if (known != perAddress.end() && known->second >= limits.maxPerAddress && !shedOne(&address))
                return false;
        }
        if (openConnections >= limits.maxConnections && !shedOne(nullptr))
            return false;
        ++openConnections;
        if (!fromProxy)
            ++perAddress[address];
        return true;
    }

    struct Admitted {
        Impl &server;
        Connection &connection;
        ~Admitted() { server.forget(connection); }
    };

    // ---- connections ----

    asio::awaitable<void> acceptConnections()
    {
        asio::steady_timer pause(io);
        for (;;) {
            error_code error;
            tcp::socket socket = co_await acceptor.async_accept(failing(error));
            if (error == asio::error::operation_aborted)
                co_return;
            if (error) {
                // Out of descriptors for a moment: the queue holds the caller meanwhile.
                pause.expires_after(std::chrono::milliseconds(50));
                co_await pause.async_wait(failing(error));
                continue;
            }
            const tcp::endpoint peer = socket.remote_endpoint(error);
            if (error)
                continue;
            std::string address = addressText(peer.address());
            const bool fromProxy =
                std::find(trustedProxies.begin(), trustedProxies.end(), address) != trustedProxies.end();
            if (!admit(address, fromProxy)) {
                socket.close(error);
                continue;
            }
            // Headers and body go in separate writes; without this the body
            // waits for the client's delayed acknowledgement of the headers.
            socket.set_option(tcp::no_delay(true), error);
            asio::co_spawn(io, serve(std::move(socket), std::move(address), fromProxy), asio::detached);
        }
    }

    asio::awaitable<void> serve(tcp::socket socket, std::string address, bool fromProxy)
    {
        Connection connection{std::move(address), fromProxy};
        Admitted admitted{*this, connection};
        try {
            if (tlsContext) {
                // A TLS stream holds some 70 KiB of buffers: a client that
                // sends nothing costs its socket alone.
                beast::tcp_stream tcpStream(std::move(socket));
                connection.socket = &tcpStream.socket();
                startWaiting(connection);
                const auto deadline = std::chrono::steady_clock::now() + limits.headerTimeout;
                asio::steady_timer timer(io, deadline);
                timer.async_wait([socket = connection.socket](const error_code &error) {
                    if (!error)
                        socket->cancel();
                });
                error_code error;
                co_await tcpStream.socket().async_wait(tcp::socket::wait_read, failing(error));
                timer.cancel();
                if (error || connection.shed)
                    co_return;
                const std::shared_ptr<asio::ssl::context> context = tlsContext;
                beast::ssl_stream<beast::tcp_stream> stream(std::move(tcpStream), *context);
                connection.socket = &beast::get_lowest_layer(stream).socket();
                beast::get_lowest_layer(stream).expires_at(deadline);
                co_await stream.async_handshake(asio::ssl::stream_base::server, failing(error));
                stopWaiting(connection);
                if (!error && !connection.shed)
                    co_await converse(stream, connection);
            } else {
                beast::tcp_stream stream(std::move(socket));
                connection.socket = &stream.socket();
                co_await converse(stream, connection);
            }
        } catch (const std::exception &error) {
            // One connection's failure ends that connection only.
            log.line(std::string("a connection failed: ") + error.what());
        }
    }

    template <typename Stream>
    asio::awaitable<void> converse(Stream &stream, Connection &connection)
    {
        beast::flat_buffer buffer(readAheadLimit);
        auto &tcpStream = beast::get_lowest_layer(stream);
        for (bool first = true;; first = false) {
            http::request_parser<http::buffer_body> parser;
            parser.header_limit(headerLimit);
            parser.body_limit(std::numeric_limits<std::uint64_t>::max());
            startWaiting(connection);
            tcpStream.expires_after(first ? limits.headerTimeout : limits.idleTimeout);
            error_code error;
            co_await http::async_read_header(stream, buffer, parser, failing(error));
            stopWaiting(connection);
            if (connection.shed)
                co_return;
            if (error) {
                if (error == http::error::header_limit || error == http::error::buffer_overflow)
                    co_await answer(stream, jsonMessage(431, "Request header too large"), 11, false);
                else if (isParseError(error))
                    co_await answer(stream, jsonMessage(400, "Malformed request"), 11, false);
                co_return;
            }
            if (!co_await exchange(stream, buffer, parser, connection))
                co_return;
        }
    }

    // Reads one request's body, has it answered and writes the answer; false
    // when the connection is to close.
    template <typename Stream>
    asio::awaitable<bool> exchange(Stream &stream, beast::flat_buffer &buffer,
                                   http::request_parser<http::buffer_body> &parser, Connection &connection)
    {
        auto &tcpStream = beast::get_lowest_layer(stream);
        const auto &header = parser.get();
        const unsigned version = header.version();
        HttpFields fields;
        std::size_t codings = 0;
        for (const auto &field : header) {
            fields.emplace_back(std::string(field.name_string()), std::string(field.value()));
            codings += field.name() == http::field::transfer_encoding;
        }
        HttpRequestView request;
        request.fields = &fields;
        const std::string method(header.method_string());
        const std::string target(header.target());
        request.method = method;
        request.target = target;
        request.path = request.target.substr(0, request.target.find('?'));
        request.clientAddress = clientAddressOf(connection, request);

        // Two lengths, or a length beside a coding, let a proxy and this
        // service see different requests in the same bytes.
        if (codings > 0 && header.count(http::field::content_length) > 0)
            co_return co_await answer(stream, jsonMessage(400, "Content-Length with Transfer-Encoding"), version,
                                      false, &request);
        if (codings > 1 || (codings == 1 && !equalsIgnoringCase(trimmedSpace(request.header("Transfer-Encoding")),
                                                                 "chunked")))
            co_return co_await answer(stream, jsonMessage(501, "Unsupported transfer coding"), version, false,
                                      &request);
        const boost::optional<std::uint64_t> length = parser.content_length();
        const bool chunked = parser.chunked();
        const std::size_t maxBody = limits.maxBodyBytes;
        if (length && *length > maxBody)
            co_return co_await answer(stream, jsonMessage(413, "Request body too large"), version, false, &request);

        auto share = std::make_unique<InFlightBudget::Share>(budget);
        // Without its share a request is still read to its end, keeping
        // nothing, so that its connection serves the next one.
        bool busy = false;
        std::size_t covered = 0; // body bytes the share pays for
        BodyBuffer body;
        if (length && *length > 0) {
            busy = !share->grow(std::size_t(*length) * requestCostFactor);
            if (!busy) {
                covered = std::size_t(*length);
                body.reserve(covered);
            }
        } else if (chunked) {
            body.reserveGrowing(maxBody + 1); // one byte more tells a body past the limit
        }
        if (busy && equalsIgnoringCase(request.header("Expect"), "100-continue"))
            co_return co_await answer(stream, busyReply("the requests in flight hold the whole memory budget"),
                                      version, false, &request);
        if (!parser.is_done() && equalsIgnoringCase(request.header("Expect"), "100-continue")) {
            tcpStream.expires_after(limits.timeout);
            error_code error;
            co_await asio::async_write(stream, asio::buffer(std::string_view(continueLine)), failing(error));
            if (error)
                co_return false;
        }

        std::unique_ptr<char[]> scratch;
        std::uint64_t received = 0;
        // The parser reads no more at once than there is room for. Small
        // bodies, usually in with their header, leave the buffer as it is:
        // growing and shrinking it for each would cost more than the body.
        const bool largeBody = chunked || (length && *length > bodyReadAhead / 4);
        if (largeBody)
            buffer.reserve(bodyReadAhead);
        while (!parser.is_done()) {
            if (!busy && chunked && body.size() == covered) {
                const std::size_t more = std::min(budgetStep, maxBody + 1 - covered);
                busy = !share->grow(more * requestCostFactor);
                if (busy)
                    body.release();
                else
                    covered += more;
            }
            char *into = nullptr;
            std::size_t room = 0;
            if (busy) {
                if (!scratch)
                    scratch = std::make_unique<char[]>(readStep);
                into = scratch.get();
                room = readStep;
            } else {
                into = body.end();
                room = std::min(covered - body.size(), readStep);
            }
            parser.get().body().data = into;
            parser.get().body().size = room;
            parser.get().body().more = true;
            tcpStream.expires_after(limits.timeout);
            error_code error;
            co_await http::async_read_some(stream, buffer, parser, failing(error));
            const std::size_t got = room - parser.get().body().size;
            received += got;
            if (!busy)
                body.grow(got);
            if (error == http::error::need_buffer)
                error = {};
            if (received > maxBody)
                co_return co_await answer(stream, jsonMessage(413, "Request body too large"), version, false,
                                          &request);
            if (error) {
                if (isParseError(error))
                    co_await answer(stream, jsonMessage(400, "The request body could not be read"), version,
                                    false, &request);
                co_return false; // the client went or stopped sending
            }
        }
        request.body = body.view();
        if (largeBody)
            buffer.shrink_to_fit(); // an idle connection holds next to nothing

        const bool keepAlive = parser.keep_alive();
        HttpReply reply;
        if (busy) {
            reply = busyReply("the requests in flight hold the whole memory budget");
        } else if (queued.load() >= limits.maxThreads * 64) {
            reply = busyReply("every worker is taken and their queue is full");
        } else {
            ++queued;
            reply = co_await asio::co_spawn(
                workers, [this, &request]() -> asio::awaitable<HttpReply> { co_return handle(request); },
                asio::use_awaitable);
            --queued;
        }
        body.release();
        co_return co_await answer(stream, std::move(reply), version, keepAlive, &request, std::move(share));
    }

    // The route's answer, on a worker thread; nothing it throws goes further.
    HttpReply handle(const HttpRequestView &request)
    {
        HttpReply reply;
        try {
            reply = routes.answer(request);
        } catch (const std::bad_alloc &) {
            reply = busyReply("memory ran short"); // it need not later
        } catch (const std::exception &error) {
            reply = jsonMessage(500, "Internal error");
            reply.cause = error.what();
        }
        compress(reply, request.header("Accept-Encoding"));
        return reply;
    }

    std::string clientAddressOf(const Connection &connection, const HttpRequestView &request) const
    {
        if (!connection.fromProxy)
            return connection.address;
        std::string forwarded = parsedAddress(request.header("X-Real-IP"));
        if (forwarded.empty()) {
            // The proxy appends the address it saw to what the client claimed.
            const std::string_view chain = request.header("X-Forwarded-For");
            forwarded = parsedAddress(chain.substr(chain.rfind(',') + 1));
        }
        return forwarded.empty() ? connection.address : forwarded;
    }

    // Writes `reply`; false when the connection is to close, as it does after
    // a refusal that left the request unread.
    template <typename Stream>
    asio::awaitable<bool> answer(Stream &stream, HttpReply reply, unsigned version, bool keepAlive,
                                 const HttpRequestView *request = nullptr,
                                 std::unique_ptr<InFlightBudget::Share> share = nullptr)
    {
        if (reply.status >= 500) {
            // The method and path only: never the caller's address or a note's text.
            std::string line = std::to_string(reply.status);
            if (request)
                line += " " + std::string(request->method) + " " + std::string(request->path);
            log.line(line + ": " + (reply.cause.empty() ? "no cause given" : reply.cause));
        }
        http::response<http::string_body> response(static_cast<http::status>(reply.status), version);
        response.set(http::field::content_type, reply.contentType);
        for (const auto &[name, value] : reply.headers)
            response.insert(name, value);
        response.body() = std::move(reply.body);
        response.keep_alive(keepAlive);
        response.prepare_payload();
        // The answer's bytes are memory spent, which later requests must see.
        if (share)
            share->add(response.body().size());

        auto &tcpStream = beast::get_lowest_layer(stream);
        http::response_serializer<http::string_body> serializer(response);
        while (!serializer.is_done()) {
            tcpStream.expires_after(limits.timeout);
            error_code error;
            co_await http::async_write_some(stream, serializer, failing(error));
            if (error)
                co_return false;
        }
        if (!keepAlive) {
            // What the client still sends is no next request: the connection ends here.
            error_code ignored;
            tcpStream.socket().shutdown(tcp::socket::shutdown_send, ignored);
        }
        co_return keepAlive;
    }

    asio::awaitable<void> reloadOnHangup()
    {
        for (;;) {
            error_code error;
            co_await hangup.async_wait(failing(error));
            if (error)
                co_return;
            if (!tlsFiles)
                continue;
            try {
                tlsContext = makeTlsContext(*tlsFiles);
                log.line("reloaded the certificate for new connections");
            } catch (const std::exception &failure) {
                log.line(std::string("kept the certificate in use: ") + failure.what());
            }
        }
    }
};

HttpServer::HttpServer(const HttpRoutes &routes, const ServerLimits &limits, const ServiceLog &log,
                       std::optional<TlsFiles> tls)
    : m(std::make_unique<Impl>(routes, limits, log, std::move(tls)))
{
}

HttpServer::~HttpServer()
{
    stop();
    m->workers.join();
}

int HttpServer::listen(const std::string &host, int port)
{
    try {
        tcp::resolver resolver(m->io);
        const auto found = resolver.resolve(host, std::to_string(port),
                                            tcp::resolver::numeric_service | tcp::resolver::passive);
        const tcp::endpoint endpoint = *found.begin();
        m->acceptor.open(endpoint.protocol());
        // A restart binds at once, past the old connections' TIME_WAIT; a
        // second service on a port in use still fails, as it has no SO_REUSEPORT.
        m->acceptor.set_option(tcp::acceptor::reuse_address(true));
        m->acceptor.bind(endpoint);
        m->acceptor.listen(asio::socket_base::max_listen_connections);
        return m->acceptor.local_endpoint().port();
    } catch (const boost::system::system_error &error) {
        error_code ignored;
        m->acceptor.close(ignored);
        throw std::runtime_error(error.code().message());
    }
}

void HttpServer::run()
{
    asio::co_spawn(m->io, m->acceptConnections(), asio::detached);
    asio::co_spawn(m->io, m->reloadOnHangup(), asio::detached);
    m->io.run();
}

void HttpServer::stop()
{
    m->io.stop();
}
