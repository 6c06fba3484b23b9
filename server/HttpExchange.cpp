#include "HttpExchange.h"

#include "SyncService.h"

#include <algorithm>
#include <cctype>

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trimmedSpace(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::string_view HttpRequestView::header(std::string_view name) const
{
    if (fields) {
        for (const auto &[key, value] : *fields) {
            if (equalsIgnoringCase(key, name))
                return value;
        }
    }
    return {};
}

void HttpRoutes::add(std::string method, std::string path, HttpHandler handler)
{
    m_routes.push_back(Route{std::move(method), std::move(path), std::move(handler)});
}

HttpReply HttpRoutes::answer(const HttpRequestView &request) const
{
    bool pathKnown = false;
    for (const Route &route : m_routes) {
        if (route.path != request.path)
            continue;
        pathKnown = true;
        if (route.method == request.method)
            return route.handler(request);
    }
    if (pathKnown)
        return jsonMessage(405, "Method not allowed");
    return jsonMessage(404, "Not found");
}

HttpReply jsonMessage(int status, const std::string &message)
{
    HttpReply reply;
    reply.status = status;
    reply.body = SyncService::messageBody(message);
    if (status >= 500)
        reply.cause = message;
    return reply;
}

HttpReply busyReply(const std::string &cause)
{
    HttpReply reply = jsonMessage(503, SyncService::busyMessage);
    reply.headers.emplace_back("Retry-After", "2");
    reply.cause = cause;
    return reply;
}
