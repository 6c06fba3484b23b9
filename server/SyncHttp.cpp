#include "SyncHttp.h"

#include <nlohmann/json.hpp>
#include <zlib.h>

#include <stdexcept>

bool acceptsGzip(std::string_view acceptEncoding)
{
    while (!acceptEncoding.empty()) {
        const std::size_t comma = acceptEncoding.find(',');
        std::string_view item = acceptEncoding.substr(0, comma);
        acceptEncoding.remove_prefix(comma == std::string_view::npos ? acceptEncoding.size() : comma + 1);

        const std::size_t semicolon = item.find(';');
        const std::string_view name = trimmedSpace(item.substr(0, semicolon));
        if (!equalsIgnoringCase(name, "gzip") && !equalsIgnoringCase(name, "x-gzip"))
            continue;
        if (semicolon == std::string_view::npos)
            return true;
        // "q=0", "q=0.0" and so on refuse it; any other weight allows it.
        const std::string_view parameter = trimmedSpace(item.substr(semicolon + 1));
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

namespace {

HttpReply replyOf(ServiceResponse answer)
{
    HttpReply reply;
    reply.status = answer.httpStatus;
    if (!answer.contentType.empty())
        reply.contentType = std::move(answer.contentType);
    reply.headers = std::move(answer.headers);
    reply.body = std::move(answer.body);
    if (reply.status == 503)
        reply.headers.emplace_back("Retry-After", "2");
    if (reply.status >= 500) {
        // The message names what failed, never a note's text.
        const auto message = nlohmann::json::parse(reply.body, nullptr, false);
        reply.cause = message.is_object() && message.contains("msg") && message["msg"].is_string()
            ? message["msg"].get<std::string>()
            : "no cause given";
    }
    return reply;
}

// The approval form sends a token and nothing more.
constexpr std::size_t maxApprovalBody = 4096;

} // namespace

void addSyncRoutes(HttpRoutes &routes, AccountGate &gate)
{
    routes.add("POST", "/api/sync", [&gate](const HttpRequestView &request) {
        return replyOf(gate.handleSync(request.header("Authorization"), request.clientAddress, request.body));
    });
    const auto approval = [&gate](const HttpRequestView &request) {
        if (request.body.size() > maxApprovalBody)
            return jsonMessage(413, "Request body too large");
        return replyOf(gate.handleApproval(request.method, request.target, request.clientAddress, request.body));
    };
    routes.add("GET", "/approve", approval);
    routes.add("POST", "/approve", approval);
    routes.add("GET", "/ip", [](const HttpRequestView &request) {
        HttpReply reply;
        reply.contentType = "text/plain";
        reply.body = request.clientAddress;
        return reply;
    });
}
